#!/usr/bin/env bash
# Tests the JavaScript face built by tools/build_js.sh (which it runs first unless --no-build):
#   1. node --test in js/: every known answer and failure, and the package's own behaviour,
#      through the packed package installed offline into an empty folder; under the machine's
#      Node and under Node 18, the oldest the package supports;
#   2. the package's types: tsc --strict compiles js/tests/types/usage.ts against the installed
#      tavik.d.ts (the misuses it marks must fail);
#   3. the playground page in headless Chromium (tests/browser/playground_test.py, selenium in
#      build/venvs/browser): load, encode, decode, recovery, a settings change, no request after
#      load; screenshots in build/js/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

if [ "${1:-}" != --no-build ]; then bash tools/build_js.sh; fi
echo "== Node $(node --version): node --test"
(cd js && node --test)
# The package promises Node 18 as well: the same tests under Node 18.4, the official build that
# PyPI's nodejs-bin carries, in a virtual environment of its own.
make_venv build/venvs/node18 python3 "nodejs-bin==18.4.0a4" 2>&1 | grep -v "^WARNING: Location" || true
node18=$(build/venvs/node18/bin/python -c \
  'import nodejs, os; print(os.path.join(os.path.dirname(nodejs.__file__), "bin", "node"))')
echo "== Node $("$node18" --version): node --test"
(cd js && "$node18" --test)

echo "== TypeScript $(tsc --version | sed 's/Version //'): the package's types"
consumer=$(mktemp -d "$PWD/build/js/types-XXXXXX")
trap 'rm -rf "$consumer"' EXIT
echo '{"private": true}' >"$consumer/package.json"
npm install --silent --offline --no-audit --no-fund --cache build/js/npm-cache --prefix "$consumer" \
  ./build/js/tavik-*.tgz
cp js/tests/types/usage.ts js/tests/types/shims.d.ts "$consumer/"
(cd "$consumer" && tsc --noEmit --strict --target es2020 --module es2020 --moduleResolution node \
   --lib es2020,dom usage.ts shims.d.ts)
echo "types: ok"

echo "== the playground page in Chromium ($(chromium --version 2>/dev/null | head -1))"
make_venv build/venvs/browser python3 "selenium>=4.10" 2>&1 | grep -v "^WARNING: Location" || true
rm -rf build/js/screenshots
build/venvs/browser/bin/python tests/browser/playground_test.py build/web build/js/screenshots \
  build/js/tavik-*.tgz
