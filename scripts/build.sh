#!/usr/bin/env bash
# Configures and builds the project into build/ (or $BUILD_DIR), with any extra
# CMake arguments in $EG_CMAKE_ARGS (e.g. -DEG_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bash scripts/install-deps.sh
# shellcheck disable=SC2086 # the arguments are meant to split
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${EG_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
