#!/usr/bin/env bash
# Times the catalogue against the exact run it builds on, over the installation of many
# game folders with a floor plan in every map (40,000 maps, or 800 with QUICK=1): the
# median of PAIRS alternating runs of each, their peak memory, the bytes each read, and the
# catalogue's size; then the time of a catalogue run that replaces the one before, and of
# making the picture files alone (bench/picture_files_floor).
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

# The bytes this shell read through read calls (rchar), with those of every child it has
# waited for: the kernel adds a child's count to its parent's when the child is reaped. Read
# with the shell's own builtin, so that no other process counts; into $rchar.
take_rchar() {
  local key value
  while read -r key value; do
    if [[ $key == rchar: ]]; then rchar=$value; fi
  done </proc/$BASHPID/io
}
# One run: its seconds, the processor seconds it took (user and system: on a machine shared
# with other work they tell more than the wall clock), peak memory in KiB and the bytes it
# read (with those of the dynamic loader and /usr/bin/time, the same few kilobytes for every
# run) into $secs, $cpu, $kib and $bytes_read. Not in a subshell, so that the count is this
# shell's.
timed() {
  take_rchar
  local before=$rchar
  /usr/bin/time -o "$work/time.out" -f "%e %M %U %S" "$mapsweep" --yes "$@" "$tree" >/dev/null 2>&1
  take_rchar
  bytes_read=$((rchar - before))
  local user system
  read -r secs kib user system <"$work/time.out"
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN {printf "%.2f", u + s}')
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# The catalogue runs compared write a catalogue where there is none: the one before is set
# aside, not deleted, so that no run follows one that deleted 40,000 files. On a file system
# without a journal (ext4 mounted so, as on some virtual machines) the kernel passes over
# inodes deleted in the last minute or so one by one when it looks for a free one, and a
# run right after such a deletion spends most of its time there. A run that replaces the
# catalogue before it, deleting that one, is timed once at the end. Making the installation
# deletes the one made before, 80,000 files: the figures wait until the kernel no longer
# passes over their inodes (SETTLE seconds; none for QUICK=1).
settle=${SETTLE:-$([[ ${QUICK:-0} == 1 ]] && echo 0 || echo 90)}
sleep "$settle"
set_aside=0
set_aside_catalogue() {
  if [[ -e $tree/maps.catalog ]]; then
    mv "$tree/maps.catalog" "$work/set-aside.$((set_aside++))"
  fi
}
exact=() catalog=() exact_cpu=() catalog_cpu=() exact_kib=0 catalog_kib=0 exact_read=0 catalog_read=0
for ((i = 0; i < pairs; ++i)); do
  timed --exact && exact+=("$secs") && exact_cpu+=("$cpu") && exact_kib=$kib && exact_read=$bytes_read
  set_aside_catalogue
  timed --catalog && catalog+=("$secs") && catalog_cpu+=("$cpu") && catalog_kib=$kib &&
    catalog_read=$bytes_read
done
# What the files alone cost: as many files as the catalogue has pictures, of their mean
# size, in folders of 64, with nothing drawn, encoded, checked or locked.
pictures=$(find "$tree/maps.catalog/pictures" -name '*.png' | wc -l)
picture_bytes=$(find "$tree/maps.catalog/pictures" -name '*.png' -printf '%s\n' |
  awk '{ total += $1 } END { printf "%d", NR ? total / NR : 0 }')
floor_s=$("$build/bench/picture_files_floor" "$work/floor-files" "$pictures" "$picture_bytes")
timed --catalog
replacing_s=$secs replacing_cpu=$cpu
exact_s=$(printf '%s\n' "${exact[@]}" | median)
catalog_s=$(printf '%s\n' "${catalog[@]}" | median)
exact_c=$(printf '%s\n' "${exact_cpu[@]}" | median)
catalog_c=$(printf '%s\n' "${catalog_cpu[@]}" | median)
echo "exact:   ${exact_s} s (${exact_c} s processor), peak ${exact_kib} KiB, read ${exact_read} bytes"
echo "catalog: ${catalog_s} s (${catalog_c} s processor), peak ${catalog_kib} KiB, read ${catalog_read} bytes"
echo "catalog replacing the one before: ${replacing_s} s (${replacing_cpu} s processor)"
echo "the picture files alone ($pictures files of $picture_bytes bytes): ${floor_s} s"
awk -v c="$catalog_s" -v e="$exact_s" -v cr="$catalog_read" -v er="$exact_read" 'BEGIN {
  printf "catalog / exact: %.1f x the time (target 3 x), %.3f x the bytes read (target 1.1 x)\n",
    c / e, cr / er }'
echo "catalog peak memory target: 32768 KiB"
echo "catalogue: $(du -sh "$tree/maps.catalog" | cut -f1), $(find "$tree/maps.catalog/pictures" \
  -name '*.png' | wc -l) pictures"
rm -rf "$work"/set-aside.* "$work/floor-files"
if [[ ${BROWSER:-0} == 1 ]]; then
  start=$SECONDS
  bash "$(dirname "$0")/../tests/browser/run_catalog_check.sh" "$tree/maps.catalog"
  echo "browser check: $((SECONDS - start)) s"
fi
