#!/usr/bin/env bash
# Runs the catalogue page's check in headless Chromium: installs what it needs first
# (Debian's chromium and Node.js when run as root, puppeteer-core from the lock file).
#
#   tests/browser/run_catalog_check.sh CATALOG_DIR [SCREENSHOT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if (($# < 1 || $# > 2)); then
  echo "usage: run_catalog_check.sh CATALOG_DIR [SCREENSHOT]" >&2
  exit 2
fi
bash "$here/../../tools/require_packages.sh" chromium
# Node.js may come from elsewhere than Debian (with its own npm): only a missing one is
# installed.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  bash "$here/../../tools/require_packages.sh" nodejs npm
fi
if [[ ! -d $here/node_modules/puppeteer-core ]]; then
  (cd "$here" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
args=("$1")
[[ $# == 2 ]] && args+=(--screenshot "$2")
node "$here/catalog_check.mjs" "${args[@]}"
