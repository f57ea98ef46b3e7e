#!/usr/bin/env bash
# Host tests in C, Fortran and Python: installs what they need when it is
# missing (Debian packages: cmake, g++, pkgconf, libgtest-dev, gfortran,
# python3-numpy, python3-pytest), builds the library and the hosts in
# build-hosts/ and runs the CTest tests labelled "hosts": the Fortran
# fault-study road, the Python tests under Debian's /usr/bin/python3 (the
# fault-study and fast decoupled roads on case30 against numpy), and the
# install test (find_package and pkg-config hosts built against an installed
# tree). Non-interactive; run from anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v pkg-config >/dev/null || need+=(pkgconf)
command -v gfortran >/dev/null || need+=(gfortran)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ! -x /usr/bin/python3 ]; then
  need+=(python3 python3-numpy python3-pytest)
else
  /usr/bin/python3 -c 'import numpy' 2>/dev/null || need+=(python3-numpy)
  /usr/bin/python3 -c 'import pytest' 2>/dev/null || need+=(python3-pytest)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing ${need[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

echo "== host tests (C, Fortran, Python)"
cmake -S . -B build-hosts -DORVEK_BUILD_TESTS=ON -DORVEK_BUILD_FORTRAN=ON >/dev/null
cmake --build build-hosts -j2 --target orvek_hosts
ctest --test-dir build-hosts -L hosts --output-on-failure --no-tests=error
