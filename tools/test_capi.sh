#!/usr/bin/env bash
# Builds the C library with the plain sequence (default options: no GoogleTest, no Python),
# installs it into a prefix and tests it from there, never from the build tree:
#   - only tavik_* leaves the installed shared library;
#   - tests/c/vectors_test.c, compiled as C99 with -Wall -Wextra -pedantic -Werror and found
#     with pkg-config (tavik.pc), replays the known answers against the shared library and,
#     linked statically, against libtavik.a;
#   - examples/cpp, built against the installed CMake package (find_package(tavik)), replays
#     them through tavik.hpp and counts the allocations of the calls (none).
#   tools/test_capi.sh             build/capi, installed into build/prefix
#   tools/test_capi.sh --sanitize  the same with AddressSanitizer and UBSan in the library and
#                                  the tests: build/capi-asan, build/prefix-asan
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

build=build/capi
prefix="$root/build/prefix"
flags=()
configure=()
if [ "${1:-}" = --sanitize ]; then
  build=build/capi-asan
  prefix="$root/build/prefix-asan"
  flags=(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  configure=(-DTAVIK_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

echo "== the C library: build and install into ${prefix#"$root"/}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${configure[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -rf "$prefix"
cmake --install "$build" >/dev/null

libdir="$(dirname "$(find "$prefix" -name tavik.pc)")/.."
libdir="$(cd "$libdir" && pwd)"
exported="$(nm -D --defined-only "$libdir/libtavik.so" | awk '$2 != "A" {print $3}')"
if grep -v '^tavik_' <<<"$exported"; then
  echo "the shared library exports more than tavik_*" >&2
  exit 1
fi
echo "exports: $(wc -l <<<"$exported") symbols, all tavik_*"

out="$root/$build/tests"
mkdir -p "$out"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc_flags=(-std=c99 -Wall -Wextra -pedantic -Werror "${flags[@]}")
# shellcheck disable=SC2046  # pkg-config prints words
cc "${cc_flags[@]}" tests/c/vectors_test.c $(pkg-config --cflags --libs tavik) \
  -Wl,-rpath,"$libdir" -o "$out/vectors_test"
# shellcheck disable=SC2046
cc "${cc_flags[@]}" tests/c/vectors_test.c $(pkg-config --cflags tavik) \
  -L"$libdir" -Wl,-Bstatic -ltavik -Wl,-Bdynamic $(pkg-config --libs-only-l --static tavik | sed 's/-ltavik//') \
  -o "$out/vectors_test_static"
if ldd "$out/vectors_test_static" | grep -q libtavik; then
  echo "the static test links the shared library" >&2
  exit 1
fi
echo "== C test (shared library)"
"$out/vectors_test" tests/vectors
echo "== C test (static library)"
"$out/vectors_test_static" tests/vectors

for kind in shared static; do
  example="$root/$build/example-$kind"
  cmake -S examples/cpp -B "$example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS="${flags[*]}" \
    -DTAVIK_EXAMPLE_STATIC="$([ $kind = static ] && echo ON || echo OFF)" >/dev/null
  cmake --build "$example" >/dev/null
  echo "== C++ example ($kind library)"
  "$example/replay" tests/vectors
done
