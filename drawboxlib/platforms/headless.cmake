# The headless platform layer: no display, no GL context; clock, music and
# director still run.
add_library(dbx_platform_headless OBJECT ${CMAKE_CURRENT_LIST_DIR}/headless.cpp)
target_link_libraries(dbx_platform_headless PUBLIC drawboxlib)
