#!/usr/bin/env bash
# Runs the Windows program's tests under Wine, in a Wine prefix of their own, and
# prints "N passed, N failed" (Qt Test cases and the script's own checks):
#   - the unit-test programs that need no pseudo-terminal, built for Windows;
#   - the device map and the Windows paths (settings in the registry, the loader,
#     the guide, quitting on a console's close);
#   - the serial layer against a pseudo-terminal behind a Wine COM port;
#   - the main window against echogauge-sim behind that port, direct and through a
#     logger at 19200, and the program itself finding the sensor and keeping it;
#   - the console program echogauge.exe reading and verifying the simulator;
#   - the installer: silent installs per user and per machine, the installed
#     program started and its window found, silent uninstalls that keep the
#     engineer's update files, loader and guide unless /RemoveData is given.
# Builds what is missing (scripts/build-windows.sh, and the Linux simulator in
# build/ or $BUILD_DIR). The program's windows are drawn on an Xvfb display of
# the script's own.
set -uo pipefail
cd "$(dirname "$0")/.."
win=${WIN_BUILD_DIR:-build-win}
linux=${BUILD_DIR:-build}
started=$(date +%s)

bash scripts/install-deps.sh || exit 1
bash scripts/install-deps.sh wine wine64 || exit 1
[ -f "$win/package/echogauge-setup.exe" ] && [ -f "$win/package/echogauge.exe" ] && [ -f "$win/tst_win_e2e.exe" ] || bash scripts/build-windows.sh || exit 1
if [ ! -x "$linux/sim/echogauge-sim" ] || [ ! -x "$linux/tests/eg-ptypeer" ]; then
    cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
        cmake --build "$linux" -j"$(nproc)" --target echogauge-sim eg-ptypeer || exit 1
fi
sim=$(realpath "$linux/sim/echogauge-sim")
peer=$(realpath "$linux/tests/eg-ptypeer")
win=$(realpath "$win")
qt=$(dirname "$(dirname "$(ls "$win"/*/bin/Qt6Test.dll | head -1)")")

work=$(mktemp -d /tmp/eg-wine.XXXXXX)
mkdir -p "$work/ports" "$work/logs"
# No Mono or Gecko prompts, and no menu entries made in the desktop's own menus.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine hands WINE<name> to the Windows program as <name>: Qt's own variables would
# not pass otherwise.
export WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
export WINEQT_FORCE_STDERR_LOGGING=1
zpath() { echo "Z:${1//\//\\}"; }
# The test programs find Qt and the runtime through these; the program itself has
# them beside it.
export WINEPATH="$(zpath "$qt/bin");$(zpath "$win/package")"
export WINEQT_PLUGIN_PATH="$(zpath "$qt/plugins")"

pids=()
display_pid=
cleanup() {
    # The Wine server holds the pseudo-terminals as its terminal: it goes first.
    wineserver -k 2>/dev/null
    for p in "${pids[@]}" $display_pid; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() { # name, then a command that succeeds when the check holds
    local name=$1
    shift
    if "$@" >>"$work/logs/checks.log" 2>&1; then
        passed=$((passed + 1))
        echo "PASS   $name"
    else
        failed=$((failed + 1))
        echo "FAIL!  $name"
    fi
}
# A Qt Test program under Wine: its cases count one by one.
run_qt() { # name, program, more environment
    local name=$1 program=$2
    shift 2
    local log=$work/logs/$name.log t0=$SECONDS
    env "$@" timeout 600 wine "$win/$program" >"$log" 2>&1
    local rc=$?
    local totals
    totals=$(grep -a '^Totals:' "$log" | tail -1)
    local p f
    p=$(echo "$totals" | sed -n 's/^Totals: \([0-9]*\) passed.*/\1/p')
    f=$(echo "$totals" | sed -n 's/.* \([0-9]*\) failed.*/\1/p')
    if [ -z "$totals" ] || { [ "$rc" -ne 0 ] && [ "${f:-0}" -eq 0 ]; }; then
        f=$((${f:-0} + 1)) # ended without its totals, or failed in a way Qt Test did not count
    fi
    passed=$((passed + ${p:-0}))
    failed=$((failed + f))
    printf '%-28s %3d passed, %d failed (%d s)\n' "$name" "${p:-0}" "$f" $((SECONDS - t0))
    grep -a -A3 '^FAIL!' "$log" | head -40
    grep -a '^QINFO' "$log" | sed 's/^QINFO  : /    /'
}
start_server() {
    wineserver -p 2>>"$work/logs/wineserver.log"
    wine cmd /c exit 2>/dev/null
}
stop_server() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
wait_for() { # seconds, then a test
    local n=$(($1 * 10))
    shift
    for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
    return 1
}

echo "Wine prefix in $work"
wine wineboot -i >/dev/null 2>&1
wineserver -w
# COM7 is a pseudo-terminal published as a link in the ports folder: eg-ptypeer's
# for the serial tests, echogauge-sim's for the others.
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$work/ports/COM7" /f >/dev/null 2>&1
# Wine has no Arial, Tahoma or Courier New; the fonts Linux uses for them stand in,
# so that the window is laid out as on Linux and on Windows.
for font in "Arial=Liberation Sans" "Courier New=Liberation Mono" "Tahoma=DejaVu Sans"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${font%%=*}" /d "${font#*=}" /f >/dev/null 2>&1
done
stop_server

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
display_pid=$!
wait_for 10 test -s "$work/display"
export DISPLAY=:$(cat "$work/display")

echo "== unit tests"
start_server
for t in ringbuffer flow flowtable readconfig firmware channelcontrols settings win_portmap win_platform; do
    run_qt "tst_$t" "tst_$t.exe"
done
stop_server

echo "== serial layer on a pseudo-terminal"
"$peer" "$work/ports/COM7" >"$work/logs/ptypeer.log" 2>&1 &
pids+=($!)
wait_for 5 test -e "$work/ports/COM7"
start_server
run_qt tst_win_serial tst_win_serial.exe EG_TEST_PORT=7
stop_server # before the far end goes
kill "${pids[-1]}" 2>/dev/null

start_sim() { # registers file, more options
    local registers=$1
    shift
    rm -f "$work/ports/COM7"
    ECHOGAUGE_PORTS_DIR=$work/ports "$sim" --port COM7 --register 19=4711 --register 23=2750 \
        --mount 3210 --level 1234 --registers-out "$registers" "$@" >>"$work/logs/sim.log" 2>&1 &
    pids+=($!)
    wait_for 5 test -e "$work/ports/COM7"
}
stop_sim() {
    stop_server
    kill "${pids[-1]}" 2>/dev/null
    wait "${pids[-1]}" 2>/dev/null
}

echo "== the main window against echogauge-sim"
for logger in 0 19200; do
    regs=$work/registers-$logger.txt
    if [ "$logger" = 0 ]; then start_sim "$regs"; else start_sim "$regs" --logger "$logger"; fi
    start_server
    name=tst_win_e2e-direct
    [ "$logger" = 0 ] || name=tst_win_e2e-logger$logger
    run_qt "$name" tst_win_e2e.exe EG_TEST_SIM_PORT=7 EG_TEST_SIM_LOGGER=$logger \
        EG_TEST_SIM_REGISTERS="$(zpath "$regs")"
    stop_sim
done

caption='  EchoGauge Setup Application - V1.12'
key='HKCU\Software\Brookmere\EchoGauge Setup'
reg_value() { # key, value name: the data as reg.exe shows it
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n {print $NF}'
}
# The program on the Xvfb display, with the windows platform, as a user starts it.
run_program() { # program, then what to do while it runs; its arguments in program_args
    local program=$1
    shift
    env -u WINEPATH -u WINEQT_PLUGIN_PATH WINEQT_QPA_PLATFORM=windows wine "$program" "${program_args[@]}" \
        >>"$work/logs/program.log" 2>&1 &
    local pid=$!
    "$@"
    local rc=$?
    wait_for 30 bash -c "! kill -0 $pid 2>/dev/null"
    kill "$pid" 2>/dev/null
    return $rc
}
asked_for_dump() { sed -n 's/^> //p' "$work/wire-exe.log" 2>/dev/null | tr -d '\n' | grep -q '\.\.\.PDAh'; }
program_args=()
close_when_connected() {
    # Found: the configuration read follows the search and ends within a few seconds.
    wait_for 90 asked_for_dump || return 1
    sleep 6
    wine "$win/eg-wintool.exe" close-window "$caption" 30
}

echo "== echogauge-setup.exe finds the sensor and keeps it"
start_sim "$work/registers-exe.txt" --wire-log "$work/wire-exe.log"
start_server
wine reg delete "$key" /f >/dev/null 2>&1
check "program: its window found and closed once connected" \
    run_program "$win/package/echogauge-setup.exe" close_when_connected
check "program: the sensor's port kept (Port = 7)" test "$(reg_value "$key" Port)" = 0x7
check "program: its speed kept (Baud = 9600)" test "$(reg_value "$key" Baud)" = 0x2580
check "program: a direct line kept (Passthrough = 0)" test "$(reg_value "$key" Passthrough)" = 0x0
stop_sim

echo "== echogauge.exe reads and verifies echogauge-sim"
start_sim "$work/registers-cli.txt"
start_server
cli() { # exit code wanted, standard output's file, then the arguments
    local want=$1 out=$2
    shift 2
    timeout 120 wine "$win/package/echogauge.exe" "$@" >"$out" 2>>"$work/logs/cli.log"
    [ $? -eq "$want" ]
}
check "echogauge.exe read --json --cdf: exit 0" \
    cli 0 "$work/cli-read.json" read --port COM7 --json --cdf "$(zpath "$work/cli-read.cdf")"
check "echogauge.exe read: the serial and the height in JSON" \
    grep -q '"serial":4711.*"height_m":2.75' "$work/cli-read.json"
check "echogauge.exe verify against what it read: holds, exit 0" \
    cli 0 "$work/cli-holds.txt" verify --port COM7 --cdf "$(zpath "$work/cli-read.cdf")"
printf '[Channels]\r\nChannel Type=1\r\nNotch Angle=90\r\nCrest Height=1000\r\nChannel Width=777\r\nNotch Width=500\r\n' \
    >"$work/cli-other.cdf"
check "echogauge.exe verify against another width: differs in 131, exit 1" \
    cli 1 "$work/cli-differs.txt" verify --port COM7 --cdf "$(zpath "$work/cli-other.cdf")"
check "echogauge.exe names register 131" grep -q '^131' "$work/cli-differs.txt"
stop_sim

echo "== both programs through a device server (ser2net) on the Linux side"
command -v ser2net >/dev/null 2>&1 || [ -x /usr/sbin/ser2net ] || bash scripts/install-deps.sh ser2net
start_sim "$work/registers-net.txt" --wire-log "$work/wire-exe.log"
net_port=$((20000 + RANDOM % 20000))
cat >"$work/ser2net.yaml" <<YAML
connection: &sensor
    accepter: telnet(rfc2217),tcp,127.0.0.1,$net_port
    connector: serialdev,$(readlink -f "$work/ports/COM7"),9600n82,local
YAML
/usr/sbin/ser2net -n -d -c "$work/ser2net.yaml" >"$work/logs/ser2net.log" 2>&1 &
pids+=($!)
net_url=rfc2217://127.0.0.1:$net_port
start_server
check "echogauge.exe read through $net_url: exit 0" \
    cli 0 "$work/cli-net.json" read --port "$net_url" --json
check "echogauge.exe read through the server: the serial in JSON" grep -q '"serial":4711' "$work/cli-net.json"
: >"$work/wire-exe.log"
wine reg delete "$key" /f >/dev/null 2>&1
program_args=(--port "$net_url")
check "program --port $net_url: its window found and closed once connected" \
    run_program "$win/package/echogauge-setup.exe" close_when_connected
program_args=()
check "program: the network port kept (Network Port = $net_url)" \
    test "$(wine reg query "$key" /v 'Network Port' 2>/dev/null | tr -d '\r' | awk '/Network Port/ {print $NF}')" = "$net_url"
kill "${pids[-1]}" 2>/dev/null # the device server, then the simulator started before it
unset 'pids[-1]'
stop_sim

echo "== the installer"
installer=$(ls "$win"/EchoGauge-Setup-*-win64.exe | head -1)
listing() { (cd "$1" 2>/dev/null && find . | LC_ALL=C sort | tr '\n' ' '); }
# What the uninstaller leaves in a folder (nothing when the folder is gone) once it
# is done: it goes on from a copy of itself, so the folder is watched until its
# uninstaller is gone and nothing has changed for two seconds.
left_behind() {
    local dir=$1 last=none now same=0
    for _ in $(seq 600); do
        now=$(listing "$dir")
        if [ "$now" = "$last" ] && [ ! -e "$dir/uninstall.exe" ]; then
            same=$((same + 1))
            [ "$same" -ge 20 ] && break
        else
            same=0
        fi
        last=$now
        sleep 0.1
    done
    echo "$now"
}
# What the engineer puts beside the program, and may not get again in the field.
engineers=(UPD_Files/EG-01.13.upd flashldr.exe DOC-115-0001-QuickStart.pdf)
kept=$(printf '%s\n' . ./UPD_Files "${engineers[@]/#/./}" | LC_ALL=C sort | tr '\n' ' ')
start_server
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\EchoGauge Setup'
for mode in CurrentUser AllUsers; do
    root=HKCU
    [ "$mode" = AllUsers ] && root=HKLM
    wine "$installer" /S "/$mode" >>"$work/logs/installer.log" 2>&1
    dir=$(wine reg query "$root\\$uninstall_key" /v InstallLocation 2>/dev/null | tr -d '\r' |
        sed -n 's/.*InstallLocation *REG_SZ *//p')
    unix_dir=$(wine winepath -u "$dir" 2>/dev/null)
    check "$mode: installed in its folder ($dir)" test -f "$unix_dir/echogauge-setup.exe"
    check "$mode: the console program beside it" test -f "$unix_dir/echogauge.exe"
    check "$mode: Qt, its plugins and the runtime beside it" test -f "$unix_dir/Qt6Widgets.dll" -a \
        -f "$unix_dir/platforms/qwindows.dll" -a -f "$unix_dir/libstdc++-6.dll"
    check "$mode: UPD_Files ready beside the program" test -d "$unix_dir/UPD_Files"
    check "$mode: listed in Apps with name, version and publisher" bash -c \
        "wine reg query '$root\\$uninstall_key' | tr -d '\r' | grep -q 'DisplayName *REG_SZ *EchoGauge Setup' &&
         wine reg query '$root\\$uninstall_key' | tr -d '\r' | grep -q 'DisplayVersion *REG_SZ *[0-9]' &&
         wine reg query '$root\\$uninstall_key' | tr -d '\r' | grep -q 'Publisher *REG_SZ *Brookmere'"
    start_menu=$(find "$WINEPREFIX/drive_c" -name 'EchoGauge Setup.lnk' | head -1)
    check "$mode: a Start-menu entry" test -n "$start_menu"
    wine reg delete "$key" /f >/dev/null 2>&1
    check "$mode: the installed program runs with its window" run_program "$unix_dir/echogauge-setup.exe" \
        wine "$win/eg-wintool.exe" close-window "$caption" 60
    check "$mode: it stored its settings on closing" test -n "$(reg_value "$key" Options)"
    for f in "${engineers[@]}"; do echo "placed after installing" >"$unix_dir/$f"; done
    remove=
    [ "$mode" = AllUsers ] && remove="/RemoveSettings /RemoveData"
    wine "$unix_dir/uninstall.exe" /S "/$mode" $remove >>"$work/logs/installer.log" 2>&1
    left=$(left_behind "$unix_dir")
    echo "    left in its folder: ${left:-(the folder is gone)}"
    if [ "$mode" = AllUsers ]; then
        check "$mode: uninstalled with /RemoveData, nothing left in its folder" test -z "$left"
    else
        check "$mode: uninstalled, only the update file, loader and guide left" test "$left" = "$kept"
        rm -rf "$unix_dir"
    fi
    check "$mode: the Start-menu entry gone" test ! -e "$start_menu"
    check "$mode: gone from Apps" bash -c "! wine reg query '$root\\$uninstall_key' >/dev/null 2>&1"
    if [ "$mode" = AllUsers ]; then
        check "$mode: settings removed when asked" bash -c "! wine reg query '$key' >/dev/null 2>&1"
    else
        check "$mode: settings kept" test -n "$(reg_value "$key" Options)"
    fi
done
stop_server

echo "$passed passed, $failed failed ($(($(date +%s) - started)) s)"
[ "$failed" -eq 0 ]
