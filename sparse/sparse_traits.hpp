// What differs between the real and the complex sparse solver: routine
// names, the texts that name the workspace divisor or the order, the default
// parameters, and the scalar operations (magnitude, product, quotient,
// conjugation in the transposed solve). Everything else is one template.
// Complex values go only through support/complex.hpp so every product and
// quotient is rounded exactly as the rest of the library rounds them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// Parameter layout of IPARAM(6) and RPARAM(5) (0-based positions; their
// meaning for the host is documented in include/orvek/orvek.h).
inline constexpr std::size_t kIparamDefaultsFlag = 0; // IPARAM(1): 0 = apply defaults
inline constexpr std::size_t kIparamSearch = 1;       // IPARAM(2): 1 rows, 2 columns, 3 both
inline constexpr std::size_t kIparamCandidates = 2;   // IPARAM(3): candidates per step
inline constexpr std::size_t kIparamPeak = 3;         // IPARAM(4): out, peak entry count
inline constexpr std::size_t kIparamWorkspace = 4;    // IPARAM(5): workspace limit, 0 = 3*NZ
inline constexpr std::size_t kIparamUnused = 5;       // IPARAM(6)
inline constexpr std::size_t kRparamGrowthLimit = 0;  // RPARAM(1)
inline constexpr std::size_t kRparamThreshold = 1;    // RPARAM(2): pivot threshold divisor
inline constexpr std::size_t kRparamDrop = 2;         // RPARAM(3): drop tolerance, 0 = never
inline constexpr std::size_t kRparamGrowth = 3;       // RPARAM(4): out, growth factor
inline constexpr std::size_t kRparamMinPivot = 4;     // RPARAM(5): out, smallest pivot magnitude
inline constexpr std::size_t kIparamSize = 6;
inline constexpr std::size_t kRparamSize = 5;

// The defaults, named once.
inline constexpr std::int32_t kDefaultSearch = 3;
inline constexpr std::int32_t kDefaultCandidates = 3;
inline constexpr float kDefaultGrowthLimit = 1.0E16f;
inline constexpr float kDefaultThreshold = 10.0f;
inline constexpr float kDefaultDrop = 0.0f;
// Entries the default workspace may hold per triplet (MAXNZ = 3*NZ).
inline constexpr std::int32_t kDefaultFillFactor = 3;
// The factor capacity of the exported routines, 3*NZ, held at the smallest
// integer for counts so negative that it would wrap.
constexpr std::int32_t DefaultFactorCapacity(std::int32_t nz) {
  const std::int64_t capacity = static_cast<std::int64_t>(kDefaultFillFactor) * nz;
  return static_cast<std::int32_t>(
      std::max<std::int64_t>(capacity, std::numeric_limits<std::int32_t>::min()));
}
// IWK holds this many per-row/column arrays of N and per-entry arrays of MAXNZ.
inline constexpr std::int32_t kPerOrderArrays = 15;
inline constexpr std::int32_t kPerEntryArrays = 4;
// Divisor of IPARAM(5) - 15*N giving MAXNZ (the same in both drivers).
inline constexpr std::int32_t kWorkspaceDivisor = 5;

// The integer workspace of `entries` slots at `per_entry` integers each:
// 15*N + per_entry*entries (IWK itself has 4 per slot; the drivers' limits
// count kDriverPerNz, or kWorkspaceDivisor, per entry).
constexpr std::int64_t IntegerWorkspace(std::int32_t n, std::int32_t per_entry, std::int64_t entries) {
  return static_cast<std::int64_t>(kPerOrderArrays) * n + per_entry * entries;
}
// The same sum in single precision, as the drivers test it against the
// largest integer.
inline float IntegerWorkspaceInFloat(std::int32_t n, std::int32_t per_entry, std::int32_t entries) {
  return static_cast<float>(kPerOrderArrays) * static_cast<float>(n) +
         static_cast<float>(per_entry) * static_cast<float>(entries);
}
// The slots an integer workspace of `integers` holds at `per_entry` integers
// each (the inverse of IntegerWorkspace, rounded down).
constexpr std::int64_t SlotsInWorkspace(std::int32_t n, std::int32_t per_entry, std::int64_t integers) {
  return (integers - static_cast<std::int64_t>(kPerOrderArrays) * n) / per_entry;
}
// Smallest count given to a kind of bucket that is not searched.
inline constexpr std::int32_t kUnsearchedCount = 100000;

// Writes the defaults; the real routine leaves IPARAM(4), RPARAM(4), RPARAM(5).
void SetSparseDefaults(std::span<std::int32_t> iparam, std::span<float> rparam);
// The complex routine also clears the three statistics.
void SetSparseDefaultsComplex(std::span<std::int32_t> iparam, std::span<float> rparam);

template <class T> struct SparseTraits;

template <> struct SparseTraits<float> {
  using Value = float;
  static constexpr std::string_view kDriver = "LFTXG";
  static constexpr std::string_view kSecond = "L2TXG";
  static constexpr std::string_view kElimination = "L5TXG";
  static constexpr std::string_view kSolve = "LFSXG";
  static constexpr std::string_view kPermute = "PERMU";
  // Integer workspace per triplet named in the driver's checks (15*N + 5*NZ).
  static constexpr std::int32_t kDriverPerNz = 5;
  static constexpr Message kDriverOrder{
      6, "The order of system of equations must be positive, while N = %(I1) is given."};
  static constexpr Message kSecondOrder{22, "The order of the matrix must be positive while N = %(I1) is given."};
  static constexpr Message kWorkspaceOverflow{
      11, "The minimum amount of workspace 15*N+5*NZ = %(R1) exceeds the maximum integer IMACH(5) = %(R2)."};
  static constexpr Message kWorkspaceLimit{
      8, "The nonzero workspace limit in IPARAM(5) = %(I1) must exceed 15*N+5*NZ = %(I2)."};
  static constexpr Message kDefaultExhausted{
      20, "Factorization from row 1 to row %(I1) reached the default workspace limit based on N and MAXNZ = "
          "3*NZ.  Please set IPARAM(5) larger than the default, which is 15*N+5*MAXNZ = %(I2)."};
  static void defaults(std::span<std::int32_t> iparam, std::span<float> rparam) {
    SetSparseDefaults(iparam, rparam);
  }
  static float magnitude(float a) { return std::fabs(a); }
  static float mul(float a, float b) { return a * b; }
  static float sub(float a, float b) { return a - b; }
  static float neg(float a) { return -a; }
  static float div(float a, float b) { return a / b; }
  static float recip(float a) { return 1.0f / a; }
  // The transposed solve uses the factors as they are.
  static float transposed(float a) { return a; }
};

template <> struct SparseTraits<Complex> {
  using Value = Complex;
  static constexpr std::string_view kDriver = "LFTZG";
  static constexpr std::string_view kSecond = "L2TZG";
  static constexpr std::string_view kElimination = "L5TZG";
  static constexpr std::string_view kSolve = "LFSZG";
  static constexpr std::string_view kPermute = "L11ZG";
  static constexpr std::int32_t kDriverPerNz = 6;
  static constexpr Message kDriverOrder{6, "The order of the matrix must be positive, while N = %(I1) is given."};
  static constexpr Message kSecondOrder{
      22, "The order of system of equations must be positive while N = %(I1) is given."};
  static constexpr Message kWorkspaceOverflow{
      11, "The minimum amount of workspace 15*N+6*NZ = %(R1) exceeds the maximum integer IMACH(5) = %(R2)."};
  static constexpr Message kWorkspaceLimit{
      8, "The nonzero workspace limit in IPARAM(5) = %(I1) must exceed 15*N+6*NZ = %(I2)."};
  static constexpr Message kDefaultExhausted{
      20, "Factorization from row 1 to row %(I1) reached the default workspace limit based on N and MAXNZ = "
          "3*NZ.  Please set IPARAM(5) larger than the default, which is 15*N+6*MAXNZ = %(I2)."};
  static void defaults(std::span<std::int32_t> iparam, std::span<float> rparam) {
    SetSparseDefaultsComplex(iparam, rparam);
  }
  static float magnitude(Complex a) { return cabs(a); }
  static Complex mul(Complex a, Complex b) { return cmul(a, b); }
  static Complex sub(Complex a, Complex b) { return csub(a, b); }
  static Complex neg(Complex a) { return cneg(a); }
  static Complex div(Complex a, Complex b) { return cdiv(a, b); }
  static Complex recip(Complex a) { return crecip(a); }
  // The transposed solve of a complex matrix is the conjugate transpose.
  static Complex transposed(Complex a) { return cconj(a); }
};

} // namespace orvek::sparse
