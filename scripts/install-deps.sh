#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with (or the ones named
# as arguments), when any is missing:
# as root, or through sudo for a user with sudo rights; anyone else is told what to ask for.
set -euo pipefail
# fonts-dejavu-core: without it a fresh machine has no proportional fallback, and every
# family but Arial (Tahoma, sans-serif) is drawn in Liberation Mono.
# poppler-utils: pdftotext and pdftoppm read the site report back in the tests.
# desktop-file-utils, appstream, groff-base: the tests validate the desktop entry, the
# metadata and the manual page; file: cpack finds the program's libraries with it.
# ser2net: the device server the network port tests put in front of the simulator; its
# system service (started where a service manager runs) keeps to the fixed ports of
# /etc/ser2net.yaml, and the tests run their own on free ports.
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libgl1-mesa-dev
          fonts-liberation fonts-dejavu-core xvfb xauth x11-utils imagemagick poppler-utils
          desktop-file-utils appstream groff-base file ser2net)
# Packages named on the command line instead: a tool only one script needs
# (scripts/format.sh asks for clang-format).
if [ $# -gt 0 ]; then packages=("$@"); fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    # sudo rights: a rule that needs no password, or membership of the group that Debian
    # gives them to. Without either, sudo would only fail with a message of its own.
    if command -v sudo >/dev/null 2>&1 &&
        { sudo -n true 2>/dev/null || id -nG | tr ' ' '\n' | grep -qxE 'sudo|admin|wheel'; }; then
        sudo_cmd=(sudo)
    else
        cat >&2 <<MSG
These Debian packages are needed and not installed:
    ${missing[*]}
Installing them needs root, and $(id -un) has neither root nor sudo rights.
Ask an administrator to run:
    apt-get install --no-install-recommends ${missing[*]}
and then run this again.
MSG
        exit 1
    fi
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
# Through env: sudo's env_reset (Debian's default) drops the caller's environment, and
# debconf would then stop to ask its questions.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
