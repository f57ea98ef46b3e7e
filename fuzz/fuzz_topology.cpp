// Fuzz target of the topology road: MAUX on decoded branch ends, then
// MultiPodred on its lists (possibly edited at decoded places), then
// ZapisiPodredeno on the ordering (CNT and NC possibly edited). Host arrays:
// NODES(5000,2), IJA and IBR of N+1+2*NB elements (more when an edited end
// pointer claims more, the extra entries decoded), ORD(N), PAR(N), BL(half
// the list entries), CNT(1000,2); for ZapisiPodredeno ORD/PAR(6000) and
// BL(5000), the longest a host needs, whatever CNT claims. Checks: inputs
// never written; MAUX writes exactly its N+1+2*NB positions; MultiPodred
// writes ORD, PAR, BL, CNT within its counts; rejected calls write nothing.
#include <cstdint>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kB = kLdBranch;
constexpr std::int32_t kNodeLimit = 8000; // node counts kept as decoded up to here (and near INT32_MAX)

void Run(ByteReader &in) {
  Ints n(1), nb(1);
  n[0] = in.integer();
  if (n[0] > kNodeLimit && n[0] < INT32_MAX - 2 * kMaxIncidenceBranches) n[0] %= kNodeLimit;
  nb[0] = in.integer();
  if (nb[0] > kMaxIncidenceBranches && nb[0] <= kMaxBranches) nb[0] = nb[0] % kMaxIncidenceBranches;
  const std::int64_t count = static_cast<std::int64_t>(Extent(nb[0], kB));
  const std::int32_t span = n[0] >= 1 ? n[0] : 1;
  Ints nodes(2 * kB);
  for (std::int64_t b = 0; b < count; ++b) {
    const bool fill = in.empty();
    nodes.put(b, fill ? static_cast<std::int32_t>(b % span + 1) : in.integer());
    nodes.put(kB + b, fill ? static_cast<std::int32_t>((b * 7 + 3) % span + 1) : in.integer());
  }
  nodes.snapshot();
  const std::int64_t list_end =
      std::min<std::int64_t>(static_cast<std::int64_t>(std::max(n[0], 0)) + 1 + 2 * count, kNodeLimit + 1 + 2 * kB);
  Ints ija(static_cast<std::size_t>(list_end)), ibr(static_cast<std::size_t>(list_end));
  // Pointers of nodes that end no branch are zero on entry (the host clears them).
  for (std::int64_t k = 0; k <= n[0] && k < list_end; ++k) ija.put(k, in.byte() >= 0xF8 ? in.integer() : 0);
  ija.snapshot();
  Call maux;
  MAUX(n.data(), nodes.data(), nb.data(), ija.data(), ibr.data());
  Expect(nodes.unchanged(), "MAUX wrote NODES");
  if (maux.rejected("MAUX")) {
    Expect(ija.unchanged() && ibr.untouched(), "a rejected MAUX wrote IJA or IBR");
    return;
  }
  if (maux.terminal()) return;

  // MultiPodred on the lists, edited at decoded positions.
  const std::int32_t edits = in.byte() % 6;
  for (std::int32_t e = 0; e < edits; ++e) {
    const std::int64_t pos = static_cast<std::int64_t>(in.integer()) - 1;
    if (in.byte() & 1) ija.put(pos, in.integer());
    else ibr.put(pos, in.integer());
  }
  std::int32_t claimed_end = n[0] >= 0 && n[0] < static_cast<std::int32_t>(ija.size()) ? ija[static_cast<std::size_t>(n[0])] : 0;
  const std::size_t size = std::max<std::size_t>(ija.size(), Extent(static_cast<std::int64_t>(claimed_end) - 1, kNodeLimit + 1 + 2 * kB));
  Ints ija2(size), ibr2(size);
  for (std::size_t k = 0; k < size; ++k) {
    ija2[k] = k < ija.size() ? ija[k] : in.integer();
    ibr2[k] = k < ibr.size() ? ibr[k] : in.integer();
  }
  ija2.snapshot(), ibr2.snapshot();
  const std::int64_t entries = static_cast<std::int64_t>(claimed_end) - (static_cast<std::int64_t>(n[0]) + 2);
  const std::size_t half = Extent(entries / 2, kB);
  const std::size_t nn = Extent(n[0], kNodeLimit);
  Ints ord(nn), par(nn), bl(half), cnt(2 * kMaxComponents), nc(1);
  Call mp;
  MultiPodred(n.data(), ija2.data(), ibr2.data(), ord.data(), cnt.data(), bl.data(), par.data(), nc.data());
  Expect(ija2.unchanged() && ibr2.unchanged(), "MultiPodred wrote its lists");
  if (mp.rejected("MultiPodred")) {
    Expect(ord.untouched() && par.untouched() && bl.untouched() && cnt.untouched() && nc.untouched(),
           "a rejected MultiPodred wrote output");
    return;
  }
  if (mp.terminal() || nc.untouched()) return;
  const std::int32_t components = nc[0];
  Expect(components >= 1 && components <= kMaxComponents, "NC outside 1..1000");
  Expect(cnt.untouched(components, kMaxComponents) && cnt.untouched(kMaxComponents + components, 2 * kMaxComponents),
         "CNT written beyond NC");

  // ZapisiPodredeno on the ordering, CNT and NC possibly edited.
  const std::int32_t cedits = in.byte() % 4;
  for (std::int32_t e = 0; e < cedits; ++e) {
    const std::int64_t pos = static_cast<std::int64_t>(in.integer()) - 1;
    cnt.put(pos, in.integer());
  }
  std::int32_t ncz = in.byte() >= 0xF0 ? in.integer() : components;
  // The host's ORD and PAR as long as MultiPodred can fill them, BL as long
  // as a branch list can be (what MultiPodred gave, the rest decoded): CNT
  // may claim more, and nothing beyond them may be read.
  const auto nodes_held = static_cast<std::size_t>(kMaxOrderedNodes);
  const auto branches_held = static_cast<std::size_t>(kMaxBranches);
  Ints ord2(nodes_held), par2(nodes_held), bl2(branches_held);
  for (std::size_t k = 0; k < nodes_held; ++k) {
    ord2[k] = k < ord.size() ? ord[k] : in.integer();
    par2[k] = k < par.size() ? par[k] : in.integer();
  }
  for (std::size_t k = 0; k < branches_held; ++k) bl2[k] = k < bl.size() ? bl[k] : in.integer();
  cnt.snapshot(), ord2.snapshot(), bl2.snapshot(), par2.snapshot();
  Call zp;
  ZapisiPodredeno(cnt.data(), ord2.data(), bl2.data(), par2.data(), &ncz, nodes.data());
  Expect(cnt.unchanged() && ord2.unchanged() && bl2.unchanged() && par2.unchanged() && nodes.unchanged(),
         "ZapisiPodredeno wrote an input");
  (void)zp.rejected("ZapisiPodredeno");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  Run(in);
  return 0;
}
