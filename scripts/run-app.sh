#!/usr/bin/env bash
# Builds the project (installing what is missing), starts the simulated sensor on a
# pseudo-terminal published as COM7 in a private ports directory, and starts the
# application against it. The simulator ends with the application.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without a display Qt can only abort; say what to do instead, before anything is built.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'MSG'
run-app.sh: there is no display to show the window on (DISPLAY is not set).
From a desktop session, set DISPLAY to your X display (for example DISPLAY=:0).
Over SSH or in a container, run the window on a virtual display instead:
    xvfb-run -a scripts/run-app.sh
(xvfb-run comes with the package xvfb, which scripts/install-deps.sh installs.)
MSG
    exit 1
fi
build_dir=${BUILD_DIR:-build}
bash scripts/build.sh

ports_dir=$(mktemp -d)
export ECHOGAUGE_PORTS_DIR="$ports_dir"
"$build_dir/sim/echogauge-sim" --port COM7 "$@" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$ports_dir"' EXIT
for _ in $(seq 50); do [ -e "$ports_dir/COM7" ] && break; sleep 0.1; done
"$build_dir/echogauge-setup"
