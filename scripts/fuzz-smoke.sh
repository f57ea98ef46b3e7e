#!/usr/bin/env bash
# Smoke run of the fuzz targets: builds them with clang 14 (libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer), writes the seed corpora
# (from the small example networks and the test networks in ../shared/cases,
# or $ORVEK_CASES), and runs every target for a fixed number of inputs with
# a fixed seed (a few minutes in all). Exits non-zero on the first crash,
# leak, hang (25 s per input) or sanitizer report; the input is left in
# build-fuzz/fuzz-artifacts/<target>/.
# Usage: scripts/fuzz-smoke.sh [build directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}

need=()
command -v clang++-14 >/dev/null || need+=(clang-14)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
command -v cmake >/dev/null || need+=(cmake)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEK_FUZZ=ON -DORVEK_BUILD_TESTS=OFF >/dev/null
# Runs per target: about 15-30 s each on two cores.
targets=(fuzz_assembly:20000 fuzz_sparse:8000 fuzz_sequence:40000 fuzz_topology:8000 fuzz_dense:15000
         fuzz_fast_decoupled:40000 fuzz_error_module:100000 fuzz_casefile:3000)
names=()
for t in "${targets[@]}"; do names+=("${t%%:*}"); done
cmake --build "$build" -j2 --target fuzz_seeds "${names[@]}"

cases=${ORVEK_CASES:-$(pwd)/../shared/cases}
seeds="$build/fuzz-corpus/seeds"
rm -rf "$seeds"
"$build/fuzz/fuzz_seeds" "$seeds" "$cases" 2>/dev/null

status=0
for t in "${targets[@]}"; do
  name=${t%%:*} runs=${t##*:} family=${name#fuzz_}
  work="$build/fuzz-corpus/smoke-$family" art="$build/fuzz-artifacts/$family"
  rm -rf "$work" && mkdir -p "$work" "$art"
  echo "== $name: $runs runs"
  if ! "$build/fuzz/$name" -runs="$runs" -seed=1 -timeout=25 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$art/" -print_final_stats=1 "$work" "$seeds/$family" >"$art/smoke.log" 2>&1; then
    echo "$name failed; see $art/smoke.log"
    tail -n 40 "$art/smoke.log"
    status=1
  else
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$art/smoke.log" | tr '\n' ' '
    echo
  fi
done
exit $status
