#!/usr/bin/env bash
# Runs the benchmarks of tavik and writes bench/results.md (tables) and bench/results.png (the
# chart the README shows):
#   1. the C++ core benchmark (Google Benchmark; release preset), with its floor ratios;
#   2. the Python benchmark in its own virtual environment (build/venvs/bench) with tavik built
#      from this tree and the peer libraries, against the floor measured in step 1;
#   3. the hashing in lanes against one chain (C++), the bulk methods against the floor, and two
#      threads over one codec (bench/bulk_bench.py), and the core's bulk methods against the bare
#      lane hashing of their own compressions (tavik_bulk_limit);
#   4. the command line on a million UUIDs: encode, decode and the pipe (bench/cli_bench.py);
#   5. the C interface against the core it calls, single calls and bulk forms
#      (tavik_capi_bench);
#   6. the JavaScript package in Node (WebAssembly) against the C library, and the portable
#      SHA-256 and the SIMD lanes in WebAssembly (bench/js_bench.sh, which builds the package);
#   7. the bulk methods over Arrow columns, pandas and Polars (bench/arrow_bench.py);
#   8. key rotation: two keys against one (C++ and Python), the rate of words passing a second
#      key's check, and `tavik rekey` of a million words (keyring_bench.cc, rekey_bench.py).
# Installs what it needs first. Usage: bash bench/run.sh [--quick]
#   --quick  a smoke run of a few seconds that only checks that everything executes; it writes
#            to build/bench-smoke/ and leaves bench/results.* alone.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
if [ "${1:-}" = "--quick" ]; then quick=1; fi

source tools/venv.sh
bash tools/install_deps.sh

out_dir=bench
core_args=(--benchmark_repetitions=15 --benchmark_enable_random_interleaving=true
           --benchmark_report_aggregates_only=true --benchmark_min_time=0.2)
py_args=(--rounds 15 --target-seconds 0.02)
bulk_args=(--rounds 15)
cli_args=(--rounds 5)
capi_rounds=31
js_rounds=15
arrow_args=(--rounds 5)
if ((quick)); then
  out_dir=build/bench-smoke
  core_args=(--benchmark_min_time=0.001)
  py_args=(--rounds 1 --target-seconds 0.0005)
  bulk_args=(--rounds 1)
  cli_args=(--rounds 1 --count 2000)
  capi_rounds=1
  js_rounds=1
  arrow_args=(--rounds 1 --rows 4000 --pandas-rows 1000)
fi
mkdir -p "$out_dir" build/bench

echo "== C++ core benchmark"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target tavik_core_bench tavik_lanes_bench \
  tavik_capi_bench tavik_lane_choice tavik_bulk_limit tavik_keyring_bench
build/release/bench/tavik_core_bench "${core_args[@]}" \
  --benchmark_out=build/bench/core.json --benchmark_out_format=json

echo "== Python benchmark"
venv=build/venvs/bench
make_venv "$venv" python3 -r bench/requirements.txt
# tavik from this tree, built in a folder of its own.
"$venv/bin/python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps \
  -C build-dir=build/bench-wheel .
# The floor from Python: an empty METH_FASTCALL method, and one that runs the 18 chained
# compressions of an encode (linked with the core library built above).
py_include=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
ext_suffix=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
c++ -std=c++20 -O2 -shared -fPIC -I. -I"$py_include" bench/floor_call.cc \
  build/release/libtavik_core.a -o "build/bench/floor_call$ext_suffix"
# The script's own folder comes first on sys.path, not the tree's root, so the installed tavik
# is the one imported.
PYTHONPATH=build/bench "$venv/bin/python" bench/py_bench.py "${py_args[@]}" \
  --core-json build/bench/core.json --out-md "$out_dir/results.md" --out-png "$out_dir/results.png"

echo "== Lanes"
lanes_args=(--benchmark_repetitions=5 --benchmark_min_time=0.2)
if ((quick)); then lanes_args=(--benchmark_min_time=0.001); fi
build/release/bench/tavik_lanes_bench "${lanes_args[@]}" >build/bench/lanes.txt
sed -n '/^backend:/p; /^Per value/,$p' build/bench/lanes.txt
{ echo; echo "## SHA-256 in lanes"; echo
  echo "Each lane path against the single chain, on the same values in the same run."
  echo; echo '```'; sed -n '/^backend:/p; /^Per value/,$p' build/bench/lanes.txt
  echo '```'; } >>"$out_dir/results.md"

echo "== Lane count by measurement"
choice_runs=20
if ((quick)); then choice_runs=2; fi
build/release/bench/tavik_lane_choice "$choice_runs" | tee build/bench/lane_choice.txt
{ echo; echo "## The lane count by measurement"; echo
  echo "The measurement that chooses the lane count on first use, made $choice_runs times in one run."
  echo; echo '```'; cat build/bench/lane_choice.txt; echo '```'; } >>"$out_dir/results.md"

echo "== Bulk methods"
PYTHONPATH=build/bench "$venv/bin/python" bench/bulk_bench.py "${bulk_args[@]}" \
  --out build/bench/bulk.md
{ echo; cat build/bench/bulk.md; } >>"$out_dir/results.md"

echo "== Bulk methods against their lanes"
limit_rounds=31
if ((quick)); then limit_rounds=1; fi
build/release/bench/tavik_bulk_limit "$limit_rounds" | tee build/bench/bulk_limit.md
{ echo; echo "## Bulk methods against their lanes' bare hashing"; echo
  echo "core::encode_many and decode_many per identifier against the same compressions run bare in"
  echo "the same lanes (the cipher's and the check HMAC's, a batch at a time), timed back to back in"
  echo "every round; the ratio is the median of the rounds' ratios."
  echo; echo "Processor: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores."
  echo; cat build/bench/bulk_limit.md; } >>"$out_dir/results.md"

echo "== Command line"
"$venv/bin/python" bench/cli_bench.py "${cli_args[@]}" | tee build/bench/cli.txt
{ echo; echo "## Command line"; echo; echo '```'; cat build/bench/cli.txt; echo '```'; } \
  >>"$out_dir/results.md"
echo "== C interface"
build/release/bench/tavik_capi_bench "$capi_rounds" | tee build/bench/capi.md
{ echo; echo "## C interface"; echo
  echo "tavik_encode and tavik_decode through the shared library against the core's own calls,"
  echo "and the bulk forms against the core's lanes path, per item; each ratio is the median of"
  echo "the rounds' ratios ($capi_rounds rounds of 2048 items, one run)."
  echo; echo "Processor: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores."
  echo; cat build/bench/capi.md; } >>"$out_dir/results.md"
echo "== JavaScript"
bash bench/js_bench.sh "$js_rounds" >/dev/null
{ echo; echo "## JavaScript and WebAssembly"; echo; cat build/bench/js.md; } >>"$out_dir/results.md"
echo "== Arrow columns"
PYTHONPATH=build/bench "$venv/bin/python" bench/arrow_bench.py "${arrow_args[@]}" \
  --out build/bench/arrow.md
{ echo; cat build/bench/arrow.md; } >>"$out_dir/results.md"
echo "== Key rotation"
keyring_args=()
rekey_args=(--rounds 5)
if ((quick)); then keyring_args=(--slices 3 --samples 10000); rekey_args=(--rounds 1 --count 2000); fi
{ build/release/bench/tavik_keyring_bench "${keyring_args[@]}"
  "$venv/bin/python" bench/rekey_bench.py "${rekey_args[@]}"; } | tee build/bench/keyring.txt
{ echo; echo "## Key rotation"; echo; echo '```'; cat build/bench/keyring.txt; echo '```'; } \
  >>"$out_dir/results.md"
echo "wrote $out_dir/results.md and $out_dir/results.png"
