# The web platform layer: the intro in a web browser, built with emscripten
# (emcmake cmake ...; see scripts/web.sh). A WebGL context on the page's
# canvas takes the engine's OpenGL ES 1.1 calls through emscripten's
# emulation; the main loop runs once per animation frame of the browser.
#
# A browser has no libraries to find: libmikmod and LodePNG are compiled here
# from Debian's own source packages, which scripts/web.sh fetches with
# apt-get source into the build folder, and become the targets the native
# lookups make (lodepng_pkg, PkgConfig::MIKMOD), beside dbx_gles (emscripten's
# own OpenGL ES, linked by default). Makes the OBJECT library dbx_platform_web
# and the page's program, invitro-web, with the page's files in DBX_WEB_SITE.
set(DBX_MIKMOD_SOURCE "" CACHE PATH "Debian's libmikmod source folder (apt-get source libmikmod)")
set(DBX_LODEPNG_SOURCE "" CACHE PATH "Debian's lodepng source folder (apt-get source lodepng)")
set(DBX_WEB_SITE ${PROJECT_BINARY_DIR}/site CACHE PATH "Where the page and its files are written")
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

# The program: the web layer around intro_app, which brings the engine and
# the intro, built as for every other platform. The layer has its own main:
# the browser, not a loop of ours, calls each pass.
# web/page.cpp is the page's hold on the intro (the state probe its test
# reads, the "play again" button).
add_executable(invitro-web ${PROJECT_SOURCE_DIR}/web/page.cpp)
target_link_libraries(invitro-web PRIVATE intro_app dbx_platform_web)
set_target_properties(invitro-web PROPERTIES OUTPUT_NAME invitro SUFFIX .js
                      RUNTIME_OUTPUT_DIRECTORY ${DBX_WEB_SITE})
target_link_options(invitro-web PRIVATE
  -sLEGACY_GL_EMULATION=1 -sALLOW_MEMORY_GROWTH=1
  "-sEXPORTED_FUNCTIONS=_main,_web_start"
  "-sEXPORTED_RUNTIME_METHODS=ccall"
  "SHELL:--preload-file ${PROJECT_SOURCE_DIR}/out.png@out.png"
  "SHELL:--preload-file ${PROJECT_SOURCE_DIR}/omber.xm@omber.xm"
  "SHELL:--preload-file ${PROJECT_SOURCE_DIR}/data@data")
file(GLOB scene_files ${PROJECT_SOURCE_DIR}/data/*.dat)
set_property(TARGET invitro-web APPEND PROPERTY LINK_DEPENDS
  ${PROJECT_SOURCE_DIR}/out.png ${PROJECT_SOURCE_DIR}/omber.xm ${scene_files})

# The page around it; its start screen shows sprites of the atlas.
configure_file(${PROJECT_SOURCE_DIR}/web/index.html ${DBX_WEB_SITE}/index.html COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/out.png ${DBX_WEB_SITE}/out.png COPYONLY)
