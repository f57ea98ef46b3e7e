// Node ordering by connected component: a breadth-first spanning forest over
// the adjacency lists of MAUX, and the component records built from it.
// Positions within a component are 0-based (the root is position 0).
// Membership tests are linear scans over what was ordered so far, or, when
// the caller lends marker arrays, lookups in them; both give the same order
// of visits, exactly that of the lists (the scans cost up to N*N per
// component, the markers N + NB in all).
#pragma once

#include <cstdint>
#include <span>

namespace orvek::topology {

// Output of the ordering. ord/par hold N elements, bl NB, cnt_nodes and
// cnt_branches one element per component the caller can take.
struct OrderingOutput {
  std::span<std::int32_t> ord;
  std::span<std::int32_t> par; // not written at the root of a component
  std::span<std::int32_t> bl;
  std::span<std::int32_t> cnt_nodes;
  std::span<std::int32_t> cnt_branches;
  std::int32_t &nc;
};

// Marker arrays lent to the ordering: node holds N + 1 elements, tree and
// chord NB + 1 (index = node or branch number); their contents on entry do
// not matter.
struct OrderingMarks {
  std::span<std::int32_t> node;  // component in which the node was last ordered, 0 = not yet
  std::span<std::int32_t> tree;  // component whose tree branches list the branch
  std::span<std::int32_t> chord; // component whose pending chords hold the branch
};

// Orders nodes 1..N component by component. The lists must be a consistent
// result of MAUX for N >= 1 nodes (neighbours in 1..N, each branch entered
// once from each end); pend holds at least as many elements as the largest
// component has chords. Returns false, with nc, ord, par and bl partly
// written, when more components exist than cnt_nodes has room for.
// With marks, the membership tests are lookups (same results).
bool OrderByComponent(std::int32_t n, std::span<const std::int32_t> ija, std::span<const std::int32_t> ibr,
                      const OrderingOutput &out, std::span<std::int32_t> pend,
                      const OrderingMarks *marks = nullptr);

// One component record: counts, then NODE, BRN, END1 (sized for the
// component's nodes and branches) and CHP, END2 (sized for its chords).
struct ComponentRecordSpans {
  std::int32_t &nn;
  std::int32_t &nbr;
  std::int32_t &nch;
  std::span<std::int32_t> node;
  std::span<std::int32_t> brn;
  std::span<std::int32_t> end1;
  std::span<std::int32_t> chp;
  std::span<std::int32_t> end2;
};

// Position given to a chord end that is not a node of the component (only
// for inconsistent input: the ends of a chord always lie in its component).
inline constexpr std::int32_t kNotInComponent = -1;

// A position index of the nodes, lent to StoreComponent when every node
// occurs once in ord (the ordering's own result): component[v] is the
// component of node v (as OrderingMarks::node leaves it), position[v] its
// position there; both hold N + 1 elements.
struct NodePositions {
  std::span<const std::int32_t> component;
  std::span<const std::int32_t> position;
  std::int32_t g; // the component being stored
};

// Fills the record of the component whose nodes are ord(s0+1..s0+nn) and
// whose branches are bl(b0+1..b0+nbr); par gives the parent positions and
// from/to the end nodes of the network's branches (chords are looked up
// there: by a scan of the component's nodes, the first match, or in the
// index when one is lent). The caller ensures nn >= 1, nbr >= 0, the
// record's room and that every chord number indexes from/to.
void StoreComponent(std::int32_t s0, std::int32_t b0, std::int32_t nn, std::int32_t nbr,
                    std::span<const std::int32_t> ord, std::span<const std::int32_t> bl,
                    std::span<const std::int32_t> par, std::span<const std::int32_t> from,
                    std::span<const std::int32_t> to, const ComponentRecordSpans &record,
                    const NodePositions *positions = nullptr);

} // namespace orvek::topology
