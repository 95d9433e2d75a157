# The posix thread model is the one Debian installs alongside the win32 one;
# everything is linked statically, so no winpthread DLL is needed at run time.
set(CMAKE_C_COMPILER ${KERNO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KERNO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KERNO_MINGW_TRIPLE}-windres)
set(CMAKE_STRIP ${KERNO_MINGW_TRIPLE}-strip)
set(CMAKE_FIND_ROOT_PATH /usr/${KERNO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
