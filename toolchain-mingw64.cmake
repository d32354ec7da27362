# Cross-compiles the x86-64 twin (64-bit Windows) of the same sources: a test
# vehicle for machines that run no 32-bit programs.
set(BURNWRIGHT_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)
