# Cross-building the Windows program on Linux with mingw-w64 (POSIX thread model, which the
# C++ thread library and GoogleTest need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZUMELKO_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZUMELKO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZUMELKO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZUMELKO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZUMELKO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything static: the exe needs no DLL beside it on a Windows PC.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run through Wine.
find_program(ZUMELKO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(ZUMELKO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUMELKO_WINE})
endif()

# OpenSSL: the static libraries scripts/lib/openssl-mingw.sh builds from Debian's source
# (configure_windows_build hands their folder over as ZUMELKO_OPENSSL_ROOT). Searched like the
# mingw-w64 root, so that find_package(OpenSSL) finds them and nothing of the Linux system.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZUMELKO_OPENSSL_ROOT)
if(ZUMELKO_OPENSSL_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ZUMELKO_OPENSSL_ROOT})
  set(OPENSSL_ROOT_DIR ${ZUMELKO_OPENSSL_ROOT})
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
