#!/usr/bin/env bash
# Installs what is needed, builds the intro and plays it: in a window (or on
# the console) where there is a display, and otherwise renders it to a video.
set -euo pipefail
usage() {
  cat <<'USAGE'
Usage: scripts/play.sh [--build-only] [--no-install] [--build-dir DIR] [CAPTURE OPTIONS]
Installs the Debian packages the intro needs (with sudo when not root), builds
it and plays it: in a window on a desktop, full screen on a local console with
a display device, and on the Pi's screen with the legacy firmware stack.
Escape or Q ends it. Where there is no display it renders the intro to
invitro.mp4 in the repository folder instead (a relative -o is taken from
there too), and the options are those of invitro-capture (-o FILE,
--size WxH, --fps N, --seconds N, --timeline FILE).
  --build-only     build, do not play
  --no-install     install no packages (they are there already, or come
                   from elsewhere)
  --build-dir DIR  build in DIR instead of build/ in the repository folder
CMake's own environment variables (CMAKE_TOOLCHAIN_FILE, CMAKE_PREFIX_PATH,
CXXFLAGS, ...) apply when a build folder is configured for the first time.
USAGE
}
play=1
install=1
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --build-only) play=0 ;;
    --no-install) install=0 ;;
    --build-dir)
      [ -n "${2:-}" ] || { echo "scripts/play.sh: --build-dir needs a folder" >&2; usage >&2; exit 2; }
      build=$(realpath -m "$2"); shift ;;
    *) break ;;
  esac
  shift
done
cd "$(dirname "$0")/.."
build=${build:-$PWD/build}
[ "$install" = 0 ] || scripts/deps.sh
# Only the intro: no tools, tests or benchmarks, so none of their libraries.
# play-programs is invitro and, where the configuration has one (not on the
# legacy Pi stack), invitro-capture.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DDBX_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target play-programs >/dev/null
if [ "$play" = 0 ]; then
  echo "Built $build/invitro"
  exit 0
fi
# A desktop session, or a local console with a display device we may use
# (the Pi 5 numbers its display device card1). Without a capture program
# this is the legacy Pi stack, whose layer shows on the Pi's screen.
console=0
if [ -z "${SSH_CONNECTION:-}" ] && [ -t 0 ]; then
  for card in /dev/dri/card*; do
    [ -w "$card" ] && console=1
  done
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "$console" = 1 ] || [ ! -x "$build/invitro-capture" ]; then
  exec "$build/invitro" "$@"
fi
# Options go to invitro-capture (see build/invitro-capture --help).
out="$PWD/invitro.mp4"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[i]}" = "-o" ] && [ $((i + 1)) -lt ${#args[@]} ] && out="${args[i + 1]}"
done
echo "No display here: rendering the intro to $out"
"$build/invitro-capture" -o "$out" "$@"
if [ -d "${out%.*}-frames" ] && [ ! -e "$out" ]; then
  echo "The intro is in ${out%.*}-frames/ and ${out%.*}.wav"
else
  echo "The intro is in $out"
fi
