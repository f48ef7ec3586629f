# The capture platform layer: an off-screen surface on Mesa's surfaceless EGL
# whose every frame is read back (invitro-capture, the contact sheet). Mesa's
# GL cannot share a process with the Pi's own, so there is none on the legacy
# Pi stack.
if(DBX_RPI_NATIVE)
  message(STATUS "No invitro-capture on the legacy Pi stack")
  return()
endif()
add_library(dbx_platform_capture OBJECT ${CMAKE_CURRENT_LIST_DIR}/capture.cpp)
target_link_libraries(dbx_platform_capture PUBLIC drawboxlib PkgConfig::EGL PkgConfig::GLES1)
