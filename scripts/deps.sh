#!/usr/bin/env bash
# Installs the Debian packages the intro needs (with sudo when not root).
set -euo pipefail
usage() {
  cat <<'USAGE'
Usage: scripts/deps.sh [--tests]
Installs the Debian packages that building and playing the intro needs. With
--tests also those of the asset tools, the tests and the benchmarks
(GoogleTest, Google Benchmark, cairo and the DejaVu fonts, openmpt123).
USAGE
}
# Building and playing: invitro, invitro-capture (ffmpeg writes its video).
packages=(
  cmake make g++ pkg-config
  libmikmod-dev liblodepng-dev libpulse-dev libasound2-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libsdl2-dev ffmpeg
)
# The asset tools (DBX_TOOLS), the tests and the benchmarks (BUILD_TESTING).
test_packages=(
  libcairo2-dev fonts-dejavu-core fonts-dejavu-extra
  libgtest-dev libgmock-dev libbenchmark-dev
  openmpt123
)
case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  -h|--help) usage; exit 0 ;;
  *) echo "scripts/deps.sh: unknown option \"$1\"" >&2; usage >&2; exit 2 ;;
esac
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
