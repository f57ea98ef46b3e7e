// Fuzz target of the dense utilities: Inverzija (rows and columns beyond N
// must keep their values), MNOZI on a decoded row-indexed matrix, Paralelno,
// OdrediPe and OdrediSe. Host arrays: AR, AI, GR, GI (100,100), VM(N),
// VA(N), P(N), Q(N), CI(100,2), S(1000,2), SA(10000,2), IJA as its end
// pointer claims. Checks: inputs never written; outputs only within N;
// rejected calls write nothing.
#include <cstdint>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kD = kLdDense, kNode = kLdNode, kV = kLdNonzero;

// Dense (100,100) pair with the leading N x N block decoded; the rest keeps the canary.
void FillDense(ByteReader &in, Reals &re, Reals &im, std::int64_t n) {
  for (std::int64_t j = 0; j < n; ++j)
    for (std::int64_t i = 0; i < n; ++i) {
      re.put(j * kD + i, in.empty() ? (i == j ? 4.0f : -0.5f) : in.real());
      im.put(j * kD + i, in.empty() ? (i == j ? 1.0f : 0.25f) : in.real());
    }
}

bool OutsideBlockUntouched(const Reals &x, std::int64_t n) {
  for (std::int64_t j = 0; j < kD; ++j) {
    const std::int64_t from = j < n ? j * kD + n : j * kD;
    if (!x.untouched(from, (j + 1) * kD)) return false;
  }
  return true;
}

void Invert(ByteReader &in) {
  Ints n(1);
  n[0] = in.integer();
  const std::int64_t order = static_cast<std::int64_t>(Extent(n[0], kD));
  Reals ar(kD * kD), ai(kD * kD);
  FillDense(in, ar, ai, order);
  ar.snapshot(), ai.snapshot();
  Call call;
  Inverzija(ar.data(), ai.data(), n.data());
  if (call.rejected("Inverzija")) {
    Expect(ar.unchanged() && ai.unchanged(), "a rejected Inverzija wrote");
    return;
  }
  Expect(OutsideBlockUntouched(ar, order) && OutsideBlockUntouched(ai, order), "Inverzija wrote outside N x N");
}

void PowerProduct(ByteReader &in) {
  Ints n(1);
  n[0] = in.integer();
  std::int32_t end = 0;
  Ints ija = DecodeRowIndex(in, n[0], kNode, kV, end);
  const std::size_t nodes = Extent(n[0], kNode);
  Reals vm(nodes), va(nodes), sa(2 * kV), s(2 * kNode);
  for (std::size_t i = 0; i < nodes; ++i) vm[i] = in.empty() ? 1.0f : in.real(), va[i] = in.real();
  for (std::int64_t k = 0; k < static_cast<std::int64_t>(Extent(end, kV)); ++k) sa.put(k, in.real()), sa.put(kV + k, in.real());
  ija.snapshot(), vm.snapshot(), va.snapshot(), sa.snapshot();
  Call call;
  MNOZI(sa.data(), ija.data(), vm.data(), va.data(), s.data(), n.data());
  Expect(ija.unchanged() && vm.unchanged() && va.unchanged() && sa.unchanged(), "MNOZI wrote an input");
  if (call.rejected("MNOZI")) {
    Expect(s.untouched(), "a rejected MNOZI wrote S");
    return;
  }
  Expect(SplitUntouchedBeyond(s, kNode, static_cast<std::int64_t>(nodes)), "MNOZI wrote S beyond N");
}

void Parallel(ByteReader &in) {
  Reals z1(2), z2(2), zp(2);
  z1[0] = in.real(), z1[1] = in.real(), z2[0] = in.real(), z2[1] = in.real();
  z1.snapshot(), z2.snapshot();
  Call call;
  Paralelno(z1.data(), z2.data(), zp.data());
  Expect(!call.terminal() && z1.unchanged() && z2.unchanged(), "Paralelno changed an input or raised an error");
}

void NodePowers(ByteReader &in, bool with_q) {
  Ints n(1);
  n[0] = in.integer();
  const std::int64_t order = static_cast<std::int64_t>(Extent(n[0], kD));
  Reals gr(kD * kD), gi(kD * kD);
  FillDense(in, gr, gi, order);
  const std::size_t nodes = static_cast<std::size_t>(order);
  Reals vm(nodes), va(nodes), p(nodes), q(nodes), ci(2 * kD);
  for (std::size_t i = 0; i < nodes; ++i) vm[i] = in.empty() ? 1.0f : in.real(), va[i] = in.real();
  gr.snapshot(), gi.snapshot(), vm.snapshot(), va.snapshot();
  Call call;
  if (with_q) {
    OdrediSe(n.data(), gr.data(), gi.data(), vm.data(), va.data(), p.data(), q.data(), ci.data());
  } else {
    OdrediPe(n.data(), gr.data(), gi.data(), vm.data(), va.data(), p.data());
  }
  Expect(gr.unchanged() && gi.unchanged() && vm.unchanged() && va.unchanged(), "a dense power routine wrote an input");
  if (call.rejected(with_q ? "OdrediSe" : "OdrediPe")) {
    Expect(p.untouched() && q.untouched() && ci.untouched(), "a rejected dense power routine wrote output");
    return;
  }
  if (!with_q) Expect(q.untouched() && ci.untouched(), "OdrediPe wrote beyond P");
  else Expect(SplitUntouchedBeyond(ci, kD, order), "OdrediSe wrote CI beyond N");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  switch (in.byte() % 5) {
  case 0: Invert(in); break;
  case 1: PowerProduct(in); break;
  case 2: Parallel(in); break;
  case 3: NodePowers(in, false); break;
  default: NodePowers(in, true); break;
  }
  return 0;
}
