#!/usr/bin/env bash
# The many-folders benchmark: an installation of 10,000 small game folders (a PACK archive
# of 3 maps and one loose map each, about 196 MB), where a run's cost is what it spends per
# folder rather than per byte. For the byte search and for exact mode it reports:
#   - the system calls per game folder (strace -c), of a run that writes every list and of
#     a run over the unchanged tree, with the 8 most frequent calls;
#   - mapsweep against `find DIR -type f` over the same tree, alternately: the medians and
#     their ratio; and beside them the floor (bench/folder_floor): the least work any program
#     must do there, listing each folder and reading the files a run reads, and nothing else;
#   - a second run over the unchanged tree: its time against the first run's, and whether it
#     left every maps.lst as it was (same inode, same modification time).
#
#   bench/folders.sh BUILD_DIR [WORK_DIR]     BUILD_DIR: a Release build with
#                                             -DMAPSWEEP_BENCHMARKS=ON (see the README)
#   PAIRS=N        timed rounds per mode (default 9; 1 with QUICK=1)
#   QUICK=1        200 game folders instead of 10,000: a smoke test of the script
#   MAPSWEEP=FILE  the program to time instead of BUILD_DIR/mapsweep (an older build, say)
#
# The tree is generated in WORK_DIR/many (default BUILD_DIR/folders) when it is missing or
# of the other size. Times are wall-clock times of the whole process, page cache warm.
# Compare figures taken in the same WORK_DIR: resolving a path costs system calls for each
# of its components, so a deeper base costs more calls per folder.
# Exits non-zero when a run of mapsweep fails, lists other than the expected maps, or a
# second run rewrites a list.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: bench/folders.sh BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
work=${2:-$build/folders}
quick=${QUICK:-0}
if [[ $quick == 1 ]]; then pairs=${PAIRS:-1}; else pairs=${PAIRS:-9}; fi
mapsweep=${MAPSWEEP:-$build/mapsweep}
[[ -e $mapsweep ]] && mapsweep=$(cd "$(dirname "$mapsweep")" && pwd)/$(basename "$mapsweep")
generator=$build/bench/make_many_folders
floor=$build/bench/folder_floor
for tool in "$mapsweep" "$generator" "$floor"; do
  [[ -x $tool ]] || { echo "folders.sh: $tool is missing; build with -DMAPSWEEP_BENCHMARKS=ON" >&2; exit 2; }
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
tree=$work/many
if [[ $quick == 1 ]]; then folders=200; else folders=10000; fi

# The stamp is written only after the generator finished, so a tree cut short by an
# interrupted generation is made again rather than timed.
ensure_tree() {
  local stamp=$work/many.folders
  if [[ -d $tree && -f $stamp && $(cat "$stamp") == "$folders" ]]; then
    echo "== reusing the tree in $tree ($folders game folders)"
    return
  fi
  rm -f "$stamp"
  echo "== generating the tree in $tree"
  "$generator" "$work" $([[ $quick == 1 ]] && echo --quick)
  echo "$folders" >"$stamp"
}

fail() {
  echo "folders.sh: $*" >&2
  exit 1
}

# The lists a run writes: one in every game folder and the combined one in the base.
remove_lists() { find "$tree" -maxdepth 2 -type f -name maps.lst -delete; }
list_snapshot() { find "$tree" -maxdepth 2 -name maps.lst -printf '%i %T@ %p\n' | sort; }

# Runs mapsweep in the mode given by the flags (none: the byte search); a failed run ends
# the benchmark, as its figures would time something other than a run.
run_mapsweep() {
  local status=0
  "$mapsweep" --yes --quiet "$@" -- "$tree" >/dev/null || status=$?
  ((status == 0)) || fail "mapsweep --yes --quiet $* -- $tree exited with status $status"
}
run_find() { find "$tree" -type f >/dev/null; }
run_floor() { "$floor" "$tree" >/dev/null; }

# Runs a command; leaves its wall-clock time in microseconds in `elapsed_us`.
timed() {
  local t0 t1
  t0=$(date +%s%N)
  "$@"
  t1=$(date +%s%N)
  elapsed_us=$(((t1 - t0) / 1000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }

# Every run must list what the tree holds: exact mode all four maps of each folder, the
# byte search the archive's first map and the loose one (it takes one title per chunk and
# leaves out names without one). A run that lists less did not do the work being timed.
check_combined_list() {
  local mode=$1 per_folder=2
  [[ $mode == exact ]] && per_folder=4
  local lines lists
  lines=$(wc -l <"$tree/maps.lst")
  lists=$(list_snapshot | wc -l)
  ((lines == folders * per_folder)) ||
    fail "$mode: the combined list has $lines lines, not $((folders * per_folder))"
  ((lists == folders + 1)) || fail "$mode: $lists lists written, not $((folders + 1))"
  result[$mode,lines]=$lines
}

# strace -c of one run; sets result[mode,calls_<label>] and prints the 8 most frequent calls.
count_calls() {
  local mode=$1 label=$2
  shift 2
  local out=$work/strace-$mode-$label.txt
  local status=0
  strace -f -c -S calls -o "$out" "$mapsweep" --yes --quiet "$@" -- "$tree" >/dev/null ||
    status=$?
  ((status == 0)) || fail "$mode: mapsweep under strace exited with status $status"
  # Per-call lines hold: % time, seconds, usecs/call, calls, [errors,] name.
  local total
  total=$(awk '(NF == 5 || NF == 6) && $1 ~ /^[0-9.]+$/ && $NF != "total" { sum += $4 }
    END { print sum + 0 }' "$out")
  result[$mode,calls_$label]=$(awk -v t="$total" -v f="$folders" 'BEGIN { printf "%.1f", t / f }')
  echo "$label run: $total calls, ${result[$mode,calls_$label]} per game folder; most frequent:"
  awk -v f="$folders" '(NF == 5 || NF == 6) && $1 ~ /^[0-9.]+$/ && $NF != "total" && ++n <= 8 {
    printf "  %-14s %9d  %7.2f per folder\n", $NF, $4, $4 / f }' "$out"
}

system_calls() {
  local mode=$1
  shift
  echo "== $mode: system calls (strace -c)"
  if ! command -v strace >/dev/null; then
    echo "(strace is not installed: skipped; apt-get install strace)"
    return
  fi
  remove_lists
  count_calls "$mode" writing "$@"
  count_calls "$mode" unchanged "$@"
}

# A run over a tree without lists, then one over what it left: the second must find every
# list as it should be and rewrite none.
second_run() {
  local mode=$1
  shift
  echo "== $mode: a second run over the unchanged tree"
  remove_lists
  timed run_mapsweep "$@"
  result[$mode,first_us]=$elapsed_us
  check_combined_list "$mode"
  list_snapshot >"$work/lists-before.txt"
  timed run_mapsweep "$@"
  result[$mode,second_us]=$elapsed_us
  list_snapshot >"$work/lists-after.txt"
  local rewritten
  rewritten=$(comm -23 "$work/lists-before.txt" "$work/lists-after.txt" | wc -l)
  result[$mode,rewritten]=$rewritten
  echo "first run $(ms "${result[$mode,first_us]}") ms (writes $((folders + 1)) lists)," \
    "second run $(ms "${result[$mode,second_us]}") ms, lists rewritten: $rewritten"
  ((rewritten == 0)) || failed=1
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# mapsweep, find and the floor in turn, after one warm-up of each.
against_find() {
  local mode=$1
  shift
  echo "== $mode: mapsweep against find -type f and the floor, $pairs rounds"
  run_mapsweep "$@"
  run_find
  run_floor
  local m=() f=() l=()
  for ((i = 0; i < pairs; i++)); do
    timed run_mapsweep "$@"
    m+=("$elapsed_us")
    timed run_find
    f+=("$elapsed_us")
    timed run_floor
    l+=("$elapsed_us")
  done
  result[$mode,mapsweep_us]=$(printf '%s\n' "${m[@]}" | median)
  result[$mode,find_us]=$(printf '%s\n' "${f[@]}" | median)
  result[$mode,floor_us]=$(printf '%s\n' "${l[@]}" | median)
  result[$mode,ratio]=$(ratio "${result[$mode,mapsweep_us]}" "${result[$mode,find_us]}")
  result[$mode,floor_ratio]=$(ratio "${result[$mode,floor_us]}" "${result[$mode,find_us]}")
  echo "mapsweep $(ms "${result[$mode,mapsweep_us]}") ms, find $(ms "${result[$mode,find_us]}") ms," \
    "floor $(ms "${result[$mode,floor_us]}") ms; mapsweep / find ${result[$mode,ratio]}," \
    "floor / find ${result[$mode,floor_ratio]} (medians)"
}

bench_mode() {
  system_calls "$@"
  second_run "$@"
  against_find "$@"
}

row() { printf '%-36s %12s %12s\n' "$1" "${2:--}" "${3:--}"; }
value() { echo "${result[$1,$2]:-}"; }
ms_value() { if [[ -n ${result[$1,$2]:-} ]]; then ms "${result[$1,$2]}"; fi; }

print_table() {
  echo
  echo "== $folders game folders, $((folders * 4)) maps; medians of $pairs rounds"
  row "" default exact
  row "syscalls/folder, run writing lists" "$(value default calls_writing)" "$(value exact calls_writing)"
  row "syscalls/folder, unchanged run" "$(value default calls_unchanged)" "$(value exact calls_unchanged)"
  row "mapsweep ms (median)" "$(ms_value default mapsweep_us)" "$(ms_value exact mapsweep_us)"
  row "find -type f ms (median)" "$(ms_value default find_us)" "$(ms_value exact find_us)"
  row "mapsweep / find" "$(value default ratio)" "$(value exact ratio)"
  row "floor ms (median)" "$(ms_value default floor_us)" "$(ms_value exact floor_us)"
  row "floor / find" "$(value default floor_ratio)" "$(value exact floor_ratio)"
  row "first run ms (writes all lists)" "$(ms_value default first_us)" "$(ms_value exact first_us)"
  row "second run ms (unchanged)" "$(ms_value default second_us)" "$(ms_value exact second_us)"
  row "lists rewritten by the second run" "$(value default rewritten)" "$(value exact rewritten)"
  row "lines in the combined list" "$(value default lines)" "$(value exact lines)"
}

declare -A result=()
failed=0
ensure_tree
bench_mode default
bench_mode exact --exact
print_table
((failed == 0)) || fail "a second run over the unchanged tree rewrote a list"
