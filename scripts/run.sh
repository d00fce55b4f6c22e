#!/usr/bin/env bash
# Installs what is missing, builds, and starts Rizede from its program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
exec "${BUILD_DIR:-build}/Rizede/Rizede"
