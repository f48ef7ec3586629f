#!/usr/bin/env bash
# .ci/stale-index.sh ARCH COMMAND...: runs COMMAND (e.g. `bash .ci/run`) as on
# a day when the package registry is out of step for the architecture ARCH:
# apt is given this machine's sources, but every index of ARCH comes from a
# path of the registry that has none, so `apt-get update` fails for ARCH and
# ARCH's packages cannot be installed. Nothing in /etc/apt is changed: the
# sources go to a folder of their own, named by APT_CONFIG for COMMAND alone.
set -euo pipefail
if [ $# -lt 2 ] || [ "$1" = -h ] || [ "$1" = --help ]; then
  echo "usage: .ci/stale-index.sh ARCH COMMAND... (e.g. .ci/stale-index.sh armhf bash .ci/run)" >&2
  [ $# -ge 1 ] && [ "$1" != -h ] && [ "$1" != --help ] && exit 2 || exit 0
fi
arch=$1
shift
dir=$(mktemp -d /tmp/invitro-stale-index-XXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/sources.list.d"
uri=""
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  # Each stanza leaves ARCH out...
  awk -v arch="$arch" 'BEGIN { RS = ""; ORS = "\n\n" } /(^|\n)Types:/ { print $0 "\nArchitectures-Remove: " arch }' \
    "$f" >"$dir/sources.list.d/${f##*/}"
  [ -n "$uri" ] || uri=$(awk '/^URIs:/ { print $2; exit }' "$f")
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -E "s/^(deb(-src)?) +(\[[^]]*\] +)?/\1 [arch-=$arch] /" "$f" | grep -v '^#' >"$dir/sources.list.d/${f##*/}" || true
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' "$f")
done
[ -n "$uri" ] || { echo ".ci/stale-index.sh: no Debian sources found in /etc/apt" >&2; exit 1; }
# ...and finds it at a path of the registry that has no index.
cat >"$dir/sources.list.d/stale.sources" <<SOURCES
Types: deb
URIs: ${uri%/}-stale-index
Suites: bookworm bookworm-updates bookworm-security
Components: main
Architectures: $arch
Trusted: yes
SOURCES
cat >"$dir/apt.conf" <<CONF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$dir/sources.list.d";
CONF
echo "== the $arch index of the package registry fails to download (apt's sources: $dir/sources.list.d)"
APT_CONFIG=$dir/apt.conf "$@"
