# Cross-compiles for 64-bit Windows with Debian's mingw-w64 toolchain: the same sources as the
# 32-bit product, for hosts and users that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
