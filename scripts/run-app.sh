#!/usr/bin/env bash
# Builds the project (installing what is missing), starts the simulated sensor on a
# pseudo-terminal published as COM7 in a private ports directory, and starts the
# application against it. The simulator ends with the application.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
bash scripts/build.sh

ports_dir=$(mktemp -d)
export ECHOGAUGE_PORTS_DIR="$ports_dir"
"$build_dir/sim/echogauge-sim" --port COM7 "$@" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$ports_dir"' EXIT
for _ in $(seq 50); do [ -e "$ports_dir/COM7" ] && break; sleep 0.1; done
"$build_dir/echogauge-setup"
