#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Extra arguments go to ctest (e.g. -R Xml).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)" "$@"
