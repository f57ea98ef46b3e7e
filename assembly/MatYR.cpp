// MatYR: removes every node flagged in IDROP from a row-indexed admittance
// matrix of NIN nodes and renumbers the rest (rows taken from IOLD, kept
// columns renumbered through INEW); triplet list only, diagonals first, then
// the off-diagonals row by row with ascending new columns.
// Work storage: this file's ReductionStorage.
#include "assembly/adapter_support.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::Message;

constexpr std::string_view kName = "MatYR";
constexpr Message kNinRange{
    1, orvek::frame::kCapacityText<"NIN = %(I1) must lie between 1 and {}.", orvek::kMaxRowIndexedEntries>};
constexpr Message kNRange{
    2, orvek::frame::kCapacityText<"N = %(I1) must lie between 0 and {}.", orvek::kMaxRowIndexedEntries>};
constexpr Message kEndPointer{3, "IJA(%(I1)) = %(I2) must lie between %(I3) and %(I4)."};
constexpr Message kIoldRange{4, "IOLD(%(I1)) = %(I2) must lie between 1 and %(I3)."};
constexpr Message kRowPointer{5, "IJA(%(I1)) = %(I2) must lie between %(I3) and %(I4)."};
constexpr Message kColumn{6, "IJA(%(I1)) = %(I2) must lie between 1 and %(I3)."};
constexpr Message kEntries{
    7,
    orvek::frame::kCapacityText<"The matrix needs NZ = %(I1) entries; the row-indexed form holds at most {}.",
                                orvek::kMaxRowIndexedEntries>};
constexpr Message kInew{8, "INEW(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};

orvek::assembly::ReductionStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatYR(const int32_t *NIN, const int32_t *IDROP, const float *SA,
                                           const int32_t *IJA, const int32_t *IOLD, const int32_t *INEW,
                                           const int32_t *N, int32_t *IROW, int32_t *JCOL, float *A,
                                           int32_t *NZ) {
  using namespace orvek;
  using namespace orvek::assembly;
  ErrorModule &err = errors();
  const std::int32_t n_in = *NIN, n = *N;

  // IDROP(1..NIN) is read only after the checks have accepted NIN.
  const HostReduction in{n_in,
                         n,
                         SA,
                         IJA,
                         IOLD,
                         INEW,
                         ColumnFilter::Flags(std::span<const std::int32_t>(IDROP, orvek::Size(n_in)))};
  std::int32_t entries = 0;
  {
    frame::ArgumentGuard guard(err, kName);
    bool ok = guard.reject_if(n_in < 1 || n_in > kMaxRowIndexedEntries, kNinRange, {n_in});
    // N = 0 keeps no node: NZ = 0.
    ok = ok && guard.reject_if(n < 0 || n > kMaxRowIndexedEntries, kNRange, {n});
    ok = ok && CheckReductionInput(guard, {kEndPointer, kIoldRange, kRowPointer, kColumn, kInew}, n_in, IJA,
                                   IOLD, INEW, n, 0, IDROP);
    if (ok) {
      entries = CountHostReduction(in);
      ok = guard.reject_if(entries > kMaxRowIndexedEntries, kEntries, {entries});
    }
    if (!guard.passed() || !ok) return;
  }

  // The reduced row-indexed form stays in this routine's storage.
  *NZ = ReduceFromHost(storage, in, entries, IROW, JCOL, storage.ijar);
  WriteSplit<kLdNonzero>(A, storage.t, *NZ);
}
