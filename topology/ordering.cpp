// Breadth-first ordering by connected component and the component records.
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

// One ordering walk. n: nodes ordered; nb: branches listed; s0, b0: their
// values when the current component began; q: position in ORD of the node
// being scanned, p: its position within the component; np: pending chords.
// Membership in the current component (nodes, tree branches, pending chords)
// and the lowest node not ordered in any component: the marker form records
// the component number where the scans would find the entry. Nodes are only
// ever added, so the lowest unordered node never decreases.
struct OrderingWalk {
  std::int32_t n_nodes;
  std::span<const std::int32_t> ija;
  std::span<const std::int32_t> ibr;
  const OrderingOutput &out;
  std::span<std::int32_t> pend;
  const OrderingMarks *marks;
  std::int32_t s0 = 0, b0 = 0, nb = 0, np = 0, n = 1, q = 1, p = 0;
  std::int32_t lowest_unordered = 1;

  bool NodeInComponent(std::int32_t v) const {
    return marks != nullptr ? marks->node[static_cast<std::size_t>(v)] == out.nc : Among(out.ord, s0 + 1, n, v);
  }
  bool TreeListed(std::int32_t br) const {
    return marks != nullptr ? marks->tree[static_cast<std::size_t>(br)] == out.nc : Among(out.bl, b0 + 1, nb, br);
  }
  bool ChordPending(std::int32_t br) const {
    return marks != nullptr ? marks->chord[static_cast<std::size_t>(br)] == out.nc : Among(pend, 1, np, br);
  }
  // Appends node v to ORD (and marks it in the current component).
  void OrderNode(std::int32_t v) {
    out.ord[n - 1] = v;
    if (marks != nullptr) marks->node[static_cast<std::size_t>(v)] = out.nc;
  }
  bool CloseComponent() const {
    if (out.nc > static_cast<std::int32_t>(out.cnt_nodes.size())) return false;
    out.cnt_nodes[out.nc - 1] = n;
    out.cnt_branches[out.nc - 1] = nb;
    return true;
  }

  // Scan node c: a neighbour not yet in the component is reached by a tree
  // branch; any other branch not seen before in this component is a chord.
  void ScanNode(std::int32_t c) {
    for (std::int32_t k = ija[c - 1]; k <= ija[c] - 1; ++k) {
      const std::int32_t v = ija[k - 1], br = ibr[k - 1];
      if (!NodeInComponent(v)) {
        ++n;
        OrderNode(v);
        out.par[n - 1] = p;
        ++nb;
        out.bl[nb - 1] = br;
        if (marks != nullptr) marks->tree[static_cast<std::size_t>(br)] = out.nc;
      } else if (!TreeListed(br) && !ChordPending(br)) {
        ++np;
        pend[np - 1] = br;
        if (marks != nullptr) marks->chord[static_cast<std::size_t>(br)] = out.nc;
      }
    }
  }

  // The component is exhausted: its chords follow its tree branches.
  void ListPendingChords() {
    for (std::int32_t l = 1; l <= np; ++l) out.bl[nb + l - 1] = pend[l - 1];
    nb += np;
    np = 0;
  }

  // The next component starts at the lowest node number not yet ordered
  // (without marks each candidate is tested against every node ordered);
  // 0 when every node is ordered.
  std::int32_t NextRoot() {
    if (marks != nullptr) {
      while (lowest_unordered <= n_nodes && marks->node[static_cast<std::size_t>(lowest_unordered)] != 0)
        ++lowest_unordered;
      return lowest_unordered <= n_nodes ? lowest_unordered : 0;
    }
    for (std::int32_t cand = 1; cand <= n_nodes; ++cand)
      if (!Among(out.ord, 1, n, cand)) return cand;
    return 0;
  }
};

} // namespace

bool OrderByComponent(std::int32_t n_nodes, std::span<const std::int32_t> ija,
                      std::span<const std::int32_t> ibr, const OrderingOutput &out,
                      std::span<std::int32_t> pend, const OrderingMarks *marks) {
  OrderingWalk walk{n_nodes, ija, ibr, out, pend, marks};
  out.nc = 1;
  if (marks != nullptr) {
    std::fill(marks->node.begin(), marks->node.end(), 0);
    std::fill(marks->tree.begin(), marks->tree.end(), 0);
    std::fill(marks->chord.begin(), marks->chord.end(), 0);
  }
  walk.OrderNode(1);
  std::int32_t c = 1;
  for (;;) {
    walk.ScanNode(c);
    ++walk.q;
    if (walk.q <= walk.n) {
      c = out.ord[walk.q - 1];
      walk.p = walk.q - walk.s0 - 1;
      continue;
    }
    walk.ListPendingChords();
    if (walk.n >= n_nodes) return walk.CloseComponent();
    walk.s0 = walk.n;
    walk.b0 = walk.nb;
    if (!walk.CloseComponent()) return false;
    ++out.nc;
    const std::int32_t r = walk.NextRoot();
    if (r == 0) return walk.CloseComponent();
    ++walk.n;
    walk.OrderNode(r);
    walk.p = 0;
    c = r;
    assert(walk.q == walk.n);
  }
}

void StoreComponent(std::int32_t s0, std::int32_t b0, std::int32_t nn, std::int32_t nbr,
                    std::span<const std::int32_t> ord, std::span<const std::int32_t> bl,
                    std::span<const std::int32_t> par, std::span<const std::int32_t> node1,
                    std::span<const std::int32_t> node2, const ComponentRecordSpans &record,
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
    record.end2[l - 1] = position_of(node2[b - 1]);
    record.end1[nn - 1 + l - 1] = position_of(node1[b - 1]);
  }
}

} // namespace orvek::topology
