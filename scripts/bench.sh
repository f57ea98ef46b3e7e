#!/usr/bin/env bash
# Benchmark of ORVEK against the peer solvers (KLU, SuperLU) on every shared
# network that fits the capacities, in one process. Installs what is missing
# (Google Benchmark, SuiteSparse and SuperLU development packages, the
# compilers), builds Release, runs bench/orvek_bench, prints the table and
# rewrites docs/performance.md with it and the machine it ran on.
#
#   scripts/bench.sh [Google Benchmark flags]   e.g. --benchmark_filter=case118/
#
# Environment: ORVEK_BENCH_BUILD (default <repo>/build-release-bench),
# ORVEK_JOBS (default 2), ORVEK_CASES (folder of the case files, default
# <repo>/../shared/cases), ORVEK_BENCH_NO_DOCS=1 to leave the docs alone.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${ORVEK_BENCH_BUILD:-$root/build-release-bench}
jobs=${ORVEK_JOBS:-2}

say() { printf '== %s\n' "$*" >&2; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# ---- Packages ---------------------------------------------------------------
need=()
for pkg in cmake make g++ libgtest-dev libbenchmark-dev libsuitesparse-dev libsuperlu-dev; do
  installed "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  say "installing ${need[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

# ---- Build --------------------------------------------------------------------
say "building Release in $out"
cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DORVEK_BUILD_TESTS=OFF -DORVEK_BUILD_TOOLS=ON >/dev/null
cmake --build "$out" --target orvek_bench orvek_fault_levels -j"$jobs" >/dev/null

# ---- Run ----------------------------------------------------------------------
table=$(mktemp)
trap 'rm -f "$table"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
say "running the benchmark (load average before: $load_before)"
"$out/bench/orvek_bench" --orvek_table="$table" "$@"
levels=$(mktemp)
trap 'rm -f "$table" "$levels"' EXIT
say "running the fault levels against KLU's N solves"
ORVEK_CASES="${ORVEK_CASES:-$root/../shared/cases}" "$out/bench/orvek_fault_levels" | tee "$levels"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

[ "${ORVEK_BENCH_NO_DOCS:-0}" = "1" ] && exit 0

# ---- docs/performance.md ---------------------------------------------------------
cpu=$(lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -n1)
mem=$(free -h 2>/dev/null | awk '/^Mem:/ {print $2}')
os=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-unknown}")
cxx=$(c++ --version | head -n1)
ver() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "not installed"; }
{
  cat <<EOF
# Performance

The latest run of \`scripts/bench.sh\`: ORVEK against KLU and SuperLU on the
shared networks that fit the capacities, measured side by side in one
process on exactly the same matrices (MatricaY's triplet lists; the fast
decoupled lists of Matrici_VektoriBX). Times are thread CPU times per call in
microseconds: the median and, in brackets, the fastest and the slowest of the
repetitions (15 by default, run in random interleaved order so that every
contender sees the same load on the machine).

What is timed:

- ORVEK \`LUC\`: triplets in, factors out (split-complex copy-in, checks, the
  Markowitz elimination, copy-out). KLU: triplet→CSC conversion (two counting
  passes, values to double complex), \`klu_analyze\` (AMD, BTF) and
  \`klu_z_factor\`, with both objects freed. SuperLU: triplet→CSC (single
  complex), COLAMD ordering, \`sp_preorder\` and \`cgstrf\`, everything freed.
- one solve: \`BSC\` with IPATH 1 against \`klu_z_solve\` with one right-hand
  side (including the copy of the right-hand side into the solve vector) and
  \`cgstrs\`.
- the all-node fault road: one factorization, then for every node K a unit
  injection at K, one solve, the column copied into the three sequence columns,
  and \`NaponiKV\` (single-phase-to-earth fault at K). The KLU road converts the
  double solution to the same single-precision columns and makes the same
  \`NaponiKV\` calls.
- the fast decoupled matrices: \`LUR\` of both lists against KLU real
  (triplet→CSC, \`klu_analyze\`, \`klu_factor\`) of both; one \`BSR\` with each
  against one \`klu_solve\` with each.

Targets: \`LUC\` ≤ 0.8 × KLU's factorization, one \`BSC\` ≤ 1.0 × one
\`klu_z_solve\`, the fault road ≤ 1.0 × KLU's road, \`MatricaY\` ≤ 0.5 × \`LUC\`.
Machine load varies on a shared machine; compare ratios within one run only.

## Machine

- date: $(date -u '+%Y-%m-%d %H:%M UTC')
- processor: ${cpu:-unknown}, $(nproc) logical cores; memory ${mem:-unknown}
- system: ${os:-unknown}, kernel $(uname -r)
- compiler: $cxx (Release: -O3, -ffp-contract=off)
- peers: libsuitesparse-dev $(ver libsuitesparse-dev), libsuperlu-dev $(ver libsuperlu-dev), libbenchmark-dev $(ver libbenchmark-dev)
- load average (1, 5, 15 min): $load_before before, $load_after after

## Results

EOF
  cat "$table"
  cat <<'LEVELS'

## Fault levels at every node

`build/bench/orvek_fault_levels` on the positive-sequence admittance matrix of
every network that factors (MatricaY's triplets with a source susceptance
-5 at every generator node): ORVEK's `Factor` plus `FaultLevels` (the whole
diagonal of the inverse, with the matrix refactored in double along the
factor set's pivots, and the currents of the four fault types) against KLU's
analyze and factor plus N `klu_z_solve` calls with unit right-hand sides.
`max_rel_err` is the largest relative difference of the two diagonals,
`solve_ratio` one native `Solve` over one `klu_z_solve`. The
`fault-levels-sequences` lines give all four fault types over the three
sequence networks (zero sequence: three times the series impedances and -10
at generators; positive and negative sharing one factor set), without and
with the two factorizations. Thread CPU time, medians, milliseconds.
Targets: `ratio` ≤ 0.01 on case13659pegase; `solve_ratio` ≤ 1.0 on
case2383wp, case9241pegase and case13659pegase; the three sequence networks
of case13659pegase under 100 ms.

```
LEVELS
  cat "$levels"
  echo '```'
} >"$root/docs/performance.md"
say "docs/performance.md rewritten"
