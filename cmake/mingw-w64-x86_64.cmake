# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads) against the
# Quillet Windows SDK. Point QUILLET_WIN_SDK (a cache variable or the environment) at the
# unpacked quillet-win-sdk folder; scripts/windows does this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT QUILLET_WIN_SDK AND DEFINED ENV{QUILLET_WIN_SDK})
    set(QUILLET_WIN_SDK "$ENV{QUILLET_WIN_SDK}")
endif()
if(NOT QUILLET_WIN_SDK OR NOT EXISTS "${QUILLET_WIN_SDK}/qt5/lib/cmake/Qt5")
    message(FATAL_ERROR "QUILLET_WIN_SDK must name the unpacked quillet-win-sdk folder (got '${QUILLET_WIN_SDK}')")
endif()
set(QUILLET_WIN_SDK "${QUILLET_WIN_SDK}" CACHE PATH "The unpacked quillet-win-sdk folder")
# The compiler checks run in projects of their own, which see only the variables listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLET_WIN_SDK)

set(CMAKE_FIND_ROOT_PATH
    /usr/x86_64-w64-mingw32
    "${QUILLET_WIN_SDK}/qt5"
    "${QUILLET_WIN_SDK}/quazip"
    "${QUILLET_WIN_SDK}/zlib"
    "${QUILLET_WIN_SDK}/httplib"
    "${QUILLET_WIN_SDK}/openssl")
set(CMAKE_PREFIX_PATH "${QUILLET_WIN_SDK}/qt5" "${QUILLET_WIN_SDK}/quazip" "${QUILLET_WIN_SDK}/zlib")
set(ZLIB_ROOT "${QUILLET_WIN_SDK}/zlib")
set(OPENSSL_ROOT_DIR "${QUILLET_WIN_SDK}/openssl")
# Programs run on the build machine; libraries, headers and packages come from the SDK only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest runs every test program through Wine.
find_program(QUILLET_WINE NAMES wine wine64)
if(QUILLET_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-test")
endif()
