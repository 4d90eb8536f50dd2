# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENVALE_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUENVALE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENVALE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENVALE_MINGW_TRIPLE}-windres)

# Libraries for the target: Debian's MinGW zlib, and our own static libjpeg (scripts/setup).
set(CMAKE_FIND_ROOT_PATH /usr/${QUENVALE_MINGW_TRIPLE} ${CMAKE_CURRENT_LIST_DIR}/../third_party_build/mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
