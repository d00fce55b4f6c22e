#!/usr/bin/env bash
# Installs what is missing, builds the collector, and starts Rizede from its program folder
# (build/Rizede/). Rizede starts its own database server (Mysql/ in the program folder,
# 127.0.0.1:7795), prints the address of its UI with the access token and opens it when a
# display is present. Ctrl-C, SIGTERM or 文件 → 退出 ends it (and its database server).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --target Rizede >/dev/null
# Run from the program folder, so a crash dump (DumpFile.dmp, written to the current folder)
# lands there and not in the source tree.
cd "${BUILD_DIR:-build}/Rizede"
exec ./Rizede
