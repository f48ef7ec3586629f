# The SDL2 platform layer: a window or full-screen surface on X11, Wayland or
# the bare console (KMS/DRM), with an OpenGL ES 1.1 context.
# Sets DBX_SDL_SOURCES and DBX_SDL_LIBS for the programs that use it; both
# stay empty where SDL2 is not installed.
pkg_check_modules(SDL2 IMPORTED_TARGET sdl2)
if(SDL2_FOUND)
  set(DBX_SDL_SOURCES ${CMAKE_CURRENT_LIST_DIR}/sdl.cpp)
  # The layer places the engine's drawing area inside a bigger surface by
  # shifting every glViewport/glScissor call (see sdl.cpp).
  set(DBX_SDL_LIBS PkgConfig::SDL2 dbx_gles
      "-Wl,--wrap=glViewport,--wrap=glScissor")
else()
  message(STATUS "SDL2 not found: no invitro-sdl (install libsdl2-dev)")
  set(DBX_SDL_SOURCES)
  set(DBX_SDL_LIBS)
endif()
