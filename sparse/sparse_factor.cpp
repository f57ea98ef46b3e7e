// The sparse LU factorization's driver (LFTXG, LFTZG) and second level
// (L2TXG, L2TZG), one template for real and complex values.
//   Driver:       checks N and NZ, applies the defaults, checks the workspace
//                 limit IPARAM(5), obtains WK and IWK in one block and runs
//                 the second level on them.
//   Second level: checks the triplets (factor_checks.cpp) and, called
//                 directly, LWK and LIWK; lays the linked storage over WK and
//                 IWK, inserts the triplets, runs the elimination
//                 (factor_eliminate.cpp) and copies the factors out.
// Each routine enters its own error frame and reports only through it; the
// hold area tells the second level whether it runs under the driver.
#include "sparse/sparse_factor.hpp"

#include <algorithm>
#include <cassert>
#include <limits>
#include <new>

#include "sparse/factor_storage.hpp"
#include "support/machine.hpp"

namespace orvek::sparse {

void SetSparseDefaults(std::span<std::int32_t> iparam, std::span<float> rparam) {
  iparam[kIparamDefaultsFlag] = 1;
  iparam[kIparamSearch] = kDefaultSearch;
  iparam[kIparamCandidates] = kDefaultCandidates;
  iparam[kIparamWorkspace] = 0;
  iparam[kIparamUnused] = 0;
  rparam[kRparamGrowthLimit] = kDefaultGrowthLimit;
  rparam[kRparamThreshold] = kDefaultThreshold;
  rparam[kRparamDrop] = kDefaultDrop;
}

void SetSparseDefaultsComplex(std::span<std::int32_t> iparam, std::span<float> rparam) {
  SetSparseDefaults(iparam, rparam);
  iparam[kIparamPeak] = 0;
  rparam[kRparamGrowth] = 0.0f;
  rparam[kRparamMinPivot] = 0.0f;
}

namespace {

// Driver (the texts that differ between real and complex are in the traits).
constexpr Message kDriverNz{7, "The number of nonzeros must be positive, while NZ = %(I1) is given."};
constexpr Message kAllocLimit{10, "The required storage cannot be allocated.  The workspace request failed based on "
                                  "IPARAM(5) = %(I1). Solutions may be to remove workstation tools or increase "
                                  "virtual memory."};
constexpr Message kAllocDefault{9, "The required storage cannot be allocated.  The workspace request failed based "
                                   "on MAXNZ = 3*NZ, where NZ=%(I1), is given. Solutions may be to remove "
                                   "workstation tools or increase virtual memory."};
// Second level.
constexpr Message kLwk{17, "The value of LWK = %(I1) must be greater than NZ = %(I2)."};
constexpr Message kLiwk{18, "The value of LIWK = %(I1) must be greater than 15*N+4*NZ = %(I2)."};
constexpr Message kDirectExhausted{
    19, "Factorization from row 1 to row %(I1) reached the workspace limit of MAXNZ = %(I4) based on LWK = %(I2) "
        "and LIWK = %(I3), where MAXNZ = MIN0(LWK, (LIWK-15*N)/4). Set LWK and LIWK larger as appropriate."};
constexpr Message kLimitExhausted{21, "Factorization from row 1 to row %(I1) reached the workspace limit based on "
                                      "IPARAM(5) = %(I2). Set IPARAM(5) larger."};
constexpr Message kNfacSmall{
    23, "The value of NFAC = %(I1) is too small to store the factors. Set NFAC to at least  "
        "%(I2)."};

// Hold-area values: the driver marks that the second level runs under it;
// a direct call marks itself.
constexpr std::int32_t kHoldUnderDriver = 1;
constexpr std::int32_t kHoldDirect = 2;

// A direct call marks itself in the hold area and checks its work arrays
// (and applies the defaults), which the driver sized itself; false when a
// check failed.
template <class T>
bool CheckDirectCall(ErrorModule &err, const FactorArrays<T> &f, std::int32_t lwk, std::int32_t liwk,
                     std::int32_t &hold) {
  err.L15XG(0, hold);
  if (hold == kHoldUnderDriver) return true;
  hold = kHoldDirect;
  err.L15XG(1, hold);
  if (lwk < f.nz) Raise(err, kTerminal, kLwk, {lwk, f.nz});
  const std::int64_t need = IntegerWorkspace(f.n, kPerEntryArrays, f.nz);
  if (liwk < need) Raise(err, kTerminal, kLiwk, {liwk, ClampToInt(need)});
  if (err.N1RCD(0) != 0) return false;
  if (f.iparam[kIparamDefaultsFlag] == 0) SparseTraits<T>::defaults(f.iparam, f.rparam);
  return true;
}

// Inserts the triplets in their given order. Slots are taken cyclically
// from slot 2 (slot s is followed by s mod MAXNZ + 1); slot 1 is kept on
// the free list unless the triplets fill every slot.
template <class T> void InsertTriplets(Linked<T> &L, const FactorArrays<T> &f) {
  std::int32_t cursor = L.maxnz == 1 ? 1 : 2;
  for (std::int32_t t = 0; t < f.nz; ++t) {
    const std::int32_t s = cursor;
    cursor = s % L.maxnz + 1;
    L.link(s, f.irow[t], f.jcol[t], f.a[t]);
    L.max_a = std::max(L.max_a, SparseTraits<T>::magnitude(f.a[t]));
  }
  L.cursor = cursor;
  L.wrapped = cursor <= 2;
  if (f.nz < L.maxnz) {
    L.free_head = 1;
    L.rlink(1) = 0;
  }
}

// The message of an elimination that ran out of workspace at stop_row.
template <class T>
void ReportExhausted(ErrorModule &err, const FactorArrays<T> &f, std::int32_t stop_row, std::int32_t hold,
                     std::int32_t lwk, std::int32_t liwk, std::int32_t maxnz) {
  if (hold == kHoldDirect)
    Raise(err, kTerminal, kDirectExhausted, {stop_row, lwk, liwk, maxnz});
  else if (f.iparam[kIparamWorkspace] != 0)
    Raise(err, kTerminal, kLimitExhausted, {stop_row, f.iparam[kIparamWorkspace]});
  else
    Raise(err, kTerminal, SparseTraits<T>::kDefaultExhausted,
          {stop_row, ClampToInt(IntegerWorkspace(f.n, SparseTraits<T>::kDriverPerNz, f.nz))});
}

// Appends one row's factor list from slot `first` up to and including
// slot `last` (0: to its end) as position k; returns the next free entry.
template <class T>
std::int32_t CopyRow(const Linked<T> &L, const FactorArrays<T> &f, std::int32_t k, std::int32_t first,
                     std::int32_t last, std::int32_t pos) {
  for (std::int32_t e = first; e > 0; e = L.rlink(e)) {
    f.fac[pos] = L.val(e);
    f.irfac[pos] = k;
    f.jcfac[pos] = L.column_at(L.colof(e));
    ++pos;
    if (e == last) break;
  }
  return pos;
}

// The copy-out: L by increasing row, then U from row N down to row 1. A
// row's factor list holds its U entries up to its pivot (whose slot its
// head keeps, negated), then its multipliers.
template <class T> void CopyOut(const Linked<T> &L, const FactorArrays<T> &f) {
  std::int32_t pos = 0;
  for (std::int32_t k = 2; k <= f.n; ++k) pos = CopyRow(L, f, k, L.rlink(-L.rhead(f.ipvt[k - 1])), 0, pos);
  f.nl = pos;
  for (std::int32_t k = f.n; k >= 1; --k) {
    const std::int32_t row = f.ipvt[k - 1];
    pos = CopyRow(L, f, k, L.frhead(row), -L.rhead(row), pos);
  }
  f.nfac = pos;
}

// The second level's work under its frame; hold is the hold-area mark.
template <class T>
void FactorInWorkspace(ErrorModule &err, const FactorArrays<T> &f, std::span<T> wk, std::int32_t lwk,
                       std::span<std::int32_t> iwk, std::int32_t liwk, std::int32_t &hold) {
  if (!CheckTriplets(err, SparseTraits<T>::kSecondOrder, f.n, f.nz, f.irow, f.jcol, iwk, liwk)) return;
  if (!CheckDirectCall(err, f, lwk, liwk, hold)) return;
  const auto maxnz =
      static_cast<std::int32_t>(std::min<std::int64_t>(lwk, SlotsInWorkspace(f.n, kPerEntryArrays, liwk)));
  assert(static_cast<std::int64_t>(wk.size()) >= maxnz);
  assert(static_cast<std::int64_t>(iwk.size()) >= IntegerWorkspace(f.n, kPerEntryArrays, maxnz));
  Linked<T> L(f.n, maxnz, wk.data(), iwk.data());
  InsertTriplets(L, f);
  if (!CheckNoEmptyLines(err, f.n, L.rcount, L.ccount)) return;
  const Elimination result = Eliminate(err, L, f.iparam, f.rparam, f.ipvt, f.jpvt);
  if (result.stop_row != 0) {
    ReportExhausted(err, f, result.stop_row, hold, lwk, liwk, maxnz);
    return;
  }
  if (f.nfac < L.entries) {
    Raise(err, kTerminal, kNfacSmall, {f.nfac, L.entries});
    return;
  }
  // A completed elimination is copied out even when it raised one of its
  // two warnings, so the host always holds the factors of this matrix.
  if (!result.failed) CopyOut(L, f);
}

// Raw storage for the work arrays (one block holds both), released at the end
// of the call.
struct RawBlock {
  void *p = nullptr;
  explicit RawBlock(std::size_t bytes) : p(::operator new(bytes, std::nothrow)) {}
  RawBlock(const RawBlock &) = delete;
  RawBlock &operator=(const RawBlock &) = delete;
  ~RawBlock() { ::operator delete(p); }
};

// The driver's workspace: MAXNZ values and 15*N + 4*MAXNZ integers in one
// block, MAXNZ from IPARAM(5) or 3*NZ. Runs the second level on it; false
// when the workspace could not be had.
template <class T>
bool FactorInOwnWorkspace(ErrorModule &err, const FactorArrays<T> &f, WorkspaceRequest request) {
  const std::int32_t limit = f.iparam[kIparamWorkspace];
  const std::int64_t maxnz = limit == 0 ? static_cast<std::int64_t>(kDefaultFillFactor) * f.nz
                                        : SlotsInWorkspace(f.n, kWorkspaceDivisor, limit);
  const std::int64_t liwk = IntegerWorkspace(f.n, kPerEntryArrays, maxnz);
  constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
  // Slots and their integer arrays are addressed with 32-bit integers: a
  // request beyond them cannot be met. Both arrays also fit one block of
  // memory (the values first; both kinds need only 4-byte alignment).
  constexpr std::uint64_t kBlockMax = std::numeric_limits<std::size_t>::max();
  const bool addressable = maxnz <= kIntMax && liwk <= kIntMax &&
                           static_cast<std::uint64_t>(liwk) * sizeof(std::int32_t) <=
                               kBlockMax - static_cast<std::uint64_t>(maxnz) * sizeof(T);
  if (!addressable) return false;
  const std::size_t iwk_bytes = static_cast<std::size_t>(liwk) * sizeof(std::int32_t);
  const std::size_t wk_bytes = static_cast<std::size_t>(maxnz) * sizeof(T);
  if (request != nullptr && !request(static_cast<std::size_t>(liwk), wk_bytes)) return false;
  const RawBlock block(wk_bytes + iwk_bytes);
  if (block.p == nullptr) return false;
  T *const wk = static_cast<T *>(block.p);
  auto *const iwk = reinterpret_cast<std::int32_t *>(static_cast<unsigned char *>(block.p) + wk_bytes);
  FactorWithWorkspace<T>(
      err, f, std::span<T>(wk, static_cast<std::size_t>(maxnz)), static_cast<std::int32_t>(maxnz),
      std::span<std::int32_t>(iwk, static_cast<std::size_t>(liwk)), static_cast<std::int32_t>(liwk));
  return true;
}

} // namespace

template <class T>
void FactorWithWorkspace(ErrorModule &err, const FactorArrays<T> &f, std::span<T> wk, std::int32_t lwk,
                         std::span<std::int32_t> iwk, std::int32_t liwk) {
  const ErrorFrame frame(err, SparseTraits<T>::kSecond);
  std::int32_t hold = 0;
  FactorInWorkspace(err, f, wk, lwk, iwk, liwk, hold);
  if (hold == kHoldDirect) {
    std::int32_t cleared = 0;
    err.L15XG(1, cleared);
  }
}

template <class T> void FactorTriplets(ErrorModule &err, const FactorArrays<T> &f, WorkspaceRequest request) {
  using Tr = SparseTraits<T>;
  const ErrorFrame frame(err, Tr::kDriver);
  if (f.n <= 0) Raise(err, kTerminal, Tr::kDriverOrder, {f.n});
  if (f.nz <= 0) Raise(err, kTerminal, kDriverNz, {f.nz});
  if (f.iparam[kIparamDefaultsFlag] == 0) Tr::defaults(f.iparam, f.rparam);

  const float least = IntegerWorkspaceInFloat(f.n, Tr::kDriverPerNz, f.nz);
  const float largest = static_cast<float>(IMACH(5));
  if (least > largest) {
    err.SetRealPlaceholder(1, least);
    err.SetRealPlaceholder(2, largest);
    Raise(err, kTerminal, Tr::kWorkspaceOverflow);
    return;
  }
  const std::int64_t least_int = IntegerWorkspace(f.n, Tr::kDriverPerNz, f.nz);
  const std::int32_t limit = f.iparam[kIparamWorkspace];
  if (limit != 0 && limit < least_int) Raise(err, kTerminal, Tr::kWorkspaceLimit, {limit, ClampToInt(least_int)});

  std::int32_t hold = kHoldUnderDriver;
  err.L15XG(1, hold);
  if (err.N1RCD(0) == 0 && !FactorInOwnWorkspace(err, f, request)) {
    if (limit != 0)
      Raise(err, kTerminal, kAllocLimit, {limit});
    else
      Raise(err, kTerminal, kAllocDefault, {f.nz});
  }
  hold = 0;
  err.L15XG(1, hold);
}

template void FactorTriplets<float>(ErrorModule &, const FactorArrays<float> &, WorkspaceRequest);
template void FactorTriplets<Complex>(ErrorModule &, const FactorArrays<Complex> &, WorkspaceRequest);
template void FactorWithWorkspace<float>(ErrorModule &, const FactorArrays<float> &, std::span<float>,
                                         std::int32_t, std::span<std::int32_t>, std::int32_t);
template void FactorWithWorkspace<Complex>(ErrorModule &, const FactorArrays<Complex> &, std::span<Complex>,
                                           std::int32_t, std::span<std::int32_t>, std::int32_t);

} // namespace orvek::sparse
