#!/usr/bin/env bash
# Builds the Debian package echogauge-setup_<version>_<arch>.deb: a release build of
# the program alone into build-deb/ (or $BUILD_DIR), installed under /usr, packed by
# cpack. Checks that the package holds what an installed copy needs and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-deb}
bash scripts/install-deps.sh
# Packing must not build the simulator and the tests, which the package leaves out.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build_dir" --target echogauge-setup echogauge manual_page -j"$(nproc)"
rm -f "$build_dir"/echogauge-setup_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
package=$(ls "$build_dir"/echogauge-setup_*.deb)
contents=$(dpkg-deb -c "$package")
for path in ./usr/bin/echogauge-setup ./usr/bin/echogauge ./usr/share/man/man1/echogauge.1.gz \
    ./usr/share/applications/echogauge-setup.desktop \
    ./usr/share/metainfo/com.brookmere.echogauge_setup.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/echogauge-setup.svg \
    ./usr/share/icons/hicolor/48x48/apps/echogauge-setup.png \
    ./usr/share/man/man1/echogauge-setup.1.gz \
    ./usr/share/echogauge-setup/UPD_Files/; do
    grep -q " $path\$" <<<"$contents" || { echo "$package lacks $path" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$package" Depends)
for dep in libqt6widgets6 libqt6serialport6 fonts-liberation fonts-dejavu-core; do
    grep -q "$dep" <<<"$depends" || { echo "$package does not depend on $dep: $depends" >&2; exit 1; }
done
echo "$package"
