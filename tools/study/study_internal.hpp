// Host-side holders of the library's arrays shared by the two studies: an
// assembled admittance matrix in both forms and the factor sets of LUR/LUC,
// each in the leading dimensions of the public header.
#pragma once

#include "tools/casefile/matpower.hpp"

#include <cstdint>
#include <vector>

namespace orvek::study {

inline constexpr double kPi = 3.14159265358979323846;
// A smallest pivot at or below this, or a growth factor above kMaxGrowth,
// marks a factorization that returned after its singular or growth warning.
inline constexpr float kSingularPivot = 1.1e-20f;
inline constexpr float kMaxGrowth = 1.0e16f;
inline constexpr double kFloatRounding = 5.9604644775390625e-8; // 2^-24, half an ulp of 1

// Throws StudyError when RPARAM marks a failed factorization.
void CheckFactorQuality(const float *rparam, const char *what);

// MatricaY's outputs: triplets IROW, JCOL, A(10000,2), NZ and the
// row-indexed SA(10000,2), IJA.
struct AdmittanceMatrix {
  std::int32_t n = 0, nz = 0;
  std::vector<std::int32_t> irow, jcol, ija;
  std::vector<float> a, sa;
};

// Assembles with the given susceptance shunts and adds the conductance
// shunts gsh (per node) to the diagonal entries of both forms.
AdmittanceMatrix AssembleAdmittance(const casefile::HostArrays &h, const std::vector<float> &bsh,
                                    const std::vector<std::int32_t> &ksh, const std::vector<float> &gsh);

struct RealFactors {
  std::int32_t n = 0, nfac = 0, nl = 0;
  std::vector<float> fac;
  std::vector<std::int32_t> irfac, jcfac, ipvt, jpvt;
  void Factor(std::int32_t order, std::vector<std::int32_t> &irow, std::vector<std::int32_t> &jcol,
              std::vector<float> &val, std::int32_t nz, const char *what);
  void Solve(std::vector<float> &b, std::vector<float> &x) const; // x(1..n) from b(1..n)
};

} // namespace orvek::study
