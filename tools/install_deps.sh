#!/usr/bin/env bash
# Installs the Debian packages that building, testing and measuring tavik need, where they are
# missing; apt-get needs root, so it runs through sudo for any other user. Safe to run again.
#   compilers and build tools: g++, cmake, ninja-build, pkg-config, binutils (readelf, nm and
#     objdump check the wheels); clang and its sanitizer and libFuzzer runtimes
#     (libclang-rt-14-dev) for the fuzz targets;
#   the C++ tests: libgtest-dev, and libssl-dev (OpenSSL's SHA-256 is the tests' reference: the
#     module never links it);
#   the benchmarks: libbenchmark-dev; the memcheck run (tools/memcheck.sh): valgrind;
#   Python: python3-dev and python3-venv, for a python3 that is Debian's own;
#   other platforms: libc++-dev and libc++abi-dev (the clang-libcxx preset; GoogleTest is built
#     from the sources of googletest), gcc- and g++-aarch64-linux-gnu and
#     binutils-aarch64-linux-gnu (the aarch64 wheels and C++ suite), qemu-user and
#     qemu-user-static (running aarch64 programs) and debootstrap (an arm64 Debian root:
#     tools/arm64_root.sh).
# With the argument `js`, instead: what tools/build_js.sh and tools/test_js.sh need for the
# WebAssembly build, the npm package and the page: emscripten (with binaryen, and node-acorn,
# which Debian's emscripten needs under a newer Node), Node and npm where there are none yet,
# node-typescript (tsc checks the package's types), esbuild (bundles the page as a browser
# bundle), and chromium with chromium-driver (the page's test), python3-venv (selenium).
# Python packages are not installed here: every script installs those it needs into a virtual
# environment under build/venvs/ (tools/venv.sh), never into an interpreter of the machine.
set -euo pipefail

apt_options=()

if [ "${1:-}" = js ]; then
  debian_packages=(cmake ninja-build emscripten binaryen node-acorn node-typescript esbuild
                   chromium chromium-driver python3-venv)
  # Without what they only recommend: emscripten recommends python3-numpy, and chromium the
  # printer tools, which bring python3-cups and more; Debian's python3 would gain them.
  apt_options+=(--no-install-recommends)
  # A Node from elsewhere (with its own npm) stays as it is.
  command -v node >/dev/null || debian_packages+=(nodejs)
  command -v npm >/dev/null || debian_packages+=(npm)
else
  debian_packages=(g++ cmake ninja-build pkg-config binutils clang libclang-rt-14-dev
                   libgtest-dev googletest libssl-dev libbenchmark-dev valgrind python3-dev
                   python3-venv libc++-dev libc++abi-dev gcc-aarch64-linux-gnu
                   g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user qemu-user-static
                   debootstrap)
fi
missing=()
for pkg in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  if ! command -v apt-get >/dev/null; then
    echo "missing packages (${missing[*]}) and no apt-get to install them" >&2
    exit 1
  fi
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "installing Debian packages (apt-get, as root): ${missing[*]}"
  # Another apt-get of the machine may hold the lock: wait for it.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    "${apt_options[@]}" "${missing[@]}" >/dev/null
fi
