#!/usr/bin/env bash
# Builds everything and runs every test; CTest prints the summary.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bash scripts/build.sh
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300
