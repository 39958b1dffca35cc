# Sourced by scripts/demo and scripts/test: creates the project's venv (.venv) from Python 3.13
# when it is missing and installs the named PyPI packages into it.

# The interpreter to build the venv from: pyenv's 3.13.0, else python3.13 on PATH.
find_python313() {
  local candidate
  for candidate in "${TARVIK_PYTHON:-}" "$HOME/.pyenv/versions/3.13.0/bin/python3" \
    "$(command -v python3.13 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  echo "no Python 3.13 found (tried ~/.pyenv/versions/3.13.0 and python3.13 on PATH)" >&2
  return 1
}

# ensure_venv ROOT PACKAGE...: prints the venv's directory.
ensure_venv() {
  local root=$1
  shift
  local venv=$root/.venv python
  if [ ! -x "$venv/bin/python" ]; then
    python=$(find_python313) || return 1
    "$python" -m venv "$venv" >&2 || return 1
  fi
  "$venv/bin/python" -m pip install -q --disable-pip-version-check "$@" >&2 || return 1
  echo "$venv"
}

# install_module ROOT VENV: builds this checkout's module into the venv, warnings as errors. The
# build directory under build/wheel is kept between runs, so a rebuild compiles only what changed.
install_module() {
  "$2/bin/python" -m pip install -q --disable-pip-version-check --no-build-isolation \
    --config-settings=cmake.define.TARVIK_WERROR=ON "$1" >&2
}
