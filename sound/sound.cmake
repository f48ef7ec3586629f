# The sound outputs, joined to intro_core: the table of outputs, the heard
# history the song clock reads through them, and each output this platform
# has. An output whose library is missing is a null entry of the table.
target_sources(intro_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/xmout.cpp ${CMAKE_CURRENT_LIST_DIR}/xmheard.cpp)
if(EMSCRIPTEN)
  # In a web browser the song plays through Web Audio, its only sound output.
  target_sources(intro_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/xmout_web.cpp)
  target_compile_definitions(intro_core PRIVATE DBX_WEB_AUDIO DBX_NO_PULSE DBX_NO_ALSA)
else()
  # Outputs are opened on a thread of their own, so that a hung server never
  # holds up the show.
  find_package(Threads REQUIRED)
  target_link_libraries(intro_core PUBLIC Threads::Threads)
  # Live sound: PulseAudio (or PipeWire's pulse server) on a desktop, ALSA on
  # a console. Either may be missing; without both the intro plays silently.
  pkg_check_modules(PULSE IMPORTED_TARGET libpulse)
  pkg_check_modules(ALSA IMPORTED_TARGET alsa)
  foreach(out PULSE ALSA)
    string(TOLOWER ${out} name)
    if(${out}_FOUND)
      target_sources(intro_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/xmout_${name}.cpp)
      target_link_libraries(intro_core PUBLIC PkgConfig::${out})
    else()
      message(STATUS "${name} not found: the intro cannot play through it")
      target_compile_definitions(intro_core PRIVATE DBX_NO_${out})
    endif()
  endforeach()
endif()
