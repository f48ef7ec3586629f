# The web platform layer: the intro in a web browser, built with emscripten
# (emcmake cmake ...; see scripts/web.sh). A WebGL context on the page's
# canvas takes the engine's OpenGL ES 1.1 calls through emscripten's
# emulation; the main loop runs once per animation frame of the browser.
#
# A browser has no libraries to find: libmikmod and LodePNG are compiled here
# from Debian's own source packages, which scripts/web.sh fetches with
# apt-get source into the build folder, and become the targets the native
# lookups make (lodepng_pkg, PkgConfig::MIKMOD), beside dbx_gles (emscripten's
# own OpenGL ES, linked by default). Makes the OBJECT library dbx_platform_web;
# the page's programs are made in web/ (web/CMakeLists.txt).
set(DBX_MIKMOD_SOURCE "" CACHE PATH "Debian's libmikmod source folder (apt-get source libmikmod)")
set(DBX_LODEPNG_SOURCE "" CACHE PATH "Debian's lodepng source folder (apt-get source lodepng)")
foreach(dir DBX_MIKMOD_SOURCE DBX_LODEPNG_SOURCE)
  if(NOT ${dir} OR NOT IS_DIRECTORY ${${dir}})
    message(FATAL_ERROR "${dir} must name an unpacked Debian source package (scripts/web.sh does this)")
  endif()
endforeach()

# The libraries' own code, built as their Debian packages build it, with
# only the no-sound driver: the page plays the mixed sound itself.
file(GLOB mikmod_sources
  ${DBX_MIKMOD_SOURCE}/playercode/*.c ${DBX_MIKMOD_SOURCE}/loaders/*.c
  ${DBX_MIKMOD_SOURCE}/mmio/*.c ${DBX_MIKMOD_SOURCE}/depackers/*.c
  ${DBX_MIKMOD_SOURCE}/posix/strcasecmp.c)
add_library(mikmod_web STATIC ${mikmod_sources} ${DBX_MIKMOD_SOURCE}/drivers/drv_nos.c)
target_include_directories(mikmod_web PUBLIC ${DBX_MIKMOD_SOURCE}/include)
target_compile_definitions(mikmod_web PRIVATE MIKMOD_BUILD HAVE_UNISTD_H HAVE_LIMITS_H HAVE_FCNTL_H
                           HAVE_SYS_TYPES_H HAVE_STDINT_H HAVE_INTTYPES_H MIKMOD_UNIX=1)
target_compile_options(mikmod_web PRIVATE -w)

add_library(lodepng_web STATIC ${DBX_LODEPNG_SOURCE}/lodepng.cpp)
target_include_directories(lodepng_web PUBLIC ${DBX_LODEPNG_SOURCE})
target_compile_options(lodepng_web PRIVATE -w)

add_library(lodepng_pkg INTERFACE)
target_link_libraries(lodepng_pkg INTERFACE lodepng_web)
add_library(PkgConfig::MIKMOD ALIAS mikmod_web)
add_library(dbx_gles INTERFACE)

add_library(dbx_platform_web OBJECT ${CMAKE_CURRENT_LIST_DIR}/web.cpp)
target_link_libraries(dbx_platform_web PUBLIC drawboxlib)
