# Debian packages: `cpack -G DEB` in a build folder (native or cross) makes
# invitro_<version>_<arch>.deb. The programs go to /usr/bin and the intro's
# files (atlas, module, scene files, and the editable show table, scene texts
# and sprite folder) to /usr/share/invitro, where a program finds them from
# its own folder when the working folder does not hold them. invitro-init
# copies the editable ones into a folder of the user's own.
set(dbx_programs invitro invitro-headless boxart)
if(TARGET invitro-edit)
  list(APPEND dbx_programs invitro-edit)
endif()
if(TARGET invitro-capture)
  list(APPEND dbx_programs invitro-capture)
endif()
if(DBX_RPI_NATIVE)
  list(APPEND dbx_programs invitro-rpi)
endif()
install(TARGETS ${dbx_programs} RUNTIME DESTINATION bin)
file(RELATIVE_PATH dbx_data_from_program ${CMAKE_INSTALL_PREFIX}/bin ${CMAKE_INSTALL_PREFIX}/share/invitro)
target_compile_definitions(drawboxlib PRIVATE DBX_DATA_FROM_PROGRAM="${dbx_data_from_program}")
install(FILES ${PROJECT_SOURCE_DIR}/out.png ${PROJECT_SOURCE_DIR}/omber.xm DESTINATION share/invitro)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION share/invitro/data FILES_MATCHING PATTERN "*.dat")
install(FILES ${PROJECT_SOURCE_DIR}/assets/show.txt DESTINATION share/invitro/assets)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/scenes ${PROJECT_SOURCE_DIR}/assets/sprites DESTINATION share/invitro/assets)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/invitro-init DESTINATION bin)

# Debian's name for the architecture the programs are built for.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(dbx_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(dbx_deb_arch armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
  set(dbx_deb_arch amd64)
else()
  set(dbx_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME invitro)
set(CPACK_PACKAGE_VERSION 2019.1.0)
set(CPACK_PACKAGE_CONTACT "Fennick <invitro@fennick.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fennick 2019 Invitro: a music-synchronised invitation intro")
set(CPACK_PACKAGE_DESCRIPTION "An XM module plays while scenes of textured sprite boxes are revealed beat by beat, drawn with OpenGL ES 1.1. invitro plays it on a display, invitro-capture renders it to a video file without one. invitro-init copies the show into a folder of your own, where invitro-edit and boxart make its scenes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${dbx_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
# The runtime libraries come from dpkg-shlibdeps; in a cross build it looks
# them up among the target architecture's installed packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
  file(WRITE ${PROJECT_BINARY_DIR}/cpack-target-arch.cmake "set(ENV{DEB_HOST_ARCH} ${dbx_deb_arch})\n")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-target-arch.cmake)
endif()
if(TARGET invitro-capture)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
endif()
# Mesa's EGL and drivers are loaded by name at run time (libglvnd), which
# dpkg-shlibdeps cannot see.
if(NOT DBX_RPI_NATIVE)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libegl-mesa0, libgl1-mesa-dri")
endif()
include(CPack)
