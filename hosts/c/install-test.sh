#!/usr/bin/env bash
# Installs a built ORVEK tree into a scratch prefix and builds hosts against
# the installed files only: the C host through find_package(orvek CONFIG)
# and through pkg-config (also after moving the tree), the Fortran road
# through the installed module (when gfortran and the module are there), the
# Python package from the installed tree (when numpy is there). Checks the
# soname. Usage: install-test.sh BUILD_DIR WORK_DIR [LIBDIR]
set -u
build=$(cd "$1" && pwd)
work=$2
libdir=${3:-lib}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; }
check() { local what=$1; shift; if "$@" >"$work/last.log" 2>&1; then pass "$what"; else fail "$what"; cat "$work/last.log"; fi; }

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
check "cmake --install" cmake --install "$build" --prefix "$prefix"

lib="$prefix/$libdir"
check "header installed" test -f "$prefix/include/orvek/orvek.h"
check "library and its soname link installed" test -f "$lib/liborvek.so.1" -a -L "$lib/liborvek.so"
soname=$(objdump -p "$lib/liborvek.so" 2>/dev/null | awk '$1 == "SONAME" {print $2}')
check "soname carries the major version (liborvek.so.1, got '$soname')" test "$soname" = liborvek.so.1
check "package configuration installed" test -f "$lib/cmake/orvek/orvekConfig.cmake" \
  -a -f "$lib/cmake/orvek/orvekConfigVersion.cmake" -a -f "$lib/cmake/orvek/orvekTargets.cmake"
check "orvek.pc installed" test -f "$lib/pkgconfig/orvek.pc"

# 1. find_package(orvek CONFIG) and the imported target orvek::orvek.
check "C host configures with find_package" cmake -S "$here" -B "$work/c-cmake" -DCMAKE_PREFIX_PATH="$prefix"
check "C host builds against orvek::orvek" cmake --build "$work/c-cmake"
check "C host (CMake) runs" "$work/c-cmake/orvek-c-host"

# 2. pkg-config, in place and after the tree has been moved.
build_with_pkg_config() { # prefix output
  local pc="$1/$libdir/pkgconfig"
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror -o "$2" "$here/host.c" \
    $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs orvek) -lm
}
check "C host builds with pkg-config" build_with_pkg_config "$prefix" "$work/c-pkg-config"
check "C host (pkg-config) runs" env LD_LIBRARY_PATH="$lib" "$work/c-pkg-config"
moved="$work/moved"
cp -a "$prefix" "$moved"
cflags=$(PKG_CONFIG_PATH="$moved/$libdir/pkgconfig" pkg-config --cflags orvek | xargs)
check "orvek.pc follows a moved tree ($cflags)" test "$(cd "${cflags#-I}" && pwd)" = "$(cd "$moved/include" && pwd)"
check "C host builds from the moved tree" build_with_pkg_config "$moved" "$work/c-moved"
check "C host (moved tree) runs" env LD_LIBRARY_PATH="$moved/$libdir" "$work/c-moved"
check "find_package works from the moved tree" cmake -S "$here" -B "$work/c-cmake-moved" -DCMAKE_PREFIX_PATH="$moved"

# The installed study program finds the library through its relative RPATH,
# in place and in the moved tree, without LD_LIBRARY_PATH.
study=bin/orvek-study
if [ -f "$build/tools/orvek-study" ]; then
  runpath=$(objdump -p "$prefix/$study" 2>/dev/null | awk '$1 == "RUNPATH" || $1 == "RPATH" {print $2}')
  check "orvek-study's RUNPATH is relative to it (got '$runpath')" test "${runpath#\$ORIGIN}" != "$runpath"
  check "installed orvek-study runs" env -u LD_LIBRARY_PATH "$prefix/$study"
  check "orvek-study (moved tree) runs" env -u LD_LIBRARY_PATH "$moved/$study"
fi

# 3. The Fortran module from the installed tree.
fmoddir=$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --variable=fmoddir orvek)
if command -v gfortran >/dev/null && [ -f "$fmoddir/orvek.mod" ]; then
  # shellcheck disable=SC2046
  check "Fortran road builds against the installed module" gfortran -o "$work/fortran-road" \
    "$source_dir/hosts/fortran/fault_road.f90" -I"$fmoddir" $(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --libs orvek)
  check "Fortran road (installed) runs" env LD_LIBRARY_PATH="$lib" "$work/fortran-road"
else
  echo "skipped: Fortran module not installed (no gfortran at build time)"
fi

# 4. The Python package from the installed tree finds the installed library.
python=/usr/bin/python3
package=$(find "$prefix" -type d -name orvek -path '*-packages/orvek' | head -n 1)
if [ -x "$python" ] && "$python" -c 'import numpy' 2>/dev/null && [ -n "$package" ]; then
  check "Python package loads the installed library" env -u ORVEK_LIBRARY PYTHONPATH="$(dirname "$package")" \
    "$python" -c "
import os, orvek
assert os.path.realpath(orvek.find_library()) == os.path.realpath('$lib/liborvek.so.1'), orvek.find_library()
r = orvek.MatricaY(BSH=[], KSH=[], NSH=0, N=2, Z=[0.5j], YA=[0.25j], YB=[0.25j], NODES=[[1, 2]], NB=1)
assert r.NZ == 4 and list(r.A) == [-1.75j, -1.75j, 2j, 2j], r
"
  moved_package=$(find "$moved" -type d -name orvek -path '*-packages/orvek' | head -n 1)
  check "Python package follows a moved tree" env -u ORVEK_LIBRARY PYTHONPATH="$(dirname "$moved_package")" \
    "$python" -c "
import os, orvek
assert os.path.realpath(orvek.find_library()) == os.path.realpath('$moved/$libdir/liborvek.so.1'), orvek.find_library()
assert orvek.Paralelno(2, 2).ZP == 1
"
else
  echo "skipped: Python package (no numpy under $python, or package not installed)"
fi

echo "install test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
