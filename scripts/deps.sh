#!/usr/bin/env bash
# Installs the Debian packages the intro, its tools and its tests need.
set -euo pipefail
packages=(
  cmake make g++ pkg-config
  libmikmod-dev liblodepng-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libsdl2-dev libcairo2-dev fonts-dejavu-core fonts-dejavu-extra
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg openmpt123
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
