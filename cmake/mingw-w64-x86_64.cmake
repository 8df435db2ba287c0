# Cross build for Windows x64 with mingw-w64 (Debian g++-mingw-w64-x86-64-posix).
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PADMAP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PADMAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PADMAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PADMAP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PADMAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables must run on a bare Windows: no libstdc++, libgcc or
# winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
