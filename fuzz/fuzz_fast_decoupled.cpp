// Fuzz target of Matrici_VektoriBX: the two constant matrices of the fast
// decoupled power flow from decoded branches. The host's output lists are
// sized exactly as the routine's contract asks: L + 2 * (distinct node
// pairs inside 1..L) entries, L = N - 1 for the first list and NPQ for the
// second, so any entry written beyond is caught. Checks: inputs never
// written; NZ1, NZ2 within those sizes; a rejected call writes nothing.
#include <algorithm>
#include <cstdint>
#include <set>
#include <utility>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"
#include "support/counts.hpp"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kB = kLdBranch;

std::int64_t ListRoom(std::int64_t limit, const Ints &nodes, std::int64_t count) {
  if (limit < 0) limit = 0;
  std::set<std::pair<std::int32_t, std::int32_t>> pairs;
  for (std::int64_t b = 0; b < count; ++b) {
    const std::int32_t i = nodes[static_cast<std::size_t>(b)], j = nodes[static_cast<std::size_t>(kB + b)];
    const std::int32_t lo = std::min(i, j), hi = std::max(i, j);
    if (lo != hi && lo >= 1 && hi <= limit) pairs.insert({lo, hi});
  }
  return limit + 2 * static_cast<std::int64_t>(pairs.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  Ints n(1), npq(1), nb(1);
  n[0] = in.integer();
  if (n[0] > kMaxKeyedOrder + 1 && n[0] < INT32_MAX) n[0] %= kMaxKeyedOrder;
  npq[0] = in.byte() < 0xF0 ? (n[0] > 1 ? n[0] - 1 : 0) - in.byte() % 4 : in.integer();
  nb[0] = in.integer();
  const std::int64_t count = static_cast<std::int64_t>(Extent(nb[0], kB));
  const std::int32_t span = n[0] >= 1 && n[0] <= kMaxKeyedOrder ? n[0] : 1;
  Reals z(2 * kB), t(kB);
  Ints nodes(2 * kB);
  for (std::int64_t b = 0; b < count; ++b) {
    const bool fill = in.empty();
    nodes.put(b, fill ? static_cast<std::int32_t>(b % span + 1) : in.integer());
    nodes.put(kB + b, fill ? static_cast<std::int32_t>((b + 1) % span + 1) : in.integer());
    z.put(b, fill ? 0.01f : in.real());
    z.put(kB + b, fill ? 0.1f : in.real());
    t.put(b, fill ? 1.0f : in.real());
  }
  z.snapshot(), t.snapshot(), nodes.snapshot();
  // Sizes as the host computes them (for counts the routine must reject, a
  // token size: it must not write anything then).
  const bool sane = n[0] >= 1 && n[0] <= kMaxKeyedOrder && nb[0] <= kB;
  const std::int64_t room1 = sane ? ListRoom(n[0] - 1, nodes, count) : 0;
  const std::int64_t room2 = sane && npq[0] >= 0 && npq[0] <= n[0] ? ListRoom(npq[0], nodes, count) : 0;
  Ints irow1(static_cast<std::size_t>(room1)), jcol1(static_cast<std::size_t>(room1));
  Reals val1(static_cast<std::size_t>(room1));
  Ints irow2(static_cast<std::size_t>(room2)), jcol2(static_cast<std::size_t>(room2));
  Reals val2(static_cast<std::size_t>(room2));
  Ints nz1(1), nz2(1);
  Call call;
  Matrici_VektoriBX(n.data(), npq.data(), z.data(), t.data(), nodes.data(), nb.data(), irow1.data(), jcol1.data(),
                    val1.data(), nz1.data(), irow2.data(), jcol2.data(), val2.data(), nz2.data());
  Expect(z.unchanged() && t.unchanged() && nodes.unchanged(), "Matrici_VektoriBX wrote an input");
  if (call.rejected("Matrici_VektoriBX")) {
    Expect(irow1.untouched() && jcol1.untouched() && val1.untouched() && nz1.untouched() && irow2.untouched() &&
               jcol2.untouched() && val2.untouched() && nz2.untouched(),
           "a rejected Matrici_VektoriBX wrote output");
    return 0;
  }
  if (nz1.untouched()) return 0;
  Expect(nz1[0] >= 0 && nz1[0] <= room1 && nz2[0] >= 0 && nz2[0] <= room2, "NZ1/NZ2 beyond the host's lists");
  Expect(irow1.untouched(nz1[0], room1) && irow2.untouched(nz2[0], room2), "a list written beyond its count");
  return 0;
}
