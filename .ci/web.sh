#!/usr/bin/env bash
# CI: the web build, then the intro in headless Chromium and Firefox ESR,
# compared with the native renderer's frames of the same song positions, a
# phone-sized visitor, and the editor's page.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
echo "== web build"
scripts/web.sh --build-only
# The browser, and what the native reference frames below are built with.
scripts/deps.sh --tests chromium firefox-esr xvfb nodejs npm

# The native frames of the first three song positions, as PNG files (the
# capture writes PNG frames when it finds no ffmpeg on the PATH).
echo "== native reference frames"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target invitro-capture >/dev/null
native=build-web/native
rm -rf "$native" && mkdir -p "$native"
PATH=/nonexistent build/invitro-capture -o "$native/intro.mp4" --size 640x360 --fps 60 --seconds 22 \
  --timeline "$native/timeline.csv" >/dev/null

echo "== the intro in headless Chromium and Firefox ESR"
node web/test/browser_test.mjs build-web/site "$native/intro-frames" "$native/timeline.csv"
echo "== the editor's page in headless Chromium"
node web/test/editor_page_test.mjs build-web/site
