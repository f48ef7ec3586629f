#!/usr/bin/env bash
# check_links.sh SOURCE_DIR WORK_DIR
# Builds the intro against stub Broadcom libraries laid out like /opt/vc, the
# way scripts/play.sh builds it there, and checks which GL libraries its
# programs load: the Pi's (brcmGLESv2, brcmEGL) and not Mesa's, whose entry
# points would otherwise take the engine's calls while the context lives in
# the Pi's EGL.
set -euo pipefail
src=$1 work=$2
rm -rf "$work"
mkdir -p "$work/vc/include" "$work/vc/lib" "$work/stubs"

stub() {  # stub LIBRARY SYMBOL...
  local lib=$1; shift
  printf 'extern "C" void %s() {}\n' "$@" > "$work/stubs/$lib.cpp"
  g++ -shared -fPIC "$work/stubs/$lib.cpp" -o "$work/vc/lib/lib$lib.so"
}
stub bcm_host bcm_host_init graphics_get_display_size vc_dispmanx_display_open \
  vc_dispmanx_element_add vc_dispmanx_update_start vc_dispmanx_update_submit_sync
stub brcmEGL eglChooseConfig eglCreateContext eglCreateWindowSurface eglGetDisplay \
  eglInitialize eglMakeCurrent eglSwapBuffers
stub brcmGLESv2 glBindTexture glBlendFunc glClear glClearColor glDisableClientState \
  glDrawArrays glEnable glEnableClientState glGenTextures glGetError glLoadIdentity \
  glMatrixMode glOrthof glScissor glTexCoordPointer glTexImage2D glTexParameteri \
  glVertexPointer glViewport glDisable glColorPointer glPixelStorei glGetIntegerv
# The Pi's headers are those of our stand-in; its EGL window handles are pointers.
cp "$src/drawboxlib/platforms/videocore/bcm_host.h" "$work/vc/include/"

export CMAKE_PREFIX_PATH=$work/vc CXXFLAGS=-DEGL_NO_PLATFORM_SPECIFIC_TYPES
# What scripts/play.sh builds on such a Pi, by its own build step (no
# packages installed, nothing played); then the layer's other programs.
"$src/scripts/play.sh" --no-install --build-only --build-dir "$work/build" > "$work/play.log" 2>&1 || {
  tail -30 "$work/play.log"; exit 1; }
cmake -S "$src" -B "$work/build" > "$work/configure.log"
grep -q "invitro uses the raspberrypi platform layer" "$work/configure.log" || {
  echo "the legacy stack was not picked up:"; cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" -j"$(nproc)" --target invitro-rpi invitro-headless > "$work/build.log" 2>&1 || {
  tail -30 "$work/build.log"; exit 1; }

status=0
for program in invitro invitro-rpi invitro-headless; do
  needed=$(readelf -d "$work/build/$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
  echo "$program: $(echo $needed)"
  if grep -qE '^lib(GLESv1_CM|GLESv2|EGL|GL)\.so' <<< "$needed"; then
    echo "  loads Mesa's GL or EGL"; status=1
  fi
  grep -q '^libbrcmGLESv2\.so' <<< "$needed" || { echo "  does not load the Pi's OpenGL ES"; status=1; }
done
for program in invitro invitro-rpi; do
  readelf -d "$work/build/$program" | grep -q 'libbrcmEGL\.so' || { echo "$program: no Pi EGL"; status=1; }
done
[ "$status" = 0 ] && rm -rf "$work"
exit $status
