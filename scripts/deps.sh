#!/usr/bin/env bash
# Installs the Debian packages the intro needs (with sudo when not root).
set -euo pipefail
usage() {
  cat <<'USAGE'
Usage: scripts/deps.sh [--tests] [--arch ARCH] [--only] [PACKAGE...]
Installs the Debian packages that building and playing the intro needs. With
--tests also those of the asset tools, the tests and the benchmarks
(GoogleTest, Google Benchmark, cairo and the DejaVu fonts, openmpt123).
  --arch ARCH   install the libraries for the Debian architecture ARCH (added
                as a foreign architecture) instead of this machine's, for a
                cross build; the build tools stay this machine's
  --only        install only the PACKAGEs named
  PACKAGE...    more packages to install (this machine's)
Packages already installed are left alone; apt waits up to 15 minutes for
another package manager to finish. An index that fails to download is tried
again a few times over a few minutes (scripts/apt.sh says how). When the
packages of a foreign --arch cannot be installed, it says why and ends with
status 75.
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
  pulseaudio libasound2-plugins
)
tests=0
only=0
arch=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) tests=1 ;;
    --only) only=1 ;;
    --arch)
      [ -n "${2:-}" ] || { echo "scripts/deps.sh: --arch needs an architecture" >&2; usage >&2; exit 2; }
      arch=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "scripts/deps.sh: unknown option \"$1\"" >&2; usage >&2; exit 2 ;;
    *) extra+=("$1") ;;
  esac
  shift
done
[ "$tests" = 0 ] || packages+=("${test_packages[@]}")
[ "$only" = 0 ] || packages=()
# A cross build takes the libraries of its own architecture.
if [ -n "$arch" ]; then
  for i in "${!packages[@]}"; do
    case "${packages[$i]}" in lib*) packages[$i]=${packages[$i]}:$arch ;; esac
  done
fi
packages+=("${extra[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
. "$(dirname "$0")/apt.sh"
if apt_is_foreign "$arch" && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  echo "Adding the foreign architecture $arch"
  $apt_sudo dpkg --add-architecture "$arch"
fi
echo "Installing: ${missing[*]}"
apt_update
if ! apt_install "${missing[@]}"; then
  # A foreign architecture's packages may be out of the registry's reach for
  # a while; this machine's own never are, as far as we are concerned.
  apt_is_foreign "$arch" && apt_foreign_failed "$arch"
  echo "scripts/deps.sh: the packages could not be installed: $apt_reason" >&2
  exit 1
fi
