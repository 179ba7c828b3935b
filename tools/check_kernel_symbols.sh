#!/usr/bin/env bash
# Checks that the objects compiled for instruction sets the processor may lack (the lane
# kernels, fpe/lanes_{sha,sha_vl,avx2,avx512}.cc) define nothing but their entry points. Any
# other function with external linkage there, such as an inline function of a shared header,
# could be the copy the linker keeps for the whole program, and then run on a processor
# without those instructions. Usage: check_kernel_symbols.sh NM LIBRARY.a
set -euo pipefail
nm_program=$1
library=$2
kernels='^lanes_(sha|sha_vl|avx2|avx512)\.cc\.o:$'
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
    T) [[ $name =~ ^_ZN5tavik3fpe5lanes[0-9]+(round_heads|hmac_blocks)_ ]] || {
         echo "$member: unexpected external function $name"; status=1; } ;;
    *) echo "$member: symbol of type $type: $name"; status=1 ;;
  esac
done < <("$nm_program" --defined-only "$library")
if ((found != 4)); then
  echo "expected the four kernel objects in $library, found $found"
  status=1
fi
exit $status
