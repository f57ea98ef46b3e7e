#!/usr/bin/env bash
# Builds ORVEK.dll for 32-bit Windows and runs the Windows tests under wine:
# the host test (loading by name and ordinal, stdcall stack discipline,
# numerical checks through the DLL), the whole unit-test suite cross-built,
# and the bit-for-bit comparison of representative calls between the Linux
# library and ORVEK.dll. Installs what is missing (MinGW-w64 i686, wine32,
# GoogleTest sources) and works unattended, on a fresh machine and again.
#
#   scripts/windows-tests.sh            build everything and run the tests
#   scripts/windows-tests.sh --dll-only build ORVEK.dll and its import library
#
# Environment: ORVEK_WINDOWS_BUILD (default <repo>/build-windows),
# ORVEK_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${ORVEK_WINDOWS_BUILD:-$root/build-windows}
jobs=${ORVEK_JOBS:-2}
dll_only=0
[ "${1:-}" = "--dll-only" ] && dll_only=1
toolchain=$root/cmake/toolchain-i686-w64-mingw32.cmake

say() { printf '== %s\n' "$*"; }

# ---- Packages ---------------------------------------------------------------
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

need=()
for pkg in cmake make g++ g++-mingw-w64-i686 binutils-mingw-w64-i686; do
  installed "$pkg" || need+=("$pkg")
done
if [ "$dll_only" -eq 0 ]; then
  installed googletest || [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  installed wine || need+=(wine)
  installed wine32:i386 || need+=(wine32:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  if printf '%s\n' "${need[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

mkdir -p "$out"

# ---- ORVEK.dll --------------------------------------------------------------
win=$out/win
configure_windows() {
  cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "$@" >"$out/configure-win.log" \
    || { cat "$out/configure-win.log"; exit 1; }
}

if [ "$dll_only" -eq 1 ]; then
  configure_windows -DORVEK_BUILD_TESTS=OFF -DORVEK_BUILD_TOOLS=OFF
  cmake --build "$win" -j"$jobs" --target orvek
  say "built $win/ORVEK.dll and $win/libORVEK.dll.a"
  exit 0
fi

# ---- wine -------------------------------------------------------------------
# A prefix of our own; its server is stopped at the end (only this prefix's).
export WINEPREFIX=$out/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -d "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then rm -rf "$WINEPREFIX"; fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the wine prefix"
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait || true
fi
stop_wine() { wineserver --kill >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One server for the whole run, and wine's background services started now,
# detached from any pipe: a service started by the first test program would
# keep ctest's output pipe open, and ctest would wait for it.
wineserver --persistent=300 >/dev/null 2>&1 || true
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

# ---- GoogleTest, cross-built --------------------------------------------------
gtest_prefix=$out/googletest-install
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  say "cross-building GoogleTest"
  cmake -S /usr/src/googletest -B "$out/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-static >"$out/configure-gtest.log" || { cat "$out/configure-gtest.log"; exit 1; }
  cmake --build "$out/googletest" -j"$jobs" >/dev/null
  cmake --install "$out/googletest" >/dev/null
fi

# ---- Linux reference output ---------------------------------------------------
say "Linux reference: liborvek.so, the bit dumps"
linux=$out/linux
cases=${ORVEK_CASES:-$root/../shared/cases}
# Real networks of the comparison: those that fit the capacities.
identity_cases="case9.m;case30.m;case57.m;case118.m;case300.m;case_ACTIVSg500.m"
cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=Release -DORVEK_BUILD_TESTS=OFF -DORVEK_BUILD_TOOLS=ON \
  >"$out/configure-linux.log" || { cat "$out/configure-linux.log"; exit 1; }
cmake --build "$linux" -j"$jobs" --target orvek orvek_casefile
cc -std=c99 -O2 -Wall -Wextra -Wpedantic -Werror -ffp-contract=off -I"$root/include" \
  "$root/tests/windows/bit_dump.c" -L"$linux" -Wl,-rpath,"$linux" -lorvek -o "$linux/orvek_bit_dump"
"$linux/orvek_bit_dump" >"$out/bits-linux.txt"
casefile_lib=$(find "$linux" -name liborvek_casefile.a | head -n 1)
c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -ffp-contract=off -I"$root" -I"$root/include" \
  "$root/tests/windows/dumps/case_dump.cpp" "$casefile_lib" -L"$linux" -Wl,-rpath,"$linux" -lorvek \
  -o "$linux/orvek_case_dump"
# shellcheck disable=SC2086
"$linux/orvek_case_dump" "$cases" ${identity_cases//;/ } >"$out/cases-linux.txt"

# ---- Windows build: DLL, host test, unit tests ----------------------------------
say "cross-building ORVEK.dll, the host test and the unit tests"
configure_windows -DORVEK_BUILD_TESTS=ON -DORVEK_BUILD_TOOLS=ON -DCMAKE_PREFIX_PATH="$gtest_prefix" \
  -DCMAKE_FIND_ROOT_PATH="$gtest_prefix" -DORVEK_LINUX_BIT_DUMP="$out/bits-linux.txt" \
  -DORVEK_LINUX_CASE_DUMP="$out/cases-linux.txt" -DORVEK_CASES_FOLDER="$cases" \
  -DORVEK_IDENTITY_CASES="$identity_cases" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
cmake --build "$win" -j"$jobs"
wine "$win/orvek_bit_dump.exe" | tr -d '\r' >"$out/bits-windows.txt"

dll=$win/ORVEK.dll
objdump=i686-w64-mingw32-objdump
say "ORVEK.dll: $(stat -c %s "$dll") bytes; imports: $($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"

# ---- Run under wine ----------------------------------------------------------------
say "running the Windows tests under wine"
ctest --test-dir "$win" --output-on-failure --no-tests=error -j"$jobs" --timeout 600
