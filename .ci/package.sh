#!/usr/bin/env bash
# .ci/package.sh [ARCH...]: makes the .deb of every build folder given
# (build for amd64, build-arm64, build-armhf), then installs the amd64 one on
# this machine, renders two seconds with invitro-capture from another folder
# and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
. scripts/apt.sh
root=$PWD
mkdir -p packages
rm -f packages/*.deb
for build in build "$@"; do
  [ "$build" = build ] || build=build-$build
  (cd "$build" && cpack >cpack.log 2>&1) || { tail -30 "$build/cpack.log"; exit 1; }
  cp "$build"/invitro_*.deb packages/
done
for deb in packages/*.deb; do
  echo "== $deb"
  dpkg-deb -f "$deb" Package Version Architecture Depends Recommends
  dpkg-deb -c "$deb" | awk '{print $6}' | grep -E '^\./usr/(bin|lib)/.' | sed 's/^/  /'
done

deb=$(ls packages/invitro_*_amd64.deb)
if dpkg-query -W -f='${Status}' invitro 2>/dev/null | grep -q "install ok installed"; then
  echo "invitro is installed on this machine already; not touching it" >&2
  exit 1
fi
echo "== installing $deb"
apt_install "$root/$deb"
status=0
work=$(mktemp -d /tmp/invitro-package-XXXXXX)
(
  cd "$work"
  EGL_PLATFORM=surfaceless invitro-capture --seconds 2 --size 320x180 --fps 30 -o two.mp4 >capture.log 2>&1 || {
    cat capture.log; exit 1; }
  seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 two.mp4)
  echo "invitro-capture from $work: two.mp4, $seconds s"
  awk -v s="$seconds" 'BEGIN { exit !(s >= 1.9 && s <= 2.2) }' || { echo "expected 2 seconds"; exit 1; }
  invitro-headless >headless.log 2>&1 </dev/null & pid=$!
  sleep 3
  kill -0 "$pid" 2>/dev/null || { echo "invitro-headless did not keep running"; exit 1; }
  kill "$pid"; wait "$pid" 2>/dev/null || true
) || status=1
rm -rf "$work"
echo "== removing the package"
apt-get -o DPkg::Lock::Timeout=900 purge -y -qq invitro >/dev/null
for path in /usr/bin/invitro /usr/bin/invitro-capture /usr/lib/invitro /usr/share/invitro; do
  [ ! -e "$path" ] || { echo "$path left behind"; status=1; }
done
[ "$status" = 0 ] && echo "the amd64 package installs, plays and uninstalls cleanly"
exit $status
