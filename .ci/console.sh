#!/usr/bin/env bash
# .ci/console.sh ARCH (amd64 or arm64): the installed package on a console, as
# on a Raspberry Pi 4/5 with a current OS, in a virtual machine: a real
# kernel's mode setting (bochs on amd64, virtio-gpu on arm64) and a real
# (emulated) ALSA sound card (HDA on amd64, USB audio on arm64).
#
# From Debian packages only, it makes a kernel, a busybox initramfs and a root
# file system (amd64: this machine's own root, read-only over 9p; arm64: the
# packages the intro needs, extracted with mmdebstrap), boots it under QEMU,
# installs packages/invitro_*_ARCH.deb there with dpkg, and plays the intro
# with `invitro` on tty1 as a user in the video, render, input and audio
# groups (amd64 also through scripts/play.sh, from this repository's build/).
# .ci/console_vm.py drives the machine through QEMU's monitor and checks the
# screen, the letterbox bars, the sound and the exit status from outside.
#
# Downloads and builds are kept in .cache/console/ARCH and reused.
set -euo pipefail
arch=${1:-}
case $arch in
amd64) qemu_pkg=qemu-system-x86 kernel_pkg=linux-image-amd64 ;;
arm64) qemu_pkg=qemu-system-arm kernel_pkg=linux-image-arm64 ;;
*) echo "usage: .ci/console.sh amd64|arm64" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
repo=$PWD
export DEBIAN_FRONTEND=noninteractive
. scripts/apt.sh

deb=$(ls packages/invitro_*_"$arch".deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo ".ci/console.sh: no packages/invitro_*_$arch.deb (run .ci/package.sh first)" >&2; exit 1; }
# The guest of amd64 is this machine: what the console needs must be here.
host_extra=()
[ "$arch" != amd64 ] || host_extra=(udev alsa-utils)
scripts/deps.sh --only "$qemu_pkg" busybox-static mmdebstrap cpio kmod python3 "${host_extra[@]}"

cache=.cache/console/$arch
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# ---------------------------------------------------------------- the root file system
# The runtime libraries the package depends on, by name (first alternative).
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/:any//; s/ //g' | grep . | sort -u | tr '\n' ' ')
if [ "$arch" = amd64 ]; then
  rootdir=/
  # Debian's kernel of this release, unpacked (modules included).
  kdir=$cache/kernel
  if [ ! -f "$kdir/.done" ]; then
    rm -rf "$kdir" && mkdir -p "$kdir"
    kpkg=$(apt-cache depends "$kernel_pkg" | awk '/Depends: linux-image-/ { print $2; exit }')
    (cd "$cache" && rm -f linux-image-*.deb && apt_retry "apt-get download" apt-get download -q "$kpkg" >/dev/null)
    dpkg-deb -x "$cache"/linux-image-*.deb "$kdir"
    rm -f "$cache"/linux-image-*.deb
    touch "$kdir/.done"
  fi
  busybox=/bin/busybox
else
  # The Essential set, udev, kmod, ALSA's tools, the kernel, busybox for the
  # initramfs and the package's libraries, unpacked without running any
  # maintainer scripts (no arm64 emulation is needed on this machine). What
  # those scripts would have done for us is done here: dpkg's database lists
  # the packages as installed (so dpkg -i checks the package's dependencies
  # against them), and the base accounts are in place.
  packages="udev,kmod,alsa-utils,util-linux,mount,passwd,busybox-static,$kernel_pkg,${depends// /,}"
  packages=${packages%,}
  rootdir=$cache/root
  if [ ! -f "$rootdir/.done" ] || [ "$(cat "$rootdir/.done")" != "$packages" ]; then
    echo "== an arm64 root file system from Debian's archive"
    rm -rf "$rootdir"
    # This machine's Debian mirror (one-line or deb822 sources).
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
      grep -Eo 'https?://[^ ]*/debian/?( |$)' | head -1 | tr -d ' ' || true)
    arm64_root() {
      rm -rf "$rootdir"
      mmdebstrap --variant=extract --arch=arm64 --mode=root --include='?essential' --include="$packages" \
        --extract-hook='for deb in "$1"/var/cache/apt/archives/*.deb; do dpkg-deb -f "$deb"; echo "Status: install ok installed"; echo; done >"$1/var/lib/dpkg/status"' \
        --extract-hook='for deb in "$1"/var/cache/apt/archives/*.deb; do
            name=$(dpkg-deb -f "$deb" Package); [ "$(dpkg-deb -f "$deb" Multi-Arch)" != same ] || name=$name:arm64
            dpkg-deb -c "$deb" | awk "{ print \$6 }" | sed "s|^\./|/|; s|/\$||; s|^\$|/.|" >"$1/var/lib/dpkg/info/$name.list"; done' \
        --extract-hook='cp "$1/usr/share/base-passwd/passwd.master" "$1/etc/passwd"; cp "$1/usr/share/base-passwd/group.master" "$1/etc/group"; : >"$1/etc/shadow"; : >"$1/etc/gshadow"' \
        bookworm "$rootdir" "${mirror:-http://deb.debian.org/debian}"
    }
    apt_retry mmdebstrap arm64_root >"$cache/mmdebstrap.log" || { rm -rf "$rootdir"; apt_foreign_failed arm64; }
    echo "$packages" >"$rootdir/.done"
  fi
  kdir=$rootdir
  busybox=$rootdir/bin/busybox
fi
kernel=$(ls "$kdir"/boot/vmlinuz-* | head -1)
kver=${kernel##*/vmlinuz-}
modules=$kdir/lib/modules
# The module index the kernel package's installation would make.
[ -f "$modules/$kver/modules.dep" ] || depmod -b "$kdir" "$kver"

# ---------------------------------------------------------------- the initramfs
# busybox, the modules for the 9p shares and the overlay (with what they
# depend on, in loading order), and an init that mounts the root file system
# read-only under a tmpfs overlay and hands over to the check's guest script.
initrd=$cache/initrd.img
if [ ! -f "$initrd" ] || [ "$initrd" -ot "$0" ] || [ "$initrd" -ot "$kernel" ]; then
  tmp=$(mktemp -d)
  mkdir -p "$tmp"/{bin,dev,proc,sys,lower,rw,new,modules}
  cp "$busybox" "$tmp/bin/busybox"
  declare -A seen=()
  order=()
  load() {
    local m=$1 line dep
    [ -z "${seen[$m]:-}" ] || return 0
    seen[$m]=1
    # Built into the kernel, or a module.
    grep -q "/$m\.ko" "$modules/$kver/modules.builtin" && return 0
    line=$(grep -E "^([^:]*/)?$m\.ko(\.[a-z]+)?:" "$modules/$kver/modules.dep" | head -1) ||
      { echo "no module $m in $modules/$kver" >&2; exit 1; }
    for dep in ${line#*:}; do
      dep=${dep##*/}; load "${dep%%.ko*}"
    done
    order+=("${line%%:*}")
  }
  for m in virtio_pci 9pnet_virtio 9p overlay; do load "$m"; done
  for path in "${order[@]}"; do
    cp "$modules/$kver/$path" "$tmp/modules/"
    echo "${path##*/}" >>"$tmp/modules/order"
  done
  cat >"$tmp/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do insmod /modules/$m || echo "init: $m did not load"; done
share() { mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144$3 "$1" "$2"; }
share root /lower ,ro,cache=loose || { echo "init: no root share"; sleep 5; poweroff -f; }
mount -t tmpfs -o size=75% rw /rw
mkdir -p /rw/upper /rw/work
# metacopy: a chown copies up no file data (the play.sh run hands a build
# folder to the user).
mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work,metacopy=on root /new ||
  mount -t overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work root /new
mkdir -p /new/lib/modules /new/mnt/console
share modules /new/lib/modules ,ro,cache=loose
share work /new/mnt/console ""
mount --move /dev /new/dev
umount /proc /sys
exec switch_root /new /bin/bash /mnt/console/guest.sh
INIT
  chmod +x "$tmp/init"
  (cd "$tmp" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new"
  mv "$initrd.new" "$initrd"
  rm -rf "$tmp"
fi

# ---------------------------------------------------------------- what the screen and the speaker should show
# invitro-capture's frames (lossless: PNG, as without ffmpeg, then all in one
# raw RGB file) and its timeline for the first 26 seconds at the intro's own
# 640x360, and xmrender's rendering of the whole song, both from the build
# folder of this machine; both architectures compare with them.
if [ ! -x build/invitro-capture ] || [ ! -x build/tools/xm/xmrender ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target invitro-capture xmrender >/dev/null
fi
ref=$(dirname "$cache")/reference
if [ ! -f "$ref/.done" ] || [ "$ref/.done" -ot build/invitro-capture ] || [ "$ref/.done" -ot omber.xm ]; then
  rm -rf "$ref" && mkdir -p "$ref"
  PATH=/nonexistent EGL_PLATFORM=surfaceless build/invitro-capture -o "$ref/intro.mp4" --size 640x360 --fps 10 \
    --seconds 26 --timeline "$ref/timeline.csv" >"$ref/capture.log" 2>&1 || { cat "$ref/capture.log"; exit 1; }
  ffmpeg -loglevel error -i "$ref/intro-frames/frame-%06d.png" -f rawvideo -pix_fmt rgb24 "$ref/frames.rgb"
  rm -rf "$ref/intro-frames"
  build/tools/xm/xmrender --rate 48000 -o "$ref/song.wav" omber.xm >"$ref/xmrender.log"
  touch "$ref/.done"
fi

# ---------------------------------------------------------------- the shared folder and the run
work=$cache/work
rm -rf "$work" && mkdir -p "$work/out"
cp .ci/console_guest.sh "$work/guest.sh"
cp "$deb" "$work/invitro.deb"
play=0
# play.sh needs this repository, its build folder and the build tools, which
# the amd64 guest sees (this machine's root); the arm64 root has none of them.
[ "$arch" = amd64 ] && [ -x build/invitro ] && play=1
# The song's end: the intro's files with the song cut to its first position
# (the song length in the module's header), which the guest plays from here
# through DBX_DATA; the intro must end by itself, with status 0.
mkdir -p "$work/short"
cp -r out.png data "$work/short/"
python3 .ci/cut_song.py omber.xm "$work/short/omber.xm"
cat >"$work/config" <<CONFIG
ARCH=$arch
REPO=$repo
PLAY=$play
CONFIG
exec python3 .ci/console_vm.py --arch "$arch" --kernel "$kernel" --initrd "$initrd" \
  --root "$rootdir" --modules "$modules" --work "$work" --reference "$ref"
