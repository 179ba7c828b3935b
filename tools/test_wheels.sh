#!/usr/bin/env bash
# Installs each wheel of build/wheels/ (tools/build_wheels.sh) for this machine's processor (the
# aarch64 ones run under emulation: tools/test_aarch64.sh) into a fresh virtual environment
# of its CPython, build/venvs/wheel-cp3XX, and runs the pytest suite and the check of the type
# stubs (mypy.stubtest) against it, with no compiler within reach: PATH holds only the
# environment's bin/ and build/no-compiler-bin/, links to the few programs the tests start, and
# the compilers' variables (CC, CXX...) are unset. Each run first shows that no compiler is
# found, and pip takes wheels only (--only-binary), so nothing is built on the way.
#   tools/test_wheels.sh [PYTEST ARGS...]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

wheels=(build/wheels/tavik-*_"$(uname -m)".whl)
if ! [ -f "${wheels[0]}" ]; then
  echo "no wheel in build/wheels/: run tools/build_wheels.sh first" >&2
  exit 1
fi

# The programs the tests start by name, besides the interpreter: the shells of the pipeline
# test and of the README's console examples, and the tools those examples use.
tools_bin="$PWD/build/no-compiler-bin"
rm -rf "$tools_bin" && mkdir -p "$tools_bin"
for program in sh bash env cat paste stat; do
  ln -s "$(command -v "$program")" "$tools_bin/$program"
done

root="$PWD"
no_compiler() {
  env -u CC -u CXX -u CPP -u LD -u CFLAGS -u CXXFLAGS -u LDFLAGS -u CPATH \
    PATH="$root/$venv/bin:$tools_bin" "$@"
}

for wheel in "${wheels[@]}"; do
  tag=$(basename "$wheel" | cut -d- -f3)  # cp312
  minor=${tag#cp3}
  py=$(find_python "$minor")
  if [ -z "$py" ]; then
    echo "no CPython 3.$minor for $(basename "$wheel")" >&2
    exit 1
  fi
  echo "== $(basename "$wheel") in a fresh environment of $py, no compiler on PATH"
  venv=build/venvs/wheel-$tag
  rm -rf "$venv"
  "$py" -m venv "$venv"
  no_compiler sh -c 'for c in cc gcc g++ c++ clang clang++; do
      if command -v "$c"; then echo "a compiler is within reach: $c" >&2; exit 1; fi
    done
    echo "PATH=$PATH: cc, gcc, g++, c++, clang, clang++ not found"'
  # The wheel with its test extra (pytest, mypy, numpy, dask, and the Arrow libraries: pyarrow,
  # Polars, DuckDB, pandas).
  no_compiler python -m pip install -q --disable-pip-version-check --only-binary=:all: \
    "$wheel[test]"
  no_compiler python -P -c 'import sys, tavik, tavik.tavik as m
assert m.__file__.startswith(sys.prefix + "/"), m.__file__
print(f"tavik {tavik.__version__} from {m.__file__}")'
  no_compiler python -m pytest -q -p no:cacheprovider "$@"
  # From build/, where mypy leaves its cache.
  (cd build && no_compiler python -m mypy.stubtest tavik)
done
