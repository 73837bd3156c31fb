#!/usr/bin/env bash
# Times `mapsweep --exact` on each hostile or damaged archive that make_hostile_trees
# writes (entries sharing or overlapping one huge map, members that expand a thousandfold,
# cut and absurd directories), one base folder each, and reports the time, the peak RSS
# and whether the game folder's old list was kept.
#
#   bench/hostile.sh BUILD_DIR [WORK_DIR]    BUILD_DIR: a build with -DMAPSWEEP_BENCHMARKS=ON
#   LIMIT=SECONDS   the most one run may take (default 1)
#
# Exits non-zero when a run fails, crashes or takes longer than the limit.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: bench/hostile.sh BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
work=${2:-$build/hostile}
limit=${LIMIT:-1}
for tool in "$build/mapsweep" "$build/bench/make_hostile_trees"; do
  [[ -x $tool ]] || { echo "hostile.sh: $tool is missing; build with -DMAPSWEEP_BENCHMARKS=ON" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work"
"$build/bench/make_hostile_trees" "$work" >"$work/sizes.txt"

failed=0
printf '%-24s %12s %9s %10s  %s\n' case bytes seconds peak_KiB list
while read -r name bytes; do
  base=$work/$name
  start=$(date +%s.%N)
  status=0
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f '%M' -o "$work/$name.rss" "$build/mapsweep" --exact --yes --quiet "$base" || status=$?
    rss=$(tail -n 1 "$work/$name.rss")
  else
    "$build/mapsweep" --exact --yes --quiet "$base" || status=$?
    rss=-
  fi
  seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
  list=$(cat "$base/game/maps.lst" 2>/dev/null | head -c 40 | tr -d '\r\n' || true)
  printf '%-24s %12s %9s %10s  %s\n' "$name" "$bytes" "$seconds" "$rss" "$list"
  if [[ $status != 0 ]]; then
    echo "hostile.sh: $name: mapsweep exited with $status" >&2
    failed=1
  elif awk -v s="$seconds" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
    echo "hostile.sh: $name: took ${seconds}s, more than ${limit}s" >&2
    failed=1
  fi
done <"$work/sizes.txt"
exit "$failed"
