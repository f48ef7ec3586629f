# The SDL2 platform layer: a window or full-screen surface on X11, Wayland or
# the bare console (KMS/DRM), with an OpenGL ES 1.1 context. Makes
# dbx_platform_sdl where SDL2 is installed.
pkg_check_modules(SDL2 IMPORTED_TARGET sdl2)
if(SDL2_FOUND)
  add_library(dbx_platform_sdl OBJECT ${CMAKE_CURRENT_LIST_DIR}/sdl.cpp)
  target_link_libraries(dbx_platform_sdl PUBLIC drawboxlib PkgConfig::SDL2)
else()
  message(STATUS "SDL2 not found: no invitro-sdl (install libsdl2-dev)")
endif()
