#!/usr/bin/env bash
# Runs every test suite of tavik, installing what it needs first:
#   1. the Debian packages (tools/install_deps.sh; apt-get needs root);
#   2. the C++ library and its GoogleTest suite (dev preset: Debug, warnings are errors), via CTest;
#   3. the sdist, and from it a wheel for each CPython 3.11, 3.12 and 3.13 here, warnings as
#      errors, repaired for manylinux_2_24 and checked: no libcrypto, PyInit_tavik the only
#      exported symbol (tools/build_wheels.sh);
#   4. each wheel installed into a fresh virtual environment with no compiler on PATH, and the
#      pytest suite and the check of the type stubs (mypy.stubtest) run against it
#      (tools/test_wheels.sh);
#   5. the C++ and pytest suites again against the ASan/UBSan build (tools/sanitize.sh);
#   6. the C library built with default options and installed into build/prefix, and from
#      there the C test (C99, found with pkg-config) and the C++ example (found with
#      find_package), then the same with ASan/UBSan in build/prefix-asan (tools/test_capi.sh);
#   7. the JavaScript package built with emscripten and packed, its node --test suite against
#      the packed package, its types under tsc, and the playground page in headless Chromium
#      (tools/test_js.sh, which runs tools/build_js.sh);
#   8. a short run of every fuzz target, 20 seconds each (tools/fuzz.sh);
#   9. a smoke run of the benchmarks (bench/run.sh --quick), which only checks that they execute;
#  10. on x86-64, aarch64 under emulation (tools/test_aarch64.sh): the C++ suite built by the
#      cross compiler, with and without the SHA-2 instructions, and the pytest suite against
#      the cp311 aarch64 wheel in an arm64 Debian root. The root (tools/arm64_root.sh: mostly
#      downloads and one emulated core) is made in the background from the start.
# Step 2 builds and runs the C++ suite twice: with g++ and libstdc++ (preset dev), and with
# clang and libc++ (preset clang-libcxx), a stand-in for the compilers of other platforms.
# Any failure stops the run with a non-zero status; no suite is skipped silently.
#
# The run changes no Python of the machine: everything pip installs goes into virtual
# environments under build/venvs/, pip's downloads into build/pip-cache/ and temporary files
# into build/tmp/. It checks so itself: `pip freeze` of every python3 on PATH and of each
# CPython 3.11-3.13 is the same at the end as at the start.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

mkdir -p build
export PIP_CACHE_DIR="$PWD/build/pip-cache"
rm -rf build/tmp && mkdir build/tmp
export TMPDIR="$PWD/build/tmp"

# What each interpreter of the machine has installed, to compare at the end.
freeze() {
  local py
  for py in $( (for python3 in $(type -ap python3); do
                  "$python3" -c 'import os, sys; print(os.path.realpath(sys.executable))'
                done
                for minor in 11 12 13; do find_python "$minor"; done) | sort -u); do
    echo "## $py"
    "$py" -m pip freeze --all --disable-pip-version-check 2>/dev/null || echo "(no pip)"
  done
}
freeze >build/pip-freeze-before.txt

bash tools/install_deps.sh

# The arm64 root, beside the steps below; its log is shown if it fails.
root_pid=""
if [ "$(uname -m)" = x86_64 ]; then
  bash tools/arm64_root.sh >build/arm64-root.out 2>&1 &
  root_pid=$!
fi

echo "== C++ tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)"

echo "== C++ tests, clang and libc++"
cmake --preset clang-libcxx >/dev/null
cmake --build --preset clang-libcxx -j "$(nproc)"
ctest --preset clang-libcxx -j "$(nproc)"

echo "== wheels"
bash tools/build_wheels.sh

echo "== Python tests against each wheel"
bash tools/test_wheels.sh

echo "== sanitizers"
bash tools/sanitize.sh

echo "== C library, installed"
bash tools/test_capi.sh
echo "== C library, installed (ASan, UBSan)"
bash tools/test_capi.sh --sanitize

echo "== JavaScript: the WebAssembly package, its tests, the page in Chromium"
bash tools/test_js.sh

echo "== fuzz smoke run"
bash tools/fuzz.sh 20

echo "== benchmarks (a smoke run: checks that they execute; no timing is judged here)"
if ! bash bench/run.sh --quick >build/bench-smoke.log 2>&1; then
  cat build/bench-smoke.log
  exit 1
fi
echo "benchmarks ran: build/bench-smoke/results.md"

if [ -n "$root_pid" ]; then
  echo "== aarch64 under emulation"
  if ! wait "$root_pid"; then
    cat build/arm64-root.out
    exit 1
  fi
  cat build/arm64-root.out
  bash tools/test_aarch64.sh
fi

echo "== the machine's Pythons are as they were"
freeze >build/pip-freeze-after.txt
if ! diff -u build/pip-freeze-before.txt build/pip-freeze-after.txt; then
  echo "the run changed what an interpreter of the machine has installed" >&2
  exit 1
fi
grep '^## ' build/pip-freeze-after.txt | sed 's/^## /unchanged: /'
