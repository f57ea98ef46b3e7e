// Node-branch incidence: per-node adjacency lists in the index layout of the
// row-indexed sparse form. IJA(1) = N + 2, IJA(i)..IJA(i+1)-1 is the list of
// node i (neighbour numbers), IBR parallel to it holds the branch of each
// neighbour. Every branch is entered from both ends; parallel branches and
// self-loops are kept as separate entries. The order within a list is the
// order in which the key sort leaves rows of equal node number.
#pragma once

#include <cstdint>
#include <span>

#include "support/error_module.hpp"

namespace orvek::topology {

// A table of integer rows in three columns (node, neighbour, branch); each
// column holds at least as many elements as the table has rows.
struct IncidenceTable {
  std::span<std::int32_t> node;
  std::span<std::int32_t> neighbour;
  std::span<std::int32_t> branch;
};

// Work storage of BuildIncidence for NB branches: table rows 2*NB + 1 (the
// sorted entries and a sentinel row), perm, keys and temp 2*NB.
struct IncidenceWork {
  IncidenceTable table;
  std::span<std::int32_t> perm;
  std::span<std::int32_t> keys;
  std::span<std::int32_t> temp;
};

// Sorts rows 1..m of the table by column 1 with the key sort, moving the
// other columns with their rows. Returns false when the sort refused the
// length (m < 1; its error is then reported through err).
bool SortIncidenceRows(ErrorModule &err, const IncidenceTable &table, std::int32_t m,
                       std::span<std::int32_t> perm, std::span<std::int32_t> keys,
                       std::span<std::int32_t> temp);

// Builds the adjacency lists of NB branches over nodes 1..N into
// ija/ibr (N + 1 + 2*NB elements; ibr(1..N+1) is not written). from/to
// hold the end nodes of branches 1..NB, all in 1..N (the caller's contract).
// The pointers depend only on the branches: a node that ends no branch gets
// an empty list wherever it lies, whatever ija held before. With NB < 1 the
// key sort reports its length error and nothing is written.
void BuildIncidence(ErrorModule &err, std::int32_t n, std::span<const std::int32_t> from,
                    std::span<const std::int32_t> to, std::int32_t nb, std::span<std::int32_t> ija,
                    std::span<std::int32_t> ibr, const IncidenceWork &work);

} // namespace orvek::topology
