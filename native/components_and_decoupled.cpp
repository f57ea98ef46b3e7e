// Native topology and fast decoupled matrices: the adjacency lists (MAUX),
// the breadth-first component ordering (MultiPodred) with one record per
// component (ZapisiPodredeno, without its limits of 50 records and
// 1000/1000/150 entries), and the two BX matrices (Matrici_VektoriBX).
#include "native/native_internal.hpp"

#include "frame/capacity_text.hpp"

#include "assembly/accumulator.hpp"
#include "topology/fast_decoupled.hpp"
#include "topology/incidence.hpp"
#include "topology/ordering.hpp"

namespace orvek {
namespace {

using native::Checks;
using native::Count;
using native::Size;

constexpr Message kNpq{4, "NPQ = %(I1) must lie between 0 and N = %(I2)."};
constexpr Message kListsTooLong{
    5, orvek::frame::kCapacityText<"N = %(I1) and NB = %(I2) give lists longer than {} entries.", INT32_MAX>};
constexpr Message kAdjacencyShape{
    6, "The adjacency of N = %(I1) nodes needs IJA(1) = N + 2, pointers in order and IBR as long as IJA."};
constexpr Message kAdjacencyEntry{
    7, "IJA(%(I1)) = %(I2) with IBR(%(I1)) = %(I3) is not an entry of a branch between nodes 1..N."};
constexpr Message kAdjacencyPair{
    8,
    "IJA(%(I1)) = %(I2) with IBR(%(I1)) = %(I3) in the list of node %(I4) has no matching entry in the list "
    "of node %(I2)."};
constexpr Message kAdjacencyBranch{9, "Branch %(I1) occurs %(I2) times in IBR; it must occur exactly twice."};

void CheckBranchEnds(native::CallScope &scope, std::string_view routine, std::int32_t n,
                     std::span<const std::int32_t> from, std::span<const std::int32_t> to,
                     std::initializer_list<std::pair<std::string_view, std::size_t>> more = {}) {
  Checks checks(scope, routine);
  const std::int32_t nb = Count(from.size());
  bool ok = checks.require(n >= 1, native::kNetworkNodes, {n});
  ok = ok && checks.require(static_cast<std::int64_t>(n) + 1 + 2 * static_cast<std::int64_t>(from.size()) <=
                                INT32_MAX,
                            kListsTooLong, {n, nb});
  for (const auto &[name, size] : more)
    ok = ok && checks.require_named(size == from.size(), name, native::kNetworkBranchSize, {Count(size), nb});
  ok = ok && native::CheckEnds(checks, {native::kNetworkBranchSize, native::kNetworkBranchEnd}, n, from, to);
  checks.passed();
  scope.check();
}

// The lists are what BuildAdjacency gives for some branch table over nodes
// 1..N with as many branches as from/to hold: every entry names a node in
// 1..N and a branch in 1..NB, each branch occurs twice, and each entry u ->
// v of branch b has its partner v -> u of branch b at another position.
void CheckAdjacency(native::CallScope &scope, const Adjacency &adj, std::int32_t nb) {
  Checks checks(scope, "OrderComponents");
  const std::int32_t n = adj.n;
  const std::int64_t size = static_cast<std::int64_t>(adj.ija.size());
  bool ok = checks.require(n >= 1 && size >= static_cast<std::int64_t>(n) + 1 &&
                               adj.ibr.size() == adj.ija.size() && adj.ija[0] == n + 2,
                           kAdjacencyShape, {n});
  for (std::int32_t i = 1; ok && i <= n; ++i)
    ok = checks.require(adj.ija[Size(i)] >= adj.ija[Size(i) - 1], kAdjacencyShape, {n});
  ok = ok && checks.require(static_cast<std::int64_t>(adj.ija[Size(n)]) - 1 == size &&
                                size - n - 1 == 2 * static_cast<std::int64_t>(nb),
                            kAdjacencyShape, {n});
  auto IJA = [&](std::int32_t k) { return adj.ija[Size(k) - 1]; };
  auto IBR = [&](std::int32_t k) { return adj.ibr[Size(k) - 1]; };
  const std::int32_t first = n + 2, last = ok ? IJA(n + 1) - 1 : 0;
  // Each branch must occur exactly twice, so the partner of an entry is the
  // other occurrence of its branch: one pass finds it, and the pair check
  // only has to look at that one entry (linear in the list length).
  std::span<std::int32_t> count = scope.ws().count.zeroed(Size(nb));
  std::span<std::int32_t> first_at = scope.ws().first_entry.take(Size(nb));
  std::span<std::int32_t> partner = scope.ws().partner_entry.take(Size(2 * static_cast<std::int64_t>(nb)));
  for (std::int32_t k = first; ok && k <= last; ++k) {
    ok = checks.require(IJA(k) >= 1 && IJA(k) <= n && IBR(k) >= 1 && IBR(k) <= nb, kAdjacencyEntry,
                        {k, IJA(k), IBR(k)});
    if (!ok) break;
    std::int32_t &seen = count[Size(IBR(k)) - 1];
    if (++seen == 1) {
      first_at[Size(IBR(k)) - 1] = k;
    } else if (seen == 2) {
      const std::int32_t other = first_at[Size(IBR(k)) - 1];
      partner[Size(k - first)] = other;
      partner[Size(other - first)] = k;
    }
  }
  for (std::int32_t b = 1; ok && b <= nb; ++b)
    ok = checks.require(count[Size(b) - 1] == 2, kAdjacencyBranch, {b, count[Size(b) - 1]});
  // Entry k (u -> v, branch b) is matched when the other entry of b lies in
  // the list of v and names u.
  for (std::int32_t u = 1; ok && u <= n; ++u) {
    for (std::int32_t k = IJA(u); ok && k < IJA(u + 1); ++k) {
      const std::int32_t v = IJA(k), h = partner[Size(k - first)];
      const bool matched = h >= IJA(v) && h < IJA(v + 1) && IJA(h) == u;
      ok = checks.require(matched, kAdjacencyPair, {k, v, IBR(k), u});
    }
  }
  checks.passed();
  scope.check();
}

} // namespace

DecoupledMatrices FastDecoupledMatrices(Workspace &ws, std::int32_t n, std::int32_t npq,
                                        const DecoupledBranchView &branches) try {
  native::CallScope scope(ws, "FastDecoupledMatrices");
  CheckBranchEnds(scope, "FastDecoupledMatrices", n, branches.from, branches.to,
                  {{"R", branches.r.size()}, {"X", branches.x.size()}, {"T", branches.t.size()}});
  {
    Checks checks(scope, "FastDecoupledMatrices");
    checks.require(npq >= 0 && npq <= n, kNpq, {npq, n});
    checks.passed();
    scope.check();
  }
  Workspace::Impl &w = scope.ws();
  const std::int32_t nb = Count(branches.from.size());
  const std::size_t nbs = Size(nb);
  const assembly::BranchOrder order = native::WideBranchOrder(w, nbs);
  DecoupledMatrices out;
  // Room for the diagonals and a pair per branch; cut to the entries made.
  const std::size_t room1 = Size(n - 1) + 2 * nbs, room2 = Size(npq) + 2 * nbs;
  out.first.irow.assign(room1, 0);
  out.first.jcol.assign(room1, 0);
  out.first.value.assign(room1, 0.0f);
  out.second.irow.assign(room2, 0);
  out.second.jcol.assign(room2, 0);
  out.second.value.assign(room2, 0.0f);
  assembly::TripletList<float> first{out.first.irow, out.first.jcol, out.first.value, 0};
  assembly::TripletList<float> second{out.second.irow, out.second.jcol, out.second.value, 0};
  const topology::DecoupledBranches data{branches.r, branches.x, branches.t, branches.from, branches.to};
  topology::BuildFastDecoupled(scope.err(), n, npq, data, nb, first, second, order);
  scope.check();
  out.first.n = n - 1;
  out.second.n = npq;
  for (auto [m, list] : {std::pair{&out.first, &first}, std::pair{&out.second, &second}}) {
    m->irow.resize(Size(list->nz));
    m->jcol.resize(Size(list->nz));
    m->value.resize(Size(list->nz));
  }
  return out;
} catch (...) {
  native::RethrowAllocationFailure("FastDecoupledMatrices");
}

Adjacency BuildAdjacency(Workspace &ws, std::int32_t n, std::span<const std::int32_t> from,
                         std::span<const std::int32_t> to) try {
  native::CallScope scope(ws, "BuildAdjacency");
  CheckBranchEnds(scope, "BuildAdjacency", n, from, to);
  Workspace::Impl &w = scope.ws();
  const std::int32_t nb = Count(from.size());
  const std::size_t rows = 2 * Size(nb);
  const topology::IncidenceWork work{
      {w.table_node.take(rows + 1), w.table_neighbour.take(rows + 1), w.table_branch.take(rows + 1)},
      w.sort_perm.take(rows),
      w.key.take(rows),
      w.itemp.take(rows)};
  Adjacency out;
  out.n = n;
  out.ija.assign(Size(n) + 1 + rows, 0);
  out.ibr.assign(Size(n) + 1 + rows, 0);
  topology::BuildIncidence(scope.err(), n, from, to, nb, out.ija, out.ibr, work);
  scope.check();
  return out;
} catch (...) {
  native::RethrowAllocationFailure("BuildAdjacency");
}

ComponentOrdering OrderComponents(Workspace &ws, const Adjacency &adjacency,
                                  std::span<const std::int32_t> from, std::span<const std::int32_t> to) try {
  native::CallScope scope(ws, "OrderComponents");
  const std::int32_t n = adjacency.n;
  const std::int32_t nb = Count(from.size());
  CheckBranchEnds(scope, "OrderComponents", n, from, to);
  CheckAdjacency(scope, adjacency, nb);

  ComponentOrdering out;
  out.ord.assign(Size(n), 0);
  out.par.assign(Size(n), 0);
  out.bl.assign(Size(nb), 0);
  // At most one component per node.
  out.cnt_nodes.assign(Size(n), 0);
  out.cnt_branches.assign(Size(n), 0);
  std::int32_t nc = 0;
  const topology::OrderingOutput o{out.ord, out.par, out.bl, out.cnt_nodes, out.cnt_branches, nc};
  // Marker arrays make the membership tests lookups; the ordering is the same.
  const topology::OrderingMarks marks{scope.ws().node_marks.take(Size(n) + 1),
                                      scope.ws().tree_marks.take(Size(nb) + 1),
                                      scope.ws().chord_marks.take(Size(nb) + 1)};
  topology::OrderByComponent(n, adjacency.ija, adjacency.ibr, o, scope.ws().pend.take(Size(nb)), &marks);
  out.cnt_nodes.resize(Size(nc));
  out.cnt_branches.resize(Size(nc));

  // Chord ends are found through a position index (every node is ordered
  // once): the same first match as the scan of the component's nodes.
  out.components.resize(Size(nc));
  const std::span<std::int32_t> position = scope.ws().node_positions.take(Size(n) + 1);
  for (std::int32_t g = 1; g <= nc; ++g) {
    const std::int32_t s0 = g > 1 ? out.cnt_nodes[Size(g) - 2] : 0;
    const std::int32_t b0 = g > 1 ? out.cnt_branches[Size(g) - 2] : 0;
    const std::int32_t nn = out.cnt_nodes[Size(g) - 1] - s0;
    const std::int32_t nbr = out.cnt_branches[Size(g) - 1] - b0;
    const std::int32_t nch = nbr + 1 - nn;
    Component &c = out.components[Size(g) - 1];
    c.nodes.resize(Size(nn));
    c.branches.resize(Size(nbr));
    c.end1.resize(Size(nbr));
    c.end2.resize(Size(nch));
    std::vector<std::int32_t> chp(Size(nch));
    std::int32_t rnn = 0, rnbr = 0, rnch = 0;
    const topology::ComponentRecordSpans spans{rnn, rnbr, rnch, c.nodes, c.branches, c.end1, chp, c.end2};
    for (std::int32_t k = 1; k <= nn; ++k) position[Size(out.ord[Size(s0 + k) - 1])] = k - 1;
    const topology::NodePositions index{marks.node, position, g};
    topology::StoreComponent(s0, b0, nn, nbr, out.ord, out.bl, out.par, from, to, spans, &index);
  }
  return out;
} catch (...) {
  native::RethrowAllocationFailure("OrderComponents");
}

} // namespace orvek
