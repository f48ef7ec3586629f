#!/usr/bin/env bash
# Installs what is needed, builds the intro and plays it: in a window (or on
# the console) where there is a display, and otherwise renders it to a video.
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'USAGE'
Usage: scripts/play.sh [CAPTURE OPTIONS]
Installs the Debian packages the intro needs (with sudo when not root), builds
it and plays it: in a window on a desktop, full screen on a local console with
a display device. Escape or Q ends it. Where there is no display it renders
the intro to invitro.mp4 in the repository folder instead (a relative -o is
taken from there too), and the options are
those of invitro-capture (-o FILE, --size WxH, --fps N, --seconds N,
--timeline FILE).
USAGE
  exit 0
fi
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only the intro: no tools, tests or benchmarks, so none of their libraries.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DDBX_TOOLS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target invitro invitro-capture >/dev/null
# A desktop session, or a local console with a display device we may use
# (the Pi 5 numbers its display device card1).
console=0
if [ -z "${SSH_CONNECTION:-}" ] && [ -t 0 ]; then
  for card in /dev/dri/card*; do
    [ -w "$card" ] && console=1
  done
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "$console" = 1 ]; then
  exec build/invitro "$@"
fi
# Options go to invitro-capture (see build/invitro-capture --help).
out="$PWD/invitro.mp4"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[i]}" = "-o" ] && [ $((i + 1)) -lt ${#args[@]} ] && out="${args[i + 1]}"
done
echo "No display here: rendering the intro to $out"
build/invitro-capture -o "$out" "$@"
if [ -d "${out%.*}-frames" ] && [ ! -e "$out" ]; then
  echo "The intro is in ${out%.*}-frames/ and ${out%.*}.wav"
else
  echo "The intro is in $out"
fi
