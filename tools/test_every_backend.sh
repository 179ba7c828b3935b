#!/usr/bin/env bash
# Runs the C++ test program once on every backend this processor runs (the SHA instructions
# with each lane count, our own SHA-256 with BMI2 and each vector lane path, plain C++), so
# that a backend that differs from the others fails here on any machine, not only on the
# processors that choose it. The tests that walk every backend themselves, and the three long
# walks through odd moduli (their backend runs the same code as the rest), run once, in the
# ordinary run. Usage: test_every_backend.sh TEST_PROGRAM [gtest arguments...]
# (under emulation: TAVIK_TEST_RUNNER="qemu-aarch64 -cpu max" test_every_backend.sh ...)
set -euo pipefail
program=$1
shift
runner=(${TAVIK_TEST_RUNNER:-})
skip='*EveryBackend*:Lanes.*:LanePaths.*:Sha256Forms.*:Sha256.CompressionPathsAgree'
skip+=':Codec.ModulusRefusesValuesItCannotEncipher:Feistel.KeepsTheTopBitOfOddBitCounts'
skip+=':DomainWalk.WordsThatDecipherOutsideTheModulusAreRefused'
mapfile -t backends < <(TAVIK_TEST_BACKEND=list "${runner[@]}" "$program")
if ((${#backends[@]} == 0)); then
  echo "no backend listed by $program"
  exit 1
fi
failed=0
passed=0
for name in "${backends[@]}"; do
  if TAVIK_TEST_BACKEND=$name "${runner[@]}" "$program" --gtest_filter="-$skip" --gtest_brief=1 \
       "$@" >"${TMPDIR:-/tmp}/tavik-backend-$$.log" 2>&1; then
    echo "backend $name: passed"
    passed=$((passed + 1))
  else
    echo "backend $name: FAILED"
    cat "${TMPDIR:-/tmp}/tavik-backend-$$.log"
    failed=$((failed + 1))
  fi
done
rm -f "${TMPDIR:-/tmp}/tavik-backend-$$.log"
echo "backends: $passed passed, $failed failed"
((failed == 0))
