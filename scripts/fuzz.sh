#!/usr/bin/env bash
# Long fuzz runs and coverage of the fuzz targets (see scripts/fuzz-smoke.sh
# for the build). Corpora persist in <build>/fuzz-corpus/<family>, crashes
# and hangs go to <build>/fuzz-artifacts/<family>/.
#
#   scripts/fuzz.sh run [seconds per target] [family ...]
#       runs each family (assembly sparse sequence topology dense
#       fast_decoupled error_module casefile; default all) for that long (default
#       600), JOBS of them at a time (default 2, the machine has 2 cores).
#   scripts/fuzz.sh coverage [family ...]
#       builds the targets with source-based coverage in <build>-cov, runs
#       them once over their corpora and prints llvm-cov's line report of
#       the library sources.
# BUILD names the build directory (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-fuzz}
all=(assembly sparse sequence topology dense fast_decoupled error_module casefile)
mode=${1:-run}
shift || true

configure() { # directory, extra options
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEK_FUZZ=ON -DORVEK_BUILD_TESTS=OFF "$@" >/dev/null
}

seeds() {
  local dir=$1
  cmake --build "$dir" -j2 --target fuzz_seeds
  rm -rf "$dir/fuzz-corpus/seeds"
  "$dir/fuzz/fuzz_seeds" "$dir/fuzz-corpus/seeds" "${ORVEK_CASES:-$(pwd)/../shared/cases}" 2>/dev/null
}

case "$mode" in
run)
  seconds=${1:-600}
  shift || true
  families=("$@")
  [ ${#families[@]} -gt 0 ] || families=("${all[@]}")
  configure "$build"
  cmake --build "$build" -j2 --target "${families[@]/#/fuzz_}"
  seeds "$build"
  jobs=${JOBS:-2}
  for family in "${families[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    mkdir -p "$build/fuzz-corpus/$family" "$build/fuzz-artifacts/$family"
    echo "== fuzz_$family for $seconds s"
    "$build/fuzz/fuzz_$family" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$build/fuzz-artifacts/$family/" -print_final_stats=1 \
      "$build/fuzz-corpus/$family" "$build/fuzz-corpus/seeds/$family" \
      >"$build/fuzz-artifacts/$family/run.log" 2>&1 &
  done
  wait || true
  status=0
  for family in "${families[@]}"; do
    log="$build/fuzz-artifacts/$family/run.log"
    printf '%-16s ' "$family"
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$log" | tr '\n' ' '
    if grep -qE '^==[0-9]+==ERROR|runtime error|fuzz harness:|ALARM: working on the last Unit' "$log"; then
      echo "FINDING (see $log)"
      status=1
    else
      echo
    fi
  done
  exit $status
  ;;
coverage)
  families=("$@")
  [ ${#families[@]} -gt 0 ] || families=("${all[@]}")
  cov="$build-cov"
  configure "$cov" -DORVEK_FUZZ_COVERAGE=ON
  cmake --build "$cov" -j2 --target "${families[@]/#/fuzz_}"
  seeds "$cov"
  rm -f "$cov"/fuzz/*.profraw
  objects=()
  for family in "${families[@]}"; do
    mkdir -p "$build/fuzz-corpus/$family"
    LLVM_PROFILE_FILE="$cov/fuzz/$family.profraw" "$cov/fuzz/fuzz_$family" -runs=0 -timeout=60 \
      -rss_limit_mb=4096 -max_len=65536 "$build/fuzz-corpus/$family" "$cov/fuzz-corpus/seeds/$family" \
      >"$cov/fuzz/$family.coverage.log" 2>&1 || true
    objects+=(-object "$cov/fuzz/fuzz_$family")
  done
  llvm-profdata-14 merge -sparse "$cov"/fuzz/*.profraw -o "$cov/fuzz/all.profdata"
  # The library's own sources: the subsystem folders, not the harness.
  llvm-cov-14 report "${objects[@]:1}" -instr-profile="$cov/fuzz/all.profdata" \
    -ignore-filename-regex='(fuzz|native|tools|usr)/' 
  ;;
*)
  echo "usage: scripts/fuzz.sh run [seconds] [family ...] | coverage [family ...]" >&2
  exit 2
  ;;
esac
