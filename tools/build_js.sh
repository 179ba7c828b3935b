#!/usr/bin/env bash
# Builds the JavaScript face of tavik, installing what it needs first (tools/install_deps.sh js):
#   1. the C interface (capi/ over core/) as WebAssembly with Debian's emscripten, through
#      CMake (emcmake; the same source lists as the native library): build/wasm/js/tavik.wasm,
#      and the hashing benchmark's module bench-lanes.wasm;
#   2. the npm package (js/: the ES module, its types, its status table generated from
#      include/tavik.h, the .wasm) staged in build/js/package/ and packed into
#      build/js/tavik-<version>.tgz, which installs offline with npm for Node 18 or newer;
#   3. the playground page (web/), bundled with esbuild against the packed package as a
#      browser bundle would be, the .wasm inside the bundle: build/web/.
# Usage: bash tools/build_js.sh [--no-simd]   (--no-simd: a module without WebAssembly SIMD)
set -euo pipefail
cd "$(dirname "$0")/.."

simd=ON
[ "${1:-}" = --no-simd ] && simd=OFF

bash tools/install_deps.sh js

# Debian's emscripten runs on the system's Node and needs Debian's node-acorn to do so.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

version=$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' src/tavik/__init__.py)
[ -n "$version" ] || { echo "no __version__ in src/tavik/__init__.py" >&2; exit 1; }

echo "== WebAssembly (emscripten $(emcc --version | sed -n '1s/.* \([0-9][0-9.]*\) .*/\1/p'), SIMD $simd)"
emcmake cmake -S . -B build/wasm -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIK_BUILD_TESTS=OFF \
  -DTAVIK_BUILD_PYTHON=OFF -DTAVIK_BUILD_CAPI=OFF -DTAVIK_WASM_SIMD=$simd >build/wasm-configure.log 2>&1 ||
  { cat build/wasm-configure.log; exit 1; }
cmake --build build/wasm -j2 --target tavik_wasm tavik_wasm_bench

echo "== npm package $version"
stage=build/js/package
rm -rf "$stage" && mkdir -p "$stage"
cp js/src/tavik.js js/src/tavik.d.ts js/README.md LICENSE "$stage/"
cp build/wasm/js/tavik.wasm "$stage/"
node js/scripts/statuses.mjs include/tavik.h >"$stage/statuses.js"
node -e '
  const fs = require("fs");
  const [src, dst, version] = process.argv.slice(1);
  const pkg = JSON.parse(fs.readFileSync(src, "utf8"));
  pkg.version = version;
  delete pkg.scripts;  // the tests stay in the repository
  fs.writeFileSync(dst, JSON.stringify(pkg, null, 2) + "\n");
' js/package.json "$stage/package.json" "$version"
# The module needs nothing from outside but the two imports the loader answers.
node -e '
  const fs = require("fs");
  const m = new WebAssembly.Module(fs.readFileSync(process.argv[1]));
  const allowed = ["env.emscripten_notify_memory_growth", "wasi_snapshot_preview1.proc_exit"];
  const other = WebAssembly.Module.imports(m).map((i) => `${i.module}.${i.name}`)
    .filter((name) => !allowed.includes(name));
  if (other.length) { console.error("tavik.wasm imports", other.join(", ")); process.exit(1); }
' "$stage/tavik.wasm"
rm -f build/js/tavik-*.tgz
npm pack --silent --cache build/js/npm-cache --pack-destination build/js "./$stage" >/dev/null
ls -l "build/js/tavik-$version.tgz" | awk '{print $5, $9}'

echo "== playground page"
# The page imports "tavik" as any application would: from the packed package, installed.
app=build/js/web-app
rm -rf "$app" && mkdir -p "$app"
echo '{"private": true}' >"$app/package.json"
npm install --silent --offline --no-audit --no-fund --cache build/js/npm-cache --prefix "$app" \
  "./build/js/tavik-$version.tgz"
rm -rf build/web && mkdir -p build/web
cp web/index.html web/style.css build/web/
NODE_PATH="$PWD/$app/node_modules" esbuild web/app.js --bundle --format=esm --platform=browser \
  --target=es2020,chrome100,firefox100,safari15 --loader:.wasm=binary --minify \
  --log-level=warning --outfile=build/web/app.js
ls -l build/web | awk 'NR > 1 {print $5, $9}'
