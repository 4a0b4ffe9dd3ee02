# Cross build for 32-bit Windows with mingw-w64 (posix threads model): the kit that ships beside the
# vendors' 32-bit libraries. Nothing here can run it; the win64 build is its tested twin.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KIT_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KIT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KIT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
