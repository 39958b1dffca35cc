# Sourced by every script that needs something set up: Debian packages, Python 3.13, the project's
# venv (.venv) and this checkout's module in it. The one place each of those is done.

# ensure_debian_packages [--no-install-recommends] PACKAGE...: installs PACKAGEs (those a script
# found missing; none is nothing to do), from the package index as it is, else after refreshing
# it. Needs root; otherwise says what to install and fails.
ensure_debian_packages() {
  local options=()
  if [ "${1:-}" = --no-install-recommends ]; then
    options+=("$1")
    shift
  fi
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "missing: $*; install them (apt-get install $*) and run again" >&2
    return 1
  fi
  echo "== installing $*" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q "${options[@]}" "$@" >/dev/null ||
    { apt-get update -q >/dev/null && apt-get install -y -q "${options[@]}" "$@" >/dev/null; }
}

# The interpreter to build a venv from: $TARVIK_PYTHON, pyenv's 3.13.0, else python3.13 on PATH.
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

# ensure_venv ROOT PACKAGE...: makes ROOT/.venv when it is missing, installs the PyPI packages
# into it and prints its directory.
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
