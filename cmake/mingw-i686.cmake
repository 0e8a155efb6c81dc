# Cross build for i686 Windows with the posix-thread mingw compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# libdeflate has no mingw package: scripts/install-deps.sh builds it into the
# deps folder, which is searched like a second sysroot.
if(DEFINED ENV{SLIMWICK_DEPS_DIR})
  set(SLIMWICK_DEPS_DIR $ENV{SLIMWICK_DEPS_DIR})
else()
  set(SLIMWICK_DEPS_DIR /var/cache/slimwick)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${SLIMWICK_DEPS_DIR}/mingw-i686)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under wine's 32-bit loader, or report themselves skipped where the
# kernel does not run i386 programs.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
