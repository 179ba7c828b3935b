#!/usr/bin/env bash
# Makes build/arm64-root: a minimal Debian bookworm for arm64, made from Debian's packages by
# debootstrap and run under emulation (qemu-user-static through binfmt_misc). It serves twice:
#   - as the sysroot of the aarch64 cross build of the C++ suite (GoogleTest and OpenSSL's
#     libcrypto, the tests' reference, for arm64) and as the library root qemu-aarch64 runs it in;
#   - as an arm64 CPython 3.11 (Debian's) that installs the cp311 aarch64 wheel and runs pytest.
# A root made by an earlier run with the same package list is kept: a rerun takes a second.
#   tools/arm64_root.sh [ROOT]            (default: build/arm64-root; needs root for chroot)
set -euo pipefail
cd "$(dirname "$0")/.."

root=${1:-build/arm64-root}
packages=python3,python3-venv,libgtest-dev,libssl-dev,libstdc++-12-dev,libc6-dev
mirror=${TAVIK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
stamp="bookworm arm64 $packages"

# binfmt_misc runs arm64 programs through qemu-aarch64-static, inside the chroot too (the F flag
# of Debian's registration opens the emulator once, outside).
if ! [ -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
fi
if ! [ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  cat /usr/lib/binfmt.d/qemu-aarch64.conf >/proc/sys/fs/binfmt_misc/register
fi

if [ "$(cat "$root/.tavik-root" 2>/dev/null)" = "$stamp" ]; then
  echo "arm64 root: $root (kept from an earlier run)"
  exit 0
fi
rm -rf "$root"
mkdir -p "$(dirname "$root")"
log=$(dirname "$root")/arm64-root.log
start=$SECONDS
# The first stage unpacks on this machine; the second configures the packages inside the root,
# under emulation.
if ! debootstrap --variant=minbase --arch=arm64 --foreign --include="$packages" bookworm \
     "$root" "$mirror" >"$log" 2>&1 ||
   ! chroot "$root" /debootstrap/debootstrap --second-stage >>"$log" 2>&1; then
  tail -30 "$log" >&2
  echo "debootstrap of the arm64 root failed: $log" >&2
  exit 1
fi
# Name resolution for pip inside the root.
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "$stamp" >"$root/.tavik-root"
echo "arm64 root: $root, made in $((SECONDS - start)) s ($(chroot "$root" python3 --version))"
