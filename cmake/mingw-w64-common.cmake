# Shared part of the mingw-w64 toolchain files: the including file sets
# BRIM_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: the win32 one has no std::mutex and GoogleTest needs it.
set(CMAKE_C_COMPILER   ${BRIM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRIM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${BRIM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# CTest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run.sh)
