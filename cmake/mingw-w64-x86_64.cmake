# Cross-building tarvelin.exe for 64-bit Windows with MinGW-w64 (the posix
# threads variant, whose libstdc++ has std::thread and std::this_thread).
# Everything is linked statically: the executable needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVELIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVELIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVELIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVELIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVELIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under Wine (wine64 is not on Debian's PATH).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TARVELIN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(TARVELIN_WINE64 NAMES wine64 wine)
  if(TARVELIN_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVELIN_WINE64})
  endif()
endif()
