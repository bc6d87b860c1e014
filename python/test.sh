#!/usr/bin/env bash
# Installs what is missing (Debian packages), builds the orv Python package
# from this repository, installs it into a virtual environment on Debian's
# python3 (which sees python3-numpy and python3-pytest) and runs its tests.
#   python/test.sh [pytest arguments]
# Offline: pip is given the local folder only (--no-index) and the build
# backend needs nothing but the standard library.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="${ORV_PYTHON_BUILD:-$root/build-python}"
py=/usr/bin/python3   # Debian's interpreter: its dist-packages hold numpy, pybind11 and pytest

packages=(cmake ninja-build g++ python3 python3-dev python3-venv pybind11-dev python3-numpy python3-pytest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "python/test.sh: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

venv="$build/venv"
if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c 'import numpy, pytest' 2>/dev/null; then
  rm -rf "$venv"
  "$py" -m venv --system-site-packages "$venv"
fi
export ORV_PYTHON_BUILD="$build"
"$venv/bin/python" -m pip install --no-index --no-deps --force-reinstall --disable-pip-version-check -q "$here"

# OrvEnc from the same library build, for the tests that compare streams with it.
cmake --build "$build/lib" --target OrvEnc -j "${ORV_BUILD_JOBS:-2}" >/dev/null
export ORV_BIN_DIR="$build/lib"

# From the tests folder, so that the installed package is imported, not python/orv.
# A run that collects no test exits 5 and fails here like any other failure.
cd "$here/tests"
exec "$venv/bin/python" -m pytest -p no:cacheprovider -rs "$@" .
