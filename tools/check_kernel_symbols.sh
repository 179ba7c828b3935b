#!/usr/bin/env bash
# Checks that the objects compiled for instruction sets the processor may lack (the SHA
# instruction files fpe/sha256_sha.cc and fpe/feistel_sha.cc, our own rounds for BMI2 in
# fpe/sha256_bmi2.cc, and the lane kernels fpe/lanes_{sha,sha_vl,vector,vector_avx512}.cc) define nothing but their entry points. Any
# other function with external linkage there, such as an inline function of a shared header,
# could be the copy the linker keeps for the whole program, and then run on a processor
# without those instructions. Meant for optimised builds: a debug build keeps weak copies of
# every inline helper. Usage: check_kernel_symbols.sh NM LIBRARY.a
set -euo pipefail
nm_program=$1
library=$2
kernels='^(lanes_(sha|sha_vl|vector|vector_avx512)|sha256_sha|sha256_bmi2|feistel_sha)\.cc\.o:$'
status=0
member=""
found=0
while IFS= read -r line; do
  if [[ $line == *.o: ]]; then
    member=""
    if [[ $line =~ $kernels ]]; then member=${line%:}; found=$((found + 1)); fi
    continue
  fi
  [[ -n $member && -n $line ]] || continue
  type=$(awk '{print $(NF-1)}' <<<"$line")
  name=$(awk '{print $NF}' <<<"$line")
  case $type in
    t | r | d | b | n) ;;  # internal: no other object can take it
    u | V | v) ;;          # shared constant data (the round constants): no instructions
    T) [[ $name =~ ^_ZN5tavik3fpe(5lanes[0-9]+(round_heads|hmac_blocks)_|[0-9]+sha256_(compress|hmac_block|hmac_outer)_(sha|bmi2)E|7feistel[0-9]+(encrypt|decrypt|decrypt_with_mac)_sha) ]] || {
         echo "$member: unexpected external function $name"; status=1; } ;;
    *) echo "$member: symbol of type $type: $name"; status=1 ;;
  esac
done < <("$nm_program" --defined-only "$library")
if ((found != 7)); then
  echo "expected the seven objects in $library, found $found"
  status=1
fi
exit $status
