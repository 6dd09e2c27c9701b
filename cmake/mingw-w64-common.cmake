# What both MinGW-w64 cross-builds share; the toolchain files set `triple`
# and CMAKE_SYSTEM_PROCESSOR first. The "-posix" compilers carry the
# winpthreads runtime; the default ones have no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine in the 64-bit prefix of the build tree; the
# script picks the loader that matches each program.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
