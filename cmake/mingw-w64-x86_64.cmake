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
