# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (posix threads flavour).
# toolchain-mingw64.cmake sets BURNWRIGHT_TARGET to x86_64 first for the twin.
if(NOT BURNWRIGHT_TARGET)
    set(BURNWRIGHT_TARGET i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BURNWRIGHT_TARGET})

set(TOOLCHAIN_PREFIX ${BURNWRIGHT_TARGET}-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs run under Wine; the wrapper selects the build's loader and prefix.
if(BURNWRIGHT_TARGET STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/scripts/wine64-run)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/scripts/wine-run)
endif()
