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
# The read-back's per-pixel loop in vector code: GCC's default at -O2 leaves
# loops of unknown length scalar.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/capture.cpp PROPERTIES
  COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-fvect-cost-model=dynamic>")
