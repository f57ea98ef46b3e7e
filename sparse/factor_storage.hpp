// The linked storage one factorization works in, and the phases of the
// factorization that share it (internal to sparse/).
//   Storage: every entry lives in a slot 1..MAXNZ of WK (its value) and of
//   the interleaved per-entry records of IWK (row link, column, column link,
//   row); slots are taken cyclically, later from a free list of dropped
//   slots. Fifteen per-row/per-column arrays of N follow in IWK.
//   Inside the elimination rows and columns keep their original numbers
//   (interchanges only update IPVT, JPVT and two position maps); the
//   copy-out turns numbers into positions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <span>

#include "sparse/sparse_traits.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// 1-based view of one per-row or per-column partition of IWK.
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
  // Per row / column (1..N). row_at(i) and column_at(j) are the current
  // positions of original row i and column j.
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

  // Lays the storage over wk (MAXNZ values) and iwk (4*MAXNZ + 15*N
  // integers) and empties every row and column.
  Linked(std::int32_t order, std::int32_t slots, T *wk, std::int32_t *iwk)
      : n(order), maxnz(slots), values(wk) {
    rlink.p = iwk;
    colof.p = iwk + 1;
    clink.p = iwk + 2;
    rowof.p = iwk + 3;
    std::int32_t *per = iwk + kPerEntryArrays * static_cast<std::ptrdiff_t>(maxnz);
    Ref1 *const per_order[] = {&rhead,     &chead,     &frhead,    &column_at, &rcount,
                               &ccount,    &saved,     &rows.next, &rows.prev, &rows.head,
                               &cols.next, &cols.prev, &cols.head, &row_at,    &colpos};
    static_assert(sizeof(per_order) / sizeof(per_order[0]) == kPerOrderArrays);
    for (Ref1 *r : per_order) {
      r->p = per;
      per += n;
    }
    for (std::int32_t i = 1; i <= n; ++i) {
      rhead(i) = -i;
      chead(i) = -i;
      rcount(i) = 0;
      ccount(i) = 0;
      colpos(i) = 0;
    }
  }

  T &val(std::int32_t s) const { return values[s - 1]; }

  // Slot s takes value v at row i, column j, at the front of both lists.
  void link(std::int32_t s, std::int32_t i, std::int32_t j, const T &v) {
    val(s) = v;
    rowof(s) = i;
    colof(s) = j;
    rlink(s) = rhead(i);
    rhead(i) = s;
    clink(s) = chead(j);
    chead(j) = s;
    ++rcount(i);
    ++ccount(j);
    ++entries;
    if (entries > peak) peak = entries;
  }

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
    --entries;
  }
};

// A check loop lists at most this many offences of one kind; any further
// ones are counted and named by one closing message, so an order of
// millions with one triplet prints a bounded text before the stop.
inline constexpr std::int32_t kMaxListedPerKind = 200;

// The messages of one kind raised by one check loop.
class BoundedReports {
public:
  BoundedReports(ErrorModule &err, const Message &each, const Message &more)
      : err_(err), each_(each), more_(more) {}
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

inline std::int32_t ClampToInt(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// ---- The phases (factor_checks.cpp, factor_eliminate.cpp) -------------------

// The second level's checks of N (`order` names a bad one), NZ and the
// triplets: rows and columns in 1..N, no position given twice (IWK, LIWK
// integers, serves as work). False when one failed.
bool CheckTriplets(ErrorModule &err, const Message &order, std::int32_t n, std::int32_t nz,
                   std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                   std::span<std::int32_t> iwk, std::int32_t liwk);

// Every row and column holds an entry; false (each empty one reported) otherwise.
bool CheckNoEmptyLines(ErrorModule &err, std::int32_t n, Ref1 rcount, Ref1 ccount);

struct Elimination {
  std::int32_t stop_row = 0; // row at which the workspace ran out, 0 if it did not
  bool failed = false;       // a TERMINAL error was raised
};

// The elimination (L5TXG, L5TZG) over the linked storage; fills IPVT, JPVT,
// leaves every row's factor list in L and writes the statistics.
template <class T>
Elimination Eliminate(ErrorModule &err, Linked<T> &L, std::span<std::int32_t> iparam, std::span<float> rparam,
                      std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt);

} // namespace orvek::sparse
