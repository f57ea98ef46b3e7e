// Fuzz target of the sequence and fault routines: SimFaz (also in place),
// SimFaz1, FazSim1, Sg, StruiKV, So, J1J2, EMS and NaponiKV on decoded
// arguments. Every scalar lives in its own one-element host block, every
// array at its leading dimension (or its stated length), so any access past
// them is caught. Checks: inputs never written; outputs only within the
// counts; rejected calls write nothing.
#include <cstdint>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kB = kLdBranch, kNode = kLdNode, kV = kLdNonzero;

void FillReals(ByteReader &in, Reals &x, std::int64_t ld, std::int64_t count) {
  for (std::int64_t i = 0; i < count && i < ld; ++i) {
    x.put(i, in.empty() ? 1.0f : in.real());
    x.put(ld + i, in.real());
  }
}

void Scalars(ByteReader &in, bool simfaz1) {
  Reals s(6);
  for (std::size_t k = 0; k < 6; ++k) s[k] = in.real();
  s.snapshot();
  Reals o[6] = {Reals(1), Reals(1), Reals(1), Reals(1), Reals(1), Reals(1)};
  Call call;
  if (simfaz1) {
    SimFaz1(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5], o[0].data(), o[1].data(), o[2].data(), o[3].data(),
            o[4].data(), o[5].data());
  } else {
    FazSim1(o[0].data(), o[1].data(), o[2].data(), o[3].data(), o[4].data(), o[5].data(), &s[0], &s[1], &s[2],
            &s[3], &s[4], &s[5]);
  }
  Expect(!call.terminal() && s.unchanged(), "a transform of one value changed its input or raised an error");
}

void Transform(ByteReader &in) {
  Ints n(1);
  n[0] = in.integer();
  const std::int64_t count = static_cast<std::int64_t>(Extent(n[0], kB));
  Reals x0(2 * kB), x1(2 * kB), x2(2 * kB);
  FillReals(in, x0, kB, count), FillReals(in, x1, kB, count), FillReals(in, x2, kB, count);
  const bool in_place = in.byte() >= 0x80;
  Reals xa(2 * kB), xb(2 * kB), xc(2 * kB);
  x0.snapshot(), x1.snapshot(), x2.snapshot();
  Call call;
  if (in_place) {
    SimFaz(n.data(), x0.data(), x1.data(), x2.data(), x0.data(), x1.data(), x2.data());
    if (call.rejected("SimFaz")) Expect(x0.unchanged() && x1.unchanged() && x2.unchanged(), "a rejected SimFaz wrote");
    return;
  }
  SimFaz(n.data(), x0.data(), x1.data(), x2.data(), xa.data(), xb.data(), xc.data());
  Expect(x0.unchanged() && x1.unchanged() && x2.unchanged(), "SimFaz wrote its input");
  if (call.rejected("SimFaz")) {
    Expect(xa.untouched() && xb.untouched() && xc.untouched(), "a rejected SimFaz wrote output");
    return;
  }
  Expect(SplitUntouchedBeyond(xa, kB, count) && SplitUntouchedBeyond(xb, kB, count) &&
             SplitUntouchedBeyond(xc, kB, count),
         "SimFaz wrote beyond N");
}

void Branches(ByteReader &in, bool powers) {
  Ints nb(1), n(1);
  nb[0] = in.integer();
  n[0] = in.integer();
  const std::int64_t count = static_cast<std::int64_t>(Extent(nb[0], kB));
  const std::int32_t span = n[0] >= 1 ? n[0] : 1;
  Reals z(2 * kB), ya(2 * kB), yb(2 * kB), v(2 * kNode);
  Ints nodes(2 * kB);
  for (std::int64_t b = 0; b < count; ++b) {
    const bool fill = in.empty();
    nodes.put(b, fill ? static_cast<std::int32_t>(b % span + 1) : in.integer());
    nodes.put(kB + b, fill ? static_cast<std::int32_t>((b + 1) % span + 1) : in.integer());
  }
  FillReals(in, z, kB, count), FillReals(in, ya, kB, count), FillReals(in, yb, kB, count);
  FillReals(in, v, kNode, static_cast<std::int64_t>(Extent(n[0], kNode)));
  Reals o1(2 * kB), o2(2 * kB);
  z.snapshot(), ya.snapshot(), yb.snapshot(), v.snapshot(), nodes.snapshot();
  Call call;
  if (powers) {
    Sg(z.data(), ya.data(), yb.data(), nodes.data(), nb.data(), v.data(), n.data(), o1.data(), o2.data());
  } else {
    StruiKV(nb.data(), z.data(), ya.data(), yb.data(), nodes.data(), n.data(), v.data(), o1.data(), o2.data());
  }
  Expect(z.unchanged() && ya.unchanged() && yb.unchanged() && v.unchanged() && nodes.unchanged(),
         "a branch routine wrote its input");
  if (call.rejected(powers ? "Sg" : "StruiKV")) {
    Expect(o1.untouched() && o2.untouched(), "a rejected branch routine wrote output");
    return;
  }
  Expect(SplitUntouchedBeyond(o1, kB, count) && SplitUntouchedBeyond(o2, kB, count),
         "a branch routine wrote beyond NB");
}

void NodePower(ByteReader &in) {
  Ints n(1), k(1);
  n[0] = in.integer();
  k[0] = in.integer();
  std::int32_t end = 0;
  Ints ija = DecodeRowIndex(in, n[0], kNode, kV, end);
  Reals v(2 * kNode), sa(2 * kV);
  FillReals(in, v, kNode, static_cast<std::int64_t>(Extent(n[0], kNode)));
  FillReals(in, sa, kV, static_cast<std::int64_t>(Extent(end, kV)));
  Reals sr(1), si(1);
  v.snapshot(), sa.snapshot(), ija.snapshot();
  Call call;
  So(n.data(), k.data(), v.data(), sa.data(), ija.data(), sr.data(), si.data());
  Expect(v.unchanged() && sa.unchanged() && ija.unchanged(), "So wrote its input");
  if (call.rejected("So")) Expect(sr.untouched() && si.untouched(), "a rejected So wrote output");
}

void Small(ByteReader &in, bool ratio) {
  Reals s(8);
  for (std::size_t k = 0; k < 8; ++k) s[k] = in.real();
  s.snapshot();
  Reals o[4] = {Reals(1), Reals(1), Reals(1), Reals(1)};
  Call call;
  if (ratio) {
    J1J2(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7], o[0].data(), o[1].data(), o[2].data(),
         o[3].data());
  } else {
    EMS(&s[0], &s[1], &s[2], &s[3], &s[4], o[0].data(), o[1].data());
  }
  Expect(!call.terminal() && s.unchanged(), "J1J2/EMS changed an input or raised an error");
}

void Fault(ByteReader &in) {
  Ints n(1), itype(1), k(1);
  n[0] = in.integer();
  itype[0] = in.integer();
  k[0] = in.integer();
  const std::int64_t count = static_cast<std::int64_t>(Extent(n[0], kNode));
  Reals ub(static_cast<std::size_t>(count)), e(2 * kNode), z0(2 * kNode), z1(2 * kNode), z2(2 * kNode);
  for (std::int64_t i = 0; i < count; ++i) ub.put(i, in.empty() ? 110.0f : in.real());
  FillReals(in, e, kNode, count), FillReals(in, z0, kNode, count), FillReals(in, z1, kNode, count),
      FillReals(in, z2, kNode, count);
  Reals va(2 * kNode), vb(2 * kNode), vc(2 * kNode), ifs(6);
  ub.snapshot(), e.snapshot(), z0.snapshot(), z1.snapshot(), z2.snapshot();
  Call call;
  NaponiKV(n.data(), itype.data(), k.data(), ub.data(), e.data(), z0.data(), z1.data(), z2.data(), va.data(),
           vb.data(), vc.data(), ifs.data());
  Expect(ub.unchanged() && e.unchanged(), "NaponiKV wrote UB or E");
  if (call.rejected("NaponiKV")) {
    Expect(z0.unchanged() && z1.unchanged() && z2.unchanged() && va.untouched() && vb.untouched() &&
               vc.untouched() && ifs.untouched(),
           "a rejected NaponiKV wrote output");
    return;
  }
  // Z0..Z2 were filled only up to N, so beyond N they still hold the canary.
  Expect(SplitUntouchedBeyond(z0, kNode, count) && SplitUntouchedBeyond(z1, kNode, count) &&
             SplitUntouchedBeyond(z2, kNode, count) && SplitUntouchedBeyond(va, kNode, count) &&
             SplitUntouchedBeyond(vb, kNode, count) &&
             SplitUntouchedBeyond(vc, kNode, count),
         "NaponiKV wrote beyond N");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  switch (in.byte() % 9) {
  case 0: Transform(in); break;
  case 1: Scalars(in, true); break;
  case 2: Scalars(in, false); break;
  case 3: Branches(in, true); break;
  case 4: Branches(in, false); break;
  case 5: NodePower(in); break;
  case 6: Small(in, true); break;
  case 7: Small(in, false); break;
  default: Fault(in); break;
  }
  return 0;
}
