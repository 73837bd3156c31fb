#!/usr/bin/env bash
# The floor benchmark: mapsweep against `cat` reading the very same files, run alternately,
# on a 256 MiB installation of incompressible archives (where reading bytes is the cost) and
# on a folder of 50,000 tiny map files (where system calls are). mapsweep runs twice in
# each round: as shipped, reading every file into a buffer, and lending large files from
# views of them (MAPSWEEP_VIEWS=1), which only the benchmark asks for. Reports the medians
# and their ratios to cat, the peak RSS of mapsweep, its system calls per map file and the time of a
# 1,000,000-line consolidation.
#
#   bench/floor.sh BUILD_DIR [WORK_DIR]      BUILD_DIR: a Release build with
#                                            -DMAPSWEEP_BENCHMARKS=ON (see the README)
#   PAIRS=N       timed pairs per tree (default 7)
#   QUICK=1       small trees, one pair, no 1M-line list: a smoke test of the script
#   MAPSWEEP=FILE the program to time instead of BUILD_DIR/mapsweep (an older build, say)
#
# Times are wall-clock times of the whole process, page cache warm (every tree is read once
# before timing). strace and /usr/bin/time are used when installed.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: bench/floor.sh BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
work=${2:-$build/floor}
quick=${QUICK:-0}
pairs=${PAIRS:-7}
[[ $quick == 1 ]] && pairs=1
mapsweep=${MAPSWEEP:-$build/mapsweep}
[[ -e $mapsweep ]] && mapsweep=$(cd "$(dirname "$mapsweep")" && pwd)/$(basename "$mapsweep")
for tool in "$mapsweep" "$build/bench/make_floor_trees" "$build/bench/consolidation_bench"; do
  [[ -x $tool ]] || { echo "floor.sh: $tool is missing; build with -DMAPSWEEP_BENCHMARKS=ON" >&2; exit 2; }
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
echo "== generating the trees in $work"
"$build/bench/make_floor_trees" "$work" $([[ $quick == 1 ]] && echo --quick)

# The files mapsweep reads in a tree: its archives and its loose map files.
files_of() {
  (cd "$1" && find . -mindepth 2 -type f \( -iname 'pak*.pak' -o -ipath './*/maps/*.bsp' \) -print0)
}

now_us() {
  local ns
  ns=$(date +%s%N)
  echo $((ns / 1000))
}

run_mapsweep() { (cd "$1" && exec "$mapsweep" --yes .) >/dev/null; }
run_mapsweep_views() { (cd "$1" && MAPSWEEP_VIEWS=1 exec "$mapsweep" --yes .) >/dev/null; }
run_cat() {
  local tree=$1
  shift
  (cd "$tree" && exec cat "$@") >/dev/null
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Times mapsweep reading, mapsweep with views and cat on one tree in turn; prints the
# medians in ms and the ratios to cat.
compare() {
  local name=$1 tree=$2
  local -a files
  mapfile -d '' files < <(files_of "$tree")
  run_mapsweep "$tree"
  run_cat "$tree" "${files[@]}"
  local m=() v=() c=() t0 t1
  for ((i = 0; i < pairs; i++)); do
    t0=$(now_us); run_mapsweep "$tree"; t1=$(now_us); m+=($((t1 - t0)))
    t0=$(now_us); run_cat "$tree" "${files[@]}"; t1=$(now_us); c+=($((t1 - t0)))
    t0=$(now_us); run_mapsweep_views "$tree"; t1=$(now_us); v+=($((t1 - t0)))
  done
  local mm vm cm
  mm=$(printf '%s\n' "${m[@]}" | median)
  vm=$(printf '%s\n' "${v[@]}" | median)
  cm=$(printf '%s\n' "${c[@]}" | median)
  awk -v n="$name" -v f="${#files[@]}" -v mm="$mm" -v vm="$vm" -v cm="$cm" -v p="$pairs" 'BEGIN {
    printf "%-8s %6d files  mapsweep %8.1f ms (ratio %.2f)  with views %8.1f ms (ratio %.2f)  cat %8.1f ms  (medians of %d rounds)\n",
      n, f, mm / 1000, mm / cm, vm / 1000, vm / cm, cm / 1000, p }'
}

echo "== mapsweep against cat"
compare install "$work/install"
compare folder "$work/folder"

echo "== peak RSS of mapsweep"
if [[ -x /usr/bin/time ]]; then
  for tree in install folder; do
    rss=$( (cd "$work/$tree" && /usr/bin/time -v "$mapsweep" --yes . 2>&1 >/dev/null) |
      awk -F': ' '/Maximum resident set size/ { print $2 }')
    echo "$tree: ${rss} KiB"
  done
else
  echo "(no /usr/bin/time: skipped)"
fi

echo "== system calls per map file (strace -c, folder tree)"
if command -v strace >/dev/null; then
  count=$(files_of "$work/folder" | tr -cd '\0' | wc -c)
  (cd "$work/folder" && strace -f -c -o "$work/strace.txt" "$mapsweep" --yes . >/dev/null)
  awk -v n="$count" '/^[ 0-9.]+ +[0-9.]+ +[0-9]+ +[0-9]+ +([0-9]+ +)?[a-z_0-9]+$/ && ++shown <= 8 { print }
    $NF == "total" { printf "total %d calls for %d map files: %.2f per map file\n", $4, n, $4 / n }' \
    "$work/strace.txt"
else
  echo "(no strace: skipped)"
fi

if [[ $quick != 1 ]]; then
  echo "== consolidation of a 1,000,000-line list (read, select, rewrite)"
  "$build/bench/consolidation_bench" --benchmark_filter='BM_ConsolidateCombinedList/1000000' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    awk '/_median/ { print "median " $2 " " $3 }'
fi
