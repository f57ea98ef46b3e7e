// The checks of the factorization's second level (L2TXG, L2TZG) on its
// input: N and NZ positive, every row and column number in 1..N, no
// position given twice, no empty row or column.
//   Work: the checks of positions use the integer workspace IWK (LIWK
//   integers): a bit table of N*N bits, a counting pass of NZ + 2*N + 1
//   integers, or the sorted keys of NZ (2*NZ above kMaxKeyedOrder) integers,
//   whichever fits; a position check that fits none is left out (a short
//   LIWK is reported after these checks).
// Offences are reported one message each, at most kMaxListedPerKind of a
// kind, then one message counting the rest.
#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "assembly/key_sort.hpp"
#include "sparse/entry_checks.hpp"
#include "sparse/factor_storage.hpp"
#include "support/counts.hpp"

namespace orvek::sparse {
namespace {

constexpr Message kSecondNz{12, "The number of nonzeros must be positive while NZ = %(I1) is given."};
constexpr Message kRowRange{
    14, "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(%(I1)) = %(I2)."};
constexpr Message kColRange{
    15, "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(%(I1)) = %(I2)."};
constexpr Message kDuplicate{16, "Two values of A are given for IROW = %(I1) and JCOL = %(I2)."};
constexpr Message kEmptyRow{4, "An empty row has been found in the coefficient matrix: row number = %(I1)"};
constexpr Message kEmptyColumn{
    5, "An empty column has been found in the coefficient matrix: column number = %(I1)"};
// Closing messages of a check loop that found more offences of one kind
// than it lists (same code as the kind).
constexpr Message kRowRangeMore{14, "%(I1) more IROW values out of range are not listed."};
constexpr Message kColRangeMore{15, "%(I1) more JCOL values out of range are not listed."};
constexpr Message kDuplicateMore{16, "%(I1) more positions given twice are not listed."};
constexpr Message kEmptyRowMore{4, "%(I1) more empty rows are not listed."};
constexpr Message kEmptyColumnMore{5, "%(I1) more empty columns are not listed."};

// A table of one bit per position is cleared faster than the positions are
// bucketed while it holds at most this many words per triplet.
constexpr std::int64_t kBitWordsPerTriplet = 16;

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

// Reports each row and column number outside 1..N; true when there is none.
bool CheckRanges(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                 std::span<const std::int32_t> jcol) {
  if (AllInRange(irow.data(), jcol.data(), nz, n)) return true;
  BoundedReports rows(err, kRowRange, kRowRangeMore), columns(err, kColRange, kColRangeMore);
  for (std::int32_t i = 0; i < nz; ++i)
    if (irow[i] < 1 || irow[i] > n) rows.raise({i + 1, irow[i]});
  rows.close();
  for (std::int32_t i = 0; i < nz; ++i)
    if (jcol[i] < 1 || jcol[i] > n) columns.raise({i + 1, jcol[i]});
  columns.close();
  return false;
}

} // namespace

bool CheckTriplets(ErrorModule &err, const Message &order, std::int32_t n, std::int32_t nz,
                   std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                   std::span<std::int32_t> iwk, std::int32_t liwk) {
  if (n <= 0) Raise(err, kTerminal, order, {n});
  if (nz <= 0) Raise(err, kTerminal, kSecondNz, {nz});
  if (err.N1RCD(0) != 0) return false;
  const bool in_range = CheckRanges(err, n, nz, irow, jcol);
  // Positions are only formed from valid rows and columns (duplicates
  // among them are reported after the range errors), and only where the
  // integer workspace can hold them (a short LIWK is reported later).
  const std::int64_t key_room = n <= kMaxKeyedOrder ? nz : 2 * static_cast<std::int64_t>(nz);
  // The sorted keys are only needed to name the duplicates: a list whose
  // positions are distinct (found by a counting pass where the workspace
  // holds it) reaches the same outcome without them.
  const std::int64_t count_room = static_cast<std::int64_t>(nz) + 2LL * n + 1;
  const std::int64_t bit_words = (static_cast<std::int64_t>(n) * n + 31) / 32;
  bool distinct = false;
  if (in_range && bit_words <= liwk && bit_words <= kBitWordsPerTriplet * nz)
    distinct = PositionBitsDistinct(n, nz, irow, jcol, iwk.data(), bit_words);
  else if (in_range && liwk >= count_room)
    distinct = PositionsDistinct(n, nz, irow, jcol, iwk.data());
  if (!distinct && liwk >= key_room) CheckDuplicates(err, n, nz, irow, jcol, iwk);
  return err.N1RCD(0) == 0;
}

bool CheckNoEmptyLines(ErrorModule &err, std::int32_t n, Ref1 rcount, Ref1 ccount) {
  BoundedReports empty_rows(err, kEmptyRow, kEmptyRowMore),
      empty_columns(err, kEmptyColumn, kEmptyColumnMore);
  for (std::int32_t i = 1; i <= n; ++i)
    if (rcount(i) == 0) empty_rows.raise({i});
  empty_rows.close();
  for (std::int32_t j = 1; j <= n; ++j)
    if (ccount(j) == 0) empty_columns.raise({j});
  empty_columns.close();
  return err.N1RCD(0) == 0;
}

} // namespace orvek::sparse
