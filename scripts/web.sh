#!/usr/bin/env bash
# Builds the intro for web browsers into build-web/ and serves it on
# http://127.0.0.1:8000/ with Python's built-in web server.
set -euo pipefail
usage() {
  cat <<'USAGE'
Usage: scripts/web.sh [--build-only]
Installs what the web build needs (Debian's emscripten, and the source
packages of libmikmod and lodepng, fetched with apt-get source; with sudo when
not root), builds the intro for web browsers into build-web/site/ and serves
that folder on http://127.0.0.1:8000/ until Ctrl+C. Open the address in a
browser and click to start; F or a double click toggles full screen.
  --build-only   build, do not serve
USAGE
}
serve=1
for arg in "$@"; do
  case "$arg" in
    -h|--help) usage; exit 0 ;;
    --build-only) serve=0 ;;
    *) echo "scripts/web.sh: unknown option '$arg'" >&2; usage >&2; exit 2 ;;
  esac
done
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-web
. scripts/apt.sh
sudo=$apt_sudo
scripts/deps.sh --only emscripten dpkg-dev cmake make python3 ca-certificates

# The sources of libmikmod and lodepng come from the Debian archive the
# machine already uses: a deb-src entry beside its deb entries.
mkdir -p "$out/src"
if ! ls -d "$out"/src/libmikmod-*/ "$out"/src/lodepng-*/ >/dev/null 2>&1; then
  if ! apt-cache showsrc libmikmod 2>/dev/null | grep -q '^Package:'; then
    list=/etc/apt/sources.list.d/invitro-deb-src.sources
    echo "Adding source package entries for the Debian archive in $list"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$list" >/dev/null
    else
      list=/etc/apt/sources.list.d/invitro-deb-src.list
      grep -h '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo tee "$list" >/dev/null
    fi
    apt_update --force
  fi
  echo "Fetching the libmikmod and lodepng source packages into build-web/src"
  (cd "$out/src" && apt_retry "apt-get source" apt-get source -qq libmikmod lodepng | grep -v '^W: Download is performed unsandboxed' || true)
fi
# The first folder a pattern names (the pattern itself when it names none).
first() { echo "$1"; }
mikmod_src=$(first "$out"/src/libmikmod-*/)
lodepng_src=$(first "$out"/src/lodepng-*/)
[ -f "$mikmod_src/include/mikmod.h" ] && [ -f "$lodepng_src/lodepng.cpp" ] || {
  echo "scripts/web.sh: the libmikmod and lodepng sources are not in build-web/src" >&2; exit 1; }

# emscripten's compiled system libraries, in a cache we may write to
# (seeded from the one the package ships).
export EM_CACHE=$out/em-cache
if [ ! -f "$EM_CACHE/sysroot_install.stamp" ]; then
  echo "Preparing emscripten's cache in build-web/em-cache"
  rm -rf "$EM_CACHE"
  cp -al /usr/share/emscripten/cache "$EM_CACHE" 2>/dev/null || cp -r /usr/share/emscripten/cache "$EM_CACHE"
  rm -f "$EM_CACHE/cache.lock"
fi
# emscripten runs its JavaScript tools with the node on PATH, which needs
# Debian's node modules (acorn) when it is not Debian's own.
for dir in /usr/share/nodejs /usr/lib/nodejs; do
  [ -d "$dir/acorn" ] && export NODE_PATH=$dir${NODE_PATH:+:$NODE_PATH}
done

if ! log=$(emcmake cmake -S . -B "$out/cmake" -DCMAKE_BUILD_TYPE=Release \
  -DDBX_MIKMOD_SOURCE="$mikmod_src" -DDBX_LODEPNG_SOURCE="$lodepng_src" -DDBX_WEB_SITE="$out/site" 2>&1); then
  echo "$log" >&2
  exit 1
fi
cmake --build "$out/cmake" -j"$(nproc)"
echo "The page is in build-web/site/"
[ "$serve" = 1 ] || exit 0
echo "Serving the intro on http://127.0.0.1:8000/ (Ctrl+C stops)"
cd "$out/site"
exec python3 -m http.server 8000 --bind 127.0.0.1
