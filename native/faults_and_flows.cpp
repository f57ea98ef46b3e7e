// Native fault, branch and node quantities: the solid fault at one node
// (NaponiKV), the fault-study road over many nodes (a unit injection solved
// in each sequence network, then the fault computation; for all nodes the
// diagonals of the inverses instead), the fault levels of every fault type
// at every node, branch end currents and powers (StruiKV, Sg) and node
// powers (So, MNOZI).
#include <algorithm>

#include "native/native_internal.hpp"

#include "sequence/sequence.hpp"
#include "topology/dense.hpp"

namespace orvek {
namespace {

using native::Checks;
using native::Count;
using native::Size;

constexpr Message kNodeCount{1, "N = %(I1) must be at least 1."};
constexpr Message kNodeArray{2, "%(L1) holds %(I1) values; it must hold N = %(I2), one per node."};
constexpr Message kFaultNode{3, "K = %(I1) must lie between 1 and N = %(I2)."};
constexpr Message kStudyNode{4, "NODES(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kFactorOrder{5, "The %(L1) factor set has order %(I1); it must have N = %(I2)."};
constexpr Message kBranchSize{6, "%(L1) holds %(I1) values; it must hold NB = %(I2), one per branch."};
constexpr Message kBranchEnd{7, "%(L1)(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kMatrixShape{
    8, "The row-indexed matrix of order N = %(I1) needs IJA(1) = N + 2 and at least N + 1 index values."};
constexpr Message kMatrixPointer{9, "IJA(%(I1)) = %(I2) is out of order or beyond the stored positions."};
constexpr Message kMatrixColumn{10, "IJA(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};

bool NodeArrays(Checks &checks, std::int32_t n,
                std::initializer_list<std::pair<std::string_view, std::size_t>> arrays) {
  for (const auto &[name, size] : arrays)
    if (!checks.require_named(size == Size(n), name, kNodeArray, {Count(size), n})) return false;
  return true;
}

sequence::BranchData Data(const BranchView &br) {
  return {br.z, br.ya, br.yb, br.from, br.to};
}

void CheckBranches(native::CallScope &scope, std::string_view routine, const BranchView &br,
                   std::span<const Complex> v) {
  Checks checks(scope, routine);
  const std::int32_t nb = Count(br.from.size()), n = Count(v.size());
  bool ok = true;
  for (const auto &[name, size] :
       {std::pair{"Z", br.z.size()}, std::pair{"YA", br.ya.size()}, std::pair{"YB", br.yb.size()}})
    ok = ok && checks.require_named(size == br.from.size(), name, kBranchSize, {Count(size), nb});
  ok = ok && native::CheckEnds(checks, {kBranchSize, kBranchEnd}, n, br.from, br.to);
  checks.passed();
  scope.check();
}

void CheckMatrix(native::CallScope &scope, std::string_view routine, const RowIndexed &y,
                 std::size_t voltages) {
  Checks checks(scope, routine);
  if (native::CheckRowIndexed(checks, {kMatrixShape, kMatrixPointer, kMatrixColumn}, y))
    NodeArrays(checks, y.n, {{"V", voltages}});
  checks.passed();
  scope.check();
}

// One per-branch kernel of sequence/ (end currents or powers) over the
// checked branches, into vectors of NB values.
using FlowKernel = void (*)(std::int32_t nb, const sequence::BranchData &branches, std::span<const Complex> v,
                            std::span<Complex> at_from, std::span<Complex> at_to);

BranchFlows Flows(Workspace &ws, std::string_view call, FlowKernel kernel, const BranchView &branches,
                  std::span<const Complex> v) try {
  native::CallScope scope(ws, call);
  CheckBranches(scope, call, branches, v);
  BranchFlows out;
  out.first.resize(branches.from.size());
  out.second.resize(branches.from.size());
  kernel(Count(branches.from.size()), Data(branches), v, out.first, out.second);
  return out;
} catch (...) {
  native::RethrowAllocationFailure(call);
}

} // namespace

FaultResult Fault(Workspace &ws, std::int32_t itype, std::int32_t k, std::span<const float> ub,
                  std::span<const Complex> e, std::span<const Complex> z0, std::span<const Complex> z1,
                  std::span<const Complex> z2) try {
  native::CallScope scope(ws, "Fault");
  const std::int32_t n = Count(e.size());
  {
    Checks checks(scope, "Fault");
    if (checks.require(n >= 1, kNodeCount, {n}) &&
        NodeArrays(checks, n, {{"UB", ub.size()}, {"Z0", z0.size()}, {"Z1", z1.size()}, {"Z2", z2.size()}}))
      checks.require(k >= 1 && k <= n, kFaultNode, {k, n});
    checks.passed();
    scope.check();
  }
  FaultResult r;
  r.v0.assign(z0.begin(), z0.end());
  r.v1.assign(z1.begin(), z1.end());
  r.v2.assign(z2.begin(), z2.end());
  r.va.resize(Size(n));
  r.vb.resize(Size(n));
  r.vc.resize(Size(n));
  const FaultCurrents c = sequence::SolidFault(n, itype, k, {ub, e, r.v0, r.v1, r.v2, r.va, r.vb, r.vc});
  r.currents = {c.i0, c.i1, c.i2};
  return r;
} catch (...) {
  native::RethrowAllocationFailure("Fault");
}

namespace {

// The checks FaultStudy and FaultLevels share: node count, base voltages,
// the orders of the three factor sets, the node list.
void CheckStudy(native::CallScope &scope, std::string_view routine, std::int32_t n, std::span<const float> ub,
                const SequenceFactors &factors, std::span<const std::int32_t> nodes) {
  Checks checks(scope, routine);
  bool ok = checks.require(n >= 1, kNodeCount, {n}) && NodeArrays(checks, n, {{"UB", ub.size()}});
  for (const auto &[name, f] :
       {std::pair{"zero-sequence", &factors.zero}, std::pair{"positive-sequence", &factors.positive},
        std::pair{"negative-sequence", &factors.negative}})
    ok = ok && checks.require_named(f->n == n, name, kFactorOrder, {f->n, n});
  for (std::size_t j = 0; ok && j < nodes.size(); ++j)
    ok = checks.require(nodes[j] >= 1 && nodes[j] <= n, kStudyNode, {Count(j + 1), nodes[j], n});
  checks.passed();
  scope.check();
}

// Z0(k,k), Z1(k,k), Z2(k,k) of every node, each in single precision from the
// diagonal of its inverse; a factor set (with the same matrix) given for
// several sequences is used once.
struct Diagonals {
  std::span<const sparse::ComplexD> z0, z1, z2;
  Complex at(std::span<const sparse::ComplexD> d, std::int32_t k) const {
    return sparse::Narrow(d[Size(k) - 1]);
  }
};

Diagonals SequenceDiagonals(native::CallScope &scope, std::string_view routine,
                            const SequenceFactors &factors, const SequenceMatrices &matrices) {
  Workspace::Impl &w = scope.ws();
  const std::size_t n = Size(factors.positive.n);
  const std::span<sparse::ComplexD> d1 = w.diag1.take(n);
  native::InverseDiagonal(scope, routine, "positive-sequence", factors.positive, matrices.positive, d1);
  std::span<sparse::ComplexD> d2 = d1, d0;
  if (&factors.negative != &factors.positive || matrices.negative != matrices.positive) {
    d2 = w.diag2.take(n);
    native::InverseDiagonal(scope, routine, "negative-sequence", factors.negative, matrices.negative, d2);
  }
  if (&factors.zero == &factors.positive && matrices.zero == matrices.positive) {
    d0 = d1;
  } else if (&factors.zero == &factors.negative && matrices.zero == matrices.negative) {
    d0 = d2;
  } else {
    d0 = w.diag0.take(n);
    native::InverseDiagonal(scope, routine, "zero-sequence", factors.zero, matrices.zero, d0);
  }
  return {d0, d1, d2};
}

} // namespace

std::vector<FaultCurrents> FaultStudy(Workspace &ws, std::int32_t itype, const SequenceFactors &factors,
                                      std::span<const float> ub, std::span<const Complex> e,
                                      std::span<const std::int32_t> nodes) try {
  native::CallScope scope(ws, "FaultStudy");
  const std::int32_t n = Count(e.size());
  CheckStudy(scope, "FaultStudy", n, ub, factors, nodes);
  native::CheckFactors(scope, factors.zero);
  native::CheckFactors(scope, factors.positive);
  native::CheckFactors(scope, factors.negative);

  Workspace::Impl &w = scope.ws();
  const std::size_t size = Size(n);
  if (nodes.empty()) {
    // Every node: the driving-point impedances are the diagonals of the
    // inverses, and only they enter the currents.
    const Diagonals d = SequenceDiagonals(scope, "FaultStudy", factors, {});
    std::vector<FaultCurrents> out(size);
    for (std::int32_t k = 1; k <= n; ++k) {
      const FaultCurrents c = sequence::FaultNodeCurrents(itype, ub[Size(k) - 1], e[Size(k) - 1],
                                                          d.at(d.z0, k), d.at(d.z1, k), d.at(d.z2, k));
      out[Size(k) - 1] = {c.i0, c.i1, c.i2};
    }
    return out;
  }
  const std::span<Complex> b = w.cb.zeroed(size);
  const std::span<Complex> z0 = w.cz0.take(size), z1 = w.cz1.take(size), z2 = w.cz2.take(size);
  const std::span<Complex> va = w.cva.take(size), vb = w.cvb.take(size), vc = w.cvc.take(size);
  std::vector<FaultCurrents> out(nodes.size());
  for (std::size_t j = 0; j < nodes.size(); ++j) {
    const std::int32_t k = nodes[j];
    // The impedance columns: a unit current injected at k alone. A factor
    // set given for several sequences is solved once.
    b[Size(k) - 1] = Complex{1.0f, 0.0f};
    native::SolveFast<Complex>(scope, factors.positive, b, z1, Path::kPlain);
    if (&factors.negative == &factors.positive)
      std::copy(z1.begin(), z1.end(), z2.begin());
    else
      native::SolveFast<Complex>(scope, factors.negative, b, z2, Path::kPlain);
    if (&factors.zero == &factors.positive)
      std::copy(z1.begin(), z1.end(), z0.begin());
    else if (&factors.zero == &factors.negative)
      std::copy(z2.begin(), z2.end(), z0.begin());
    else
      native::SolveFast<Complex>(scope, factors.zero, b, z0, Path::kPlain);
    b[Size(k) - 1] = Complex{};
    scope.check();
    const FaultCurrents c = sequence::SolidFault(n, itype, k, {ub, e, z0, z1, z2, va, vb, vc});
    out[j] = {c.i0, c.i1, c.i2};
  }
  return out;
} catch (...) {
  native::RethrowAllocationFailure("FaultStudy");
}

std::vector<NodeFaultLevels> FaultLevels(Workspace &ws, const SequenceFactors &factors,
                                         std::span<const float> ub, std::span<const Complex> e,
                                         std::span<const std::int32_t> nodes,
                                         const SequenceMatrices &matrices) try {
  native::CallScope scope(ws, "FaultLevels");
  const std::int32_t n = Count(e.size());
  CheckStudy(scope, "FaultLevels", n, ub, factors, nodes);
  const Diagonals d = SequenceDiagonals(scope, "FaultLevels", factors, matrices);
  const sequence::Rotation rot = sequence::MakeRotation();
  const std::size_t count = nodes.empty() ? Size(n) : nodes.size();
  std::vector<NodeFaultLevels> out(count);
  for (std::size_t j = 0; j < count; ++j) {
    const std::int32_t k = nodes.empty() ? Count(j + 1) : nodes[j];
    NodeFaultLevels &level = out[j];
    level.node = k;
    level.z0 = d.at(d.z0, k);
    level.z1 = d.at(d.z1, k);
    level.z2 = d.at(d.z2, k);
    for (std::int32_t t = kThreePhase; t <= kSinglePhaseToEarth; ++t) {
      const FaultCurrents c =
          sequence::FaultNodeCurrents(t, ub[Size(k) - 1], e[Size(k) - 1], level.z0, level.z1, level.z2);
      const sequence::PhaseValues p = sequence::SequenceToPhase(rot, c.i0, c.i1, c.i2);
      level.by_type[Size(t) - 1] = {{c.i0, c.i1, c.i2}, {p.xa, p.xb, p.xc}};
    }
  }
  return out;
} catch (...) {
  native::RethrowAllocationFailure("FaultLevels");
}

BranchFlows BranchCurrents(Workspace &ws, const BranchView &branches, std::span<const Complex> v) {
  return Flows(ws, "BranchCurrents", sequence::BranchCurrents, branches, v);
}

BranchFlows BranchPowers(Workspace &ws, const BranchView &branches, std::span<const Complex> v) {
  return Flows(ws, "BranchPowers", sequence::BranchPowers, branches, v);
}

Complex NodePower(Workspace &ws, const RowIndexed &y, std::int32_t k, std::span<const Complex> v) try {
  native::CallScope scope(ws, "NodePower");
  CheckMatrix(scope, "NodePower", y, v.size());
  {
    Checks checks(scope, "NodePower");
    checks.require(k >= 1 && k <= y.n, kFaultNode, {k, y.n});
    checks.passed();
    scope.check();
  }
  const std::size_t positions = Size(y.ija[Size(y.n)] - 1);
  return sequence::NodePower(k, v, std::span<const Complex>(y.sa.data(), positions),
                             std::span<const std::int32_t>(y.ija.data(), positions));
} catch (...) {
  native::RethrowAllocationFailure("NodePower");
}

std::vector<Complex> NodePowers(Workspace &ws, const RowIndexed &y, std::span<const float> vm,
                                std::span<const float> va) try {
  native::CallScope scope(ws, "NodePowers");
  CheckMatrix(scope, "NodePowers", y, vm.size());
  {
    Checks checks(scope, "NodePowers");
    NodeArrays(checks, y.n, {{"VA", va.size()}});
    checks.passed();
    scope.check();
  }
  const std::size_t positions = Size(y.ija[Size(y.n)] - 1);
  std::vector<Complex> s(Size(y.n));
  topology::SparsePowerProduct(y.n, std::span<const Complex>(y.sa.data(), positions),
                               std::span<const std::int32_t>(y.ija.data(), positions), vm, va,
                               scope.ws().cb.take(Size(y.n)), s);
  return s;
} catch (...) {
  native::RethrowAllocationFailure("NodePowers");
}

} // namespace orvek
