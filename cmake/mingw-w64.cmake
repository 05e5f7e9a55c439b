# Shared part of the MinGW-w64 cross toolchains: set NXTKA_MINGW_TRIPLE first.
# The -posix compilers are used because only they have std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NXTKA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NXTKA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NXTKA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NXTKA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes go into every module, so that the DLL and the test
# programs import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
