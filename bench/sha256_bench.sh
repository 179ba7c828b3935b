#!/usr/bin/env bash
# Measures the SHA-256 block functions and the ways to one HMAC (bench/sha256_bench.cc), once
# for each x86-64 code path of OpenSSL's SHA-256, which the OPENSSL_ia32cap environment
# variable selects by hiding processor features from OpenSSL. Our own functions choose by the
# processor alone, so they measure the same in every run and show how steady the machine was.
# Each run prints a table of the fastest and median time per call, and the ratio of each
# fastest time to that of OpenSSL's block function in the same run.
#   bash bench/sha256_bench.sh [seconds per run, default 4]
# OpenSSL 3.0 takes, in this order: the SHA instructions; AVX2 with BMI1 and BMI2; AVX (on
# Intel processors only); SSSE3; plain x86-64 code. The masks below clear, in its second word
# (CPUID leaf 7 EBX), SHA (bit 29) and AVX2 (bit 5), and in its first word SSSE3 (bit 41).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-4}

bash tools/install_deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target tavik_sha256_bench
bin=build/release/bench/tavik_sha256_bench
# One core of its own, where there is a second, keeps the timed code from moving.
pin=()
if command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ]; then pin=(taskset -c 1); fi
mkdir -p build/bench

run() {
  local label=$1 caps=$2 log=build/bench/sha256-$3.txt
  echo "== OpenSSL with $label"
  if [ -z "$caps" ]; then
    env -u OPENSSL_ia32cap "${pin[@]}" "$bin" "$seconds" | tee "$log"
  else
    OPENSSL_ia32cap=$caps "${pin[@]}" "$bin" "$seconds" | tee "$log"
  fi
}
run "every feature it finds" "" all
run "no SHA instructions (its AVX2 code)" ":~0x20000000" no-sha
run "no SHA, no AVX2 (its SSSE3 code on AMD)" ":~0x20000020" no-avx2
run "no SHA, AVX2, SSSE3 (its plain x86-64 code)" "~0x20000000000:~0x20000020" plain
echo "tables kept in build/bench/sha256-*.txt"
