#!/usr/bin/env bash
# Builds the .deb of the default preset and checks it: lintian (its errors fail the check,
# its warnings are listed), its control data and contents, and that the program it holds
# runs and says the package's version. As root, on a machine
# where no mapsweep package is installed, the package is installed with dpkg -i, the
# program run from the PATH and its manual page found by man, and the package removed
# again; otherwise it is unpacked into a scratch folder and the program run from there.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/require_packages.sh dpkg-dev man-db cmake ninja-build g++ libgtest-dev zlib1g-dev \
  lintian

cmake --preset default >/dev/null
cmake --build --preset default --target package
shopt -s nullglob
debs=(build/default/mapsweep_*.deb)
if ((${#debs[@]} != 1)); then
  echo "package_check: expected one mapsweep_*.deb in build/default, found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb --field "$deb" Version)

fail() {
  echo "package_check: $*" >&2
  exit 1
}

dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
# Every tag lintian has, errors and warnings alike, is listed; an error fails the check.
echo "== lintian =="
lintian --fail-on error --display-level '>=warning' "$deb" || fail "lintian found errors in $deb"
for needed in ./usr/bin/mapsweep ./usr/share/man/man1/mapsweep.1.gz \
  ./usr/share/doc/mapsweep/copyright ./usr/share/doc/mapsweep/changelog.gz; do
  grep -q " $needed\$" <<<"$contents" || fail "$deb lacks $needed"
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 zlib1g; do
  grep -q "\\b$library\\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done

installed() {
  dpkg-query -W -f='${Status}' mapsweep 2>/dev/null | grep -q 'ok installed'
}
if [[ $(id -u) == 0 ]] && ! installed; then
  # Removed again however this script ends, so the machine is left as it was.
  trap 'dpkg --purge mapsweep >/dev/null 2>&1 || true' EXIT
  dpkg -i "$deb"
  [[ $(command -v mapsweep) == /usr/bin/mapsweep ]] || fail "mapsweep is not /usr/bin/mapsweep on the PATH"
  said=$(cd / && mapsweep --version)
  page=$(man -w mapsweep)
  echo "installed: $said; manual page $page"
  dpkg -r mapsweep
  trap - EXIT
  ! installed || fail "dpkg -r left mapsweep installed"
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/mapsweep-deb.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  dpkg-deb --extract "$deb" "$scratch"
  said=$("$scratch/usr/bin/mapsweep" --version)
  echo "unpacked (not root, or a mapsweep package is installed): $said"
fi
[[ $said == "mapsweep $version" ]] || fail "the program says '$said', the package is $version"
echo "package_check: $deb is good"
