#!/usr/bin/env bash
# Installs what is needed, builds the intro and plays it: in a window (or on
# the console) where there is a display, and otherwise renders it to a video.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target invitro invitro-capture >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || { [ -z "${SSH_CONNECTION:-}" ] && [ -w /dev/dri/card0 ] && [ -t 0 ]; }; then
  exec build/invitro "$@"
fi
out="${INVITRO_VIDEO:-$PWD/invitro.mp4}"
echo "No display here: rendering the intro to $out"
build/invitro-capture -o "$out" "$@"
echo "The intro is in $out"
