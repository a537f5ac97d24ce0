# Cross-builds kwt.exe for 64-bit Windows with Debian's mingw-w64 compilers.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
# (with the unit tests; scripts/windows-build.sh and scripts/windows-test.sh drive both).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KWT_MINGW_TRIPLET x86_64-w64-mingw32)
# The program uses no threads, but GoogleTest needs std::mutex, which only
# the posix thread model's compilers have; -static below keeps winpthread
# inside the executables.
set(CMAKE_C_COMPILER ${KWT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KWT_MINGW_TRIPLET}-g++-posix)
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
