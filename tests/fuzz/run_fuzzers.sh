#!/usr/bin/env bash
# Builds the fuzz preset, writes the seed corpus and runs every fuzz target for SECONDS
# seconds (default 15, what CI gives each), as many at a time as the machine has cores: a
# target is one process on one core. Run them longer to search deeper, e.g. ten minutes
# each: tests/fuzz/run_fuzzers.sh 600
#   tests/fuzz/run_fuzzers.sh [SECONDS]
#   FUZZ_JOBS=N   targets run at a time (default: the number of cores)
# Exits non-zero when any target crashes, breaks one of its checks, leaks, times out, runs
# out of memory or a sanitizer reports anything. Each target's log and any input that
# failed it land in build/fuzz/findings/; the corpus each run grows stays in
# build/fuzz/corpus/ for the next.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-15}
jobs=${FUZZ_JOBS:-$(nproc)}
if ! [[ $seconds =~ ^[1-9][0-9]*$ && $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: [FUZZ_JOBS=N] $0 [SECONDS]" >&2
  exit 2
fi

# Target and the longest input it is given: a PACK input must be able to hold a directory
# of more than one piece (1024 entries), a zip input the longest end-record comment and
# something before it. The structure-aware targets make large files from small inputs.
targets=("pack_directory 131072" "zip_archive 135168" "map_file 65536" "entity_text 16384"
  "bounded_inflate 16384" "archived_map 8192" "map_geometry 65536")

build=build/fuzz
cmake --preset fuzz >/dev/null
build_targets=(fuzz_seed_corpus)
for spec in "${targets[@]}"; do build_targets+=("fuzz_${spec%% *}"); done
cmake --build --preset fuzz --target "${build_targets[@]}"

rm -rf "$build/seeds" "$build/findings"
mkdir -p "$build/findings"
"$build/tests/fuzz/fuzz_seed_corpus" "$build/seeds"

# ASan's quarantine of freed memory counts towards the RSS limit; kept small so that the
# limit measures the readers, not the sanitizer. The inflating targets free a megabyte or
# more per input: with 64 MiB of quarantine fuzz_bounded_inflate passed 512 MiB after 40 s
# while holding 25 MiB live; with 16 MiB it levels off near 310 MiB.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1}

# Runs one target; its log and the line that sums it up land in the findings folder.
fuzz_target() {
  local target=$1 max_len=$2
  local corpus=$build/corpus/$target seeds=$build/seeds/$target log=$build/findings/$target.log
  mkdir -p "$corpus" "$seeds"
  local result=passed
  if ! "$build/tests/fuzz/fuzz_$target" "$corpus" "$seeds" \
    -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=512 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$target-" >"$log" 2>&1; then
    result=FAILED
  fi
  # A sanitizer report that did not end the run still fails it.
  if grep -qE '^==[0-9]+==ERROR|runtime error:|^SUMMARY: |WARNING: .*Sanitizer' "$log"; then
    result=FAILED
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "fuzz_$target: $result, ${runs:-?} runs in ${seconds}s" >"$build/findings/$target.result"
}

running=0
for spec in "${targets[@]}"; do
  read -r target max_len <<<"$spec"
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  echo "== fuzz_$target for ${seconds}s"
  fuzz_target "$target" "$max_len" &
  running=$((running + 1))
done
wait

# A target without its summing-up line did not finish its run: that fails it too.
failed=0
summary=()
for spec in "${targets[@]}"; do
  read -r target _ <<<"$spec"
  line=$(cat "$build/findings/$target.result" 2>/dev/null || echo "fuzz_$target: FAILED, no result")
  summary+=("$line")
  if [[ $line != "fuzz_$target: passed, "* ]]; then
    failed=1
    echo "== fuzz_$target"
    tail -n 40 "$build/findings/$target.log"
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
