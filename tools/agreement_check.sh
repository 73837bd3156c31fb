#!/usr/bin/env bash
# Runs the Linux program and the Windows program (under Wine) on fresh copies of every
# sample scenario, in the default mode, with --exact and with --catalog, and requires
# byte-identical trees afterwards: the same files with the same bytes, the catalogue's
# pages and pictures included. A difference means one of the two
# platform layers is wrong.
#
#   tools/agreement_check.sh BUILD_LINUX BUILD_WINDOWS [SCENARIO...]
#
# BUILD_LINUX holds mapsweep and tools/make_sample_tree, BUILD_WINDOWS mapsweep.exe. The
# scenarios default to all that `make_sample_tree --list` names. Exit status 0 when all
# agree, 1 on any difference or failed run, 2 on wrong use.
set -euo pipefail

if (($# < 2)); then
  echo "usage: $0 BUILD_LINUX BUILD_WINDOWS [SCENARIO...]" >&2
  exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
shift 2

linux_program=$linux_build/mapsweep
generator=$linux_build/tools/make_sample_tree
windows_program=$windows_build/mapsweep.exe
wine_run=$source_dir/cmake/wine-run.sh
for needed in "$linux_program" "$generator" "$windows_program"; do
  if [[ ! -x $needed && ! -f $needed ]]; then
    echo "agreement: missing $needed (build both presets first)" >&2
    exit 2
  fi
done

if (($#)); then
  scenarios=("$@")
else
  mapfile -t scenarios < <("$generator" --list)
fi
if ((${#scenarios[@]} == 0)); then
  echo "agreement: no scenarios" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mapsweep-agreement.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The Windows path of a Unix one: Wine maps the drive Z: to the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Every file below a tree with its checksum, by relative path: the summary of a run.
tree_summary() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0r sha256sum); }

failures=0
runs=0
for scenario in "${scenarios[@]}"; do
for mode in default exact catalog; do
  runs=$((runs + 1))
  options=(--yes)
  [[ $mode == exact ]] && options+=(--exact)
  # The catalogue too must be the same, byte for byte: its records, its page and the PNG
  # files of its pictures.
  [[ $mode == catalog ]] && options+=(--catalog)
  case=$scenario/$mode
  linux_tree=$work/$case/linux
  windows_tree=$work/$case/windows
  "$generator" "$linux_tree" "$scenario"
  "$generator" "$windows_tree" "$scenario"

  linux_status=0
  "$linux_program" "${options[@]}" "$linux_tree" </dev/null >"$work/$case/linux.out" 2>&1 ||
    linux_status=$?
  windows_status=0
  MAPSWEEP_BUILD_DIR=$windows_build "$wine_run" "$windows_program" "${options[@]}" \
    "$(windows_path "$windows_tree")" </dev/null >"$work/$case/windows.out" 2>&1 ||
    windows_status=$?

  problem=""
  if ((linux_status != 0 || windows_status != 0)); then
    problem="exit status linux $linux_status, windows $windows_status"
  elif [[ ! -f $linux_tree/maps.lst || ! -f $windows_tree/maps.lst ]]; then
    # Every run writes the combined list: two untouched trees would agree trivially.
    problem="no combined maps.lst (linux: $(test -f "$linux_tree/maps.lst" && echo yes || echo no))"
  elif ! diff -r "$linux_tree" "$windows_tree" >"$work/$case/diff" 2>&1; then
    problem="the trees differ"
  fi

  if [[ -n $problem ]]; then
    failures=$((failures + 1))
    echo "agreement: $case: DIFFERENT ($problem)"
    diff <(tree_summary "$linux_tree") <(tree_summary "$windows_tree") | sed 's/^/    /' || true
    sed 's/^/    /' "$work/$case/diff" | head -40
    for side in linux windows; do
      if [[ -s $work/$case/$side.out ]]; then
        echo "    $side said:"
        sed 's/^/      /' "$work/$case/$side.out" | head -20
      fi
    done
  else
    files=$(tree_summary "$linux_tree" | wc -l)
    lists=$(find "$linux_tree" -name maps.lst | wc -l)
    echo "agreement: $case: identical ($files files, $lists maps.lst)"
  fi
done
done

if ((failures)); then
  echo "agreement: $failures of $runs runs differ"
  exit 1
fi
echo "agreement: all $runs runs identical (${#scenarios[@]} scenarios, default, exact and catalogue)"
