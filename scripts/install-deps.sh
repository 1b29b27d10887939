#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with, when any is missing.
set -euo pipefail
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libgl1-mesa-dev
          fonts-liberation xvfb xauth imagemagick)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
