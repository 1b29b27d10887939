#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 into build-win/ (or $BUILD_DIR):
#   echogauge-setup.exe and the test programs,
#   package/                      the program with everything it needs beside it
#                                 (Qt's DLLs and plugins, the mingw runtime, UPD_Files),
#   EchoGauge-Setup-<version>-win64.exe   the installer (NSIS).
# The Qt for Windows is $QT_MINGW_PREFIX when set (an unpacked Qt 6 built with
# mingw-w64), else the tarball $QT_MINGW_TARBALL, else ../shared/windows/qt6-mingw-6.4.2-net.tar.xz
# (Qt with Qt Network), unpacked into the build folder. Installs the Debian packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-win}

# The Linux packages give CMake and Qt's host tools and their CMake files.
bash scripts/install-deps.sh
bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix mingw-w64 qt6-base-dev-tools nsis xz-utils
mkdir -p "$build_dir"

default_tarball=../shared/windows/qt6-mingw-6.4.2-net.tar.xz
default_sha256=f3e872537a70263b3e48bde4ebbe31c3afe9d249fdc7e29108d5060464b1d712
qt=${QT_MINGW_PREFIX:-}
if [ -z "$qt" ]; then
    tarball=${QT_MINGW_TARBALL:-$default_tarball}
    if [ ! -f "$tarball" ]; then
        echo "build-windows.sh: no Qt for Windows: $tarball is missing; set QT_MINGW_PREFIX or QT_MINGW_TARBALL" >&2
        exit 1
    fi
    top=$(tar -tf "$tarball" | awk -F/ 'NR == 1 {print $1}') # reads it all: no broken pipe
    qt=$(cd "$build_dir" && pwd)/$top
    stamp=$qt/.unpacked-from
    if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$(realpath "$tarball")" ]; then
        if [ "$tarball" = "$default_tarball" ] &&
            ! echo "$default_sha256  $tarball" | sha256sum -c --quiet -; then
            echo "build-windows.sh: $tarball is not the tarball its README describes" >&2
            exit 1
        fi
        rm -rf "$qt"
        tar -C "$build_dir" -xf "$tarball"
        realpath "$tarball" >"$stamp"
    fi
fi
if [ ! -f "$qt/bin/Qt6Core.dll" ]; then
    echo "build-windows.sh: $qt holds no Qt for Windows (bin/Qt6Core.dll)" >&2
    exit 1
fi

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-toolchain.cmake" \
    -DQT_MINGW_PREFIX="$qt" -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)"

# What the program loads, found the way Windows would find it beside the program:
# every DLL a file imports that Qt or the mingw runtime provides, and theirs in turn.
mingw=x86_64-w64-mingw32
search=("$qt/bin" /usr/lib/gcc/$mingw/*-posix /usr/$mingw/lib)
package=$build_dir/package
rm -rf "$package"
mkdir -p "$package/platforms" "$package/styles" "$package/UPD_Files"
gather() {
    local dll dir
    for dll in $($mingw-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$package/$dll" ] && continue
        for dir in "${search[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$package/"
                gather "$package/$dll"
                break
            fi
        done
    done
}
cp "$build_dir/echogauge-setup.exe" "$package/"
cp "$build_dir/echogauge.exe" "$package/" # the console program, beside the window
# windows draws on the desktop; offscreen runs it without one (scripts, tests).
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$package/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$package/styles/"
for f in "$package"/echogauge-setup.exe "$package"/platforms/*.dll "$package"/styles/*.dll; do
    gather "$f"
done
gather "$package/echogauge.exe"
# Debian's mingw runtime keeps its debugging symbols (libstdc++ 23 MB of them).
find "$package" -name '*.dll' -exec $mingw-strip --strip-unneeded {} +

# The uninstaller removes what the installer put there and nothing else: the
# package's files, then its folders, deepest first (a folder that still holds
# something stays).
installed=$build_dir/installed-files.nsh
(
    cd "$package"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
) >"$installed"

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
installer=$build_dir/EchoGauge-Setup-$version-win64.exe
makensis -V2 -DVERSION="$version" -DSOURCE="$(cd "$package" && pwd)" -DOUTFILE="$(pwd)/$installer" \
    -DINSTALLED_FILES="$(realpath "$installed")" packaging/windows/echogauge-setup.nsi
echo "Built:"
ls -l "$build_dir/echogauge-setup.exe" "$installer" | awk '{printf "  %-48s %10d bytes\n", $NF, $5}'
du -sb "$package" | awk '{printf "  %-48s %10d bytes\n", $2 "/", $1}'
