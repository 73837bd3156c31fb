#!/usr/bin/env bash
# Times the catalogue against the exact run it builds on, over the installation of many
# game folders with a floor plan in every map (40,000 maps, or 800 with QUICK=1): the
# median of PAIRS alternating runs of each, their peak memory, and the catalogue's size.
# With BROWSER=1 the page of the last catalogue is then opened in the browser check.
#
#   bench/catalog.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?usage: bench/catalog.sh BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/mapsweep-catalog.XXXXXX")}
pairs=${PAIRS:-3}
mapsweep=$build/mapsweep
"$build/bench/make_many_folders" "$work" --geometry $([[ ${QUICK:-0} == 1 ]] && echo --quick)
tree=$work/many

# One run's seconds and peak memory in KiB, "S KIB".
timed() { /usr/bin/time -f "%e %M" "$mapsweep" --yes "$@" "$tree" 2>&1 >/dev/null | tail -1; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

exact=() catalog=() exact_kib=0 catalog_kib=0
for ((i = 0; i < pairs; ++i)); do
  read -r s kib < <(timed --exact) && exact+=("$s") && exact_kib=$kib
  read -r s kib < <(timed --catalog) && catalog+=("$s") && catalog_kib=$kib
done
exact_s=$(printf '%s\n' "${exact[@]}" | median)
catalog_s=$(printf '%s\n' "${catalog[@]}" | median)
echo "exact:   ${exact_s} s, peak ${exact_kib} KiB"
echo "catalog: ${catalog_s} s, peak ${catalog_kib} KiB ($(awk -v c="$catalog_s" -v e="$exact_s" \
  'BEGIN {printf "%.1f", c / e}') x exact; target 3 x, 32768 KiB)"
echo "catalogue: $(du -sh "$tree/maps.catalog" | cut -f1), $(find "$tree/maps.catalog/pictures" \
  -name '*.png' | wc -l) pictures"
if [[ ${BROWSER:-0} == 1 ]]; then
  start=$SECONDS
  bash "$(dirname "$0")/../tests/browser/run_catalog_check.sh" "$tree/maps.catalog"
  echo "browser check: $((SECONDS - start)) s"
fi
