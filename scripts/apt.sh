# Sourced by the scripts that install Debian packages (scripts/deps.sh,
# scripts/web.sh, the CI stages). A package registry can be out of step with
# itself for a while (an index that does not match its Release file during a
# mirror sync, a package replaced under its old name): an index that fails to
# download is tried again a few times over a few minutes, and then apt goes on
# with the lists it has and lets the install decide.
#
#   DBX_APT_TRIES   how many times an index is tried (default 4)
#   DBX_APT_WAIT    seconds before the second try; each later wait is that
#                   much longer again (default 30: 30 + 60 + 90 s in all)
#   DBX_CI_SKIP_REASON  a file: when the packages of a foreign architecture
#                   cannot be had, the reason is written there (CI then skips
#                   that architecture's stages instead of failing)

apt_tries=${DBX_APT_TRIES:-4}
apt_wait=${DBX_APT_WAIT:-30}
case $apt_tries in '' | *[!0-9]* | 0) apt_tries=4 ;; esac
case $apt_wait in '' | *[!0-9]*) apt_wait=30 ;; esac
apt_sudo=""
[ "$(id -u)" -eq 0 ] || apt_sudo="sudo"
apt_get=($apt_sudo apt-get -o DPkg::Lock::Timeout=900)
# What the last failed apt command said, in a line.
apt_reason=""
# What the last update said, when an index still failed after every try.
apt_update_failure=""

# What went wrong, from apt's output, in one line: the first index or package
# with the registry's answer (without the mirror's address), and how many
# more went the same way.
apt_errors() {
  grep -E '^(E|W|Err):' "$1" | grep -vE 'Download is performed unsandboxed|old ones used instead' |
    sed -E 's/ \[IP: [^]]*\]//; s/^(E|W|Err): *//; s/  +/ /g' | awk 'NF' |
    awk 'NR == 1 { first = $0 } END { if (NR > 1) first = first " (and " NR - 1 " more)"; print first }'
}

# The state of the lists: the architectures and the sources they were made for.
apt_lists_key() {
  { dpkg --print-architecture; dpkg --print-foreign-architectures
    cat /etc/apt/sources.list /etc/apt/sources.list.d/* ${APT_CONFIG:+"$APT_CONFIG"} 2>/dev/null || true; } |
    md5sum | cut -c1-32
}

# apt_update [--force]: apt-get update, tried again while an index fails to
# download. It returns 0 even when an index never came: what the lists lack,
# the install finds out. Within 20 minutes of an update for the same
# architectures and sources, it does not update again (after one that
# succeeded) or tries only once (after one that failed every try), so the
# stages of one CI run do not each wait for the same registry; --force
# updates all the same, --once updates with one try.
apt_update() {
  local stamp=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/invitro/apt-update key tries=$apt_tries try=1 wait log
  key=$(apt_lists_key)
  [ "${1:-}" != --once ] || tries=1
  if [ -z "${1:-}" ] && [ -f "$stamp" ] && [ -n "$(find "$stamp" -mmin -20 2>/dev/null)" ]; then
    case $(cat "$stamp") in
      "ok $key") return 0 ;;
      "failed $key") tries=1 ;;
    esac
  fi
  mkdir -p "$(dirname "$stamp")" 2>/dev/null || true
  log=$(mktemp)
  while :; do
    if "${apt_get[@]}" update -qq >"$log" 2>&1 && ! grep -qE '^(E|Err):' "$log"; then
      rm -f "$log"; apt_update_failure=""
      echo "ok $key" >"$stamp" 2>/dev/null || true
      return 0
    fi
    apt_reason=$(apt_errors "$log")
    [ -n "$apt_reason" ] || apt_reason="apt-get update failed ($(tail -1 "$log"))"
    if [ "$try" -ge "$tries" ]; then
      echo "apt-get update: an index still fails to download ($apt_reason); going on with the package lists apt has"
      apt_update_failure=$apt_reason
      echo "failed $key" >"$stamp" 2>/dev/null || true
      rm -f "$log"
      return 0
    fi
    wait=$((apt_wait * try))
    echo "apt-get update: an index failed to download ($apt_reason); waiting $wait s for the package registry to be in step again (try $((try + 1)) of $tries next)"
    sleep "$wait"
    try=$((try + 1))
  done
}

# apt_install PACKAGE...: apt-get install, tried once more after a wait and a
# fresh update when it fails (a package that the registry replaced while its
# index was read). On failure apt_reason says why, and apt's own output is
# on standard error.
apt_install() {
  local log try=1
  log=$(mktemp)
  while :; do
    if DEBIAN_FRONTEND=noninteractive "${apt_get[@]}" install -y -qq --no-install-recommends "$@" >"$log" 2>&1; then
      rm -f "$log"; return 0
    fi
    apt_reason=$(apt_errors "$log")
    [ -n "$apt_reason" ] || apt_reason="apt-get install failed ($(tail -1 "$log"))"
    if [ "$try" -ge 2 ]; then
      grep -vE '^(Selecting|Preparing|Unpacking|Setting up|Processing|\(Reading)' "$log" | tail -25 >&2
      rm -f "$log"
      return 1
    fi
    echo "apt-get install: $apt_reason; waiting $apt_wait s and reading the package lists again"
    sleep "$apt_wait"
    apt_update --once
    try=$((try + 1))
  done
}

# apt_retry WHAT COMMAND...: a download from the registry outside apt-get
# install (apt-get download or source, mmdebstrap), tried again like an
# index. Its output goes to standard output once it succeeds; the waits, and
# the end of its output when the last try fails, to standard error.
apt_retry() {
  local what=$1 log try=1 wait
  shift
  log=$(mktemp)
  while :; do
    if "$@" >"$log" 2>&1; then cat "$log"; rm -f "$log"; return 0; fi
    apt_reason=$(apt_errors "$log")
    [ -n "$apt_reason" ] || apt_reason=$(tail -1 "$log")
    if [ "$try" -ge "$apt_tries" ]; then
      tail -25 "$log" >&2; rm -f "$log"
      return 1
    fi
    wait=$((apt_wait * try))
    echo "$what: $apt_reason; waiting $wait s for the package registry (try $((try + 1)) of $apt_tries next)" >&2
    sleep "$wait"
    try=$((try + 1))
  done
}

# apt_foreign_failed ARCH: the packages of the foreign architecture ARCH
# could not be had. When the registry is the reason (an index or a package
# that did not download, versions that do not match this machine's own), it
# says so with apt's reason, leaves the reason for CI and ends the script with
# status 75 (a temporary failure). A package name apt does not know, while
# every index came, is ours to mend: that ends the script with status 1.
apt_foreign_failed() {
  local why=$apt_reason line
  if [ -z "$apt_update_failure" ] && printf '%s' "$why" | grep -qE "Unable to locate package|Couldn't find any package"; then
    echo "the $1 packages could not be installed: $why" >&2
    exit 1
  fi
  [ -z "$apt_update_failure" ] || [ "$apt_update_failure" = "$why" ] || why="$apt_update_failure; then: $why"
  line="the package registry cannot serve the $1 packages: $why"
  echo "$line" >&2
  [ -z "${DBX_CI_SKIP_REASON:-}" ] || echo "$line" >"$DBX_CI_SKIP_REASON"
  exit 75
}

# apt_is_foreign ARCH: ARCH is not this machine's own architecture.
apt_is_foreign() {
  [ -n "$1" ] && [ "$1" != "$(dpkg --print-architecture)" ]
}
