#!/bin/sh
# Renders the built manual page as a user's `man` does and requires it clean and complete:
# no warnings from the formatter, and every option that `mapsweep --help` names documented.
#   man_page_test.sh PAGE PROGRAM
# Without a man program the page cannot be rendered: exit 77, which ctest reports as
# skipped, unless MAPSWEEP_REQUIRE_MAN is set (CI), when that is a failure.
set -u
page=$1
program=$2

if ! command -v man >/dev/null 2>&1; then
  if [ -n "${MAPSWEEP_REQUIRE_MAN:-}" ]; then
    echo "FAILED: no man program, and MAPSWEEP_REQUIRE_MAN asks for the page to be rendered"
    exit 1
  fi
  echo "SKIPPED: no man program here (apt-get install man-db); the page was not rendered"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/mapsweep-man.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

# A fixed width and a UTF-8 locale, so that the text is the same on every machine; every
# warning groff has ("all" leaves out undefined macros).
if ! MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l "$page" >"$work/page" 2>"$work/warnings"; then
  fail "man -l $page failed"
fi
if [ -s "$work/warnings" ]; then
  fail "the formatter warned:"
  cat "$work/warnings"
fi
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES; do
  grep -q "^$heading\$" "$work/page" || fail "no $heading section"
done
grep -q '^ *mapsweep - ' "$work/page" || fail "no 'mapsweep - ...' line under NAME"

# Each option of the help: a dash after a blank, bracket or bar, then a letter.
if ! "$program" --help >"$work/help"; then
  fail "$program --help failed"
fi
options=$(grep -oE -- '(^|[][ |])--?[[:alpha:]][[:alnum:]-]*' "$work/help" | sed 's/^[^-]*//' |
  sort -u)
[ -n "$options" ] || fail "found no options in the help"
for option in $options; do
  grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|\$)" "$work/page" ||
    fail "the help names $option, the manual page does not"
done

if [ "$failed" -ne 0 ]; then
  echo "--- rendered page"
  cat "$work/page"
  exit 1
fi
echo "rendered $(wc -l <"$work/page") lines without warnings; options covered:" $options
