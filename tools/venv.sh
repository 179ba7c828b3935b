# Sourced by the scripts of tools/ and bench/. Every Python package that they install goes into
# a virtual environment under build/venvs/, never into an interpreter itself, so running them
# changes no Python installation of the machine.
#   find_python MINOR          prints a working CPython 3.MINOR (PATH first, then pyenv), or
#                              nothing when there is none
#   make_venv DIR PYTHON [PACKAGE...]
#                              DIR as a virtual environment of PYTHON (made anew when missing
#                              or broken), with the packages installed in it
#   dev_python                 the development environment (build/venvs/dev: pytest, mypy,
#                              numpy, pyarrow, atheris); prints its interpreter

find_python() {
  local minor=$1 candidate found=""
  for candidate in "$(command -v "python3.$minor" || true)" \
                   "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3; do
    # A pyenv shim exists for every installed version but runs only the selected one.
    if [ -x "$candidate" ] && "$candidate" -c "" 2>/dev/null; then found=$candidate; fi
  done
  if [ -n "$found" ]; then
    "$found" -c 'import os, sys; print(os.path.realpath(sys.executable))'
  fi
}

make_venv() {
  local dir=$1 python=$2
  shift 2
  if ! "$dir/bin/python" -c "" 2>/dev/null; then
    rm -rf "$dir"
    "$python" -m venv "$dir"
  fi
  if (($#)); then
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "$@"
  fi
}

dev_python() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  make_venv "$root/build/venvs/dev" python3 "pytest>=7" "mypy>=1.8" numpy pyarrow "atheris>=2.3" >&2
  echo "$root/build/venvs/dev/bin/python"
}
