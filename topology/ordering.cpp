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

// One breadth-first walk over the components, in the order of the lists:
// n nodes ordered, nb branches listed, s0/b0 their values when the current
// component began, np chords pending. Membership in the current component
// (nodes, tree branches, pending chords) is a scan of those lists or, with
// marks, a lookup of the component number recorded where the scan would find
// the entry; the answers, and so the ordering, are the same.
class ComponentWalk {
public:
  ComponentWalk(std::int32_t n_nodes, std::span<const std::int32_t> ija, std::span<const std::int32_t> ibr,
                const OrderingOutput &out, std::span<std::int32_t> pend, const OrderingMarks *marks)
      : n_nodes_(n_nodes), ija_(ija), ibr_(ibr), out_(out), pend_(pend), marks_(marks) {
    if (marks_ != nullptr) {
      std::fill(marks_->node.begin(), marks_->node.end(), 0);
      std::fill(marks_->tree.begin(), marks_->tree.end(), 0);
      std::fill(marks_->chord.begin(), marks_->chord.end(), 0);
    }
    out_.nc = 1;
  }

  std::int32_t ordered() const { return n_; }
  std::int32_t component_start() const { return s0_; }

  // Appends node v to the ordering and to the current component.
  void AddNode(std::int32_t v) {
    ++n_;
    out_.ord[n_ - 1] = v;
    if (marks_ != nullptr) marks_->node[Index(v)] = out_.nc;
  }

  // Scans node c at position p within its component: a neighbour not yet in
  // the component is reached by a tree branch; any other branch not seen
  // before in this component is a chord.
  void ScanNode(std::int32_t c, std::int32_t p) {
    for (std::int32_t k = ija_[c - 1]; k <= ija_[c] - 1; ++k) {
      const std::int32_t v = ija_[k - 1], br = ibr_[k - 1];
      if (!NodeInComponent(v)) {
        AddNode(v);
        out_.par[n_ - 1] = p;
        ++nb_;
        out_.bl[nb_ - 1] = br;
        if (marks_ != nullptr) marks_->tree[Index(br)] = out_.nc;
      } else if (!TreeListed(br) && !ChordPending(br)) {
        ++np_;
        pend_[np_ - 1] = br;
        if (marks_ != nullptr) marks_->chord[Index(br)] = out_.nc;
      }
    }
  }

  // The component is exhausted: its chords follow its tree branches.
  void AppendChords() {
    for (std::int32_t l = 1; l <= np_; ++l) out_.bl[nb_ + l - 1] = pend_[l - 1];
    nb_ += np_;
    np_ = 0;
  }

  // Records the cumulative counts of component nc; false when CNT is full.
  bool RecordCounts() {
    if (out_.nc > static_cast<std::int32_t>(out_.cnt_nodes.size())) return false;
    out_.cnt_nodes[out_.nc - 1] = n_;
    out_.cnt_branches[out_.nc - 1] = nb_;
    return true;
  }

  void StartComponent() {
    s0_ = n_;
    b0_ = nb_;
    ++out_.nc;
  }

  // The lowest node number not yet ordered, 0 when there is none (without
  // marks each candidate is tested against every node ordered; with them,
  // since nodes are only ever added, the lowest never decreases).
  std::int32_t LowestUnordered() {
    if (marks_ != nullptr) {
      while (lowest_unordered_ <= n_nodes_ && marks_->node[Index(lowest_unordered_)] != 0)
        ++lowest_unordered_;
      return lowest_unordered_ <= n_nodes_ ? lowest_unordered_ : 0;
    }
    for (std::int32_t cand = 1; cand <= n_nodes_; ++cand)
      if (!Among(out_.ord, 1, n_, cand)) return cand;
    return 0;
  }

private:
  static std::size_t Index(std::int32_t v) { return static_cast<std::size_t>(v); }
  bool NodeInComponent(std::int32_t v) const {
    return marks_ != nullptr ? marks_->node[Index(v)] == out_.nc : Among(out_.ord, s0_ + 1, n_, v);
  }
  bool TreeListed(std::int32_t br) const {
    return marks_ != nullptr ? marks_->tree[Index(br)] == out_.nc : Among(out_.bl, b0_ + 1, nb_, br);
  }
  bool ChordPending(std::int32_t br) const {
    return marks_ != nullptr ? marks_->chord[Index(br)] == out_.nc : Among(pend_, 1, np_, br);
  }

  std::int32_t n_nodes_;
  std::span<const std::int32_t> ija_, ibr_;
  const OrderingOutput &out_;
  std::span<std::int32_t> pend_;
  const OrderingMarks *marks_;
  std::int32_t n_ = 0, nb_ = 0, s0_ = 0, b0_ = 0, np_ = 0;
  std::int32_t lowest_unordered_ = 1;
};

} // namespace

bool OrderByComponent(std::int32_t n_nodes, std::span<const std::int32_t> ija,
                      std::span<const std::int32_t> ibr, const OrderingOutput &out,
                      std::span<std::int32_t> pend, const OrderingMarks *marks) {
  ComponentWalk walk(n_nodes, ija, ibr, out, pend, marks);
  // q: position in ORD of the node being scanned, c that node, p its
  // position within the component.
  walk.AddNode(1);
  std::int32_t q = 1, p = 0, c = 1;
  for (;;) {
    walk.ScanNode(c, p);
    ++q;
    if (q <= walk.ordered()) {
      c = out.ord[q - 1];
      p = q - walk.component_start() - 1;
      continue;
    }
    walk.AppendChords();
    if (walk.ordered() >= n_nodes) return walk.RecordCounts();
    if (!walk.RecordCounts()) return false;
    walk.StartComponent();
    // The next component starts at the lowest node number not yet ordered.
    const std::int32_t r = walk.LowestUnordered();
    if (r == 0) return walk.RecordCounts();
    walk.AddNode(r);
    p = 0;
    c = r;
    assert(q == walk.ordered());
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
