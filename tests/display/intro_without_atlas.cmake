# PROGRAM is the command line that starts the intro (with an emulator in a
# cross build). Runs the intro in an empty directory: it must print the decoder's message
# and the reason, and exit with status 1.
# With -DFIFO=ON the atlas is a FIFO: the intro must name it as one rather
# than wait at it for ever.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
if(FIFO)
  execute_process(COMMAND mkfifo out.png WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE made)
  if(NOT made STREQUAL "0")
    message(FATAL_ERROR "cannot make the FIFO out.png")
  endif()
endif()
set(ENV{DBX_STANDIN_DISPLAY} 320x200)
execute_process(COMMAND ${PROGRAM} WORKING_DIRECTORY ${WORKDIR} TIMEOUT 60
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc STREQUAL "1")
  message(FATAL_ERROR "exit status ${rc}, expected 1\nstdout: ${out}\nstderr: ${err}")
endif()
if(FIFO AND NOT out MATCHES "^\\[lodepng\\] \"out.png\" is a FIFO, not a regular file\n")
  message(FATAL_ERROR "the FIFO is not named as one on stdout: ${out}")
endif()
if(NOT out MATCHES "^\\[lodepng\\] [^\n]+\n")
  message(FATAL_ERROR "no decoder message on stdout: ${out}")
endif()
if(NOT err MATCHES "The intro cannot run without its atlas \"out.png\" \\(looked in the working folder")
  message(FATAL_ERROR "no reason on stderr: ${err}")
endif()
