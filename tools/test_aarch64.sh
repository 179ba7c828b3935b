#!/usr/bin/env bash
# Tests tavik for aarch64 on an x86-64 machine, under emulation (qemu-user):
#   1. the C++ suite, cross-compiled (preset aarch64, Debian's g++-aarch64-linux-gnu against the
#      arm64 root of tools/arm64_root.sh), run by CTest through qemu-aarch64 twice: on a
#      processor with the SHA-2 instructions (qemu's "max") and on one without them. qemu 7.2
#      offers no processor model without them, so the second run hides them where a program
#      asks: a preloaded getauxval() clears HWCAP_SHA2 from AT_HWCAP
#      (tests/support/hide_hwcap_sha2.c). A probe shows both answers first;
#   2. the cp311 aarch64 wheel of build/wheels/ (tools/build_wheels.sh) installed with pytest and
#      NumPy from PyPI into a virtual environment of the root's CPython 3.11 (Debian's, arm64),
#      and the part of the pytest suite that concerns the processor run against it: the known
#      answers, settings texts, round trips, bulk calls, the surface, the keyring and threads
#      (finalization inside bulk calls included). The column libraries, Dask and mypy are left to
#      the x86-64 runs: installing them under emulation alone takes a quarter of an hour. Then
#      the known answers once more without the SHA-2 instructions. The cp312 and cp313 wheels have no arm64 interpreter here (bookworm has
#      3.11 only): they are built from the same sources by the same cross compiler, and pass the
#      same checks of the wheel (tools/build_wheels.sh).
#   tools/test_aarch64.sh [cpp|wheel]...     (default: both; needs root for chroot and mount)
set -euo pipefail
cd "$(dirname "$0")/.."

parts=("$@")
if ((${#parts[@]} == 0)); then parts=(cpp wheel); fi
root=build/arm64-root
jobs=$(nproc)
bash tools/arm64_root.sh "$root"

# The preloaded getauxval that hides the SHA-2 instructions, and a probe of what a program sees.
no_sha2_dir=build/aarch64-no-sha2
mkdir -p "$no_sha2_dir"
cat >"$no_sha2_dir/probe.c" <<'EOF'
#include <asm/hwcap.h>
#include <stdio.h>
#include <sys/auxv.h>
int main(void) {
  printf("sha2=%d\n", (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0);
  return 0;
}
EOF
aarch64-linux-gnu-gcc -O1 -shared -fPIC -o "$no_sha2_dir/no_sha2.so" \
  tests/support/hide_hwcap_sha2.c -ldl
aarch64-linux-gnu-gcc -O2 -o "$no_sha2_dir/probe" "$no_sha2_dir/probe.c"
no_sha2="$PWD/$no_sha2_dir/no_sha2.so"
with_sha2=$(qemu-aarch64 -L "$root" "$no_sha2_dir/probe")
without_sha2=$(QEMU_SET_ENV=LD_PRELOAD="$no_sha2" qemu-aarch64 -L "$root" "$no_sha2_dir/probe")
echo "aarch64 under qemu: $with_sha2; with the preloaded getauxval: $without_sha2"
if [ "$with_sha2" != sha2=1 ] || [ "$without_sha2" != sha2=0 ]; then
  echo "the emulated processor does not show and hide the SHA-2 instructions as expected" >&2
  exit 1
fi

for part in "${parts[@]}"; do
  case $part in
    cpp)
      echo "== C++ tests on aarch64 (qemu-aarch64)"
      cmake --preset aarch64 >/dev/null
      cmake --build --preset aarch64 -j "$jobs"
      # Tests that start the test program themselves reach qemu through binfmt_misc: the
      # root's dynamic loader for them too.
      export QEMU_LD_PREFIX="$PWD/$root"
      # Left out here: the check of the includes, which is the same on every processor (the
      # dev preset runs it) and which CMake would start through the emulator; and the whole
      # suite once more per backend, which emulation makes too slow for CI: the known code words
      # and the bulk tests already run on every backend the emulated processor has.
      skip='^(Layers\.IncludesPointDown|Backends\.TheSuiteOnEveryBackend)$'
      echo "-- with the SHA-2 instructions"
      ctest --preset aarch64 -j "$jobs" -E "$skip"
      echo "-- without the SHA-2 instructions"
      QEMU_SET_ENV=LD_PRELOAD="$no_sha2" ctest --preset aarch64 -j "$jobs" -E "$skip"
      ;;
    wheel)
      wheels=(build/wheels/tavik-*-cp311-*_aarch64.whl)
      if ! [ -f "${wheels[0]}" ]; then
        echo "no cp311 aarch64 wheel in build/wheels/: run tools/build_wheels.sh first" >&2
        exit 1
      fi
      echo "== $(basename "${wheels[0]}") in the arm64 root's CPython 3.11 (qemu-aarch64)"
      # The project's files (what the tests read) and the wheel, copied in afresh.
      rm -rf "$root/tavik" && mkdir -p "$root/tavik"
      git ls-files -z | xargs -0 cp --parents -t "$root/tavik/"
      cp "${wheels[0]}" "$root/tavik/"
      cp "$no_sha2" "$root/tavik/no_sha2.so"
      # pip checks PyPI's certificate against this machine's authorities.
      mkdir -p "$root/etc/ssl/certs"
      cp "${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}" "$root/etc/ssl/certs/host-ca.crt"
      # In a mount namespace of its own: /proc and /dev/shm for the root, gone when it ends.
      unshare --mount --fork sh -c '
        set -e
        mount -t proc proc "$1/proc"
        mount -t tmpfs tmpfs "$1/dev/shm"
        exec chroot "$1" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
          PIP_CERT=/etc/ssl/certs/host-ca.crt PIP_DISABLE_PIP_VERSION_CHECK=1 \
          sh -c "$2"' sh "$root" '
        set -e
        # The environment stays in the root with it (installing under emulation is slow); the
        # wheel is installed anew each time.
        [ -x /opt/tavik-venv/bin/python ] || python3 -m venv /opt/tavik-venv
        . /opt/tavik-venv/bin/activate
        cd /tavik
        pip install -q --only-binary=:all: pytest numpy
        pip install -q --no-deps --force-reinstall tavik-*.whl
        python -P -c "import tavik, tavik.tavik as m; print(\"tavik\", tavik.__version__, \"from\", m.__file__)"
        python -m pytest -q -p no:cacheprovider tests/python/test_codewords.py \
          tests/python/test_settings.py tests/python/test_roundtrip.py tests/python/test_bulk.py \
          tests/python/test_surface.py tests/python/test_keyring.py tests/python/test_threads.py
        echo "-- the known answers without the SHA-2 instructions"
        LD_PRELOAD=/tavik/no_sha2.so python -m pytest -q -p no:cacheprovider tests/python/test_codewords.py'
      ;;
    *)
      echo "unknown part: $part (cpp or wheel)" >&2
      exit 1
      ;;
  esac
done
