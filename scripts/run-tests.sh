#!/usr/bin/env bash
# Builds everything and runs every test; CTest prints the summary.
#   scripts/run-tests.sh              the ordinary build, in build/
#   scripts/run-tests.sh --sanitize   the same tests built with AddressSanitizer and
#                                     UndefinedBehaviorSanitizer, in build-asan/
# BUILD_DIR chooses another place for either.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
"")
    build_dir=${BUILD_DIR:-build}
    export EG_CMAKE_ARGS="-DEG_SANITIZE=OFF"
    ;;
--sanitize)
    build_dir=${BUILD_DIR:-build-asan}
    export EG_CMAKE_ARGS="-DEG_SANITIZE=ON"
    ;;
*)
    echo "usage: scripts/run-tests.sh [--sanitize]" >&2
    exit 2
    ;;
esac
BUILD_DIR=$build_dir bash scripts/build.sh
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300
