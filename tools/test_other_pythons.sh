#!/usr/bin/env bash
# Builds the extension (warnings as errors) against every other CPython 3.12+ interpreter on
# this machine and runs the pytest suite with it, so that the version guards of the binding
# stay honest. Interpreters come from PATH (python3.12, python3.13) or pyenv; each one found
# is tested and any failure fails the run; the versions not found are named.
set -euo pipefail
cd "$(dirname "$0")/.."

found=0
for minor in 12 13; do
  py=""
  for candidate in "$(command -v "python3.$minor" || true)" \
                   "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3; do
    # A pyenv shim exists for every installed version but runs only the selected one.
    if [ -x "$candidate" ] && "$candidate" -c "" 2>/dev/null; then py=$candidate; fi
  done
  if [ -z "$py" ]; then
    echo "CPython 3.$minor: not installed here, not tested"
    continue
  fi
  found=$((found + 1))
  echo "== CPython 3.$minor ($py)"
  build=build/py3$minor
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DTAVIK_BUILD_TESTS=OFF -DPython_EXECUTABLE="$py" >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
  pkg=$(mktemp -d)
  mkdir "$pkg/tavik"
  cp src/tavik/__init__.py "$pkg/tavik/"
  cp "$build"/tavik.cpython-3"$minor"*.so "$pkg/tavik/"
  PIP_ROOT_USER_ACTION=ignore "$py" -m pip install -q --disable-pip-version-check pytest
  PYTHONPATH="$pkg" "$py" -P -m pytest -q -p no:cacheprovider tests/python \
    --ignore=tests/python/test_cli.py
  rm -rf "$pkg"
done
echo "other CPython versions tested: $found"
