#!/usr/bin/env bash
# Runs the C++ tests and the pytest suite against the sanitizer build: the asan preset builds
# the library, the GoogleTest suite and the extension with AddressSanitizer and UBSan (any
# report ends the run). The extension is tested from build/asan, not from the installed
# package: a temporary folder holds a copy of the tavik package with the sanitizer build's
# module, and the interpreter runs with the sanitizer runtime preloaded and its own allocator
# off (PYTHONMALLOC=malloc), so every allocation goes through the sanitizer.
#   tools/sanitize.sh [PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

# The interpreter of the development environment (build/venvs/dev, with pytest), for which
# the extension is built.
python="$(dev_python)"

echo "== sanitizer build"
cmake --preset asan -DPython_EXECUTABLE="$python" >/dev/null
cmake --build --preset asan -j "$(nproc)"

echo "== C++ tests (ASan, UBSan)"
ctest --preset asan -j "$(nproc)"

echo "== Python tests (ASan, UBSan)"
package_dir="$(mktemp -d)"
trap 'rm -rf "$package_dir"' EXIT
mkdir "$package_dir/tavik"
cp src/tavik/*.py src/tavik/*.pyi src/tavik/py.typed "$package_dir/tavik/"
cp build/asan/tavik.*.so "$package_dir/tavik/"

compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/asan/CMakeCache.txt)"
if "$compiler" --version | grep -q clang; then
  runtime="$("$compiler" -print-file-name=libclang_rt.asan-x86_64.so)"
else
  runtime="$("$compiler" -print-file-name=libasan.so)"
fi
# The C++ runtime is preloaded too: the sanitizer resolves its wrapper of __cxa_throw when it
# starts, and a module that throws (the allocation-failure tests do) needs it found then.
runtime="$runtime $("$compiler" -print-file-name=libstdc++.so.6)"
# The interpreter frees little at exit, so its leak report says nothing about the module:
# leaks are looked for with memcheck (tools/memcheck.sh) and the leak tests.
export LD_PRELOAD="$runtime" PYTHONMALLOC=malloc PYTHONPATH="$package_dir"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export TAVIK_LEAK_ROUNDS=200  # the leak test checks refcounts only under the sanitizer
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$python" -P -c 'import sys, tavik.tavik as m; sys.exit(not m.__file__.startswith(sys.argv[1]))' \
  "$package_dir"
"$python" -P -m pytest -q -p no:cacheprovider tests/python "$@"
