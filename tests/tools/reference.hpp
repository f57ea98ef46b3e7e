// Independent double-precision references for the study tests: a full
// Newton-Raphson power flow in polar form with a dense Jacobian, and dense
// sequence admittance matrices with their inverse. Both are built from the
// raw case tables with the two-port transformer equations (ratio t at the
// from end), not from the reader's pi-equivalents.
#pragma once

#include "tools/casefile/matpower.hpp"

#include <complex>
#include <cstdint>
#include <map>
#include <vector>

namespace orvek::test {

using Cd = std::complex<double>;

struct DenseMatrix {
  int n = 0;
  std::vector<Cd> a; // row-major n x n
  Cd &operator()(int i, int j) { return a[static_cast<std::size_t>(i) * n + j]; }
  Cd operator()(int i, int j) const { return a[static_cast<std::size_t>(i) * n + j]; }
};

// Buses in the order of the case's bus table (index = row of mpc.bus).
struct ReferenceModel {
  std::map<std::int32_t, int> row_of_bus;
  std::vector<int> type;        // 1 PQ, 2 PV, 3 reference (PV without a generator in service -> PQ)
  std::vector<double> psp, qsp; // specified injections, per unit
  std::vector<double> vset;     // setpoint of PV and reference buses
  std::vector<double> base_kv;
  double va_ref_deg = 0;
  DenseMatrix ybus;             // branches and bus shunts
};

ReferenceModel BuildReference(const casefile::Case &c);

struct NewtonResult {
  bool converged = false;
  int iterations = 0;
  std::vector<double> vm, va_deg; // per bus row
};

NewtonResult SolveNewton(const ReferenceModel &m, double tolerance = 1e-11, int max_iterations = 30);

// Sequence data of the study: generators as shunts -j/x with x on the system
// base; zero sequence with line impedance k * z1, transformers passing,
// bus shunts left out.
DenseMatrix PositiveSequence(const casefile::Case &c, const ReferenceModel &m, double x_machine);
DenseMatrix ZeroSequence(const casefile::Case &c, const ReferenceModel &m, double x0_machine, double line_k);

// Inverse by Gauss-Jordan elimination with partial pivoting.
DenseMatrix Invert(DenseMatrix a);

} // namespace orvek::test
