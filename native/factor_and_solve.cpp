// Native sparse LU: the factorization driver with its default parameters
// and the solve, as the exported LUR/LUC and BSR/BSC run them, with the
// factor set held in vectors, and the solve refined to double accuracy. The
// factor storage is sized 3·NZ, as the exported routines size it (or as
// FactorOptions asks); a factorization that ends with a warning leaves the
// factors unwritten there, so the set comes back empty. A factor set whose
// numbers are in range and whose IPVT and JPVT are permutations is solved
// on the road BSR/BSC choose (sparse::SolveOnChosenRoad): the direct road
// (no copies, nothing marked) when it can, otherwise the marked road, which
// reports what is wrong.
#include "native/native_internal.hpp"

#include <algorithm>
#include <new>

#include "sparse/entry_checks.hpp"
#include "sparse/refine.hpp"
#include "sparse/solve_direct.hpp"
#include "sparse/sparse_factor.hpp"
#include "sparse/sparse_solve.hpp"

namespace orvek {
namespace {

using native::Checks;
using native::Count;
using native::Size;
using sparse::Wide;

constexpr std::string_view kFactorName = "Factor";
constexpr Message kTripletSizes{
    1, "IROW holds %(I1) and JCOL %(I2) entries; both must hold NZ = %(I3), one per value."};
constexpr Message kFactorRoom{2, "NZ = %(I1) is too large: the factor storage of 3*NZ entries exceeds 2147483647."};
constexpr Message kFactorMemory{
    3, "The factor storage of 3*NZ entries for NZ = %(I1) and the pivots of N = %(I2) cannot be allocated."};
constexpr Message kRoomOption{
    4, "MAX_ENTRIES = %(I1) must be at least 3*NZ = %(I2), and 15*N + 5*MAX_ENTRIES (N = %(I3)) at most 2147483647."};

constexpr std::string_view kSolveName = "Solve";
constexpr Message kIncomplete{
    1, "The factor set holds no factors: its factorization ended with a warning, or it was never computed."};
constexpr Message kFactorShape{
    2, "The factor set is inconsistent: NFAC = %(I1), NL = %(I2), N = %(I3) do not match its arrays."};
constexpr Message kFactorIndex{3, "%(L1)(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kVectorSize{4, "%(L1) holds %(I1) values; it must hold N = %(I2)."};

template <class T>
FactorSet<T> FactorImpl(Workspace &ws, const TripletMatrix<T> &a, const FactorOptions &o) try {
  native::CallScope scope(ws, kFactorName);
  const std::int32_t nz = a.nz();
  const std::int64_t least_room = 3 * static_cast<std::int64_t>(nz);
  {
    Checks checks(scope, kFactorName);
    if (checks.require(a.irow.size() == a.value.size() && a.jcol.size() == a.value.size(), kTripletSizes,
                       {Count(a.irow.size()), Count(a.jcol.size()), nz}) &&
        checks.require(least_room <= INT32_MAX, kFactorRoom, {nz}) && o.max_entries != 0)
      checks.require(
          o.max_entries >= least_room && o.max_entries <= INT32_MAX &&
              sparse::IntegerWorkspace(a.n, sparse::kWorkspaceDivisor, o.max_entries) <= INT32_MAX,
          kRoomOption,
          {static_cast<std::int32_t>(std::clamp<std::int64_t>(o.max_entries, INT32_MIN, INT32_MAX)),
           static_cast<std::int32_t>(least_room), a.n});
    checks.passed();
    scope.check();
  }
  // The driver checks N and NZ itself (and every row and column number);
  // an order or a count it refuses (N or NZ below 1, a workspace
  // 15*N + 5*NZ, 6*NZ for complex values, beyond the largest integer) is
  // refused before the factor arrays are touched, so they are sized only
  // for what it accepts.
  FactorSet<T> f;
  f.n = a.n;
  const float least = sparse::IntegerWorkspaceInFloat(a.n, sparse::SparseTraits<T>::kDriverPerNz, nz);
  const bool accepted = a.n >= 1 && nz >= 1 && !(least > static_cast<float>(INT32_MAX));
  const std::size_t room =
      !accepted ? 0 : o.max_entries != 0 ? static_cast<std::size_t>(o.max_entries) : 3 * Size(nz);
  try {
    f.fac.assign(room, T{});
    f.irfac.assign(room, 0);
    f.jcfac.assign(room, 0);
    f.ipvt.assign(accepted ? Size(a.n) : 0, 0);
    f.jpvt.assign(accepted ? Size(a.n) : 0, 0);
  } catch (const std::bad_alloc &) {
    Checks checks(scope, kFactorName);
    checks.require(false, kFactorMemory, {nz, a.n});
    checks.passed();
    scope.check();
  }
  std::int32_t iparam[sparse::kIparamSize] = {};
  float rparam[sparse::kRparamSize] = {};
  if (o.max_entries != 0) {
    // The defaults, given explicitly, with the larger workspace limit.
    sparse::SetSparseDefaults(iparam, rparam);
    iparam[sparse::kIparamWorkspace] =
        static_cast<std::int32_t>(sparse::IntegerWorkspace(a.n, sparse::kWorkspaceDivisor, o.max_entries));
  }
  std::int32_t nfac = Count(room), nl = 0;
  sparse::FactorTriplets<T>(scope.err(), {a.n, nz, a.value, a.irow, a.jcol, iparam, rparam, nfac, nl, f.fac,
                                          f.irfac, f.jcfac, f.ipvt, f.jpvt});
  scope.check();
  f.peak = iparam[sparse::kIparamPeak];
  f.growth = rparam[sparse::kRparamGrowth];
  f.min_pivot = rparam[sparse::kRparamMinPivot];
  f.warnings = scope.warnings();
  if (!f.warnings.empty()) {
    // The factor arrays were not written: nothing of them is usable.
    f.nfac = f.nl = 0;
    f.fac.clear();
    f.irfac.clear();
    f.jcfac.clear();
    return f;
  }
  f.nfac = nfac;
  f.nl = nl;
  f.fac.resize(Size(nfac));
  f.irfac.resize(Size(nfac));
  f.jcfac.resize(Size(nfac));
  return f;
} catch (...) {
  native::RethrowAllocationFailure(kFactorName);
}

} // namespace

namespace native {

// The factor set is complete and consistent, every factor entry's row and
// column lie in 1..N, and IPVT/JPVT hold N values each (their contents are
// checked by the solve).
template <class T> void CheckFactors(CallScope &scope, const FactorSet<T> &f) {
  const std::int32_t n = f.n;
  // One branch-free pass when all is well (as the solve entry points make it).
  if (f.complete() && n >= 1 && f.nl >= 0 && f.irfac.size() == Size(f.nfac) && f.jcfac.size() == Size(f.nfac) &&
      f.ipvt.size() == Size(n) && f.jpvt.size() == Size(n) &&
      sparse::FactorSetFits(n, f.nfac, f.nl, f.irfac.data(), f.jcfac.data(), INT32_MAX, 0))
    return;
  Checks checks(scope, kSolveName);
  bool ok = checks.require(f.complete(), kIncomplete);
  ok = ok && checks.require(n >= 1 && f.nl >= 0 && f.nl <= f.nfac && f.irfac.size() == Size(f.nfac) &&
                                f.jcfac.size() == Size(f.nfac) && f.ipvt.size() == Size(n) &&
                                f.jpvt.size() == Size(n),
                            kFactorShape, {f.nfac, f.nl, n});
  for (const auto &[name, index] : {std::pair{"IRFAC", &f.irfac}, std::pair{"JCFAC", &f.jcfac}}) {
    for (std::size_t k = 0; ok && k < index->size(); ++k) {
      const std::int32_t v = (*index)[k];
      ok = checks.require_named(v >= 1 && v <= n, name, kFactorIndex, {Count(k + 1), v, n});
    }
  }
  checks.passed();
  scope.check();
}

// The solve of one right-hand side under an open scope, factors checked:
// the multipliers path of the solve, or division by the diagonals when the
// factors hold no multipliers (as BSR/BSC).
template <class T>
void SolveChecked(CallScope &scope, const FactorSet<T> &f, std::span<const T> b, std::span<T> x, Path path) {
  Workspace::Impl &ws = scope.ws();
  const std::size_t n = Size(f.n);
  // The solve marks the permutations while it works: it gets copies.
  std::span<std::int32_t> ipvt = ws.ipvt.take(n), jpvt = ws.jpvt.take(n);
  std::copy(f.ipvt.begin(), f.ipvt.end(), ipvt.begin());
  std::copy(f.jpvt.begin(), f.jpvt.end(), jpvt.begin());
  sparse::SolveFactored<T>(scope.err(), f.n, f.nfac, f.nl, f.fac, f.irfac, f.jcfac, ipvt, jpvt, b,
                           static_cast<std::int32_t>(path), x, false);
}

// The direct road when the permutations allow it, else the marked road;
// factors checked, b and x of n values (they may be the same storage).
template <class T>
void SolveFast(CallScope &scope, const FactorSet<T> &f, std::span<const T> b, std::span<T> x, Path path) {
  Workspace::Impl &ws = scope.ws();
  const std::size_t n = Size(f.n);
  const std::span<T> work = [&ws, n]() {
    if constexpr (std::is_same_v<T, float>)
      return ws.solve_real.take(n);
    else
      return ws.solve_complex.take(n);
  }();
  const auto fac = [&f](std::int32_t k) { return f.fac[Size(k) - 1]; };
  const auto in = [b](std::int32_t i) { return b[Size(i) - 1]; };
  const auto out = [x](std::int32_t i, T v) { x[Size(i) - 1] = v; };
  sparse::SolveOnChosenRoad<T>(scope.err(),
                               sparse::FactorReader<decltype(fac)>{f.n, f.nfac, f.nl, fac, f.irfac.data(),
                                                                   f.jcfac.data(), f.ipvt.data(),
                                                                   f.jpvt.data()},
                               in, static_cast<std::int32_t>(path), out, work, ws.ipvt.take(n),
                               /*multipliers_required=*/false, [&] {
                                 SolveChecked(scope, f, b, x, path);
                                 return true;
                               });
}

template void CheckFactors<Complex>(CallScope &, const FactorSet<Complex> &);
template void SolveFast<Complex>(CallScope &, const FactorSet<Complex> &, std::span<const Complex>, std::span<Complex>,
                                 Path);
template void SolveChecked<Complex>(CallScope &, const FactorSet<Complex> &, std::span<const Complex>,
                                    std::span<Complex>, Path);

} // namespace native

namespace {

template <class T>
void SolveImpl(Workspace &ws, const FactorSet<T> &f, std::span<const T> b, std::span<T> x, Path path) try {
  native::CallScope scope(ws, kSolveName);
  native::CheckFactors(scope, f);
  {
    Checks checks(scope, kSolveName);
    if (checks.require_named(b.size() == Size(f.n), "B", kVectorSize, {Count(b.size()), f.n}))
      checks.require_named(x.size() == Size(f.n), "X", kVectorSize, {Count(x.size()), f.n});
    checks.passed();
    scope.check();
  }
  native::SolveFast(scope, f, b, x, path);
  scope.check();
} catch (...) {
  native::RethrowAllocationFailure(kSolveName);
}

constexpr std::string_view kRefinedName = "SolveRefined";
constexpr Message kMatrixOrder{5, "The matrix has order %(I1); its factor set has N = %(I2)."};
constexpr Message kMatrixSizes{6, "IROW, JCOL and the values hold %(I1), %(I2) and %(I3) entries; they must be equal."};
constexpr Message kMatrixEntry{7, "Entry %(I1) of the matrix lies at row %(I2), column %(I3), outside 1..N."};

template <class T>
RefinedSolution<Wide<T>> SolveRefinedImpl(Workspace &ws, const FactorSet<T> &f, const TripletMatrix<T> &a,
                                          std::span<const Wide<T>> b, Path path) try {
  native::CallScope scope(ws, kRefinedName);
  native::CheckFactors(scope, f);
  {
    Checks checks(scope, kRefinedName);
    bool ok = checks.require(a.n == f.n, kMatrixOrder, {a.n, f.n}) &&
              checks.require(a.irow.size() == a.value.size() && a.jcol.size() == a.value.size(), kMatrixSizes,
                             {Count(a.irow.size()), Count(a.jcol.size()), a.nz()}) &&
              checks.require_named(b.size() == Size(f.n), "B", kVectorSize, {Count(b.size()), f.n});
    for (std::size_t t = 0; ok && t < a.value.size(); ++t) {
      const std::int32_t r = a.irow[t], c = a.jcol[t];
      ok = checks.require(r >= 1 && r <= a.n && c >= 1 && c <= a.n, kMatrixEntry, {Count(t + 1), r, c});
    }
    checks.passed();
    scope.check();
  }
  Workspace::Impl &w = scope.ws();
  const std::size_t n = Size(f.n);
  RefinedSolution<Wide<T>> out;
  out.x.resize(n);
  const sparse::TripletView<T> view{a.n, a.irow, a.jcol, a.value};
  constexpr std::size_t m = sparse::kKrylovDimension;
  const std::span<Wide<T>> wide = [&w, n]() {
    const std::size_t size = (2 * m + 4) * n + (m + 1) * (m + 3);
    if constexpr (std::is_same_v<T, float>)
      return w.wide_real.take(size);
    else
      return w.wide_complex.take(size);
  }();
  const std::span<T> single = [&w, n]() {
    if constexpr (std::is_same_v<T, float>)
      return w.rb.take(2 * n);
    else
      return w.cz0.take(2 * n);
  }();
  const sparse::RefineVectors<T> v{wide.subspan(0, n),
                                   out.x,
                                   wide.subspan(n, n),
                                   wide.subspan(2 * n, n),
                                   single.subspan(0, n),
                                   single.subspan(n, n),
                                   w.sums.take(n),
                                   wide.subspan(3 * n, (m + 1) * n),
                                   wide.subspan((m + 4) * n, m * n),
                                   wide.subspan((2 * m + 4) * n)};
  const sparse::RefineResult r =
      sparse::Refine(view, path == Path::kTransposed, b, v, [&](std::span<const T> rhs, std::span<T> x) {
        native::SolveFast(scope, f, rhs, x, path);
        scope.check();
      });
  out.iterations = r.solves;
  out.backward_error = r.backward_error;
  return out;
} catch (...) {
  native::RethrowAllocationFailure(kRefinedName);
}

} // namespace

FactorSet<float> Factor(Workspace &ws, const TripletMatrix<float> &a) { return FactorImpl(ws, a, {}); }
FactorSet<Complex> Factor(Workspace &ws, const TripletMatrix<Complex> &a) { return FactorImpl(ws, a, {}); }
FactorSet<float> Factor(Workspace &ws, const TripletMatrix<float> &a, const FactorOptions &options) {
  return FactorImpl(ws, a, options);
}
FactorSet<Complex> Factor(Workspace &ws, const TripletMatrix<Complex> &a, const FactorOptions &options) {
  return FactorImpl(ws, a, options);
}

void Solve(Workspace &ws, const FactorSet<float> &f, std::span<const float> b, std::span<float> x, Path path) {
  SolveImpl(ws, f, b, x, path);
}
void Solve(Workspace &ws, const FactorSet<Complex> &f, std::span<const Complex> b, std::span<Complex> x,
           Path path) {
  SolveImpl(ws, f, b, x, path);
}
RefinedSolution<double> SolveRefined(Workspace &ws, const FactorSet<float> &f, const TripletMatrix<float> &a,
                                     std::span<const double> b, Path path) {
  return SolveRefinedImpl<float>(ws, f, a, b, path);
}
RefinedSolution<std::complex<double>> SolveRefined(Workspace &ws, const FactorSet<Complex> &f,
                                                   const TripletMatrix<Complex> &a,
                                                   std::span<const std::complex<double>> b, Path path) try {
  // std::complex<double> is laid out as two doubles, real part first (the
  // standard guarantees it), as the library's double pair is.
  static_assert(sizeof(std::complex<double>) == sizeof(sparse::ComplexD));
  const std::span<const sparse::ComplexD> wide(reinterpret_cast<const sparse::ComplexD *>(b.data()), b.size());
  RefinedSolution<sparse::ComplexD> r = SolveRefinedImpl<Complex>(ws, f, a, wide, path);
  RefinedSolution<std::complex<double>> out;
  out.x.resize(r.x.size());
  for (std::size_t i = 0; i < r.x.size(); ++i) out.x[i] = {r.x[i].re, r.x[i].im};
  out.iterations = r.iterations;
  out.backward_error = r.backward_error;
  return out;
} catch (...) {
  native::RethrowAllocationFailure(kRefinedName);
}

std::vector<float> Solve(Workspace &ws, const FactorSet<float> &f, std::span<const float> b, Path path) try {
  std::vector<float> x(b.size());
  SolveImpl<float>(ws, f, b, x, path);
  return x;
} catch (...) {
  native::RethrowAllocationFailure(kSolveName);
}
std::vector<Complex> Solve(Workspace &ws, const FactorSet<Complex> &f, std::span<const Complex> b,
                           Path path) try {
  std::vector<Complex> x(b.size());
  SolveImpl<Complex>(ws, f, b, x, path);
  return x;
} catch (...) {
  native::RethrowAllocationFailure(kSolveName);
}

} // namespace orvek
