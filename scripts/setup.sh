#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent and quiet: packages already present are skipped, nothing prompts.
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ ccache pkg-config libpcre2-dev libcurl4-openssl-dev zlib1g-dev libminizip-dev
  libmariadb-dev libsqlite3-dev libssl-dev libcivetweb-dev libcpp-httplib-dev googletest
  libbenchmark-dev
  # run
  mariadb-server php-cli
  # tests
  python3-pyftpdlib
  # web UI: JSON of the page bridge; browser tests (chromium driven by playwright-core from
  # npm) and a CJK font so pages and screenshots show their Chinese texts
  nlohmann-json3-dev chromium fonts-wqy-microhei
)
# Node for the browser tests: Debian's packages unless a node is already installed.
command -v node >/dev/null 2>&1 || PACKAGES+=(nodejs npm)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Debian mariadb-server package starts a system-wide server; we never use it
# (the program runs its own private instance), so keep it from holding resources.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet mariadb 2>/dev/null; then
  systemctl stop mariadb >/dev/null 2>&1 || true
fi

# playwright-core for the browser tests, at the version pinned in tests/ui/package-lock.json.
ui_tests="$(dirname "$0")/../tests/ui"
if [ ! -f "$ui_tests/node_modules/playwright-core/package.json" ] ||
   [ "$ui_tests/package-lock.json" -nt "$ui_tests/node_modules/.package-lock.json" ]; then
  echo "setup: installing the browser test modules"
  (cd "$ui_tests" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
