#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with, when any is missing:
# as root, or through sudo for a user with sudo rights; anyone else is told what to ask for.
# Packages named as arguments are installed instead of the project's own list.
set -euo pipefail
# fonts-dejavu-core: without it a fresh machine has no proportional fallback, and every
# family but Arial (Tahoma, sans-serif) is drawn in Liberation Mono.
# poppler-utils: pdftotext and pdftoppm read the site report back in the tests.
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libgl1-mesa-dev
          fonts-liberation fonts-dejavu-core xvfb xauth x11-utils imagemagick poppler-utils)
[ $# -gt 0 ] && packages=("$@")
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
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
