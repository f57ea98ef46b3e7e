// The diagonal of the inverse of one factored network matrix at every node,
// for the fault levels and the all-node fault study: the factor set is
// checked (complete, IPVT and JPVT permutations, L strictly below and U on
// or above the diagonal, every row of U with its diagonal), indexed by rows
// and columns, widened to double or, with the matrix given, refactored in
// double along its pivots, and the inverse formed on its pattern. All work
// storage is the workspace's.
#include "native/native_internal.hpp"

#include "sparse/inverse_subset.hpp"
#include "sparse/solve_direct.hpp"

namespace orvek::native {
namespace {

constexpr Message kPermutations{
    11, "IPVT and JPVT of the %(L1) factor set must each hold the integers 1 to N = %(I1)."};
constexpr Message kWrongSide{
    12,
    "Entry %(I1) of the %(L1) factor set lies at row %(I2), column %(I3), on the wrong side of the diagonal "
    "for its part of the factors."};
constexpr Message kNoDiagonal{13, "Row %(I1) of U in the %(L1) factor set has no diagonal entry."};
constexpr Message kMatrixOrder{14, "The %(L1) matrix has order %(I1); it must have N = %(I2)."};
constexpr Message kMatrixSizes{
    15,
    "IROW, JCOL and the values of the %(L1) matrix hold %(I1), %(I2) and %(I3) entries; they must be equal."};
constexpr Message kMatrixEntry{
    16, "Entry %(I1) of the %(L1) matrix lies at row %(I2), column %(I3), outside 1..N."};
constexpr Message kNotFactored{
    17,
    "The %(L1) matrix has entries outside the pattern of its factor set: it is not the matrix the set was "
    "computed from."};
constexpr Message kNoNodeDiagonal{
    18,
    "The %(L1) matrix has no entry at row and column %(I1): the driving-point impedance of that node is not "
    "defined by its factors."};

// The factor set's permutations, the matrix when given (order, sizes, every
// entry inside 1..N), and the factors indexed by rows and columns (L strictly
// below, U on or above the diagonal, every row of U with its diagonal);
// mark is scratch of N elements.
void CheckSetAndMatrix(CallScope &scope, std::string_view routine, std::string_view name,
                       const FactorSet<Complex> &f, const TripletMatrix<Complex> *a,
                       const sparse::FactorIndex &index, std::span<std::int32_t> mark) {
  const std::int32_t n = f.n;
  const std::size_t unz = a != nullptr ? Size(a->nz()) : 0;
  Checks checks(scope, routine);
  bool ok = checks.require_named(sparse::ArePermutations(f.ipvt.data(), f.jpvt.data(), n, mark.data()), name,
                                 kPermutations, {n});
  if (ok && a != nullptr) {
    ok = checks.require_named(a->n == n, name, kMatrixOrder, {a->n, n}) &&
         checks.require_named(a->irow.size() == a->value.size() && a->jcol.size() == a->value.size(), name,
                              kMatrixSizes, {Count(a->irow.size()), Count(a->jcol.size()), a->nz()});
    for (std::size_t t = 0; ok && t < unz; ++t) {
      const std::int32_t r = a->irow[t], c = a->jcol[t];
      ok = checks.require_named(r >= 1 && r <= n && c >= 1 && c <= n, name, kMatrixEntry,
                                {Count(t + 1), r, c});
    }
  }
  if (ok) {
    const sparse::IndexStatus st = sparse::IndexFactors(n, f.nfac, f.nl, f.irfac, f.jcfac, index, mark);
    if (st.kind == sparse::IndexStatus::kNoDiagonal)
      checks.require_named(false, name, kNoDiagonal, {st.row});
    else
      checks.require_named(st.kind == sparse::IndexStatus::kGood, name, kWrongSide,
                           {st.entry, st.row, st.column});
  }
  checks.passed();
  scope.check();
}

} // namespace

void InverseDiagonal(CallScope &scope, std::string_view routine, std::string_view name,
                     const FactorSet<Complex> &f, const TripletMatrix<Complex> *a,
                     std::span<sparse::ComplexD> diag) {
  CheckFactors(scope, f);
  Workspace::Impl &ws = scope.ws();
  const std::int32_t n = f.n, nfac = f.nfac;
  const std::size_t un = Size(n), ufac = Size(nfac), unz = a != nullptr ? Size(a->nz()) : 0;
  // Integer work: the lists (5N + 2 + 2·NFAC), the scratch of the steps (3N)
  // and the refactorization's rows of A (N + 1 + NZ).
  const std::span<std::int32_t> ints = ws.inv_index.take(9 * un + 3 + 2 * ufac + unz);
  std::size_t at = 0;
  const auto part = [&](std::size_t count) {
    const std::span<std::int32_t> s = ints.subspan(at, count);
    at += count;
    return s;
  };
  const sparse::FactorIndex index{part(un + 1), part(un),   part(ufac), part(un + 1),
                                  part(un),     part(ufac), part(un)};
  const std::span<std::int32_t> mark = part(un), ipos = part(un), jpos = part(un);
  CheckSetAndMatrix(scope, routine, name, f, a, index, mark);
  const std::span<sparse::ComplexD> fac = ws.inv_fac.take(ufac), z = ws.inv_z.take(ufac),
                                    w = ws.inv_w.take(un);
  if (a != nullptr) {
    const sparse::RefactorWork work{w, mark, ipos, jpos, part(un + 1), part(unz)};
    const bool same = sparse::RefactorInDouble(n, a->nz(), a->irow, a->jcol, a->value, f.ipvt, f.jpvt,
                                               f.jcfac, index, work, fac);
    Checks checks(scope, routine);
    checks.require_named(same, name, kNotFactored);
    checks.passed();
    scope.check();
  } else {
    for (std::size_t e = 0; e < ufac; ++e) fac[e] = sparse::Widen(f.fac[e]);
  }
  sparse::InverseOnPattern(n, fac, f.irfac, f.jcfac, index, w, mark, z);
  // Node k sits at position ipos[k] of IPVT and jpos[k] of JPVT.
  for (std::int32_t i = 1; i <= n; ++i) {
    ipos[Size(f.ipvt[Size(i) - 1]) - 1] = i;
    jpos[Size(f.jpvt[Size(i) - 1]) - 1] = i;
  }
  Checks checks(scope, routine);
  for (std::int32_t k = 1; k <= n; ++k) {
    const bool found =
        sparse::DiagonalOfInverse(ipos[Size(k) - 1], jpos[Size(k) - 1], f.jcfac, index, z, diag[Size(k) - 1]);
    if (!checks.require_named(found, name, kNoNodeDiagonal, {k})) break;
  }
  checks.passed();
  scope.check();
}

} // namespace orvek::native
