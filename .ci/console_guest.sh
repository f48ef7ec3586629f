#!/bin/bash
# The console check's virtual machine, as process 1 after the initramfs:
# brings the machine up as a console system would (udev sets the devices'
# groups and loads the drivers), installs the package, adds the user "pi" in
# the video, render, input and audio groups and plays the intro on tty1 as
# that user. The host (.ci/console_vm.py) watches the files in out/ and
# drives the keyboard and takes the screen dumps through QEMU's monitor.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
share=/mnt/console
out=$share/out
exec >"$out/guest.log" 2>&1
. "$share/config"
note() { echo "$*" >>"$out/steps"; echo "== $*"; }
off() { sync; echo o >/proc/sysrq-trigger; sleep 30; }
trap off EXIT

mount -t proc proc /proc
mount -t sysfs sys /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
# A fresh /tmp, unless the repository lives there (a CI clone may): the root
# is already a writable overlay, so play.sh can build in it either way.
tmpdirs="/run /dev/shm"
case $REPO in /tmp/*) ;; *) tmpdirs="$tmpdirs /tmp" ;; esac
for dir in $tmpdirs; do mount -t tmpfs tmpfs "$dir"; done
chmod 1777 /tmp /dev/shm
hostname console
ldconfig

# The groups udev's rules name, as the udev package's installation makes
# them, and the user.
for group in video render input audio; do
  getent group "$group" >/dev/null || groupadd --system "$group"
done
useradd --create-home --shell /bin/bash --groups video,render,input,audio pi
uid=$(id -u pi)
mkdir -p "/run/user/$uid" && chown pi:pi "/run/user/$uid" && chmod 700 "/run/user/$uid"
id pi

note udev
udevd=/lib/systemd/systemd-udevd
[ -x "$udevd" ] || udevd=/usr/lib/systemd/systemd-udevd
"$udevd" --daemon
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=60 || true
# The sound card comes up on its own time.
for _ in $(seq 120); do
  [ -e /dev/dri/card0 ] && [ -e /dev/snd/pcmC0D0p ] && ls /dev/input/event* >/dev/null 2>&1 && break
  sleep 0.5
done
udevadm settle --timeout=30 || true
ls -l /dev/dri /dev/snd /dev/input | tee "$out/devices"
lsmod | tail -n +2 | cut -d' ' -f1 | sort | tr '\n' ' ' >"$out/modules"
cat /proc/asound/cards
# The mixer as udev leaves it, then turned up: the emulated HDA codec
# starts muted at 0 % (a user would open alsamixer once).
amixer -c 0 scontents >"$out/mixer" 2>&1 || true
amixer -c 0 scontrols | sed -n "s/^Simple mixer control '\(.*\)',\([0-9]*\)$/\1,\2/p" |
  while IFS= read -r control; do
    amixer -q -c 0 sset "$control" 90% unmute 2>/dev/null || amixer -q -c 0 sset "$control" unmute 2>/dev/null || true
  done
amixer -c 0 scontents >>"$out/mixer" 2>&1 || true

note install
dpkg -i "$share/invitro.deb" >"$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; echo failed >"$out/install.status"; exit 1; }
echo 0 >"$out/install.status"

# Runs a command line on tty1 as pi, with the environment of a console
# login (logind's runtime folder, no desktop), and writes its exit status.
on_console() {
  local name=$1
  shift
  chown pi:tty /dev/tty1
  chmod 620 /dev/tty1
  printf '\033[H\033[J' >/dev/tty1
  note "$name"
  echo started >"$out/$name.started"
  timeout 300 setsid --ctty --wait \
    setpriv --reuid=pi --regid=pi --init-groups \
    env -i HOME=/home/pi USER=pi LOGNAME=pi SHELL=/bin/bash TERM=linux LANG=C.UTF-8 \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/games XDG_RUNTIME_DIR="/run/user/$uid" XDG_SESSION_TYPE=tty \
    "$@" <>/dev/tty1 >"$out/$name.log" 2>&1
  local status=$?
  echo "$status" >"$out/$name.status"
  printf '%s ended with status %s\n' "$name" "$status" >/dev/tty1
  # The host looks at the console now, then says to go on.
  for _ in $(seq 120); do [ -e "$share/next-$name" ] && break; sleep 0.5; done
}

on_console package invitro

if [ "$PLAY" = 1 ]; then
  # play.sh builds in the repository's build/ and runs what it built; the
  # user gets that folder (a metadata-only copy in the overlay).
  chown -R pi:pi "$REPO/build"
  on_console play bash -c "cd '$REPO' && exec scripts/play.sh"
fi

# The song cut to one position: the intro ends by itself when it is over.
on_console ends env DBX_DATA="$share/short" invitro
note done
