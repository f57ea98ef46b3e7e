// Node-branch incidence lists: two rows per branch, sorted by node with the
// key sort, then laid out node after node behind the N + 1 pointers.
#include "topology/incidence.hpp"

#include <cassert>

#include "assembly/key_sort.hpp"

namespace orvek::topology {

bool SortIncidenceRows(ErrorModule &err, const IncidenceTable &table, std::int32_t m,
                       std::span<std::int32_t> perm, std::span<std::int32_t> keys,
                       std::span<std::int32_t> temp) {
  for (std::int32_t j = 0; j < m; ++j) {
    perm[j] = j + 1;
    keys[j] = table.node[j];
  }
  SVIGP(err, m, keys.data(), keys.data(), perm.data());
  if (m < 1) return false;
  // Gather each column through the permutation, then copy it back; column 1
  // is gathered too, so the sorted keys come from the rows themselves.
  for (const std::span<std::int32_t> column : {table.node, table.neighbour, table.branch}) {
    for (std::int32_t j = 0; j < m; ++j) temp[j] = column[perm[j] - 1];
    for (std::int32_t j = 0; j < m; ++j) column[j] = temp[j];
  }
  return true;
}

void BuildIncidence(ErrorModule &err, std::int32_t n, std::span<const std::int32_t> from,
                    std::span<const std::int32_t> to, std::int32_t nb, std::span<std::int32_t> ija,
                    std::span<std::int32_t> ibr, const IncidenceWork &work) {
  const IncidenceTable &w = work.table;
  // Every branch gives a row at each of its ends.
  for (std::int32_t b = 1; b <= nb; ++b) {
    const std::int32_t i = from[b - 1], j = to[b - 1];
    w.node[2 * b - 2] = i, w.neighbour[2 * b - 2] = j, w.branch[2 * b - 2] = b;
    w.node[2 * b - 1] = j, w.neighbour[2 * b - 1] = i, w.branch[2 * b - 1] = b;
  }
  // A count of zero or below reaches the sort as it stands (its length error);
  // the product is clamped only so that it cannot overflow.
  const std::int64_t wide_rows = 2 * static_cast<std::int64_t>(nb);
  const std::int32_t rows = wide_rows < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(wide_rows);
  if (!SortIncidenceRows(err, w, rows, work.perm, work.keys, work.temp)) return;

  // Sentinel row: one past the largest node present closes its list.
  w.node[rows] = w.node[rows - 1] + 1;

  // 1-based accessors for the pointer walk.
  auto IJA = [&](std::int32_t k) -> std::int32_t & { return ija[k - 1]; };
  auto IBR = [&](std::int32_t k) -> std::int32_t & { return ibr[k - 1]; };
  auto W1 = [&](std::int32_t j) { return w.node[j - 1]; };

  // The list of node i starts right after the entries of all lower nodes.
  // Pointers are written where the node number changes between consecutive
  // sorted rows, for every node number passed over (nodes that end no branch
  // get an empty list), and for the nodes below the lowest and above the
  // highest node present; nothing of ija is read.
  IJA(1) = n + 2;
  for (std::int32_t k = 2; k <= W1(1); ++k) IJA(k) = n + 2;
  std::int32_t pos = n + 1;
  for (std::int32_t j = 1; j <= rows; ++j) {
    ++pos;
    IJA(pos) = w.neighbour[j - 1];
    IBR(pos) = w.branch[j - 1];
    if (W1(j + 1) > W1(j)) {
      for (std::int32_t k = W1(j) + 1; k <= W1(j + 1); ++k) IJA(k) = pos + 1;
    }
  }
  assert(W1(rows + 1) <= n + 1);
  for (std::int32_t k = W1(rows + 1) + 1; k <= n + 1; ++k) IJA(k) = pos + 1;
}

} // namespace orvek::topology
