# Cross-builds kwt.exe for 32-bit Windows with Debian's mingw-w64 compilers.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DKWT_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KWT_MINGW_TRIPLET i686-w64-mingw32)
# The program uses no threads, so the default compiler (win32 thread model) is enough.
set(CMAKE_C_COMPILER ${KWT_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KWT_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${KWT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KWT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime goes into the executable, so kwt.exe needs no DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the test executables under Wine where it is installed.
find_program(KWT_WINE NAMES wine)
if(KWT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KWT_WINE})
endif()
