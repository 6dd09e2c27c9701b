# Cross-build of the same Windows sources for x86-64. Not a product: it lets
# the Windows tests run under 64-bit Wine on machines that cannot run 32-bit
# code at all.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
