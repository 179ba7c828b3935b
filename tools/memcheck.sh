#!/usr/bin/env bash
# Runs the pytest suite under Valgrind's memcheck against tavik installed from this tree into
# the development environment (build/venvs/dev), with the interpreter's own allocator off
# (PYTHONMALLOC=malloc), and fails if memcheck finds a definite leak whose allocation stack
# passes through the extension, or any invalid access in it. Slow (tens of times the normal
# run): not part of the test command.
#   tools/memcheck.sh [PYTEST ARGS...]    (default: the suite without its 100 MB inputs)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

mkdir -p build
log=build/memcheck.log
args=("$@")
if ((${#args[@]} == 0)); then
  args=(tests/python -k "not 100_mb and not huge_non_ascii")
fi
python="$(dev_python)"
"$python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps .
# A short leak loop is enough here: memcheck sees every lost block itself.
status=0
TAVIK_LEAK_ROUNDS=20 PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full \
  --show-leak-kinds=definite --errors-for-leak-kinds=definite --num-callers=40 \
  --log-file="$log" "$python" -P -m pytest -q -p no:cacheprovider "${args[@]}" || status=$?

# Memcheck also reports the interpreter's own false alarms (glibc's vector string functions,
# CPython's integer caches); only reports whose stack passes through the module count.
"$python" - "$log" <<'PY'
import re
import sys

text = open(sys.argv[1]).read()
# Each report is a block of lines starting with ==PID==, separated by blank report lines.
blocks = re.split(r"\n==\d+== \n", text)
ours = [b for b in blocks if re.search(r"tavik\.cpython|tavik::", b)]
leaks = [b for b in ours if "definitely lost" in b]
invalid = [b for b in ours if re.search(r"Invalid (read|write|free)|uninitialised|Mismatched", b)]
summary = re.findall(r"definitely lost: [\d,]+ bytes in [\d,]+ blocks", text)
print("memcheck:", "; ".join(summary) or "no leak summary",
      f"| reports through the module: {len(leaks)} definite leaks, {len(invalid)} memory errors")
for block in leaks + invalid:
    print(block)
sys.exit(1 if leaks or invalid else 0)
PY
exit "$status"
