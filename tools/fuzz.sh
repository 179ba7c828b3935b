#!/usr/bin/env bash
# Runs every fuzz target for a given time:  tools/fuzz.sh [SECONDS] [TARGET...]
#   decode_fuzz, roundtrip_fuzz, chunk_fuzz: libFuzzer targets of the codec library;
#   settings_fuzz: tavik_codec_new of the C interface with hostile settings texts and keys;
#   python_fuzz: atheris on the Python surface of the extension (atheris from the development
#   environment, build/venvs/dev).
# The fuzz preset builds them with clang, AddressSanitizer and UBSan (and coverage for the
# fuzzer in the library and the extension). Each target starts from its seeds in
# tests/fuzz/corpus/TARGET and writes what it finds to build/fuzz/corpus/TARGET; a crashing
# input lands in build/fuzz/crashes/ and fails the script. Default: 20 seconds, every target.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/venv.sh

seconds="${1:-20}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(decode_fuzz roundtrip_fuzz chunk_fuzz settings_fuzz python_fuzz)
fi

# The interpreter of the development environment (build/venvs/dev, with atheris), for which
# the extension is built.
python="$(dev_python)"
cmake --preset fuzz -DPython_EXECUTABLE="$python" >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# The extension of the fuzz build, as a package of its own, for the atheris target.
package_dir=build/fuzz/python
if [[ " ${targets[*]} " == *" python_fuzz "* ]]; then
  rm -rf "$package_dir" && mkdir -p "$package_dir/tavik"
  cp src/tavik/__init__.py "$package_dir/tavik/"
  cp build/fuzz/tavik.*.so "$package_dir/tavik/"
fi

mkdir -p build/fuzz/crashes
status=0
for target in "${targets[@]}"; do
  corpus="build/fuzz/corpus/$target"
  seeds="tests/fuzz/corpus/$target"
  mkdir -p "$corpus" "$seeds"
  options=(-max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="build/fuzz/crashes/$target-")
  echo "== fuzz $target for ${seconds}s"
  if [ "$target" = python_fuzz ]; then
    runtime="$("$python" -c \
      'import atheris, os; print(os.path.join(atheris.path(), "asan_with_fuzzer.so"))')"
    # The interpreter's own allocations are not checked for leaks; the extension's are
    # checked by the sanitizer and memcheck runs.
    LD_PRELOAD="$runtime" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
      UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 PYTHONPATH="$package_dir" \
      "$python" -P tests/fuzz/python_fuzz.py "${options[@]}" "$corpus" "$seeds" || status=1
  else
    "build/fuzz/tests/fuzz/$target" "${options[@]}" "$corpus" "$seeds" || status=1
  fi
done
exit "$status"
