#!/usr/bin/env bash
# The Python package installed two ways, offline, then imported and used
# from outside the source tree: (1) from a CMake install of an existing
# build (the compiled module beside the ctypes layer, which finds the
# installed library); (2) with pip install . --no-build-isolation into a
# virtual environment that sees Debian's packages.
#   scripts/python-package-test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check='
import numpy as np, orvek, orvek.abi
case = orvek.parse_case(open(CASE).read(), "case9")
pf = orvek.power_flow(case)
levels = orvek.fault_levels(case, faults="3ph,slg")
assert pf.converged and len(levels) == 18, (pf, levels)
r = orvek.abi.MatricaY(BSH=[], KSH=[], NSH=0, N=2, Z=[0.5j], YA=[0.25j], YB=[0.25j], NODES=[[1, 2]], NB=1)
assert r.NZ == 4
try:
    orvek.factor(np.zeros((2, 2)) + np.eye(2) * [1, 0])
except orvek.Error as e:
    print("ok:", orvek.__file__, "|", e.routine, e.code)
'
case_text=$("$build/tools/orvek-study" --write-case 2>/dev/null || true)
if [ -z "$case_text" ]; then
  echo "python-package-test: $build/tools/orvek-study is needed (for the built-in case)"; exit 1
fi
printf '%s\n' "$case_text" > "$work/case9.m"

echo "== CMake install"
cmake --install "$build" --prefix "$work/install" >/dev/null
site=$(find "$work/install" -type d -name orvek -path '*-packages/*' | head -n1)
(cd "$work" && env -u ORVEK_LIBRARY PYTHONPATH="$(dirname "$site")" "$python" -c "CASE='$work/case9.m'$check")

echo "== pip install . --no-build-isolation (offline)"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-build-isolation --no-index --no-deps -q . 2>&1 | grep -v "^$" || true
(cd "$work" && env -u ORVEK_LIBRARY -u PYTHONPATH "$work/venv/bin/python" -c "CASE='$work/case9.m'$check")
