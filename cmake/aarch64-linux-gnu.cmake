# Cross build for Linux on aarch64 with Debian's cross compiler (g++-aarch64-linux-gnu), on an
# x86-64 machine. The wheels need nothing more: the compiler brings its own glibc and libstdc++.
# The C++ suite needs GoogleTest and OpenSSL for arm64 too: TAVIK_AARCH64_SYSROOT names an arm64
# Debian root that has them (tools/arm64_root.sh), where the libraries are looked for and where
# qemu-aarch64 finds the dynamic loader when CTest runs the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVIK_AARCH64_SYSROOT)

# Programs (Python, the checks' shells) are this machine's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
if(TAVIK_AARCH64_SYSROOT)
  set(CMAKE_SYSROOT "${TAVIK_AARCH64_SYSROOT}")
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L "${TAVIK_AARCH64_SYSROOT}")
endif()
