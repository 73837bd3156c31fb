#!/usr/bin/env bash
# The catalogue's picture encoder shares pictures between two threads: its tests, with the
# encoder and everything it calls, built under ThreadSanitizer and run many times over, so
# that a race shows as a failure rather than as a rare wrong picture. The sanitizer checks
# the code it instruments: all of ours that the encoder runs, and the PNG encoder's header.
#
#   tests/threads/run_thread_check.sh [REPEATS]
set -euo pipefail
cd "$(dirname "$0")/../.."
repeats=${1:-20}
out=build/threads
mkdir -p "$out"
stb=$(dirname "$(find /usr/include /usr/local/include -name stb_image_write.h -print -quit)")
g++ -std=c++20 -O1 -g -fsanitize=thread -Wall -Wextra -Werror -Isrc -Itests -I. -isystem "$stb" \
  tests/app/picture_encoder_test.cpp src/app/picture_encoder.cpp src/app/layout_png.cpp \
  src/formats/*.cpp -lgtest -lgtest_main -lz -pthread -o "$out/picture_encoder_tests"
TSAN_OPTIONS=halt_on_error=1 "$out/picture_encoder_tests" --gtest_repeat="$repeats" \
  --gtest_brief=1
