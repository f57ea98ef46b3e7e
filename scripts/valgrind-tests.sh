#!/usr/bin/env bash
# Valgrind memcheck over the whole unit-test suite: builds the tests
# without sanitizers (RelWithDebInfo, g++) in build-valgrind and runs every
# test executable under memcheck. Any invalid read or write, use of an
# uninitialised value, invalid free or definitely lost block fails the run.
# Child processes the tests fork (the observed stops) are checked too.
# Usage: scripts/valgrind-tests.sh [build directory] [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-valgrind}
filter=${2:-*}

need=()
command -v valgrind >/dev/null || need+=(valgrind)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEK_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2
status=0
for test in "$build"/tests/test_*; do
  [ -x "$test" ] || continue
  name=$(basename "$test")
  log="$build/valgrind-$name.log"
  rm -f "$log".*
  echo "== $name"
  if valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
       --show-leak-kinds=definite --track-origins=yes --log-file="$log.%p" \
       "$test" --gtest_filter="$filter" --gtest_brief=1 >"$log.out" 2>&1; then
    echo "   clean"
  else
    echo "   FAILED (exit $?); see $log.*"
    status=1
  fi
  # Every process (the test and its children) must report no errors; a
  # child that replaced itself by another program leaves no summary.
  for report in "$log".[0-9]*; do
    if grep -qE "ERROR SUMMARY: [1-9]" "$report"; then
      echo "   errors in $report"
      status=1
    fi
  done
done
exit $status
