# PROGRAM is the command line that starts the intro (with an emulator in a
# cross build). Runs the intro in an empty directory: it must print the decoder's message
# and the reason, and exit with status 1.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
set(ENV{DBX_STANDIN_DISPLAY} 320x200)
execute_process(COMMAND ${PROGRAM} WORKING_DIRECTORY ${WORKDIR} TIMEOUT 60
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc STREQUAL "1")
  message(FATAL_ERROR "exit status ${rc}, expected 1\nstdout: ${out}\nstderr: ${err}")
endif()
if(NOT out MATCHES "^\\[lodepng\\] [^\n]+\n")
  message(FATAL_ERROR "no decoder message on stdout: ${out}")
endif()
if(NOT err MATCHES "The intro cannot run without its atlas \"out.png\".")
  message(FATAL_ERROR "no reason on stderr: ${err}")
endif()
