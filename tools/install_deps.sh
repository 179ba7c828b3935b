#!/usr/bin/env bash
# Installs what building and testing tavik needs, where it is missing: Debian packages for
# the compilers (clang and its sanitizer and libFuzzer runtimes for the fuzz targets), OpenSSL
# and GoogleTest, and Python packages with pip (atheris for the Python fuzz target). Safe to
# run again.
set -euo pipefail

debian_packages=(g++ libssl-dev libgtest-dev pkg-config clang libclang-rt-14-dev "$@")
missing=()
for pkg in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  if ! command -v apt-get >/dev/null; then
    echo "missing packages (${missing[*]}) and no apt-get to install them" >&2
    exit 1
  fi
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "installing Debian packages: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python3 -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" "cmake>=3.21" ninja "pytest>=7" "mypy>=1.8" "atheris>=2.3"
