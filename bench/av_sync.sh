#!/usr/bin/env bash
# Measures how far the live intro's pictures are from its sound, end to end,
# on a machine without a sound card or display.
#
# A sound server of its own with a null sink (PulseAudio, or PipeWire with
# wireplumber and pipewire-pulse, which the intro's libpulse talks to the
# same way), a virtual X server (Xvfb)
# and the intro (invitro-sdl) playing in real time in a 640x360 window. The
# screen is grabbed with ffmpeg's x11grab and the sink's monitor recorded
# with parec, both stamped with the wall clock. The recorded sound is matched
# sample for sample against an offline rendering of the module (xmrender),
# which says when the sound reaches each song position; the biggest change
# on screen near that moment is the scene switch. Prints each switch's
# picture-minus-sound offset, their median and every drop-out.
#
# Needs: pulseaudio, pulseaudio-utils, xvfb, ffmpeg (Debian packages); with
# --server pipewire also pipewire, pipewire-bin, wireplumber, pipewire-pulse, dbus.
# Not a test: it takes the whole song (about three minutes) in real time.
set -euo pipefail

usage() {
  cat <<EOF
usage: bench/av_sync.sh [--build DIR] [--program FILE] [--rate HZ] [--seconds N]
                        [--server pulseaudio|pipewire] [--keep]

  --build DIR    build folder with (or for) invitro-sdl, xmrender and av_sync
                 (default: build)
  --program FILE the intro program to measure (default: DIR/invitro-sdl), for
                 example one built from an older commit
  --rate HZ      the sink's sample rate (default 48000, the rate the intro
                 mixes at; a program that mixes at another rate needs that
                 one, as the sound is matched sample for sample)
  --seconds N    how long to let the intro play (default 170: the whole song,
                 every scene switch)
  --server NAME  the sound server: pulseaudio (default) or pipewire (with
                 wireplumber and pipewire-pulse, as on a current Raspberry Pi
                 OS desktop)
  --keep         keep the recordings (the folder is printed)

DBX_AV_OFFSET_MS, if set, is passed on to the intro.
EOF
}

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
seconds=170
keep=0
program=
rate=48000
server=pulseaudio
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --program) program=$(realpath "$2"); shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --server)
      case ${2:-} in pulseaudio | pipewire) server=$2 ;; *) usage >&2; exit 2 ;; esac
      shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

missing=()
tools=(parec pactl Xvfb ffmpeg) packages="pulseaudio-utils xvfb ffmpeg"
if [ "$server" = pipewire ]; then
  tools+=(pipewire wireplumber pipewire-pulse dbus-daemon) packages+=" pipewire pipewire-bin wireplumber pipewire-pulse dbus"
else
  tools+=(pulseaudio) packages+=" pulseaudio"
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "av_sync.sh: missing ${missing[*]} (apt-get install $packages)" >&2
  exit 1
fi

echo "== building invitro-sdl, xmrender, av_sync in $build"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target invitro-sdl xmrender av_sync >/dev/null
av_sync=$build/bench/av_sync
[ -n "$program" ] || program=$build/invitro-sdl

work=$(mktemp -d /tmp/av_sync.XXXXXX)
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  if [ "$keep" = 1 ]; then echo "recordings kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# A sound server of our own, reachable only through its socket in $work.
export HOME=$work XDG_RUNTIME_DIR=$work/run PULSE_SERVER=unix:$work/run/pulse/native
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if [ "$server" = pipewire ]; then
  # PipeWire's own null sink at the rate, made from a configuration
  # fragment of ours; its PulseAudio server answers on the same socket.
  export XDG_CONFIG_HOME=$work/config
  mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
  cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/avsync.conf" <<CONF
context.properties = { default.clock.rate = $rate }
context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "avsync" media.class = Audio/Sink
             audio.position = [ FL FR ] audio.rate = $rate monitor.channel-volumes = true object.linger = true } }
]
CONF
  # A session bus of our own, which wireplumber needs.
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" >"$work/dbus.log" 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
  for _ in $(seq 100); do [ -e "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.1; done
  mkdir -p "$XDG_CONFIG_HOME/pulse"
  echo "autospawn = no" >"$XDG_CONFIG_HOME/pulse/client.conf"
  for daemon in pipewire wireplumber pipewire-pulse; do
    "$daemon" >"$work/$daemon.log" 2>&1 &
    pids+=($!)
    [ "$daemon" != pipewire ] || for _ in $(seq 100); do [ -e "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
  done
  # pactl only once the server's socket is there: a client makes the
  # folder the server wants to make.
  for _ in $(seq 100); do [ -e "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.1; done
  for _ in $(seq 100); do pactl list short sinks 2>/dev/null | grep -q avsync && break; sleep 0.1; done
  pactl list short sinks 2>/dev/null | grep -q avsync ||
    { echo "av_sync.sh: pipewire did not start:"; tail -n 20 "$work"/pipewire*.log "$work"/wireplumber.log; exit 1; }
else
  pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    --load="module-native-protocol-unix" \
    --load="module-null-sink sink_name=avsync rate=$rate channels=2" \
    --load="module-always-sink" >"$work/pulseaudio.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "av_sync.sh: pulseaudio did not start:"; cat "$work/pulseaudio.log"; exit 1; }
fi
pactl set-default-sink avsync

display=
for n in $(seq 90 120); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
[ -n "$display" ] || { echo "av_sync.sh: no free X display number"; exit 1; }
Xvfb "$display" -screen 0 640x360x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

echo "== rendering the module offline"
"$build/tools/xm/xmrender" --rate "$rate" -o "$work/ref.wav" "$here/omber.xm" >/dev/null

echo "== recording the screen and the sink for $seconds s while the intro plays"
mkfifo "$work/sound"
"$av_sync" stamp "$work/audio.raw" "$work/audio.times" <"$work/sound" &
pids+=($!)
parec -d avsync.monitor --raw --format=s16le --rate="$rate" --channels=2 --latency-msec=5 \
  >"$work/sound" 2>"$work/parec.log" &
parec_pid=$!
pids+=($parec_pid)
ffmpeg -hide_banner -nostdin -loglevel info -use_wallclock_as_timestamps 1 \
  -f x11grab -framerate 60 -video_size 640x360 -i "$display" -copyts \
  -vf "scale=80:45:flags=area,format=gray,showinfo" -fps_mode passthrough \
  -f rawvideo "$work/video.gray" 2>"$work/ffmpeg.log" &
ffmpeg_pid=$!
pids+=($ffmpeg_pid)
sleep 1

(cd "$here" && DISPLAY=$display DBX_WINDOWSIZE=640x360 exec "$program") >"$work/intro.log" 2>&1 &
intro_pid=$!
pids+=($intro_pid)
# The intro ends by itself (status 0) once its song has been heard to the end.
ended=0
for ((s = 0; s < seconds; s += 10)); do
  if ! kill -0 "$intro_pid" 2>/dev/null; then
    status=0
    wait "$intro_pid" || status=$?
    [ "$status" = 0 ] && [ "$s" -ge 150 ] || { echo "av_sync.sh: the intro stopped (status $status):"; cat "$work/intro.log"; exit 1; }
    ended=1
    break
  fi
  printf '\r   %3d / %d s' "$s" "$seconds"
  sleep $((seconds - s < 10 ? seconds - s : 10))
done
printf '\r   %3d / %d s\n' "$seconds" "$seconds"
stopped_ms=$(date +%s%3N)
[ "$ended" = 1 ] || { kill "$intro_pid" 2>/dev/null || true; wait "$intro_pid" 2>/dev/null || true; }
sleep 0.5
kill -INT "$ffmpeg_pid"; wait "$ffmpeg_pid" 2>/dev/null || true
kill "$parec_pid"; wait "$parec_pid" 2>/dev/null || true
sleep 0.5
[ -s "$work/intro.log" ] && { echo "the intro said:"; sed 's/^/   /' "$work/intro.log"; }

echo "== picture against sound"
"$av_sync" analyse --ref "$work/ref.wav" --audio "$work/audio.raw" --audio-times "$work/audio.times" \
  --video "$work/video.gray" --video-log "$work/ffmpeg.log" --size 80x45 --rate "$rate" \
  --until-ms "$stopped_ms"
