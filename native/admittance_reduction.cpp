// Native reduction of a row-indexed admittance matrix: the gathering, column
// sort and triplet order of the exported MatricaYR (one reference node
// removed, both forms returned) and MatYR (flagged nodes removed, triplets
// only), over vectors sized to the matrix. The input matrix, the numbering
// vectors and every new number looked up are checked before the kernel runs.
#include "native/native_internal.hpp"

#include "frame/capacity_text.hpp"

#include "assembly/admittance.hpp"

namespace orvek {
namespace {

using native::Checks;
using native::Count;
using native::Size;

constexpr Message kMatrixShape{
    1, "The row-indexed matrix of order N = %(I1) needs IJA(1) = N + 2 and at least N + 1 index values."};
constexpr Message kMatrixPointer{2, "IJA(%(I1)) = %(I2) is out of order or beyond the stored positions."};
constexpr Message kMatrixColumn{3, "IJA(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kVectorSize{4, "%(L1) holds %(I1) values; it must hold %(I2)."};
constexpr Message kReference{5, "KREF = %(I1) must lie between 1 and the order of the matrix, %(I2)."};
constexpr Message kOldNode{6, "IOLD(%(I1)) = %(I2) must lie between 1 and the order of the matrix, %(I3)."};
constexpr Message kNewNode{7, "INEW(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kTooManyEntries{
    8, orvek::frame::kCapacityText<"The reduced matrix needs more than {} entries.", INT32_MAX>};

// The matrix, the sizes of the numbering vectors (iold holds the N new
// nodes, idrop when given and inew one value per old node), KREF when no
// flags are given, each old node listed and the new number of every column
// the reduction keeps; returns the number of entries of the result.
std::int32_t CheckReduction(native::CallScope &scope, std::string_view routine, const RowIndexed &y,
                            const assembly::ColumnFilter &filter, std::span<const std::int32_t> iold,
                            std::span<const std::int32_t> inew) {
  Checks checks(scope, routine);
  const std::int32_t n_in = y.n, n = Count(iold.size());
  std::int64_t entries = n;
  bool ok = native::CheckRowIndexed(checks, {kMatrixShape, kMatrixPointer, kMatrixColumn}, y);
  if (ok && filter.by_flags)
    ok = checks.require_named(filter.idrop.size() == Size(n_in), "IDROP", kVectorSize,
                              {Count(filter.idrop.size()), n_in});
  if (ok && !filter.by_flags) {
    ok = checks.require_named(iold.size() + 1 == Size(n_in), "IOLD", kVectorSize, {n, n_in - 1});
    ok = ok && checks.require(filter.kref >= 1 && filter.kref <= n_in, kReference, {filter.kref, n_in});
  }
  ok = ok && checks.require_named(inew.size() == Size(n_in), "INEW", kVectorSize, {Count(inew.size()), n_in});
  for (std::int32_t i = 1; ok && i <= n; ++i) {
    const std::int32_t p = iold[Size(i) - 1];
    ok = checks.require(p >= 1 && p <= n_in, kOldNode, {i, p, n_in});
    for (std::int32_t k = ok ? y.ija[Size(p) - 1] : 0; ok && k < y.ija[Size(p)]; ++k) {
      const std::int32_t c = y.ija[Size(k) - 1];
      if (!filter.keeps(c)) continue;
      const std::int32_t renumbered = inew[Size(c) - 1];
      ok = checks.require(renumbered >= 1 && renumbered <= n, kNewNode, {c, renumbered, n});
      ++entries;
    }
  }
  ok = ok && checks.require(entries < INT32_MAX, kTooManyEntries);
  checks.passed();
  scope.check();
  return static_cast<std::int32_t>(entries);
}

// Runs the reduction into ijar/w (entries + 1 elements each) and the triplets.
void Reduce(native::CallScope &scope, const RowIndexed &y, const assembly::ColumnFilter &filter,
            std::span<const std::int32_t> iold, std::span<const std::int32_t> inew, std::int32_t entries,
            std::span<std::int32_t> ijar, std::span<Complex> w, TripletMatrix<Complex> &out) {
  Workspace::Impl &ws = scope.ws();
  const std::int32_t n = Count(iold.size());
  const std::size_t count = Size(entries);
  const auto input_len = Size(y.ija[Size(y.n)] - 1);
  const assembly::RowIndexedMatrix in{y.n, std::span<const std::int32_t>(y.ija).first(input_len),
                                      std::span<const Complex>(y.sa).first(input_len)};
  out.n = n;
  out.irow.assign(count, 0);
  out.jcol.assign(count, 0);
  out.value.assign(count, Complex{});
  assembly::TripletList<Complex> acc{out.irow, out.jcol, out.value, 0};
  assembly::ReduceRowIndexed(scope.err(), in, iold, inew, n, filter, ijar, w, acc,
                             {ws.sort_jcol.take(count), ws.sort_v.take(count), ws.sort_perm.take(count)});
  scope.check();
}

} // namespace

Admittance ReduceAdmittance(Workspace &ws, const RowIndexed &y, std::int32_t kref,
                            std::span<const std::int32_t> iold, std::span<const std::int32_t> inew) try {
  native::CallScope scope(ws, "ReduceAdmittance");
  const assembly::ColumnFilter filter = assembly::ColumnFilter::Reference(kref);
  const std::int32_t entries = CheckReduction(scope, "ReduceAdmittance", y, filter, iold, inew);
  Admittance out;
  out.row_indexed.n = Count(iold.size());
  out.row_indexed.ija.assign(Size(entries) + 1, 0);
  out.row_indexed.sa.assign(Size(entries) + 1, Complex{});
  Reduce(scope, y, filter, iold, inew, entries, out.row_indexed.ija, out.row_indexed.sa, out.triplets);
  return out;
} catch (...) {
  native::RethrowAllocationFailure("ReduceAdmittance");
}

TripletMatrix<Complex> ReduceTriplets(Workspace &ws, const RowIndexed &y, std::span<const std::int32_t> idrop,
                                      std::span<const std::int32_t> iold,
                                      std::span<const std::int32_t> inew) try {
  native::CallScope scope(ws, "ReduceTriplets");
  const assembly::ColumnFilter filter = assembly::ColumnFilter::Flags(idrop);
  const std::int32_t entries = CheckReduction(scope, "ReduceTriplets", y, filter, iold, inew);
  // The reduced row-indexed form is work storage here.
  Workspace::Impl &w = scope.ws();
  TripletMatrix<Complex> out;
  Reduce(scope, y, filter, iold, inew, entries, w.save_irow.take(Size(entries) + 1),
         w.save_v.take(Size(entries) + 1), out);
  return out;
} catch (...) {
  native::RethrowAllocationFailure("ReduceTriplets");
}

} // namespace orvek
