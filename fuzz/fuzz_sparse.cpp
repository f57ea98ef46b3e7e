// Fuzz target of the sparse solver: LUR or LUC on a decoded triplet list,
// then BSR / BSC on the factor set they returned and on a corrupted copy of
// it (counts, rows, columns, permutations and multipliers changed at decoded
// places), with either IPATH and with X the same array as B.
// Input: selector byte (bit 0: complex), N, NZ, the triplets (row, column,
// value[, imaginary part]), then per solve: corruption edits, IPATH, B.
// Checks: inputs never written; factor outputs only within NFAC <= 3*NZ (and
// the 30000 capacity for LUC); X only within N; rejected calls write nothing.
#include <cstdint>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kV = kLdNonzero, kF = kLdFactor, kNode = kLdNode;
// LUR has no capacity of its own; the harness keeps its host arrays small
// (counts beyond the rejection bound stay as decoded).
constexpr std::int32_t kRealNzLimit = 4096;
constexpr std::int32_t kRealNLimit = 4096;
constexpr std::int32_t kLurNzBound = 715827882;

std::int32_t DecodeCount(ByteReader &in, std::int32_t limit, std::int32_t keep_above) {
  std::int32_t v = in.integer();
  if (v > limit && v <= keep_above) v %= limit;
  return v;
}

struct FactorSet {
  std::int32_t n = 0, nfac = 0, nl = 0;
  Reals fac{0};
  Ints irfac{0}, jcfac{0}, ipvt{0}, jpvt{0};
};

// The solve on a copy of the factor set sized exactly to its (possibly
// corrupted) counts; new positions are decoded.
void Solve(ByteReader &in, bool complex, const FactorSet &f, bool corrupt) {
  std::int32_t n = f.n, nfac = f.nfac, nl = f.nl;
  if (corrupt) {
    const std::uint8_t what = in.byte();
    if (what & 1) n = DecodeCount(in, complex ? 1000 : kRealNLimit, complex ? 1000 : INT32_MAX);
    if (what & 2) nfac = DecodeCount(in, complex ? 30000 : 3 * kRealNzLimit, complex ? 30000 : INT32_MAX);
    if (what & 4) nl = in.integer();
  }
  const std::size_t facs = Extent(nfac, complex ? kF : 3 * kRealNzLimit);
  const std::size_t nodes = Extent(n, complex ? kNode : kRealNLimit);
  Reals fac(complex ? 2 * kF : facs);
  Ints irfac(facs), jcfac(facs), ipvt(nodes), jpvt(nodes);
  const std::int64_t fld = complex ? kF : 0;
  for (std::size_t k = 0; k < facs; ++k) {
    const bool old = k < f.irfac.size();
    irfac[k] = old ? f.irfac[k] : in.integer();
    jcfac[k] = old ? f.jcfac[k] : in.integer();
    const std::int64_t src_ld = complex ? kF : 0;
    fac[k] = old ? f.fac[k] : in.real();
    if (complex) fac[static_cast<std::size_t>(fld) + k] = old ? f.fac[static_cast<std::size_t>(src_ld) + k] : in.real();
  }
  for (std::size_t i = 0; i < nodes; ++i) {
    ipvt[i] = i < f.ipvt.size() ? f.ipvt[i] : in.integer();
    jpvt[i] = i < f.jpvt.size() ? f.jpvt[i] : in.integer();
  }
  if (corrupt) {
    const std::int32_t edits = in.byte() % 8;
    for (std::int32_t e = 0; e < edits; ++e) {
      const std::uint8_t where = in.byte() % 5;
      const std::int64_t pos = in.integer();
      switch (where) {
      case 0: irfac.put(pos, in.integer()); break;
      case 1: jcfac.put(pos, in.integer()); break;
      case 2: ipvt.put(pos, in.integer()); break;
      case 3: jpvt.put(pos, in.integer()); break;
      default: fac.put(pos, in.real()); break;
      }
    }
  }
  std::int32_t ipath = in.byte() % 2 + 1;
  if (in.byte() >= 0xF8) ipath = in.integer();
  const bool alias = in.byte() >= 0x80;
  Reals b(complex ? 2 * kNode : nodes);
  for (std::size_t i = 0; i < nodes; ++i) {
    b[i] = in.empty() ? 1.0f : in.real();
    if (complex) b[static_cast<std::size_t>(kNode) + i] = in.real();
  }
  Reals x(complex ? 2 * kNode : nodes);
  float *xp = alias ? b.data() : x.data();
  fac.snapshot(), irfac.snapshot(), jcfac.snapshot(), ipvt.snapshot(), jpvt.snapshot();
  b.snapshot();

  Call call;
  if (complex) {
    BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath, xp);
  } else {
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath, xp);
  }
  Expect(fac.unchanged() && irfac.unchanged() && jcfac.unchanged() && ipvt.unchanged() && jpvt.unchanged(),
         "a solve wrote its factor set");
  const bool rejected = call.rejected(complex ? "BSC" : "BSR");
  if (!alias) {
    Expect(b.unchanged(), "a solve wrote B");
    if (rejected) Expect(x.untouched(), "a rejected solve wrote X");
    if (complex) Expect(SplitUntouchedBeyond(x, kNode, n < 0 ? 0 : n), "BSC wrote X beyond N");
  } else if (rejected) {
    Expect(b.unchanged(), "a rejected solve wrote X = B");
  }
}

void Factor(ByteReader &in, bool complex) {
  std::int32_t n = DecodeCount(in, kRealNLimit, complex ? INT32_MAX : INT32_MAX);
  std::int32_t nz = complex ? DecodeCount(in, 10000, 10000) : DecodeCount(in, kRealNzLimit, kLurNzBound);
  const std::size_t nzs = Extent(nz, complex ? kV : kRealNzLimit);
  Reals a(complex ? 2 * kV : nzs);
  Ints irow(nzs), jcol(nzs);
  const std::int32_t span = n >= 1 && n <= kRealNLimit ? n : 1;
  for (std::size_t k = 0; k < nzs; ++k) {
    const auto kk = static_cast<std::int32_t>(k);
    const bool fill = in.empty();
    // Once the bytes run out: the diagonal, then a ring of couplings.
    irow[k] = fill ? kk % span + 1 : in.integer();
    jcol[k] = fill ? (kk < span ? kk + 1 : (kk + 1 + kk / span) % span + 1) : in.integer();
    a[k] = fill ? (kk < span ? 4.0f : -1.0f) : in.real();
    if (complex) a[static_cast<std::size_t>(kV) + k] = fill ? 0.5f : in.real();
  }
  Ints iparam(6);
  Reals rparam(5);
  for (std::size_t k = 0; k < 6; ++k) iparam[k] = in.byte() < 0xF0 ? 0 : in.integer();
  for (std::size_t k = 0; k < 5; ++k) rparam[k] = in.byte() < 0xF0 ? 0.0f : in.real();
  const std::size_t facs = complex ? Extent(3 * static_cast<std::int64_t>(nz), kF)
                                   : Extent(3 * static_cast<std::int64_t>(nz), 3 * kRealNzLimit);
  FactorSet f;
  f.n = 0;
  f.fac = Reals(complex ? 2 * kF : facs);
  f.irfac = Ints(facs), f.jcfac = Ints(facs);
  const std::size_t nodes = Extent(n, kRealNLimit);
  f.ipvt = Ints(nodes), f.jpvt = Ints(nodes);
  Ints nfac(1), nl(1);
  a.snapshot(), irow.snapshot(), jcol.snapshot(), iparam.snapshot(), rparam.snapshot();

  Call call;
  if (complex) {
    LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), nfac.data(), nl.data(),
        f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data());
  } else {
    LUR(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), nfac.data(), nl.data(),
        f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data());
  }
  Expect(a.unchanged() && irow.unchanged() && jcol.unchanged(), "a factorization wrote its triplets");
  if (call.rejected(complex ? "LUC" : "LUR")) {
    Expect(f.fac.untouched() && f.irfac.untouched() && f.jcfac.untouched() && f.ipvt.untouched() &&
               f.jpvt.untouched() && nfac.untouched() && nl.untouched() && iparam.unchanged() &&
               rparam.unchanged(),
           "a rejected factorization wrote output");
    return;
  }
  if (call.terminal() || nfac.untouched()) return; // the factorization refused the matrix
  f.n = n, f.nfac = nfac[0], f.nl = nl[0];
  Expect(f.nfac >= 0 && static_cast<std::size_t>(f.nfac) <= facs, "NFAC beyond 3*NZ");
  if (complex) Expect(SplitUntouchedBeyond(f.fac, kF, f.nfac), "FAC written beyond NFAC");
  else Expect(f.fac.untouched(f.nfac, static_cast<std::int64_t>(facs)), "FAC written beyond NFAC");
  Expect(f.irfac.untouched(f.nfac, static_cast<std::int64_t>(facs)) &&
             f.jcfac.untouched(f.nfac, static_cast<std::int64_t>(facs)),
         "IRFAC/JCFAC written beyond NFAC");
  Solve(in, complex, f, false);
  Solve(in, complex, f, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  Factor(in, (in.byte() & 1) != 0);
  return 0;
}
