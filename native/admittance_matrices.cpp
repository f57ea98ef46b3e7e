// Native admittance assembly (AssembleAdmittance, AssembleTriplets): the
// assembly recipe of the exported assembly routines (assembly/admittance.hpp)
// over vectors sized to the network, work storage from the workspace. Every
// argument is checked before a kernel runs; NB = 0 reaches the key sort,
// whose length error is thrown as it would stop the export.
#include "native/native_internal.hpp"

#include "frame/capacity_text.hpp"

#include "assembly/accumulator.hpp"
#include "assembly/admittance.hpp"

namespace orvek {
namespace {

using native::Checks;
using native::Count;
using native::Size;

constexpr Message kShuntSize{4, "%(L1) holds %(I1) values; it must hold NSH = %(I2), one per shunt."};
constexpr Message kShuntNode{5, "KSH(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kTooManyEntries{
    6, orvek::frame::kCapacityText<"NB = %(I1) branches and N = %(I2) nodes give more than {} entries.",
                                   INT32_MAX>};

// N, the branch arrays and their ends; the shunts when given.
void CheckNetwork(native::CallScope &scope, std::string_view routine, std::int32_t n, const BranchView &br,
                  const ShuntView *sh, std::span<const std::int32_t> status) {
  Checks checks(scope, routine);
  const std::int32_t nb = Count(br.from.size());
  bool ok = checks.require(n >= 1, native::kNetworkNodes, {n});
  ok = ok && checks.require(static_cast<std::int64_t>(n) + 2 * static_cast<std::int64_t>(nb) <= INT32_MAX,
                            kTooManyEntries, {nb, n});
  for (const auto &[name, size] :
       {std::pair{"Z", br.z.size()}, std::pair{"YA", br.ya.size()}, std::pair{"YB", br.yb.size()}}) {
    ok = ok &&
         checks.require_named(size == br.from.size(), name, native::kNetworkBranchSize, {Count(size), nb});
  }
  if (!status.empty())
    ok = ok && checks.require_named(status.size() == br.from.size(), "ISTAT", native::kNetworkBranchSize,
                                    {Count(status.size()), nb});
  ok = ok &&
       native::CheckEnds(checks, {native::kNetworkBranchSize, native::kNetworkBranchEnd}, n, br.from, br.to);
  if (sh != nullptr && ok) {
    const std::int32_t nsh = Count(sh->node.size());
    ok = checks.require_named(sh->b.size() == sh->node.size(), "BSH", kShuntSize, {Count(sh->b.size()), nsh});
    for (std::int32_t k = 1; ok && k <= nsh; ++k) {
      const std::int32_t node = sh->node[Size(k) - 1];
      ok = checks.require(node >= 1 && node <= n, kShuntNode, {k, node, n});
    }
  }
  checks.passed();
  scope.check();
}

assembly::BranchArrays Arrays(const BranchView &br, std::span<const std::int32_t> status) {
  assembly::BranchArrays a;
  a.nb = Count(br.from.size());
  a.from = br.from;
  a.to = br.to;
  a.z = br.z;
  a.ya = br.ya;
  a.yb = br.yb;
  a.istat = status;
  return a;
}

// The assembly recipe over vectors sized to the entries it counts, into
// triplets and, when given, the row-indexed form. NB = 0 reaches the key
// sort after the checks; its stop is thrown before anything is sized.
void Assemble(native::CallScope &scope, std::int32_t n, const assembly::BranchArrays &arrays,
              const assembly::NodalShunts &shunts, TripletMatrix<Complex> &triplets,
              RowIndexed *row_indexed) {
  Workspace::Impl &w = scope.ws();
  const assembly::BranchOrder order = native::WideBranchOrder(w, Size(arrays.nb));
  if (arrays.nb == 0) assembly::RaiseNoBranches(scope.err(), n, arrays.nb, order);
  assembly::AssembleAdmittanceMatrix(
      scope.err(), n, arrays, shunts, order,
      [&](std::int32_t entries) -> std::optional<assembly::AssemblyOutput> {
        scope.check();
        const std::size_t nz = Size(entries);
        triplets.n = n;
        triplets.irow.assign(nz, 0);
        triplets.jcol.assign(nz, 0);
        triplets.value.assign(nz, Complex{});
        assembly::AssemblyOutput out{{triplets.irow, triplets.jcol, triplets.value, 0}};
        if (row_indexed != nullptr) {
          row_indexed->n = n;
          row_indexed->ija.assign(nz + 1, 0);
          row_indexed->sa.assign(nz + 1, Complex{});
          out.ija = row_indexed->ija;
          out.conversion = {w.save_irow.take(nz),
                            w.save_jcol.take(nz),
                            w.save_v.take(nz),
                            {w.sort_perm.take(nz), w.sort_jcol.take(nz), w.sort_v.take(nz)},
                            row_indexed->sa};
        }
        return out;
      });
  scope.check();
}

} // namespace

Admittance AssembleAdmittance(Workspace &ws, std::int32_t n, const BranchView &branches,
                              const ShuntView &shunts) try {
  native::CallScope scope(ws, "AssembleAdmittance");
  CheckNetwork(scope, "AssembleAdmittance", n, branches, &shunts, {});
  Admittance out;
  const assembly::NodalShunts sh{Count(shunts.node.size()), shunts.b, shunts.node};
  Assemble(scope, n, Arrays(branches, {}), sh, out.triplets, &out.row_indexed);
  return out;
} catch (...) {
  native::RethrowAllocationFailure("AssembleAdmittance");
}

TripletMatrix<Complex> AssembleTriplets(Workspace &ws, std::int32_t n, const BranchView &branches,
                                        std::span<const std::int32_t> status) try {
  native::CallScope scope(ws, "AssembleTriplets");
  CheckNetwork(scope, "AssembleTriplets", n, branches, nullptr, status);
  TripletMatrix<Complex> out;
  Assemble(scope, n, Arrays(branches, status), {}, out, nullptr);
  return out;
} catch (...) {
  native::RethrowAllocationFailure("AssembleTriplets");
}

} // namespace orvek
