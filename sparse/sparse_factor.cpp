// Sparse LU factorization, one template for real and complex values.
// The elimination works on linked row and column lists held in the integer
// workspace; every entry lives in a slot of WK/IWK taken cyclically, later
// from a free list of dropped slots. Inside the elimination rows and columns
// keep their original numbers (interchanges only update IPVT, JPVT and two
// position maps); the copy-out writes positions. Each routine enters its own
// error frame (LFTXG/L2TXG/L5TXG, or LFTZG/L2TZG/L5TZG) and reports only
// through it.
#include "sparse/sparse_factor.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "assembly/key_sort.hpp"
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

// ---- Message tables ---------------------------------------------------------
// Driver (the texts that differ between real and complex are in the traits).
constexpr Message kDriverNz{7, "The number of nonzeros must be positive, while NZ = %(I1) is given."};
constexpr Message kAllocLimit{10, "The required storage cannot be allocated.  The workspace request failed based on "
                                  "IPARAM(5) = %(I1). Solutions may be to remove workstation tools or increase "
                                  "virtual memory."};
constexpr Message kAllocDefault{9, "The required storage cannot be allocated.  The workspace request failed based "
                                   "on MAXNZ = 3*NZ, where NZ=%(I1), is given. Solutions may be to remove "
                                   "workstation tools or increase virtual memory."};
// Second level.
constexpr Message kSecondNz{12, "The number of nonzeros must be positive while NZ = %(I1) is given."};
constexpr Message kRowRange{14, "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(%(I1)) = %(I2)."};
constexpr Message kColRange{15, "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(%(I1)) = %(I2)."};
constexpr Message kDuplicate{16, "Two values of A are given for IROW = %(I1) and JCOL = %(I2)."};
constexpr Message kLwk{17, "The value of LWK = %(I1) must be greater than NZ = %(I2)."};
constexpr Message kLiwk{18, "The value of LIWK = %(I1) must be greater than 15*N+4*NZ = %(I2)."};
constexpr Message kEmptyRow{4, "An empty row has been found in the coefficient matrix: row number = %(I1)"};
constexpr Message kEmptyColumn{5, "An empty column has been found in the coefficient matrix: column number = %(I1)"};
constexpr Message kDirectExhausted{
    19, "Factorization from row 1 to row %(I1) reached the workspace limit of MAXNZ = %(I4) based on LWK = %(I2) "
        "and LIWK = %(I3), where MAXNZ = MIN0(LWK, (LIWK-15*N)/4). Set LWK and LIWK larger as appropriate."};
constexpr Message kLimitExhausted{21, "Factorization from row 1 to row %(I1) reached the workspace limit based on "
                                      "IPARAM(5) = %(I2). Set IPARAM(5) larger."};
constexpr Message kNfacSmall{23, "The value of NFAC = %(I1) is too small to store the factors. Set NFAC to at least  "
                                 "%(I2)."};
// Closing messages of a check loop that found more offences of one kind
// than it lists (same code as the kind).
constexpr Message kRowRangeMore{14, "%(I1) more IROW values out of range are not listed."};
constexpr Message kColRangeMore{15, "%(I1) more JCOL values out of range are not listed."};
constexpr Message kDuplicateMore{16, "%(I1) more positions given twice are not listed."};
constexpr Message kEmptyRowMore{4, "%(I1) more empty rows are not listed."};
constexpr Message kEmptyColumnMore{5, "%(I1) more empty columns are not listed."};
// Elimination.
constexpr Message kNumericallySingular{1, "The coefficient matrix is numerically singular."};
constexpr Message kGrowth{2, "The growth factor, %(R1), exceeds %(R2) = RPARAM(1)."};
constexpr Message kPivotUnderflow{23, "Factorization stopped after %(I1) rows, because the value selected as pivot "
                                      "is within two orders of magnitude of causing underflow or the reciprocal "
                                      "causing overflow."};

// Hold-area values: the driver marks that the second level runs under it;
// a direct call marks itself.
constexpr std::int32_t kHoldUnderDriver = 1;
constexpr std::int32_t kHoldDirect = 2;
// Largest order whose position keys (JCOL-1)*N + IROW fit a 32-bit integer.
constexpr std::int32_t kMaxKeyedOrder = 46340;

// A check loop lists at most this many offences of one kind; any further
// ones are counted and named by one closing message, so an order of
// millions with one triplet prints a bounded text before the stop.
constexpr std::int32_t kMaxListedPerKind = 200;

// The messages of one kind raised by one check loop.
class BoundedReports {
public:
  BoundedReports(ErrorModule &err, const Message &each, const Message &more) : err_(err), each_(each), more_(more) {}
  void raise(std::initializer_list<std::int32_t> values) {
    if (listed_ < kMaxListedPerKind) {
      ++listed_;
      Raise(err_, kTerminal, each_, values);
    } else {
      ++unlisted_;
    }
  }
  // Names the offences that were not listed, if any.
  void close() {
    if (unlisted_ > 0) Raise(err_, kTerminal, more_, {unlisted_});
    unlisted_ = 0;
  }

private:
  ErrorModule &err_;
  const Message &each_;
  const Message &more_;
  std::int32_t listed_ = 0;
  std::int32_t unlisted_ = 0;
};

std::int32_t ClampToInt(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// 1-based view of one partition of IWK.
struct Ref1 {
  std::int32_t *p = nullptr;
  std::int32_t &operator()(std::int32_t i) const { return p[i - 1]; }
};

// 1-based view of one field of the per-entry records: the four per-entry
// arrays are interleaved slot by slot (row link, column, column link, row),
// so that a walk along a row or a column finds the link and the number it
// reads next to each other.
struct SlotRef {
  static constexpr std::ptrdiff_t kStride = kPerEntryArrays;
  std::int32_t *p = nullptr;
  std::int32_t &operator()(std::int32_t s) const { return p[kStride * (s - 1)]; }
};

// Doubly chained count buckets: items (rows or columns) chained by count,
// bucket heads indexed by count 1..N, 0 ends a chain.
struct Buckets {
  Ref1 next, prev, head;

  void push(std::int32_t item, std::int32_t count) const {
    const std::int32_t first = head(count);
    next(item) = first;
    prev(item) = 0;
    if (first > 0) prev(first) = item;
    head(count) = item;
  }
  void remove(std::int32_t item, std::int32_t count) const {
    const std::int32_t p = prev(item), q = next(item);
    if (p > 0)
      next(p) = q;
    else
      head(count) = q;
    if (q > 0) prev(q) = p;
  }
};

// The linked storage of one factorization, laid over WK and IWK.
template <class T> struct Linked {
  std::int32_t n = 0;
  std::int32_t maxnz = 0;
  T *values = nullptr;
  // Per entry (slots 1..MAXNZ).
  SlotRef rlink, clink, rowof, colof;
  // Per row / column (1..N).
  // Rows and columns are known by their original numbers everywhere inside
  // the elimination (rowof, colof, the per-row and per-column arrays, the
  // buckets); row_at(i) and column_at(j) are the current positions of
  // original row i and column j, so an interchange moves no entry and only
  // the copy-out turns numbers into positions.
  Ref1 rhead, chead, frhead, column_at, rcount, ccount, saved;
  Buckets rows, cols;
  Ref1 row_at, colpos;
  // Slot allocation: the cyclic cursor, whether it has wrapped back to slot
  // 1 or 2, and the free list chained through the row links.
  std::int32_t cursor = 0;
  bool wrapped = false;
  std::int32_t free_head = 0;
  std::int32_t entries = 0;
  std::int32_t peak = 0;
  float max_a = 0.0f;

  T &val(std::int32_t s) const { return values[s - 1]; }

  // Next slot for a fill-in, 0 when the workspace is exhausted.
  std::int32_t take_slot() {
    if (!wrapped) {
      const std::int32_t s = cursor;
      cursor = s % maxnz + 1;
      if (cursor <= 2) wrapped = true;
      return s;
    }
    if (free_head > 0) {
      const std::int32_t s = free_head;
      free_head = rlink(s);
      return s;
    }
    return 0;
  }
  void free_slot(std::int32_t s) {
    rlink(s) = free_head;
    free_head = s;
  }
  void count_entry() {
    ++entries;
    if (entries > peak) peak = entries;
  }
};

struct Elimination {
  std::int32_t stop_row = 0; // row at which the workspace ran out, 0 if it did not
  bool failed = false;       // a TERMINAL error was raised
};

// ---- Elimination ------------------------------------------------------------
// For k = 1..N-1:
//  1. a column singleton is taken at once; otherwise up to IPARAM(3)
//     candidate rows/columns of smallest count are collected (rows first on
//     equal counts) and every entry passing the threshold |a| >= max/RPARAM(2)
//     of its row or column is costed (rc-1)*(cc-1); lower cost wins, then
//     fewer column entries, then the earlier entry;
//  2. the pivot is brought to (k, k) by row and column interchanges;
//  3. the rows of the pivot column are updated (multipliers stored in place,
//     fill-in created at the front of the lists), the pivot row leaves the
//     active structure, and the count buckets are maintained.
template <class T>
Elimination Eliminate(ErrorModule &err, Linked<T> &L, std::span<std::int32_t> iparam, std::span<float> rparam,
                      std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt) {
  using Tr = SparseTraits<T>;
  err.E1PSH(Tr::kElimination);
  Elimination out;
  const std::int32_t n = L.n;

  const float huge = AMACH(err, 2);
  const float tiny = AMACH(err, 1);
  const float small = tiny * huge >= 1.0f ? 100.0f * tiny : 100.0f / huge;
  float run_min = huge;
  float max_u = 0.0f;

  for (std::int32_t i = 1; i <= n; ++i) {
    ipvt[i - 1] = i;
    jpvt[i - 1] = i;
    L.frhead(i) = -i;
    L.row_at(i) = i;
    L.column_at(i) = i;
  }

  const std::int32_t search = iparam[kIparamSearch];
  const bool rows_searched = search != 2;
  const bool cols_searched = search != 1;
  std::int32_t min_row = kUnsearchedCount;
  std::int32_t min_col = kUnsearchedCount;
  // Filled from N down to 1 by pushing on the front, so every bucket starts
  // in increasing order.
  if (rows_searched) {
    for (std::int32_t c = 1; c <= n; ++c) L.rows.head(c) = 0;
    for (std::int32_t i = n; i >= 1; --i) {
      L.rows.push(i, L.rcount(i));
      min_row = std::min(min_row, L.rcount(i));
    }
  }
  if (cols_searched) {
    for (std::int32_t c = 1; c <= n; ++c) L.cols.head(c) = 0;
    for (std::int32_t j = n; j >= 1; --j) {
      L.cols.push(j, L.ccount(j));
      min_col = std::min(min_col, L.ccount(j));
    }
  }

  const std::int64_t no_cost = static_cast<std::int64_t>(n) * n;
  const float threshold = rparam[kRparamThreshold];
  const float drop = rparam[kRparamDrop];
  const std::int32_t candidates = iparam[kIparamCandidates];
  std::int32_t stop_step = 0;

  for (std::int32_t k = 1; k <= n - 1; ++k) {
    // ---- pivot choice ----
    std::int32_t piv = 0;
    if (min_col == 1) {
      piv = L.chead(L.cols.head(1));
    } else {
      const std::int32_t c = std::min(n - k + 1, candidates);
      std::int64_t best = no_cost, best_cc = no_cost;
      // The magnitudes of a candidate's entries are formed once and kept (as
      // bits) in the saved column counts, which are written only after the
      // search; a row or column has at most N active entries.
      std::int32_t *const mags = L.saved.p;
      // Costs the entries of one candidate (a row as +i, a column as -j).
      const auto consider = [&](std::int32_t item) {
        float m = 0.0f;
        std::int32_t at = 0;
        if (item > 0) {
          for (std::int32_t e = L.rhead(item); e > 0; e = L.rlink(e)) {
            const float mag = Tr::magnitude(L.val(e));
            mags[at++] = std::bit_cast<std::int32_t>(mag);
            m = std::max(m, mag);
          }
          const float bound = m / threshold;
          const std::int64_t rc1 = L.rcount(item) - 1;
          at = 0;
          for (std::int32_t e = L.rhead(item); e > 0; e = L.rlink(e)) {
            if (!(std::bit_cast<float>(mags[at++]) >= bound)) continue;
            const std::int64_t cc = L.ccount(L.colof(e));
            const std::int64_t cost = rc1 * (cc - 1);
            if (cost < best || (cost == best && cc < best_cc)) {
              best = cost;
              best_cc = cc;
              piv = e;
            }
          }
        } else {
          const std::int32_t j = -item;
          for (std::int32_t e = L.chead(j); e > 0; e = L.clink(e)) {
            const float mag = Tr::magnitude(L.val(e));
            mags[at++] = std::bit_cast<std::int32_t>(mag);
            m = std::max(m, mag);
          }
          const float bound = m / threshold;
          const std::int64_t cc = L.ccount(j);
          at = 0;
          for (std::int32_t e = L.chead(j); e > 0; e = L.clink(e)) {
            if (!(std::bit_cast<float>(mags[at++]) >= bound)) continue;
            const std::int64_t cost = (static_cast<std::int64_t>(L.rcount(L.rowof(e))) - 1) * (cc - 1);
            if (cost < best || (cost == best && cc < best_cc)) {
              best = cost;
              best_cc = cc;
              piv = e;
            }
          }
        }
      };
      // Candidates in the order they are collected, each costed as it is
      // taken (costing changes no bucket, so this is the order a collected
      // list would give).
      std::int32_t nc = 0;
      std::int32_t rl = min_row, cl = min_col;
      while (nc < c) {
        if (cl > n && rl > n) break;
        if (cl < rl) {
          for (std::int32_t j = L.cols.head(cl); j > 0 && nc < c; j = L.cols.next(j)) {
            ++nc;
            consider(-j);
          }
          ++cl;
        } else {
          for (std::int32_t i = L.rows.head(rl); i > 0 && nc < c; i = L.rows.next(i)) {
            ++nc;
            consider(i);
          }
          ++rl;
        }
      }
    }
    if (piv == 0) {
      // No entry passed the threshold (only possible with a threshold below
      // 1 or with NaN values): treated as a zero pivot.
      run_min = 0.0f;
      stop_step = k;
      break;
    }

    // ---- interchanges ----
    const std::int32_t kr = L.rowof(piv); // the pivot row and column, by their original numbers
    const std::int32_t kc = L.colof(piv);
    const std::int32_t pr = L.row_at(kr);
    const std::int32_t pc = L.column_at(kc);
    if (pr != k) {
      L.row_at(ipvt[k - 1]) = pr; // the row displaced from position k
      L.row_at(kr) = k;
      std::swap(ipvt[k - 1], ipvt[pr - 1]);
    }
    if (pc != k) {
      L.column_at(jpvt[k - 1]) = pc; // the column displaced from position k
      L.column_at(kc) = k;
      std::swap(jpvt[k - 1], jpvt[pc - 1]);
    }

    // ---- pivot size ----
    const T pivot = L.val(piv);
    const float apiv = Tr::magnitude(pivot);
    if (std::isnan(apiv)) {
      // A NaN pivot (a column singleton is taken without the threshold
      // test, which NaN never passes) is treated as a zero pivot.
      run_min = 0.0f;
      stop_step = k;
      break;
    }
    if (apiv > max_u) max_u = apiv;
    if (apiv < run_min) {
      run_min = apiv;
      if (small >= apiv) {
        stop_step = k;
        break;
      }
    }

    // ---- row updates ----
    const T rinv = Tr::recip(pivot);
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) L.saved(L.colof(p)) = L.ccount(L.colof(p));
    // The pivot row's columns (the pivot's own left out) are mapped to its
    // entries once for the whole step. A row S updates every entry it has in
    // a mapped column while it is walked (each such entry is updated once,
    // so the walking order leaves every value as it is) and marks the column
    // by negating its map; the pivot row is then walked in its own order,
    // restoring the marks and creating the fill-ins where row S had no entry.
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p))
      if (p != piv) L.colpos(L.colof(p)) = p;
    bool singular = false;
    for (std::int32_t e = L.chead(kc), next = 0; e > 0; e = next) {
      next = L.clink(e);
      const std::int32_t s = L.rowof(e);
      if (s == kr) continue;
      const std::int32_t old_count = L.rcount(s);
      const T l = Tr::mul(L.val(e), rinv);
      const bool dropped = drop != 0.0f && Tr::magnitude(l) <= drop;
      // Take (S, k) out of row S; update the other entries of row S.
      for (std::int32_t f = L.rhead(s), prev = 0; f > 0; f = L.rlink(f)) {
        if (f == e) {
          if (prev > 0)
            L.rlink(prev) = L.rlink(e);
          else
            L.rhead(s) = L.rlink(e);
        } else {
          if (!dropped) {
            const std::int32_t j = L.colof(f);
            const std::int32_t p = L.colpos(j);
            if (p > 0) {
              L.val(f) = Tr::sub(L.val(f), Tr::mul(L.val(p), l));
              L.colpos(j) = -p;
            }
          }
          prev = f;
        }
      }
      --L.rcount(s);
      if (dropped) {
        L.free_slot(e);
        --L.entries;
      } else {
        L.val(e) = l;
        L.rlink(e) = L.frhead(s);
        L.frhead(s) = e;
        for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) {
          if (p == piv) continue;
          const std::int32_t j = L.colof(p);
          if (L.colpos(j) < 0) {
            L.colpos(j) = p;
          } else {
            const std::int32_t slot = L.take_slot();
            if (slot == 0) {
              out.stop_row = k;
              err.E1POP(Tr::kElimination);
              return out;
            }
            L.val(slot) = Tr::neg(Tr::mul(L.val(p), l));
            L.rowof(slot) = s;
            L.colof(slot) = j;
            L.rlink(slot) = L.rhead(s);
            L.rhead(s) = slot;
            L.clink(slot) = L.chead(j);
            L.chead(j) = slot;
            ++L.rcount(s);
            ++L.ccount(j);
            L.count_entry();
          }
        }
      }
      const std::int32_t new_count = L.rcount(s);
      if (rows_searched && new_count != old_count) {
        L.rows.remove(s, old_count);
        if (new_count > 0) {
          L.rows.push(s, new_count);
          min_row = std::min(min_row, new_count);
        }
      }
      if (new_count == 0) singular = true;
    }
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) L.colpos(L.colof(p)) = 0;

    // ---- the pivot row leaves the active structure ----
    // Its factor list becomes: off-diagonal U entries (in row order), the
    // pivot, then the multipliers stored earlier.
    std::int32_t first = 0, last = 0;
    for (std::int32_t p = L.rhead(kr), next = 0; p > 0; p = next) {
      next = L.rlink(p);
      const std::int32_t j = L.colof(p);
      if (j != kc) {
        std::int32_t q = L.chead(j), prev = 0;
        while (q != p) {
          assert(q > 0);
          prev = q;
          q = L.clink(q);
        }
        if (prev > 0)
          L.clink(prev) = L.clink(p);
        else
          L.chead(j) = L.clink(p);
        --L.ccount(j);
        if (L.ccount(j) == 0) singular = true;
      }
      max_u = std::max(max_u, Tr::magnitude(L.val(p)));
      if (p != piv) {
        if (last > 0)
          L.rlink(last) = p;
        else
          first = p;
        last = p;
      }
    }
    L.rlink(piv) = L.frhead(kr);
    if (last > 0) {
      L.rlink(last) = piv;
      L.frhead(kr) = first;
    } else {
      L.frhead(kr) = piv;
    }
    // A finished row reads as empty; its head keeps the pivot's slot
    // (negated), where the copy-out splits the row's U entries from its
    // multipliers.
    L.rhead(kr) = -piv;
    L.chead(kc) = -kc;

    // ---- bucket maintenance ----
    if (cols_searched) {
      L.cols.remove(kc, L.saved(kc));
      for (std::int32_t p = L.frhead(kr); p != piv; p = L.rlink(p)) {
        const std::int32_t j = L.colof(p);
        const std::int32_t now = L.ccount(j);
        if (now == L.saved(j)) continue;
        L.cols.remove(j, L.saved(j));
        if (now > 0) {
          L.cols.push(j, now);
          min_col = std::min(min_col, now);
        }
      }
      while (min_col <= n && L.cols.head(min_col) <= 0) ++min_col;
    }
    if (rows_searched) {
      L.rows.remove(kr, L.rcount(kr));
      while (min_row <= n && L.rows.head(min_row) <= 0) ++min_row;
    }
    if (singular) {
      // A row or column without active entries: the matrix is structurally
      // singular, a zero pivot is bound to follow.
      run_min = 0.0f;
      stop_step = k;
      break;
    }
  }

  if (stop_step == 0) {
    // The one entry left in row N is the last pivot.
    const std::int32_t last = ipvt[n - 1];
    const std::int32_t e = L.rhead(last);
    assert(e > 0 && L.column_at(L.colof(e)) == n && L.rlink(e) <= 0);
    L.rlink(e) = L.frhead(last);
    L.frhead(last) = e;
    L.rhead(last) = -e;
    L.chead(L.colof(e)) = -L.colof(e);
    const float alast = Tr::magnitude(L.val(e));
    if (alast < run_min) run_min = alast;
    if (std::isnan(alast)) run_min = 0.0f; // a NaN pivot counts as zero
    // It is a U entry like any other (growth = largest |U| / largest |A|).
    max_u = std::max(max_u, alast);
  }

  iparam[kIparamPeak] = L.peak;
  rparam[kRparamGrowth] = max_u / L.max_a;
  rparam[kRparamMinPivot] = run_min;
  if (std::sqrt(small) * 0.01f >= rparam[kRparamMinPivot]) Raise(err, kWarning, kNumericallySingular);
  if (rparam[kRparamGrowth] > rparam[kRparamGrowthLimit]) {
    err.SetRealPlaceholder(1, rparam[kRparamGrowth]);
    err.SetRealPlaceholder(2, rparam[kRparamGrowthLimit]);
    Raise(err, kWarning, kGrowth);
  }
  if (small >= rparam[kRparamMinPivot]) {
    Raise(err, kTerminal, kPivotUnderflow, {stop_step != 0 ? stop_step : n});
    out.failed = true;
  }
  err.E1POP(Tr::kElimination);
  return out;
}

// Orders (column, row) pairs held in w[2i], w[2i+1] ascending, for orders
// whose position keys do not fit 32 bits. Only the grouping of equal
// positions matters, so any ascending sort does.
void SortPositionPairs(std::int32_t *w, std::int32_t m) {
  auto less = [w](std::int32_t a, std::int32_t b) {
    return w[2 * a] < w[2 * b] || (w[2 * a] == w[2 * b] && w[2 * a + 1] < w[2 * b + 1]);
  };
  auto exchange = [w](std::int32_t a, std::int32_t b) {
    std::swap(w[2 * a], w[2 * b]);
    std::swap(w[2 * a + 1], w[2 * b + 1]);
  };
  auto sift = [&](std::int32_t root, std::int32_t end) {
    while (2 * static_cast<std::int64_t>(root) + 1 < end) {
      std::int32_t child = 2 * root + 1;
      if (child + 1 < end && less(child, child + 1)) ++child;
      if (!less(root, child)) return;
      exchange(root, child);
      root = child;
    }
  };
  for (std::int32_t start = m / 2 - 1; start >= 0; --start) sift(start, m);
  for (std::int32_t end = m - 1; end > 0; --end) {
    exchange(0, end);
    sift(0, end);
  }
}

// True when no (row, column) position occurs twice, found without a sort:
// the rows are bucketed by column (a counting pass) and each column's rows
// are marked with the column number. Needs NZ + 2*N + 1 integers of work.
bool PositionsDistinct(std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                       std::span<const std::int32_t> jcol, std::int32_t *work) {
  std::int32_t *start = work;        // N + 1 column starts (entry 0 unused)
  std::int32_t *mark = work + n + 1; // N row marks
  std::int32_t *rows = mark + n;     // NZ rows, by column
  for (std::int32_t j = 0; j <= n; ++j) start[j] = 0;
  for (std::int32_t i = 0; i < n; ++i) mark[i] = 0;
  for (std::int32_t t = 0; t < nz; ++t) ++start[jcol[t]];
  for (std::int32_t j = 1; j <= n; ++j) start[j] += start[j - 1];
  // start[j] is now the end of column j's bucket; filling backwards leaves
  // it at the bucket's beginning, so column j spans start[j] .. start[j+1].
  for (std::int32_t t = nz - 1; t >= 0; --t) rows[--start[jcol[t]]] = irow[t];
  for (std::int32_t j = 1; j <= n; ++j)
    for (std::int32_t q = start[j], end = j < n ? start[j + 1] : nz; q < end; ++q) {
      const std::int32_t i = rows[q];
      if (mark[i - 1] == j) return false;
      mark[i - 1] = j;
    }
  return true;
}

// The same finding with one bit per position of the N x N matrix, where the
// table is small against the list (clearing it costs less than bucketing):
// words holds ceil(N*N/32) integers.
bool PositionBitsDistinct(std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                          std::span<const std::int32_t> jcol, std::int32_t *words, std::int64_t count) {
  auto *const bits = reinterpret_cast<std::uint32_t *>(words);
  std::fill(bits, bits + count, 0u);
  for (std::int32_t t = 0; t < nz; ++t) {
    const std::uint64_t at = static_cast<std::uint64_t>(jcol[t] - 1) * static_cast<std::uint64_t>(n) +
                             static_cast<std::uint64_t>(irow[t] - 1);
    const std::uint32_t bit = 1u << (at & 31u);
    std::uint32_t &w = bits[at >> 5];
    if ((w & bit) != 0) return false;
    w |= bit;
  }
  return true;
}

// Reports every position given twice among the entries whose row and
// column lie in 1..N (one message per equal adjacent pair of the sorted
// positions; entries out of range form no position). Needs NZ integers of
// work, 2*NZ for orders whose keys do not fit 32 bits.
void CheckDuplicates(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                     std::span<const std::int32_t> jcol, std::span<std::int32_t> iwk) {
  const auto valid = [n](std::int32_t i, std::int32_t j) { return i >= 1 && i <= n && j >= 1 && j <= n; };
  BoundedReports duplicates(err, kDuplicate, kDuplicateMore);
  std::int32_t m = 0;
  if (n <= kMaxKeyedOrder) {
    std::int32_t *keys = iwk.data();
    for (std::int32_t i = 0; i < nz; ++i)
      if (valid(irow[i], jcol[i])) keys[m++] = (jcol[i] - 1) * n + irow[i];
    if (m == 0) return;
    SVIGN(err, m, keys, keys);
    for (std::int32_t i = 1; i < m; ++i)
      if (keys[i] == keys[i - 1]) duplicates.raise({(keys[i] - 1) % n + 1, (keys[i] - 1) / n + 1});
    duplicates.close();
    return;
  }
  std::int32_t *pairs = iwk.data();
  for (std::int32_t i = 0; i < nz; ++i)
    if (valid(irow[i], jcol[i])) {
      pairs[2 * m] = jcol[i];
      pairs[2 * m + 1] = irow[i];
      ++m;
    }
  SortPositionPairs(pairs, m);
  for (std::int32_t i = 1; i < m; ++i)
    if (pairs[2 * i] == pairs[2 * i - 2] && pairs[2 * i + 1] == pairs[2 * i - 1])
      duplicates.raise({pairs[2 * i + 1], pairs[2 * i]});
  duplicates.close();
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

} // namespace

// ---- Second level: triplet checks, linked storage, copy-out -----------------
template <class T>
void FactorWithWorkspace(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const T> a,
                         std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                         std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac,
                         std::int32_t &nl, std::span<T> fac, std::span<std::int32_t> irfac,
                         std::span<std::int32_t> jcfac, std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt,
                         std::span<T> wk, std::int32_t lwk, std::span<std::int32_t> iwk, std::int32_t liwk) {
  using Tr = SparseTraits<T>;
  err.E1PSH(Tr::kSecond);
  std::int32_t hold = 0;

  [&] {
    if (n <= 0) Raise(err, kTerminal, Tr::kSecondOrder, {n});
    if (nz <= 0) Raise(err, kTerminal, kSecondNz, {nz});
    if (err.N1RCD(0) != 0) return;

    // One branch-free pass tells whether any row or column is out of
    // range; only then are the entries walked again to report each one.
    std::uint32_t outside = 0;
    for (std::int32_t i = 0; i < nz; ++i)
      outside |= static_cast<std::uint32_t>(static_cast<std::uint32_t>(irow[i]) - 1u >= static_cast<std::uint32_t>(n)) |
                 static_cast<std::uint32_t>(static_cast<std::uint32_t>(jcol[i]) - 1u >= static_cast<std::uint32_t>(n));
    const bool in_range = outside == 0;
    if (!in_range) {
      BoundedReports rows(err, kRowRange, kRowRangeMore), columns(err, kColRange, kColRangeMore);
      for (std::int32_t i = 0; i < nz; ++i)
        if (irow[i] < 1 || irow[i] > n) rows.raise({i + 1, irow[i]});
      rows.close();
      for (std::int32_t i = 0; i < nz; ++i)
        if (jcol[i] < 1 || jcol[i] > n) columns.raise({i + 1, jcol[i]});
      columns.close();
    }
    // Positions are only formed from valid rows and columns (duplicates
    // among them are reported after the range errors), and only where the
    // integer workspace can hold them (a short LIWK is reported below).
    const std::int64_t key_room = n <= kMaxKeyedOrder ? nz : 2 * static_cast<std::int64_t>(nz);
    // The sorted keys are only needed to name the duplicates: a list whose
    // positions are distinct (found by a counting pass where the workspace
    // holds it) reaches the same outcome without them.
    const std::int64_t count_room = static_cast<std::int64_t>(nz) + 2LL * n + 1;
    const std::int64_t bit_words = (static_cast<std::int64_t>(n) * n + 31) / 32;
    constexpr std::int64_t kBitWordsPerTriplet = 16; // a table up to this size is cleared faster than bucketed
    bool distinct = false;
    if (in_range && bit_words <= liwk && bit_words <= kBitWordsPerTriplet * nz)
      distinct = PositionBitsDistinct(n, nz, irow, jcol, iwk.data(), bit_words);
    else if (in_range && liwk >= count_room)
      distinct = PositionsDistinct(n, nz, irow, jcol, iwk.data());
    if (!distinct && liwk >= key_room) CheckDuplicates(err, n, nz, irow, jcol, iwk);
    if (err.N1RCD(0) != 0) return;

    err.L15XG(0, hold);
    if (hold != kHoldUnderDriver) {
      hold = kHoldDirect;
      err.L15XG(1, hold);
      if (lwk < nz) Raise(err, kTerminal, kLwk, {lwk, nz});
      const std::int64_t need = 15LL * n + 4LL * nz;
      if (liwk < need) Raise(err, kTerminal, kLiwk, {liwk, ClampToInt(need)});
      if (err.N1RCD(0) != 0) return;
      if (iparam[kIparamDefaultsFlag] == 0) Tr::defaults(iparam, rparam);
    }

    // ---- partition the workspace ----
    const std::int32_t maxnz =
        static_cast<std::int32_t>(std::min<std::int64_t>(lwk, (static_cast<std::int64_t>(liwk) - 15LL * n) / 4));
    assert(static_cast<std::int64_t>(wk.size()) >= maxnz);
    assert(static_cast<std::int64_t>(iwk.size()) >= 4LL * maxnz + 15LL * n);
    Linked<T> L;
    L.n = n;
    L.maxnz = maxnz;
    L.values = wk.data();
    std::int32_t *base = iwk.data();
    L.rlink.p = base;
    L.colof.p = base + 1;
    L.clink.p = base + 2;
    L.rowof.p = base + 3;
    std::int32_t *per = base + 4 * static_cast<std::ptrdiff_t>(maxnz);
    Ref1 *const per_order[] = {&L.rhead,     &L.chead,     &L.frhead,    &L.column_at,    &L.rcount,
                               &L.ccount,    &L.saved,     &L.rows.next, &L.rows.prev, &L.rows.head,
                               &L.cols.next, &L.cols.prev, &L.cols.head, &L.row_at,    &L.colpos};
    static_assert(sizeof(per_order) / sizeof(per_order[0]) == kPerOrderArrays);
    for (Ref1 *r : per_order) {
      r->p = per;
      per += n;
    }
    for (std::int32_t i = 1; i <= n; ++i) {
      L.rhead(i) = -i;
      L.chead(i) = -i;
      L.rcount(i) = 0;
      L.ccount(i) = 0;
      L.colpos(i) = 0;
    }

    // ---- insert the triplets in their given order ----
    // Slots are taken cyclically from slot 2 (slot s is followed by
    // s mod MAXNZ + 1); slot 1 is kept on the free list unless the triplets
    // fill every slot.
    std::int32_t cursor = maxnz == 1 ? 1 : 2;
    for (std::int32_t t = 0; t < nz; ++t) {
      const std::int32_t s = cursor;
      cursor = s % maxnz + 1;
      const std::int32_t i = irow[t], j = jcol[t];
      L.val(s) = a[t];
      L.rowof(s) = i;
      L.colof(s) = j;
      L.rlink(s) = L.rhead(i);
      L.rhead(i) = s;
      L.clink(s) = L.chead(j);
      L.chead(j) = s;
      ++L.rcount(i);
      ++L.ccount(j);
      L.count_entry();
      L.max_a = std::max(L.max_a, Tr::magnitude(a[t]));
    }
    L.cursor = cursor;
    L.wrapped = cursor <= 2;
    if (nz < maxnz) {
      L.free_head = 1;
      L.rlink(1) = 0;
    }

    BoundedReports empty_rows(err, kEmptyRow, kEmptyRowMore), empty_columns(err, kEmptyColumn, kEmptyColumnMore);
    for (std::int32_t i = 1; i <= n; ++i)
      if (L.rcount(i) == 0) empty_rows.raise({i});
    empty_rows.close();
    for (std::int32_t j = 1; j <= n; ++j)
      if (L.ccount(j) == 0) empty_columns.raise({j});
    empty_columns.close();
    if (err.N1RCD(0) != 0) return;

    const Elimination result = Eliminate(err, L, iparam, rparam, ipvt, jpvt);

    if (result.stop_row != 0) {
      if (hold == kHoldDirect)
        Raise(err, kTerminal, kDirectExhausted, {result.stop_row, lwk, liwk, maxnz});
      else if (iparam[kIparamWorkspace] != 0)
        Raise(err, kTerminal, kLimitExhausted, {result.stop_row, iparam[kIparamWorkspace]});
      else
        Raise(err, kTerminal, Tr::kDefaultExhausted,
              {result.stop_row, ClampToInt(15LL * n + static_cast<std::int64_t>(Tr::kDriverPerNz) * nz)});
      return;
    }
    if (nfac < L.entries) {
      Raise(err, kTerminal, kNfacSmall, {nfac, L.entries});
      return;
    }
    // A completed elimination is copied out even when it raised one of its
    // two warnings, so the host always holds the factors of this matrix.
    if (result.failed) return;

    // ---- copy-out: L by increasing row, then U from row N down to row 1 ----
    // A row's factor list holds its U entries up to its pivot, then its
    // multipliers.
    std::int32_t pos = 0;
    for (std::int32_t k = 2; k <= n; ++k)
      for (std::int32_t e = L.rlink(-L.rhead(ipvt[k - 1])); e > 0; e = L.rlink(e)) {
        fac[pos] = L.val(e);
        irfac[pos] = k;
        jcfac[pos] = L.column_at(L.colof(e));
        ++pos;
      }
    nl = pos;
    for (std::int32_t k = n; k >= 1; --k) {
      const std::int32_t row = ipvt[k - 1];
      const std::int32_t pivot_slot = -L.rhead(row);
      for (std::int32_t e = L.frhead(row);; e = L.rlink(e)) {
        fac[pos] = L.val(e);
        irfac[pos] = k;
        jcfac[pos] = L.column_at(L.colof(e));
        ++pos;
        if (e == pivot_slot) break;
      }
    }
    nfac = pos;
  }();

  if (hold == kHoldDirect) {
    std::int32_t cleared = 0;
    err.L15XG(1, cleared);
  }
  err.E1POP(Tr::kSecond);
}

// ---- Driver: checks, defaults, workspace ------------------------------------
template <class T>
void FactorTriplets(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const T> a,
                    std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                    std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                    std::span<T> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                    std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt, WorkspaceRequest request) {
  using Tr = SparseTraits<T>;
  err.E1PSH(Tr::kDriver);
  if (n <= 0) Raise(err, kTerminal, Tr::kDriverOrder, {n});
  if (nz <= 0) Raise(err, kTerminal, kDriverNz, {nz});
  if (iparam[kIparamDefaultsFlag] == 0) Tr::defaults(iparam, rparam);

  const float least = 15.0f * static_cast<float>(n) + static_cast<float>(Tr::kDriverPerNz) * static_cast<float>(nz);
  const float largest = static_cast<float>(IMACH(5));
  if (least > largest) {
    err.SetRealPlaceholder(1, least);
    err.SetRealPlaceholder(2, largest);
    Raise(err, kTerminal, Tr::kWorkspaceOverflow);
    err.E1POP(Tr::kDriver);
    return;
  }
  const std::int64_t least_int = 15LL * n + static_cast<std::int64_t>(Tr::kDriverPerNz) * nz;
  const std::int32_t limit = iparam[kIparamWorkspace];
  if (limit != 0 && limit < least_int) Raise(err, kTerminal, Tr::kWorkspaceLimit, {limit, ClampToInt(least_int)});

  std::int32_t hold = kHoldUnderDriver;
  err.L15XG(1, hold);
  if (err.N1RCD(0) == 0) {
    const std::int64_t maxnz =
        limit == 0 ? static_cast<std::int64_t>(kDefaultFillFactor) * nz : (limit - 15LL * n) / kWorkspaceDivisor;
    const std::int64_t liwk = 15LL * n + 4LL * maxnz;
    constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
    // Slots and their integer arrays are addressed with 32-bit integers: a
    // request beyond them cannot be met.
    // Both arrays also fit one block of memory (the values first; both kinds
    // need only 4-byte alignment).
    constexpr std::uint64_t kBlockMax = std::numeric_limits<std::size_t>::max();
    bool granted = maxnz <= kIntMax && liwk <= kIntMax &&
                   static_cast<std::uint64_t>(liwk) * sizeof(std::int32_t) <=
                       kBlockMax - static_cast<std::uint64_t>(maxnz) * sizeof(T);
    const std::size_t iwk_bytes = granted ? static_cast<std::size_t>(liwk) * sizeof(std::int32_t) : 0;
    const std::size_t wk_bytes = granted ? static_cast<std::size_t>(maxnz) * sizeof(T) : 0;
    if (granted && request != nullptr) granted = request(static_cast<std::size_t>(liwk), wk_bytes);
    if (granted) {
      RawBlock block(wk_bytes + iwk_bytes);
      if (block.p != nullptr) {
        const auto lwk32 = static_cast<std::int32_t>(maxnz);
        const auto liwk32 = static_cast<std::int32_t>(liwk);
        T *const wk = static_cast<T *>(block.p);
        auto *const iwk = reinterpret_cast<std::int32_t *>(static_cast<unsigned char *>(block.p) + wk_bytes);
        FactorWithWorkspace<T>(err, n, nz, a, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt,
                               std::span<T>(wk, static_cast<std::size_t>(maxnz)), lwk32,
                               std::span<std::int32_t>(iwk, static_cast<std::size_t>(liwk)), liwk32);
      } else {
        granted = false;
      }
    }
    if (!granted) {
      if (limit != 0)
        Raise(err, kTerminal, kAllocLimit, {limit});
      else
        Raise(err, kTerminal, kAllocDefault, {nz});
    }
  }
  hold = 0;
  err.L15XG(1, hold);
  err.E1POP(Tr::kDriver);
}

template void FactorTriplets<float>(ErrorModule &, std::int32_t, std::int32_t, std::span<const float>,
                                    std::span<const std::int32_t>, std::span<const std::int32_t>,
                                    std::span<std::int32_t>, std::span<float>, std::int32_t &, std::int32_t &,
                                    std::span<float>, std::span<std::int32_t>, std::span<std::int32_t>,
                                    std::span<std::int32_t>, std::span<std::int32_t>, WorkspaceRequest);
template void FactorTriplets<Complex>(ErrorModule &, std::int32_t, std::int32_t, std::span<const Complex>,
                                      std::span<const std::int32_t>, std::span<const std::int32_t>,
                                      std::span<std::int32_t>, std::span<float>, std::int32_t &, std::int32_t &,
                                      std::span<Complex>, std::span<std::int32_t>, std::span<std::int32_t>,
                                      std::span<std::int32_t>, std::span<std::int32_t>, WorkspaceRequest);
template void FactorWithWorkspace<float>(ErrorModule &, std::int32_t, std::int32_t, std::span<const float>,
                                         std::span<const std::int32_t>, std::span<const std::int32_t>,
                                         std::span<std::int32_t>, std::span<float>, std::int32_t &, std::int32_t &,
                                         std::span<float>, std::span<std::int32_t>, std::span<std::int32_t>,
                                         std::span<std::int32_t>, std::span<std::int32_t>, std::span<float>,
                                         std::int32_t, std::span<std::int32_t>, std::int32_t);
template void FactorWithWorkspace<Complex>(ErrorModule &, std::int32_t, std::int32_t, std::span<const Complex>,
                                           std::span<const std::int32_t>, std::span<const std::int32_t>,
                                           std::span<std::int32_t>, std::span<float>, std::int32_t &,
                                           std::int32_t &, std::span<Complex>, std::span<std::int32_t>,
                                           std::span<std::int32_t>, std::span<std::int32_t>,
                                           std::span<std::int32_t>, std::span<Complex>, std::int32_t,
                                           std::span<std::int32_t>, std::int32_t);

} // namespace orvek::sparse
