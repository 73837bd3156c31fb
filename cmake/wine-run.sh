#!/bin/sh
# Runs a Windows program under Wine with a private prefix in the build folder.
#   wine-run.sh PROGRAM.exe [ARGS...]
# The prefix is WINEPREFIX when set, else <build dir>/wineprefix, the build dir being
# MAPSWEEP_BUILD_DIR, or the nearest folder with a CMakeCache.txt above the working
# directory (ctest runs the tests inside the build tree) or above PROGRAM, or else
# the build folder of this source tree: a prefix never lands among the sources. The first
# use creates the prefix quietly; Wine's own messages stay off unless WINEDEBUG says
# otherwise.
set -e

WINE=${WINE:-/usr/lib/wine/wine64}
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine || true)
if [ -z "$WINE" ]; then
  echo "wine-run.sh: no wine64 found (install the wine64 package)" >&2
  exit 127
fi

# The nearest folder at or above $1 that holds a CMakeCache.txt; nothing when none does.
build_dir_above() {
  d=$(cd "$1" 2>/dev/null && pwd) || return 0
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  [ "$d" = / ] || printf '%s\n' "$d"
}

if [ -z "$WINEPREFIX" ]; then
  dir=${MAPSWEEP_BUILD_DIR:-}
  [ -n "$dir" ] || dir=$(build_dir_above .)
  [ -n "$dir" ] || [ $# -eq 0 ] || dir=$(build_dir_above "$(dirname "$1")")
  [ -n "$dir" ] || dir=$(cd "$(dirname "$0")/.." && pwd)/build
  WINEPREFIX=$dir/wineprefix
fi
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No desktop integration, no Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=d}

WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || true)

# Starting Wine costs about two seconds while its server comes up, and a fraction of that
# while one runs: keep a server alive for a short idle time so that runs in a row (the test
# binaries, the agreement check's scenarios) do not each pay the start. Neither the server
# nor Wine's services may inherit the caller's output: they would hold ctest's pipe open
# until they exit.
# Parallel runs serialise here: the first one makes the prefix quietly and starts the
# server, the others find it there. Nothing started here may keep the lock's descriptor,
# or the lock would stay taken for as long as the server lives.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    [ -n "$WINESERVER" ] && "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&- || true
  fi
  if [ -n "$WINESERVER" ]; then
    "$WINESERVER" -p"${MAPSWEEP_WINESERVER_IDLE:-20}" </dev/null >/dev/null 2>&1 9>&- || true
    # Wine's background services start with the first program and live as long as the
    # server; started from here, they do not inherit the caller's output.
    "$WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec "$WINE" "$@"
