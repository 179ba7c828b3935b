#!/usr/bin/env bash
# Runs every test suite of tavik, installing what it needs first:
#   1. the C++ library and its GoogleTest suite (dev preset: Debug, warnings are errors), via CTest;
#   2. the Python module, built and installed with pip, and its pytest suite;
#   3. the type stubs against the compiled module (mypy stubtest);
#   4. the C++ and pytest suites again against the ASan/UBSan build (tools/sanitize.sh);
#   5. a short run of every fuzz target, 20 seconds each (tools/fuzz.sh);
#   6. the extension built and tested against the other CPython versions installed (3.12, 3.13);
#   7. a smoke run of the benchmarks (bench/run.sh --quick), which only checks that they execute.
# Any failure stops the run with a non-zero status; no suite is skipped silently.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh

echo "== C++ tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)"

echo "== Python module"
python3 -m pip install -q --disable-pip-version-check --no-build-isolation --force-reinstall \
  --no-deps .
# -P keeps the source folder off sys.path, so the tests import the installed package.
python3 -P -m pytest -q

echo "== type stubs"
(cd /tmp && python3 -m mypy.stubtest tavik)

echo "== sanitizers"
bash tools/sanitize.sh

echo "== fuzz smoke run"
bash tools/fuzz.sh 20

echo "== other CPython versions"
bash tools/test_other_pythons.sh

echo "== benchmarks (a smoke run: checks that they execute; no timing is judged here)"
mkdir -p build
if ! bash bench/run.sh --quick >build/bench-smoke.log 2>&1; then
  cat build/bench-smoke.log
  exit 1
fi
echo "benchmarks ran: build/bench-smoke/results.md"
