// MatricaYR: removes the row and column of node KREF from a row-indexed
// admittance matrix of N + 1 nodes and renumbers the remaining nodes (new
// node i is old node IOLD(i), old column c becomes INEW(c)); the values stay
// as they are. Returns the reduced matrix of order N in the row-indexed form
// (columns ascending within each row) and as a triplet list.
// Work storage: this file's ReductionStorage.
#include "assembly/adapter_support.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::Message;

constexpr std::string_view kName = "MatricaYR";
constexpr Message kNRange{
    1, orvek::frame::kCapacityText<"N = %(I1) must lie between 0 and {}.", orvek::kMaxRowIndexedEntries - 1>};
constexpr Message kEndPointer{2, "IJA(%(I1)) = %(I2) must lie between %(I3) and %(I4)."};
constexpr Message kIoldRange{3, "IOLD(%(I1)) = %(I2) must lie between 1 and %(I3)."};
constexpr Message kRowPointer{4, "IJA(%(I1)) = %(I2) must lie between %(I3) and %(I4)."};
constexpr Message kColumn{5, "IJA(%(I1)) = %(I2) must lie between 1 and %(I3)."};
constexpr Message kEntries{
    6,
    orvek::frame::kCapacityText<"The matrix needs NZ = %(I1) entries; the row-indexed form holds at most {}.",
                                orvek::kMaxRowIndexedEntries>};
constexpr Message kInew{7, "INEW(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kKref{8, "KREF = %(I1) must lie between 1 and N + 1 = %(I2)."};

orvek::assembly::ReductionStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatricaYR(const int32_t *KREF, const float *SA, const int32_t *IJA,
                                               const int32_t *IOLD, const int32_t *INEW, const int32_t *N,
                                               float *SAR, int32_t *IJAR, int32_t *IROW, int32_t *JCOL,
                                               float *A, int32_t *NZ) {
  using namespace orvek;
  using namespace orvek::assembly;
  ErrorModule &err = errors();
  const std::int32_t n = *N, kref = *KREF;
  // N + 1 is formed only for an N the check below accepts (N = 2147483647
  // would overflow); for any other N the value is never used. N = 0 reduces
  // a matrix of one node to nothing (NZ = 0, IJAR(1) = 2).
  const std::int32_t n_in = n >= 0 && n <= kMaxRowIndexedEntries - 1 ? n + 1 : 1;

  const HostReduction in{n_in, n, SA, IJA, IOLD, INEW, ColumnFilter::Reference(kref)};
  std::int32_t entries = 0;
  {
    frame::ArgumentGuard guard(err, kName);
    bool ok = guard.reject_if(n < 0 || n > kMaxRowIndexedEntries - 1, kNRange, {n});
    // Any other KREF would keep every column, the unlisted node's too.
    ok = ok && guard.reject_if(kref < 1 || kref > n_in, kKref, {kref, n_in});
    ok = ok && CheckReductionInput(guard, {kEndPointer, kIoldRange, kRowPointer, kColumn, kInew}, n_in, IJA,
                                   IOLD, INEW, n, kref, nullptr);
    if (ok) {
      entries = CountHostReduction(in);
      ok = guard.reject_if(entries > kMaxRowIndexedEntries, kEntries, {entries});
    }
    if (!guard.passed() || !ok) return;
  }

  const std::int32_t nz = ReduceFromHost(storage, in, entries, IROW, JCOL, HostSpan(IJAR, entries + 1));
  *NZ = nz;
  WriteSplit<kLdNonzero>(A, storage.t, nz);
  WriteSplit<kLdNonzero>(SAR, storage.w, nz + 1);
}
