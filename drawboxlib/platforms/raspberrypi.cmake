# The Raspberry Pi platform layer: display-manager layer, EGL and OpenGL ES 1.1
# on the VideoCore, raw mouse. Where the Pi's legacy VideoCore libraries are
# installed they are used; elsewhere the layer runs unmodified on the
# emulated display in videocore/, drawn by Mesa's EGL without a screen.
#
# Makes the OBJECT library dbx_platform_rpi and the VideoCore a program links
# beside it: dbx_videocore (the Pi's libraries, or the plain stand-in) and,
# off the Pi, dbx_videocore_test (the stand-in with its call log and failure
# injection, for the tests only). Sets DBX_RPI_NATIVE; on the legacy stack
# also makes dbx_gles (the Pi's OpenGL ES library).

find_path(BCM_HOST_INCLUDE_DIR bcm_host.h PATHS /opt/vc/include NO_CACHE)
find_library(BCM_HOST_LIBRARY bcm_host PATHS /opt/vc/lib NO_CACHE)

# What the layer's sources compile against: bcm_host.h and EGL.
add_library(dbx_videocore_api INTERFACE)

if(BCM_HOST_INCLUDE_DIR AND BCM_HOST_LIBRARY)
  set(DBX_RPI_NATIVE TRUE)
  find_library(BRCM_EGL_LIBRARY NAMES brcmEGL EGL PATHS /opt/vc/lib NO_CACHE)
  find_library(BRCM_GLES_LIBRARY NAMES brcmGLESv2 GLESv2 PATHS /opt/vc/lib NO_CACHE)
  target_include_directories(dbx_videocore_api INTERFACE
    ${BCM_HOST_INCLUDE_DIR}
    ${BCM_HOST_INCLUDE_DIR}/interface/vcos/pthreads
    ${BCM_HOST_INCLUDE_DIR}/interface/vmcs_host/linux)
  add_library(dbx_videocore INTERFACE)
  target_link_libraries(dbx_videocore INTERFACE
    ${BCM_HOST_LIBRARY} ${BRCM_EGL_LIBRARY} ${BRCM_GLES_LIBRARY})
  # The engine draws with the Pi's own OpenGL ES too (it holds the 1.1 entry
  # points); Mesa's, if installed beside it, would get the calls instead.
  add_library(dbx_gles INTERFACE)
  target_include_directories(dbx_gles INTERFACE ${BCM_HOST_INCLUDE_DIR})
  target_link_libraries(dbx_gles INTERFACE ${BRCM_GLES_LIBRARY})
else()
  set(DBX_RPI_NATIVE FALSE)
  # The stand-in: bcm_host.h and the display manager over an emulated
  # display, and the EGL calls that involve a display-manager window
  # redirected by the linker onto Mesa's surfaceless EGL with pbuffers.
  target_include_directories(dbx_videocore_api INTERFACE ${CMAKE_CURRENT_LIST_DIR}/videocore)
  # Native window handles are pointers, as in the Pi's own EGL headers.
  target_compile_definitions(dbx_videocore_api INTERFACE EGL_NO_PLATFORM_SPECIFIC_TYPES)
  set(dbx_egl_wraps
    "LINKER:--wrap=eglGetDisplay,--wrap=eglInitialize,--wrap=eglChooseConfig,--wrap=eglCreateContext"
    "LINKER:--wrap=eglCreateWindowSurface,--wrap=eglMakeCurrent,--wrap=eglSwapBuffers")
  foreach(variant dbx_videocore dbx_videocore_test)
    add_library(${variant} STATIC ${CMAKE_CURRENT_LIST_DIR}/videocore/standin.cpp)
    target_link_libraries(${variant} PUBLIC dbx_videocore_api dbx_settings PkgConfig::EGL PkgConfig::GLES1 lodepng_pkg)
    target_link_options(${variant} INTERFACE ${dbx_egl_wraps})
  endforeach()
  # The tests' instruments: the call log, the arguments seen, and steps made
  # to fail on request (glGetError among them).
  target_compile_definitions(dbx_videocore_test PUBLIC DBX_STANDIN_INSTRUMENTS)
  target_link_options(dbx_videocore_test INTERFACE "LINKER:--wrap=glGetError")
endif()

add_library(dbx_platform_rpi OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/raspberrypi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rawmouse.cpp)
target_link_libraries(dbx_platform_rpi PUBLIC drawboxlib dbx_videocore_api)
