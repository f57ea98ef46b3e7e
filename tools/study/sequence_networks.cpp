// Forms the sequence networks of a case (see sequence_networks.hpp): the
// π-branches, nodal shunts and bus conductances of one sequence as the
// native API takes them, and the same matrix in double precision.
#include "tools/study/sequence_networks.hpp"
#include "tools/study/engine_internal.hpp"

#include <string>

namespace orvek::study {

namespace {

using cd = std::complex<double>;

Complex ToLibrary(cd v) { return {static_cast<float>(v.real()), static_cast<float>(v.imag())}; }

// Generator admittance 1/(j x) with x on the system base, as a susceptance.
void AddGenerators(const casefile::Network &net, double x_machine, const char *option, RangeCheck range,
                   SequenceNetwork &s) {
  for (const casefile::NetworkGenerator &g : net.generators) {
    const double b = -g.mbase / (x_machine * net.base_mva);
    if (range == RangeCheck::kRefuse)
      CheckSingleRange(b, "generator at bus " + std::to_string(net.bus_of_node[g.node - 1]) + " (line " +
                              std::to_string(g.line) + "): the susceptance -1/x with " + option + " " +
                              Number(x_machine));
    s.shunt_node.push_back(g.node);
    s.shunt_b.push_back(static_cast<float>(b));
    s.entries.push_back({g.node - 1, g.node - 1, cd(0.0, b)});
  }
}

} // namespace

SequenceNetwork FormSequenceNetwork(const casefile::Network &net, const FaultOptions &o, Sequence sequence,
                                    std::int32_t branch_out, RangeCheck range) {
  SequenceNetwork s;
  const bool zero = sequence == Sequence::kZero;
  s.branch_index.assign(net.branches.size(), -1);
  for (std::size_t k = 0; k < net.branches.size(); ++k) {
    if (static_cast<std::int32_t>(k) == branch_out) continue;
    const casefile::NetworkBranch &b = net.branches[k];
    cd z = b.z;
    if (zero) {
      if (b.transformer && o.transformer0 == Transformer0::kBlock) continue;
      if (!b.transformer) z *= o.line_z0;
      if (!b.transformer && range == RangeCheck::kRefuse) {
        const std::string what = BranchName(net, b) + ": the zero-sequence impedance with --z0-line " +
                                 Number(o.line_z0);
        CheckSingleRange(z.real(), what + " (real part)");
        CheckSingleRange(z.imag(), what + " (imaginary part)");
      }
    }
    s.branch_index[k] = static_cast<std::int32_t>(s.from.size());
    s.from.push_back(b.from);
    s.to.push_back(b.to);
    s.z.push_back(ToLibrary(z));
    s.ya.push_back(ToLibrary(b.ya));
    s.yb.push_back(ToLibrary(b.yb));
    const cd y = 1.0 / z;
    const std::int32_t f = b.from - 1, t = b.to - 1;
    s.entries.insert(s.entries.end(), {{f, f, y + b.ya}, {t, t, y + b.yb}, {f, t, -y}, {t, f, -y}});
  }
  s.gs.assign(static_cast<std::size_t>(net.n), 0.0f);
  if (!zero) {
    for (std::int32_t i = 0; i < net.n; ++i) {
      s.gs[i] = static_cast<float>(net.gs[i]);
      s.entries.push_back({i, i, cd(net.gs[i], net.bs[i])});
      if (net.bs[i] != 0) {
        s.shunt_node.push_back(i + 1);
        s.shunt_b.push_back(static_cast<float>(net.bs[i]));
      }
    }
    const bool positive = sequence == Sequence::kPositive;
    AddGenerators(net, positive ? o.xd : o.X2(), positive || !o.x2 ? "--xd" : "--x2", range, s);
  } else if (!o.x0_open) {
    AddGenerators(net, o.X0(), o.x0 ? "--x0" : "--xd", range, s);
  }
  if (zero) {
    // A node without any zero-sequence element would make the matrix singular.
    std::vector<bool> touched(static_cast<std::size_t>(net.n), false);
    for (std::size_t k = 0; k < s.from.size(); ++k) touched[s.from[k] - 1] = touched[s.to[k] - 1] = true;
    for (std::int32_t node : s.shunt_node) touched[node - 1] = true;
    for (std::int32_t i = 0; i < net.n; ++i)
      if (!touched[i])
        throw StudyError("bus " + std::to_string(net.bus_of_node[i]) +
                         " has no zero-sequence connection (transformers block the zero sequence); use --xfmr0 pass");
  }
  return s;
}

TripletMatrix<Complex> AssembleSequence(Workspace &ws, std::int32_t n, const SequenceNetwork &s) {
  Admittance y = AssembleAdmittance(ws, n, s.Branches(), {s.shunt_node, s.shunt_b});
  // Entries 1..N of the triplet list are the diagonals of nodes 1..N.
  for (std::int32_t i = 0; i < n; ++i) y.triplets.value[i].re += s.gs[i];
  return std::move(y.triplets);
}

} // namespace orvek::study
