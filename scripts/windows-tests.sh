#!/usr/bin/env bash
# The Windows stage. Cross-builds ORVEK.dll for 32-bit Windows and tests it
# as far as this machine allows; it first runs a tiny 32-bit program to learn
# whether the kernel runs 32-bit code at all, and prints one line saying
# which mode runs and why.
#   32-bit mode (32-bit programs run here): the Windows tests under wine:
#     the host test (loading by name and ordinal, stdcall stack discipline,
#     numerical checks through the DLL), the whole unit-test suite
#     cross-built, and the bit-for-bit comparison of representative calls
#     and of real networks between the Linux library and ORVEK.dll.
#   64-bit mode (they do not): ORVEK.dll is checked without running it
#     (export table: names and ordinals 1-28 and nothing else; no x87
#     arithmetic in its objects; imports only KERNEL32.dll and msvcrt.dll),
#     then the library, the whole unit-test suite and the bit comparisons
#     are cross-built for 64-bit Windows and run under wine64.
# Installs what is missing (MinGW-w64, wine32 or wine64, the GoogleTest
# sources, which it cross-builds) and works unattended, on a fresh machine
# and again. Fails only on a real failure.
#
#   scripts/windows-tests.sh            the stage this machine allows
#   scripts/windows-tests.sh --dll-only build ORVEK.dll and its import library
#
# Environment: ORVEK_WINDOWS_BUILD (default <repo>/build-windows),
# ORVEK_JOBS (default 2), ORVEK_WINDOWS_MODE (32 or 64: that mode, without
# the probe), ORVEK_CASES (default <repo>/../shared/cases), ORVEK_LINUX_BUILD
# (a Release build of this tree to take the Linux reference library from).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${ORVEK_WINDOWS_BUILD:-$root/build-windows}
jobs=${ORVEK_JOBS:-2}
dll_only=0
[ "${1:-}" = "--dll-only" ] && dll_only=1
toolchain32=$root/cmake/toolchain-i686-w64-mingw32.cmake
toolchain64=$root/cmake/toolchain-x86_64-w64-mingw32.cmake
cases=${ORVEK_CASES:-$root/../shared/cases}
# Real networks of the comparison: those that fit the capacities.
identity_cases="case9.m;case30.m;case57.m;case118.m;case300.m;case_ACTIVSg500.m"
started=$(date +%s)

say() { printf '== %s\n' "$*"; }
mkdir -p "$out"

# ---- Can this machine run 32-bit programs? ------------------------------------
# A real execution, not a guess from the kernel's name: a 96-byte static i386
# ELF program (one program header; mov eax,1; mov ebx,42; int 0x80) that
# exits with status 42 where the kernel runs 32-bit code, and fails with
# "Exec format error" where it does not. It needs no 32-bit package.
probe_32bit() {
  local probe=$out/probe-i386 status
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  probe_output=$("$probe" 2>&1) && status=0 || status=$?
  probe_output=$(printf '%s' "$probe_output" | sed 's/^.*: //' | tr '\n' ' ')
  [ "$status" -eq 42 ]
}

if [ "$dll_only" -eq 1 ]; then
  mode=dll
elif [ -n "${ORVEK_WINDOWS_MODE:-}" ]; then
  mode=$ORVEK_WINDOWS_MODE
  why="ORVEK_WINDOWS_MODE=$mode"
elif probe_32bit; then
  mode=32
  why="a 32-bit test program ran here"
else
  mode=64
  why="this machine cannot run 32-bit programs (a 32-bit test program failed: ${probe_output:-no output})"
fi
case $mode in
  32) echo "Windows stage: 32-bit mode, ORVEK.dll and the unit suite run under wine: $why" ;;
  64) echo "Windows stage: 64-bit mode, ORVEK.dll (32-bit) checked without running it; the library and the unit suite cross-built for 64-bit Windows and run under wine64: $why" ;;
  dll) ;;
  *) echo "ORVEK_WINDOWS_MODE must be 32 or 64, not '$mode'" >&2; exit 2 ;;
esac

# ---- Packages -------------------------------------------------------------------
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

need=()
for pkg in cmake make gcc g++ g++-mingw-w64-i686 binutils-mingw-w64-i686; do
  installed "$pkg" || need+=("$pkg")
done
if [ "$mode" != dll ]; then
  installed googletest || [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
fi
if [ "$mode" = 32 ]; then
  installed wine || need+=(wine)
  installed wine32:i386 || need+=(wine32:i386)
elif [ "$mode" = 64 ]; then
  for pkg in g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64; do
    installed "$pkg" || need+=("$pkg")
  done
fi
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  if printf '%s\n' "${need[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# ---- ORVEK.dll (32-bit) ---------------------------------------------------------------
# Configures a Windows build: configure_windows BUILD_DIR TOOLCHAIN [cmake options].
configure_windows() {
  local dir=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "$@" \
    >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
}

win=$out/win
dll=$win/ORVEK.dll
if [ "$mode" != 32 ]; then
  say "cross-building ORVEK.dll (32-bit)"
  configure_windows "$win" "$toolchain32" -DORVEK_BUILD_TESTS=OFF -DORVEK_BUILD_TOOLS=OFF
  cmake --build "$win" -j"$jobs" --target orvek >"$win.build.log" 2>&1 || { cat "$win.build.log"; exit 1; }
fi
if [ "$mode" = dll ]; then
  say "built $dll and $win/libORVEK.dll.a"
  exit 0
fi
if [ "$mode" = 64 ]; then
  # The DLL's tables and code, read with objdump (the same checks the 32-bit
  # mode runs as tests).
  say "checking ORVEK.dll without running it"
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL="$dll" -DDEF="$root/frame/exports.def" \
    -P "$root/tests/windows/check_dll_image.cmake"
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DOBJECT_LIST="$win/orvek_objects.txt" \
    -P "$root/tests/windows/check_sse_arithmetic.cmake"
fi

# ---- wine -------------------------------------------------------------------------------
# A prefix of our own per mode; its server is stopped at the end (only this
# prefix's). Debian's wine64 keeps its loader and server off PATH.
if [ "$mode" = 32 ]; then
  wine_loader=wine wine_server=wineserver
else
  wine_loader=$(dpkg -L wine64 | grep -m1 '/wine64$')
  wine_server=$(dpkg -L wine64 | grep -m1 '/wineserver64$')
fi
export WINEPREFIX=$out/wineprefix$mode
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -d "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/system.reg" ]; then rm -rf "$WINEPREFIX"; fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the wine prefix"
  "$wine_loader" wineboot --init >/dev/null 2>&1 || true
  "$wine_server" --wait || true
fi
stop_wine() { "$wine_server" --kill >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One server for the whole run, and wine's background services started now,
# detached from any pipe: a service started by the first test program would
# keep ctest's output pipe open, and ctest would wait for it.
"$wine_server" --persistent=300 >/dev/null 2>&1 || true
"$wine_loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

# ---- GoogleTest, cross-built -----------------------------------------------------------
if [ "$mode" = 32 ]; then toolchain=$toolchain32; else toolchain=$toolchain64; fi
gtest_prefix=$out/googletest$mode-install
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  say "cross-building GoogleTest"
  cmake -S /usr/src/googletest -B "$out/googletest$mode" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-static >"$out/configure-gtest$mode.log" || { cat "$out/configure-gtest$mode.log"; exit 1; }
  cmake --build "$out/googletest$mode" -j"$jobs" >/dev/null
  cmake --install "$out/googletest$mode" >/dev/null
fi

# ---- Linux reference output ---------------------------------------------------------------
# ORVEK_LINUX_BUILD names a Release build of this tree to take the library
# and the case-file reader from (CI passes the README's build); by default
# the stage builds its own.
linux=${ORVEK_LINUX_BUILD:-$out/linux}
say "Linux reference: liborvek.so from $linux, the bit dumps"
if [ -z "${ORVEK_LINUX_BUILD:-}" ]; then
  cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=Release -DORVEK_BUILD_TESTS=OFF -DORVEK_BUILD_TOOLS=ON \
    >"$out/configure-linux.log" || { cat "$out/configure-linux.log"; exit 1; }
fi
cmake --build "$linux" -j"$jobs" --target orvek orvek_casefile >"$out/build-linux.log" \
  || { cat "$out/build-linux.log"; exit 1; }
cc -std=c99 -O2 -Wall -Wextra -Wpedantic -Werror -ffp-contract=off -I"$root/include" \
  "$root/tests/windows/bit_dump.c" -L"$linux" -Wl,-rpath,"$linux" -lorvek -o "$out/orvek_bit_dump"
"$out/orvek_bit_dump" >"$out/bits-linux.txt"
casefile_lib=$(find "$linux" -name liborvek_casefile.a | head -n 1)
c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -ffp-contract=off -I"$root" -I"$root/include" \
  "$root/tests/windows/dumps/case_dump.cpp" "$casefile_lib" -L"$linux" -Wl,-rpath,"$linux" -lorvek \
  -o "$out/orvek_case_dump"
# shellcheck disable=SC2086
"$out/orvek_case_dump" "$cases" ${identity_cases//;/ } >"$out/cases-linux.txt"

# ---- Windows build: the library, the unit tests, the comparisons ---------------------------
if [ "$mode" = 32 ]; then
  tests_dir=$win
  say "cross-building ORVEK.dll, the host test and the unit tests (32-bit)"
else
  tests_dir=$out/win64
  say "cross-building the library and the unit tests for 64-bit Windows"
fi
configure_windows "$tests_dir" "$toolchain" -DORVEK_BUILD_TESTS=ON -DORVEK_BUILD_TOOLS=ON \
  -DCMAKE_PREFIX_PATH="$gtest_prefix" -DCMAKE_FIND_ROOT_PATH="$gtest_prefix" \
  -DORVEK_LINUX_BIT_DUMP="$out/bits-linux.txt" -DORVEK_LINUX_CASE_DUMP="$out/cases-linux.txt" \
  -DORVEK_CASES_FOLDER="$cases" -DORVEK_IDENTITY_CASES="$identity_cases" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
cmake --build "$tests_dir" -j"$jobs"
"$wine_loader" "$tests_dir/orvek_bit_dump.exe" | tr -d '\r' >"$out/bits-windows$mode.txt"

if [ "$mode" = 32 ]; then
  objdump=i686-w64-mingw32-objdump
  say "ORVEK.dll: $(stat -c %s "$dll") bytes; imports: $($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
fi

# ---- Run under wine -----------------------------------------------------------------------
say "running the Windows tests under $(basename "$wine_loader")"
# A test that fails is run once more: on a busy machine wine now and then
# fails to start a program (the test ends in milliseconds with no output);
# the tests themselves are deterministic, so a real failure fails twice.
ctest --test-dir "$tests_dir" --output-on-failure --no-tests=error -j"$jobs" --timeout 600 --repeat until-pass:2
echo "Windows stage ($mode-bit mode) passed in $(($(date +%s) - started)) s"
