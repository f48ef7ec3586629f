#!/usr/bin/env bash
# CI: the intro on a desktop as a Raspberry Pi OS of today has one: a
# wlroots compositor (cage, on its headless backend with the software
# renderer) and PipeWire as the sound server (pipewire, wireplumber and
# pipewire-pulse, which answers the intro's libpulse), all run by a plain
# user in a session bus of its own. `invitro` from build/ plays on SDL's
# Wayland driver; .ci/desktop_session.py checks the screen (grim), the
# sound (the null sink's monitor against xmrender's rendering), the intro's
# messages and exit status, a restart of pipewire-pulse mid-show and the end
# of a song cut to one position.
#
# INVITRO_CI_VIDEODRIVER names another SDL video driver for the intro (x11
# shows that a broken Wayland path fails the stage: there is no X display).
# The session's files stay in the folder printed at the end when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
begin=$(date +%s)
# cage 0.1.4 will not start without Xwayland, although the intro never uses it.
scripts/deps.sh --only cage xwayland grim wtype pipewire pipewire-bin wireplumber pipewire-pulse \
  pulseaudio-utils dbus python3 ffmpeg util-linux

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
fi
cmake --build build -j"$(nproc)" --target invitro xmrender av_sync >/dev/null

user=invitro-ci
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"

# Everything the user runs or reads, in a folder of its own: the repository
# may sit where the user cannot look (root's home).
work=$(mktemp -d /tmp/invitro-desktop.XXXXXX)
chmod 755 "$work"
cp build/invitro build/bench/av_sync .ci/desktop_session.py .ci/console_vm.py "$work/"
mkdir -p "$work/show" "$work/short" "$work/home" "$work/run" "$work/config/pipewire/pipewire.conf.d"
cp -r out.png data omber.xm "$work/show/"
cp -r out.png data "$work/short/"
python3 .ci/cut_song.py omber.xm "$work/short/omber.xm"
build/tools/xm/xmrender --rate 48000 -o "$work/song.wav" omber.xm >/dev/null
# The null sink lives in PipeWire itself, so that it outlasts a restart of
# pipewire-pulse. 48 kHz, the rate the intro mixes at: the monitor then
# carries the intro's samples unchanged.
cat >"$work/config/pipewire/pipewire.conf.d/invitro-ci.conf" <<'CONF'
context.properties = { default.clock.rate = 48000 }
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "invitro-ci" node.description = "invitro CI sink"
             media.class = Audio/Sink audio.position = [ FL FR ] audio.rate = 48000
             monitor.channel-volumes = true object.linger = true } }
]
CONF
# No client starts a PulseAudio server of its own while pipewire-pulse is away.
mkdir -p "$work/config/pulse"
echo "autospawn = no" >"$work/config/pulse/client.conf"
chown -R "$user:" "$work"
chmod 700 "$work/run"

status=0
runuser -u "$user" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" USER="$user" LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" ${INVITRO_CI_VIDEODRIVER:+INVITRO_CI_VIDEODRIVER="$INVITRO_CI_VIDEODRIVER"} \
  dbus-run-session -- python3 "$work/desktop_session.py" --work "$work" || status=$?
echo "  the stage took $(($(date +%s) - begin)) s"
if [ "$status" != 0 ]; then
  for log in pipewire wireplumber pipewire-pulse show.cage short.cage; do
    [ -s "$work/$log.log" ] && { echo "---- $log"; tail -15 "$work/$log.log"; }
  done
  echo "the session's files are in $work"
  exit "$status"
fi
rm -rf "$work"
