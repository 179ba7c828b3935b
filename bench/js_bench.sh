#!/usr/bin/env bash
# The JavaScript face against the native library in one run (bench/js_bench.mjs): builds the
# package (tools/build_js.sh, unless --no-build), the native library and the native side of the
# rounds, installs the packed package into an empty folder and runs the rounds.
# Writes build/bench/js.md.   bash bench/js_bench.sh [--no-build] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --no-build ]; then shift; else bash tools/build_js.sh >/dev/null; fi
rounds=${1:-15}

# The native side: the static C library of the release preset (as bench/run.sh builds it).
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target tavik_c_static >/dev/null
${CXX:-g++} -std=c++20 -O2 -Wall -Wno-attributes -I. bench/wasm/native_rounds.cc \
  bench/wasm/lanes_wasm_bench.cc tests/support/backend_swap.cc build/release/libtavik.a \
  -o build/release/native_rounds

consumer=$(mktemp -d "$PWD/build/js/bench-XXXXXX")
trap 'rm -rf "$consumer"' EXIT
echo '{"private": true, "type": "module"}' >"$consumer/package.json"
npm install --silent --offline --no-audit --no-fund --cache build/js/npm-cache --prefix "$consumer" \
  ./build/js/tavik-*.tgz
echo 'export * from "tavik";' >"$consumer/entry.js"
mkdir -p build/bench
node bench/js_bench.mjs "$consumer/entry.js" build/wasm/js/bench-lanes.wasm \
  build/release/native_rounds "$rounds" | tee build/bench/js.md
