// Breadth-first ordering by connected component and the component records
// (contracts in ordering.hpp): from the adjacency lists of MAUX, the
// ordering ORD/PAR/BL/CNT and one record per component; the marker arrays and
// the pending-chord list are work storage lent by the caller.
#include "topology/ordering.hpp"

#include <algorithm>
#include <cassert>

namespace orvek::topology {
namespace {

// True when value occurs among list[first-1 .. last-1] (1-based bounds).
bool Among(std::span<const std::int32_t> list, std::int32_t first, std::int32_t last, std::int32_t value) {
  for (std::int32_t k = first; k <= last; ++k)
    if (list[k - 1] == value) return true;
  return false;
}

} // namespace

bool OrderByComponent(std::int32_t n_nodes, std::span<const std::int32_t> ija,
                      std::span<const std::int32_t> ibr, const OrderingOutput &out,
                      std::span<std::int32_t> pend, const OrderingMarks *marks) {
  auto IJA = [&](std::int32_t k) { return ija[k - 1]; };
  auto IBR = [&](std::int32_t k) { return ibr[k - 1]; };
  auto ORD = [&](std::int32_t k) -> std::int32_t & { return out.ord[k - 1]; };
  auto PAR = [&](std::int32_t k) -> std::int32_t & { return out.par[k - 1]; };
  auto BL = [&](std::int32_t k) -> std::int32_t & { return out.bl[k - 1]; };
  const auto max_components = static_cast<std::int32_t>(out.cnt_nodes.size());
  std::int32_t &nc = out.nc;
  auto close_component = [&](std::int32_t n, std::int32_t nb) {
    if (nc > max_components) return false;
    out.cnt_nodes[nc - 1] = n;
    out.cnt_branches[nc - 1] = nb;
    return true;
  };

  // n: nodes ordered; nb: branches listed; s0, b0: their values when the
  // current component began; q: position in ORD of the node being scanned,
  // p: its position within the component; np: pending chords.
  nc = 1;
  std::int32_t s0 = 0, b0 = 0, nb = 0, np = 0, n = 1, q = 1, p = 0;
  // Membership in the current component (nodes, tree branches, pending
  // chords) and the lowest node not ordered in any component: the marker
  // form records the component number where the scans would find the entry.
  // Nodes are only ever added, so the lowest unordered node never decreases.
  if (marks != nullptr) {
    std::fill(marks->node.begin(), marks->node.end(), 0);
    std::fill(marks->tree.begin(), marks->tree.end(), 0);
    std::fill(marks->chord.begin(), marks->chord.end(), 0);
  }
  std::int32_t lowest_unordered = 1;
  auto node_in_component = [&](std::int32_t v) {
    return marks != nullptr ? marks->node[static_cast<std::size_t>(v)] == nc : Among(out.ord, s0 + 1, n, v);
  };
  auto tree_listed = [&](std::int32_t br) {
    return marks != nullptr ? marks->tree[static_cast<std::size_t>(br)] == nc : Among(out.bl, b0 + 1, nb, br);
  };
  auto chord_pending = [&](std::int32_t br) {
    return marks != nullptr ? marks->chord[static_cast<std::size_t>(br)] == nc : Among(pend, 1, np, br);
  };
  auto mark_node = [&](std::int32_t v) {
    if (marks != nullptr) marks->node[static_cast<std::size_t>(v)] = nc;
  };
  ORD(1) = 1;
  mark_node(1);
  std::int32_t c = 1;
  for (;;) {
    // Scan node c: a neighbour not yet in the component is reached by a tree
    // branch; any other branch not seen before in this component is a chord.
    for (std::int32_t k = IJA(c); k <= IJA(c + 1) - 1; ++k) {
      const std::int32_t v = IJA(k), br = IBR(k);
      if (!node_in_component(v)) {
        ++n;
        ORD(n) = v;
        mark_node(v);
        PAR(n) = p;
        ++nb;
        BL(nb) = br;
        if (marks != nullptr) marks->tree[static_cast<std::size_t>(br)] = nc;
      } else if (!tree_listed(br) && !chord_pending(br)) {
        ++np;
        pend[np - 1] = br;
        if (marks != nullptr) marks->chord[static_cast<std::size_t>(br)] = nc;
      }
    }
    ++q;
    if (q <= n) {
      c = ORD(q);
      p = q - s0 - 1;
      continue;
    }
    // The component is exhausted: its chords follow its tree branches.
    for (std::int32_t l = 1; l <= np; ++l) BL(nb + l) = pend[l - 1];
    nb += np;
    np = 0;
    if (n >= n_nodes) return close_component(n, nb);
    s0 = n;
    b0 = nb;
    if (!close_component(n, nb)) return false;
    ++nc;
    // The next component starts at the lowest node number not yet ordered
    // (without marks each candidate is tested against every node ordered).
    std::int32_t r = 0;
    if (marks != nullptr) {
      while (lowest_unordered <= n_nodes && marks->node[static_cast<std::size_t>(lowest_unordered)] != 0)
        ++lowest_unordered;
      if (lowest_unordered <= n_nodes) r = lowest_unordered;
    } else {
      for (std::int32_t cand = 1; cand <= n_nodes; ++cand) {
        if (!Among(out.ord, 1, n, cand)) {
          r = cand;
          break;
        }
      }
    }
    if (r == 0) return close_component(n, nb);
    ++n;
    ORD(n) = r;
    mark_node(r);
    p = 0;
    c = r;
    assert(q == n);
  }
}

void StoreComponent(std::int32_t s0, std::int32_t b0, std::int32_t nn, std::int32_t nbr,
                    std::span<const std::int32_t> ord, std::span<const std::int32_t> bl,
                    std::span<const std::int32_t> par, std::span<const std::int32_t> from,
                    std::span<const std::int32_t> to, const ComponentRecordSpans &record,
                    const NodePositions *positions) {
  const std::int32_t nch = nbr + 1 - nn;
  record.nn = nn;
  record.nbr = nbr;
  record.nch = nch;
  for (std::int32_t k = 1; k <= nn; ++k) record.node[k - 1] = ord[s0 + k - 1];
  // Tree branch k joins position END1(k) (its parent) and position k.
  for (std::int32_t k = 1; k <= nn - 1; ++k) record.end1[k - 1] = par[s0 + k];
  for (std::int32_t k = 1; k <= nbr; ++k) record.brn[k - 1] = bl[b0 + k - 1];
  // Chord l joins the first positions that hold its two end nodes.
  auto position_of = [&](std::int32_t node) {
    if (positions != nullptr) {
      const auto v = static_cast<std::size_t>(node);
      const bool here =
          node >= 1 && v < positions->component.size() && positions->component[v] == positions->g;
      return here ? positions->position[v] : kNotInComponent;
    }
    for (std::int32_t k = 1; k <= nn; ++k)
      if (record.node[k - 1] == node) return k - 1;
    return kNotInComponent;
  };
  for (std::int32_t l = 1; l <= nch; ++l) {
    const std::int32_t b = record.brn[nn - 1 + l - 1];
    record.chp[l - 1] = nn - 1 + l;
    record.end2[l - 1] = position_of(to[b - 1]);
    record.end1[nn - 1 + l - 1] = position_of(from[b - 1]);
  }
}

} // namespace orvek::topology
