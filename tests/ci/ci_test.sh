#!/usr/bin/env bash
# The package installs and CI's stages against a registry that is out of
# step, with apt-get, dpkg and sleep replaced by fakes on the PATH:
#   ci_test.sh REPOSITORY SCRATCH
set -uo pipefail
repo=$1
scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch/bin"
fails=0
check() { # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok     $what"; else echo "FAILED $what"; fails=$((fails + 1)); fi
}

# apt-get: "update" fails the first $FAKE_UPDATE_FAILS times (counted in
# $FAKE/updates); "install" answers as $FAKE_INSTALL says (ok, broken,
# unknown). dpkg keeps its foreign architectures in $FAKE/foreign.
cat >"$scratch/bin/apt-get" <<'FAKE'
#!/bin/bash
for a in "$@"; do case $a in update|install) verb=$a ;; esac; done
echo "$verb" >>"$FAKE/calls"
if [ "$verb" = update ]; then
  n=$(($(cat "$FAKE/updates" 2>/dev/null || echo 0) + 1)); echo $n >"$FAKE/updates"
  if [ "$n" -le "${FAKE_UPDATE_FAILS:-0}" ]; then
    echo "W: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-armhf/Packages.xz  File has unexpected size (359552 != 360800). Mirror sync in progress? [IP: 127.0.0.1 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
  fi
  exit 0
fi
case ${FAKE_INSTALL:-ok} in
  ok) exit 0 ;;
  broken) echo " libc6:armhf : Depends: libgcc-s1:armhf but it is not going to be installed"
          echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  unknown) echo "E: Unable to locate package libfoo-dev:armhf"; exit 100 ;;
esac
FAKE
cat >"$scratch/bin/dpkg" <<'FAKE'
#!/bin/bash
case $1 in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat "$FAKE/foreign" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >>"$FAKE/foreign" ;;
esac
FAKE
printf '#!/bin/bash\nexit 1\n' >"$scratch/bin/dpkg-query"
printf '#!/bin/bash\necho "$1" >>"$FAKE/sleeps"\n' >"$scratch/bin/sleep"
chmod +x "$scratch/bin"/*

# deps [ENV=VALUE...] -- ARGS: scripts/deps.sh in a fresh fake world; sets
# status, out (its output) and reason (what it left for CI).
deps() {
  export FAKE=$scratch/world
  rm -rf "$FAKE" && mkdir -p "$FAKE/home"
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  out=$(env PATH="$scratch/bin:$PATH" HOME="$FAKE/home" XDG_CACHE_HOME= DBX_CI_SKIP_REASON="$FAKE/reason" \
    "${envs[@]}" "$repo/scripts/deps.sh" --only "$@" 2>&1)
  status=$?
  reason=$(cat "$FAKE/reason" 2>/dev/null)
}
count() { grep -c "^$1\$" "$FAKE/calls"; }

# What an install comes to: registry faults of a foreign architecture are
# skipped (75), everything else fails (1) or passes.
while read -r name update_fails install arch want_status want_updates want_reason; do
  args=(libfoo-dev)
  [ "$arch" = - ] || args=(--arch "$arch" libfoo-dev)
  deps FAKE_UPDATE_FAILS="$update_fails" FAKE_INSTALL="$install" -- "${args[@]}"
  check "$name: exit status $want_status" [ "$status" = "$want_status" ]
  check "$name: $want_updates updates" [ "$(count update)" = "$want_updates" ]
  if [ "$want_reason" = - ]; then
    check "$name: no reason left for CI" [ -z "$reason" ]
  else
    check "$name: the reason names $want_reason" grep -q "$want_reason" <<<"$reason"
  fi
done <<'CASES'
an-index-that-comes-back      2 ok      armhf 0  3 -
the-native-install-fails      9 broken  -     1  5 -
a-foreign-install-is-skipped  9 broken  armhf 75 5 unexpected.size.*then:.*held.broken.packages
a-name-apt-does-not-know      0 unknown armhf 1  2 -
a-name-in-an-index-that-failed 9 unknown armhf 75 5 unexpected.size.*then:.*Unable.to.locate
CASES
# The last-but-one case waited between the tries, longer each time, and said so.
deps FAKE_UPDATE_FAILS=9 FAKE_INSTALL=broken DBX_APT_WAIT=7 -- --arch armhf libfoo-dev
check "waits 7, 14, 21 s between the index's tries, and 7 before the install's" \
  [ "$(tr '\n' ' ' <"$FAKE/sleeps")" = "7 14 21 7 " ]
check "says what it waits for" grep -q "waiting 7 s for the package registry.*try 2 of 4" <<<"$out"
check "adds the foreign architecture" grep -qx armhf "$FAKE/foreign"
check "the reason has no mirror address" bash -c '! grep -q "IP:" <<<"$1"' _ "$reason"

# A second install within the same CI run tries a failing index only once,
# and does not read lists again that were read a moment ago.
deps FAKE_UPDATE_FAILS=9 FAKE_INSTALL=ok -- libfoo-dev
env PATH="$scratch/bin:$PATH" HOME="$FAKE/home" XDG_CACHE_HOME= "$repo/scripts/deps.sh" --only libbar-dev >/dev/null 2>&1
check "a failed index is tried once more, not four times" [ "$(count update)" = 5 ]
deps FAKE_INSTALL=ok -- libfoo-dev
env PATH="$scratch/bin:$PATH" HOME="$FAKE/home" XDG_CACHE_HOME= "$repo/scripts/deps.sh" --only libbar-dev >/dev/null 2>&1
check "lists read a moment ago are not read again" [ "$(count update)" = 1 ]

# CI's stages: a skip passes on to what needs it, a failure stops CI, the
# summary names every stage.
cat >"$scratch/run" <<RUN
set -euo pipefail
. "$repo/.ci/stages.sh"
trap stage_summary EXIT
skip() { echo "the package registry cannot serve the armhf packages: Mirror sync in progress?" >"\$DBX_CI_SKIP_REASON"; return 75; }
stage native -- true
stage armhf -- skip
stage armv6 --needs armhf -- false
stage odd75 -- bash -c 'exit 75'
stage never -- true
RUN
out=$(bash "$scratch/run" 2>&1)
status=$?
check "a stage's own failure fails CI" [ "$status" = 1 ]
check "the skipped stage says why" grep -qx "SKIPPED armhf: the package registry cannot serve the armhf packages: Mirror sync in progress?" <<<"$out"
check "what needs it is skipped" grep -q "^SKIPPED armv6: needs armhf, which was skipped" <<<"$out"
check "status 75 without a reason is a failure" grep -q "^FAILED odd75" <<<"$out"
check "nothing runs after a failure" bash -c '! grep -q "^== never" <<<"$1"' _ "$out"
check "the summary lists every stage run" grep -qE "^native +passed" <<<"$out"

[ "$fails" = 0 ] && echo "all CI checks passed" || echo "$fails CI checks failed"
exit $((fails > 0))
