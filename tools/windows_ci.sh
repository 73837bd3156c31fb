#!/usr/bin/env bash
# The Windows part of CI: cross-build mapsweep.exe and its tests with mingw-w64, run the
# tests under Wine, run the read-only cases once more as an unprivileged user (Wine lets
# root write read-only files, so a root run skips them), and check that the Linux and
# Windows programs leave byte-identical trees on every sample scenario.
# Exits non-zero on any failure. Uses build/default for the Linux side, building the two
# targets it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

bash tools/require_packages.sh g++-mingw-w64-x86-64 wine64 googletest libz-mingw-w64-dev libstb-dev cmake \
  ninja-build g++ libgtest-dev

windows_build=$source_dir/build/windows
linux_build=$source_dir/build/default
wineserver=/usr/lib/wine/wineserver
scratch=""

# Ends the Wine servers of the prefixes this script made, rather than leaving them to time
# out, and removes the scratch folder.
finish() {
  for prefix in "$windows_build/wineprefix" ${scratch:+"$scratch/prefix"}; do
    if [[ -d $prefix ]]; then
      if [[ -n $scratch && $prefix == "$scratch/prefix" ]]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups \
          env WINEPREFIX="$prefix" "$wineserver" -k >/dev/null 2>&1 || true
      else
        WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
      fi
    fi
  done
  [[ -n $scratch ]] && rm -rf "$scratch"
  return 0
}
trap finish EXIT

echo "-- cross-build and test under Wine"
cmake --workflow --preset windows

echo "-- read-only files as an unprivileged user"
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  scratch=$(mktemp -d /tmp/mapsweep-wine-user.XXXXXX)
  cp "$windows_build/tests/runtime_tests.exe" "$windows_build/tests/app_tests.exe" "$scratch/"
  chmod 755 "$scratch" "$scratch"/*.exe
  chown nobody "$scratch"
  # OsContract, ChannelTest and Driver each have ReadOnly cases.
  read_only_cases='*ReadOnly*'
  for program in runtime_tests app_tests; do
    output=$(setpriv --reuid=nobody --regid=nogroup --clear-groups \
      env HOME="$scratch" WINEPREFIX="$scratch/prefix" "$source_dir/cmake/wine-run.sh" \
      "$scratch/$program.exe" --gtest_filter="$read_only_cases" 2>&1) || {
      echo "$output"
      exit 1
    }
    # Not one of them may skip here: the skip is only for a system that lets root write.
    # Each program must run some: a renamed case would otherwise drop out unnoticed.
    if grep -q '^\[  SKIPPED \]' <<<"$output" || ! grep -q '^\[  PASSED  \] [1-9]' <<<"$output"; then
      echo "$output"
      echo "windows_ci: read-only cases skipped, missing or failed as an unprivileged user" >&2
      exit 1
    fi
    grep '^\[  PASSED  \]' <<<"$output" | sed "s/^/$program: /"
  done
else
  echo "(not root, or no setpriv: the test run above already ran them unprivileged)"
fi

echo "-- mapsweep.exe started from a console"
# Under a pseudo-terminal Wine gives cmd a console, and `start /wait` starts the program
# without standard handles, as cmd on a desktop does: the help must reach cmd's console
# through the program attaching to it. Without any console it goes into a message box.
windows_program='Z:'${windows_build//\//\\}'\mapsweep.exe'
start_in_cmd=$(printf '%q ' env MAPSWEEP_BUILD_DIR="$windows_build" "$source_dir/cmake/wine-run.sh" \
  cmd /c start /wait "$windows_program")
console_output=$(SHELL=/bin/bash script -qec "$start_in_cmd --help" /dev/null </dev/null)
if ! grep -q 'Usage: mapsweep' <<<"$console_output"; then
  echo "$console_output"
  echo "windows_ci: the help did not reach the console mapsweep.exe was started from" >&2
  exit 1
fi
boxed_output=$(SHELL=/bin/bash bash -c "$start_in_cmd --help" </dev/null 2>&1)
if [[ -n $boxed_output ]]; then
  echo "$boxed_output"
  echo "windows_ci: without a console the help must go into a message box" >&2
  exit 1
fi
echo "help shown in cmd's console; without a console, none printed"

echo "-- the zip"
cmake --build --preset windows --target package
shopt -s nullglob
zips=("$windows_build"/mapsweep-*-win64.zip)
shopt -u nullglob
if ((${#zips[@]} != 1)) || [[ $(cmake -E tar tf "${zips[0]}") != mapsweep.exe ]]; then
  echo "windows_ci: expected one mapsweep-*-win64.zip holding mapsweep.exe alone" >&2
  exit 1
fi
unpacked=$(mktemp -d /tmp/mapsweep-zip.XXXXXX)
(cd "$unpacked" && cmake -E tar xf "${zips[0]}")
# The packed program is stripped: its manifest must have stayed.
packed_version=$(MAPSWEEP_BUILD_DIR=$windows_build "$source_dir/cmake/wine-run.sh" \
  "$unpacked/mapsweep.exe" --version)
has_manifest=$(grep -c longPathAware "$unpacked/mapsweep.exe" || true)
rm -rf "$unpacked"
if [[ $packed_version != "mapsweep "* || $has_manifest == 0 ]]; then
  echo "windows_ci: the zipped mapsweep.exe said '$packed_version', manifest found: $has_manifest" >&2
  exit 1
fi
echo "${zips[0]##*/}: mapsweep.exe says ${packed_version%$'\r'}, manifest kept"

echo "-- agreement of the Linux and Windows programs"
if [[ ! -x $linux_build/mapsweep || ! -x $linux_build/tools/make_sample_tree ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target mapsweep make_sample_tree
fi
bash tools/agreement_check.sh "$linux_build" "$windows_build"
