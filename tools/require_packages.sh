#!/usr/bin/env bash
# Installs with apt-get whichever of the named Debian packages are not installed yet.
#   tools/require_packages.sh PACKAGE...
# Recommended packages come along (apt-get's default): the builds were tried with them.
set -euo pipefail

if (($# == 0)); then
  echo "usage: $0 PACKAGE..." >&2
  exit 2
fi

# Installed for real: "dpkg -s" also answers for a package removed with its settings kept.
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

missing=()
for package in "$@"; do
  installed "$package" || missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
