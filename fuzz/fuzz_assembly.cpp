// Fuzz target of the assembly family: MatricaY, MatY, MatYsa, MatY_prekin
// on decoded branch data, and the reductions MatricaYR and MatYR on a
// row-indexed matrix that is either decoded raw or assembled by MatYsa and
// then corrupted, with arbitrary KREF / IOLD / INEW / IDROP.
// Input: selector byte, then the arguments in the order each routine takes
// them (see Decode* below). Checks: inputs never written; outputs written
// only inside the counts returned (canary beyond); a rejected call writes
// nothing at all; counts within the capacities.
#include <cstdint>
#include <utility>

#include "frame/capacities.hpp"
#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "orvek/orvek.h"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::int64_t kB = kLdBranch, kV = kLdNonzero;
constexpr std::int32_t kMaxShunts = 4096;

// Branch arrays at their leading dimension, decoded for branches 1..NB (at
// most the capacity); once the bytes run out the rest is a valid chain.
struct Branches {
  Reals z{2 * kB}, ya{2 * kB}, yb{2 * kB};
  Ints nodes{2 * kB};
  Ints istat{0};
  std::int32_t n = 0, nb = 0;

  void decode(ByteReader &in, bool with_status) {
    n = in.integer();
    nb = in.integer();
    const std::int32_t count = static_cast<std::int32_t>(Extent(nb, kB));
    if (with_status) istat = Ints(static_cast<std::size_t>(count));
    const std::int32_t span = n >= 1 ? n : 1;
    for (std::int32_t b = 0; b < count; ++b) {
      const bool fill = in.empty();
      nodes[b] = fill ? b % span + 1 : in.integer();
      nodes[kB + b] = fill ? (b + 1) % span + 1 : in.integer();
      z[b] = fill ? 0.01f : in.real();
      z[kB + b] = fill ? 0.1f : in.real();
      ya[b] = fill ? 0.0f : in.real();
      ya[kB + b] = fill ? 0.02f : in.real();
      yb[b] = fill ? 0.0f : in.real();
      yb[kB + b] = fill ? 0.02f : in.real();
      if (with_status) istat[b] = fill ? 1 : in.integer();
    }
    snapshot();
  }
  void snapshot() {
    z.snapshot(), ya.snapshot(), yb.snapshot(), nodes.snapshot(), istat.snapshot();
  }
  bool unchanged() const {
    return z.unchanged() && ya.unchanged() && yb.unchanged() && nodes.unchanged() && istat.unchanged();
  }
};

// Triplet outputs IROW, JCOL (host-sized to the capacity), A(10000,2), NZ.
struct TripletOut {
  Ints irow{kV}, jcol{kV};
  Reals a{2 * kV};
  Ints nz{1};

  bool untouched() const { return irow.untouched() && jcol.untouched() && a.untouched() && nz.untouched(); }
  // NZ within 0..cap and nothing written beyond it.
  void check(std::int32_t cap) const {
    const std::int32_t count = nz.get(0);
    Expect(count >= 0 && count <= cap, "NZ outside 0..capacity");
    Expect(irow.untouched(count, kV) && jcol.untouched(count, kV), "IROW/JCOL written beyond NZ");
    Expect(SplitUntouchedBeyond(a, kV, count), "A written beyond NZ");
  }
};

// Row-indexed outputs SA(10000,2), IJA(NZ+1).
struct RowIndexedOut {
  Reals sa{2 * kV};
  Ints ija{kV};
  bool untouched() const { return sa.untouched() && ija.untouched(); }
  void check(std::int32_t nz) const {
    Expect(SplitUntouchedBeyond(sa, kV, nz + 1), "SA written beyond NZ+1");
    Expect(ija.untouched(nz + 1, kV), "IJA written beyond NZ+1");
  }
};

void Assemble(ByteReader &in, std::uint8_t which) {
  const bool with_status = which == 3;
  Branches br;
  // MatricaY takes its shunts first.
  std::int32_t nsh = 0;
  Reals bsh(0);
  Ints ksh(0);
  if (which == 0) {
    nsh = in.integer();
    if (nsh > kMaxShunts) nsh %= kMaxShunts;
    bsh = Reals(Extent(nsh, kMaxShunts));
    ksh = Ints(Extent(nsh, kMaxShunts));
    for (std::size_t k = 0; k < ksh.size(); ++k) {
      ksh[k] = in.empty() ? 1 : in.integer();
      bsh[k] = in.real();
    }
    bsh.snapshot(), ksh.snapshot();
  }
  br.decode(in, with_status);
  TripletOut t;
  RowIndexedOut r;
  const char *name = "";
  std::int32_t cap = kMaxRowIndexedEntries;
  Call call;
  switch (which) {
  case 0:
    name = "MatricaY";
    MatricaY(bsh.data(), ksh.data(), &nsh, &br.n, br.z.data(), br.ya.data(), br.yb.data(), br.nodes.data(),
             &br.nb, t.irow.data(), t.jcol.data(), t.a.data(), t.nz.data(), r.sa.data(), r.ija.data());
    break;
  case 1:
    name = "MatY";
    cap = kMaxNonzeros;
    MatY(&br.n, br.z.data(), br.ya.data(), br.yb.data(), br.nodes.data(), &br.nb, t.irow.data(), t.jcol.data(),
         t.a.data(), t.nz.data());
    break;
  case 2:
    name = "MatYsa";
    MatYsa(&br.n, br.z.data(), br.ya.data(), br.yb.data(), br.nodes.data(), &br.nb, t.irow.data(),
           t.jcol.data(), t.a.data(), t.nz.data(), r.sa.data(), r.ija.data());
    break;
  default:
    name = "MatY_prekin";
    cap = kMaxNonzeros;
    MatY_prekin(&br.n, br.z.data(), br.ya.data(), br.yb.data(), br.nodes.data(), br.istat.data(), &br.nb,
                t.irow.data(), t.jcol.data(), t.a.data(), t.nz.data());
    break;
  }
  Expect(br.unchanged() && bsh.unchanged() && ksh.unchanged(), "an input array was written");
  if (call.rejected(name)) {
    Expect(t.untouched() && r.untouched(), "a rejected assembly wrote output");
    return;
  }
  if (t.nz.untouched()) return; // stopped inside (stopping off): nothing to check beyond the canaries
  t.check(cap);
  if (which == 0 || which == 2) r.check(t.nz.get(0));
}

// A row-indexed input of n_in nodes: raw (pointers and columns decoded) or
// assembled by MatYsa from decoded branches and then corrupted at decoded
// positions. The host array holds exactly what IJA(n_in+1) claims (at least
// the pointers, at most the value capacity).
struct RowIndexedIn {
  Reals sa{2 * kV};
  Ints ija{0};

  void decode(ByteReader &in, std::int32_t n_in) {
    if (in.byte() % 2 == 0) {
      const std::int32_t end = in.integer();
      const auto size = std::max<std::size_t>(Extent(static_cast<std::int64_t>(n_in) + 1, kV + 1),
                                              Extent(static_cast<std::int64_t>(end) - 1, kV));
      ija = Ints(size);
      for (std::int64_t k = 0; k < n_in && k < static_cast<std::int64_t>(size); ++k) ija.put(k, in.integer());
      ija.put(n_in, end);
      for (std::size_t k = static_cast<std::size_t>(n_in) + 1; k < size; ++k) ija[k] = in.integer();
      for (std::int64_t k = 0; k < 2 * kV && !in.empty(); ++k) sa[static_cast<std::size_t>(k)] = in.real();
    } else {
      Branches br;
      br.n = n_in;
      br.nb = in.integer() % 200;
      const std::int32_t span = n_in >= 1 ? n_in : 1;
      for (std::int32_t b = 0; b < br.nb; ++b) {
        br.nodes[b] = in.empty() ? b % span + 1 : in.integer() % span + 1;
        br.nodes[kB + b] = in.empty() ? (b + 1) % span + 1 : in.integer() % span + 1;
        br.z[b] = 0.01f, br.z[kB + b] = 0.1f + 0.01f * static_cast<float>(b);
        br.ya[b] = br.ya[kB + b] = br.yb[b] = br.yb[kB + b] = 0.0f;
      }
      TripletOut t;
      RowIndexedOut r;
      Call call;
      MatYsa(&br.n, br.z.data(), br.ya.data(), br.yb.data(), br.nodes.data(), &br.nb, t.irow.data(),
             t.jcol.data(), t.a.data(), t.nz.data(), r.sa.data(), r.ija.data());
      const bool ok = !call.terminal() && !t.nz.untouched();
      const std::int32_t nz = ok ? t.nz.get(0) : 0;
      ija = Ints(std::max(Extent(nz + 1, kV), Extent(static_cast<std::int64_t>(n_in) + 1, kV + 1)));
      for (std::int32_t k = 0; k <= nz && ok; ++k) ija.put(k, r.ija[static_cast<std::size_t>(k)]);
      for (std::int64_t k = 0; k < 2 * kV; ++k) sa[static_cast<std::size_t>(k)] = r.sa[static_cast<std::size_t>(k)];
      const std::int32_t edits = in.byte() % 4;
      for (std::int32_t e = 0; e < edits; ++e) {
        const std::int32_t pos = in.integer();
        ija.put(static_cast<std::int64_t>(pos) - 1, in.integer());
      }
      // The host's array holds what its (edited) end pointer claims.
      const std::size_t claimed = Extent(static_cast<std::int64_t>(ija.get(n_in)) - 1, kV);
      if (claimed > ija.size()) {
        Ints longer(claimed);
        for (std::size_t k = 0; k < claimed; ++k) longer[k] = k < ija.size() ? ija[k] : in.integer();
        ija = std::move(longer);
      }
    }
    sa.snapshot(), ija.snapshot();
  }
};

// IOLD(N), INEW(NIN): by default the order-keeping renumbering around the
// dropped nodes; a flag byte per entry replaces it with a decoded value.
void DecodeRenumbering(ByteReader &in, Ints &iold, Ints &inew, const Ints &drop) {
  std::int32_t next = 0;
  for (std::size_t c = 0; c < inew.size(); ++c) {
    const bool dropped = c < drop.size() && drop[c] != 0;
    inew[c] = dropped ? 0 : ++next;
    if (!dropped && static_cast<std::size_t>(next) <= iold.size()) iold[static_cast<std::size_t>(next - 1)] = static_cast<std::int32_t>(c + 1);
  }
  for (std::size_t i = 0; i < iold.size(); ++i)
    if (in.byte() >= 0xF0) iold[i] = in.integer();
  for (std::size_t c = 0; c < inew.size(); ++c)
    if (in.byte() >= 0xF0) inew[c] = in.integer();
  iold.snapshot(), inew.snapshot();
}

void Reduce(ByteReader &in, bool matricayr) {
  std::int32_t n = 0, n_in = 0, kref = 0;
  Ints drop(0);
  if (matricayr) {
    n = in.integer();
    n_in = n < INT32_MAX ? n + 1 : n;
    kref = in.integer();
    drop = Ints(Extent(n_in, kV));
    for (std::size_t c = 0; c < drop.size(); ++c) drop[c] = static_cast<std::int32_t>(c + 1) == kref;
  } else {
    n_in = in.integer();
    drop = Ints(Extent(n_in, kV));
    std::int32_t kept = 0;
    for (std::size_t c = 0; c < drop.size(); ++c) {
      drop[c] = in.empty() ? 0 : in.byte() % 3 == 0;
      kept += drop[c] == 0;
    }
    n = in.byte() < 0xF0 ? kept : in.integer();
  }
  drop.snapshot();
  RowIndexedIn m;
  m.decode(in, n_in);
  Ints iold(Extent(n, kV)), inew(Extent(n_in, kV));
  DecodeRenumbering(in, iold, inew, drop);

  TripletOut t;
  RowIndexedOut r;
  Call call;
  if (matricayr) {
    MatricaYR(&kref, m.sa.data(), m.ija.data(), iold.data(), inew.data(), &n, r.sa.data(), r.ija.data(),
              t.irow.data(), t.jcol.data(), t.a.data(), t.nz.data());
  } else {
    MatYR(&n_in, drop.data(), m.sa.data(), m.ija.data(), iold.data(), inew.data(), &n, t.irow.data(),
          t.jcol.data(), t.a.data(), t.nz.data());
  }
  Expect(m.sa.unchanged() && m.ija.unchanged() && iold.unchanged() && inew.unchanged() && drop.unchanged(),
         "an input array of a reduction was written");
  if (call.rejected(matricayr ? "MatricaYR" : "MatYR")) {
    Expect(t.untouched() && r.untouched(), "a rejected reduction wrote output");
    return;
  }
  if (t.nz.untouched()) return;
  t.check(kMaxRowIndexedEntries);
  if (matricayr) r.check(t.nz.get(0));
  // An accepted reduction has order N: every row and column in 1..N.
  for (std::int32_t k = 0; k < t.nz.get(0); ++k) {
    const std::int32_t i = t.irow.get(k), j = t.jcol.get(k);
    Expect(i >= 1 && i <= n && j >= 1 && j <= n, "a reduction returned a row or column outside 1..N");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  const std::uint8_t which = in.byte() % 6;
  if (which < 4) {
    Assemble(in, which);
  } else {
    Reduce(in, which == 4);
  }
  return 0;
}
