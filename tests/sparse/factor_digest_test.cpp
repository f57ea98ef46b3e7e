// Guard on the results of the hot paths: for every shared network that fits
// the capacities, 64-bit digests of every bit that MatricaY, LUC, BSC, and
// LUR and BSR on the network's susceptance matrix write, pinned as produced
// before their implementations were tuned for speed. A faster implementation
// must make the same pivot choices, the same operations in the same order
// and the same layouts, so every digest stays as pinned. The digests are
// FNV-1a over the 32-bit words of the outputs (counts, index arrays, value
// bits), in the order listed in each test. ORVEK_PRINT_DIGESTS=1 prints the
// table rows as computed, for a deliberate change of results.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "tools/casefile/matpower.hpp"

namespace orvek::test {
namespace {

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

// FNV-1a, 64 bits, over 32-bit words.
class Digest {
public:
  void word(std::uint32_t w) {
    for (int b = 0; b < 4; ++b) {
      h_ ^= (w >> (8 * b)) & 0xFFu;
      h_ *= 0x100000001B3ull;
    }
  }
  void ints(const std::int32_t *p, std::int32_t count) {
    word(static_cast<std::uint32_t>(count));
    for (std::int32_t i = 0; i < count; ++i) word(static_cast<std::uint32_t>(p[i]));
  }
  void floats(const float *p, std::int32_t count) {
    word(static_cast<std::uint32_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
      std::uint32_t w = 0;
      std::memcpy(&w, &p[i], sizeof w);
      word(w);
    }
  }
  std::uint64_t value() const { return h_; }

private:
  std::uint64_t h_ = 0xCBF29CE484222325ull;
};

struct Pinned {
  const char *file;
  std::uint64_t assembly;  // MatricaY: NZ, IROW, JCOL, A, IJA, SA
  std::uint64_t factors;   // LUC: NFAC, NL, IPVT, JPVT, IRFAC, JCFAC, FAC, IPARAM, RPARAM
  std::uint64_t solutions; // BSC: X for three right-hand sides, IPATH 1 and 2
  std::uint64_t real;      // LUR on the susceptance part: factor set, BSR solutions
};

// Pinned digests (see the file comment).
constexpr Pinned kPinned[] = {
    {"case9.m", 0xAF1B27BF1D1A4A7Bull, 0xD82C8D699EB2D6B8ull, 0x6D51752BAAE50BD9ull, 0x5C6375CE803BA629ull},
    {"case14.m", 0x5DD4F224119F6031ull, 0x99CD419C6D3E3E34ull, 0x2E49298B9B8BF5E5ull, 0xE89BB36CE9C573DFull},
    {"case30.m", 0x882DB53151652489ull, 0xBC2D7973742515C7ull, 0xB75560FF2A861C2Eull, 0xB8DF66CEC2A6F20Bull},
    {"case57.m", 0x2A6CB8D72501B9AFull, 0x4752FCB0F864A59Eull, 0x3056BFC22A495A8Dull, 0xA244E75CA2D90A0Dull},
    {"case89pegase.m", 0x87F3D5C7869EB1B0ull, 0x2FFC79A5B1B49754ull, 0xA159D137A3389089ull, 0x40C9AB454FCD5B0Bull},
    {"case118.m", 0xDD66ACC6472544D6ull, 0x9F268D4C0E54E330ull, 0x2B2E74EA84360137ull, 0x278A9EC3C60E98D7ull},
    {"case_ACTIVSg200.m", 0x3A6E48260353F2A5ull, 0xDDB84D2FEE80120Dull, 0x3E0B8E2A2517DEADull, 0x83C2722719E52215ull},
    {"case300.m", 0x593DE7F12A51E293ull, 0xB1C47614D5B732FBull, 0x111DC4EE95F868B9ull, 0x4B17D20CEE293BE5ull},
    {"case_ACTIVSg500.m", 0x5E3245BF8131E647ull, 0x08814CE5C2E75995ull, 0x5C4E9264A63C1188ull, 0xEDB535C1F9D4776Full},
};

struct Computed {
  std::uint64_t assembly = 0, factors = 0, solutions = 0, real = 0;
};

// MatricaY's triplet list, kept for the real road.
struct Triplets {
  std::int32_t n = 0, nz = 0;
  std::vector<std::int32_t> irow, jcol;
  std::vector<float> a;
};

// Entry i of a vector whose entries all differ, formed by exact integer
// arithmetic and one correctly rounded division, so that it has the same bits
// on every platform (a sine would take the bits of the platform's run-time).
float Spread(std::int32_t i, std::int32_t step) {
  return static_cast<float>((i + 1) * step % 10007) / 10007.0f - 0.5f;
}

// The right-hand sides: a unit injection at node 1, one at node N, and a
// vector with every entry different.
std::vector<float> RightHandSide(int which, std::int32_t n) {
  std::vector<float> b(2 * kLdNode, 0.0f);
  if (which == 0) b[0] = 1.0f;
  if (which == 1) b[n - 1] = 1.0f;
  if (which == 2)
    for (std::int32_t i = 0; i < n; ++i) {
      b[i] = Spread(i, 7919);
      b[kLdNode + i] = Spread(i, 4001);
    }
  return b;
}

void ComplexRoad(const casefile::HostArrays &h, Computed &out, Triplets &t) {
  std::int32_t n = h.n, nb = h.nb, nsh = h.nsh, nz = 0;
  std::vector<std::int32_t> irow(kMaxNonzeros), jcol(kMaxNonzeros), ija(kMaxNonzeros + 1);
  std::vector<float> a(2 * kLdNonzero), sa(2 * kLdNonzero);
  MatricaY(h.bsh.data(), h.ksh.data(), &nsh, &n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &nb,
           irow.data(), jcol.data(), a.data(), &nz, sa.data(), ija.data());
  ASSERT_GT(nz, n);
  Digest d;
  d.ints(&nz, 1);
  d.ints(irow.data(), nz);
  d.ints(jcol.data(), nz);
  d.floats(a.data(), nz);
  d.floats(a.data() + kLdNonzero, nz);
  const std::int32_t used = ija[n] - 1; // IJA(N+1) - 1 positions of the row-indexed form
  ASSERT_GT(used, n);
  ASSERT_LE(used, kMaxNonzeros);
  d.ints(ija.data(), used);
  d.floats(sa.data(), used);
  d.floats(sa.data() + kLdNonzero, used);
  out.assembly = d.value();

  std::int32_t iparam[6] = {}, nfac = 0, nl = 0;
  float rparam[5] = {};
  std::vector<float> fac(2 * kLdFactor);
  std::vector<std::int32_t> irfac(3 * nz), jcfac(3 * nz), ipvt(n), jpvt(n);
  LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam, rparam, &nfac, &nl, fac.data(), irfac.data(),
      jcfac.data(), ipvt.data(), jpvt.data());
  ASSERT_GT(nl, 0);
  ASSERT_LE(nfac, 3 * nz);
  Digest f;
  f.ints(&nfac, 1);
  f.ints(&nl, 1);
  f.ints(ipvt.data(), n);
  f.ints(jpvt.data(), n);
  f.ints(irfac.data(), nfac);
  f.ints(jcfac.data(), nfac);
  f.floats(fac.data(), nfac);
  f.floats(fac.data() + kLdFactor, nfac);
  f.ints(iparam, 6);
  f.floats(rparam, 5);
  out.factors = f.value();

  Digest s;
  for (int which = 0; which < 3; ++which)
    for (std::int32_t ipath = 1; ipath <= 2; ++ipath) {
      const std::vector<float> b = RightHandSide(which, n);
      std::vector<float> x(2 * kLdNode, 0.0f);
      BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
          x.data());
      s.floats(x.data(), n);
      s.floats(x.data() + kLdNode, n);
    }
  out.solutions = s.value();
  t.n = n;
  t.nz = nz;
  t.irow = irow;
  t.jcol = jcol;
  t.a = a;
}

// The real road on the susceptance matrix of the network: the imaginary
// parts of MatricaY's triplets, factored by LUR and solved by BSR for both
// paths. (The fast decoupled lists are not pinned here: their values come
// from the topology routines, outside what the solver's tuning touches.)
void RealRoad(std::int32_t n, std::int32_t nz, const std::vector<std::int32_t> &irow,
              const std::vector<std::int32_t> &jcol, const std::vector<float> &a, Computed &out) {
  Digest d;
  std::vector<float> val(a.begin() + kLdNonzero, a.begin() + kLdNonzero + nz);
  std::int32_t iparam[6] = {}, nfac = 0, nl = 0;
  float rparam[5] = {};
  const auto fsize = static_cast<std::size_t>(3 * nz);
  std::vector<float> fac(fsize);
  std::vector<std::int32_t> irfac(fsize), jcfac(fsize), ipvt(static_cast<std::size_t>(n)), jpvt(ipvt.size());
  LUR(&n, &nz, val.data(), irow.data(), jcol.data(), iparam, rparam, &nfac, &nl, fac.data(), irfac.data(),
      jcfac.data(), ipvt.data(), jpvt.data());
  ASSERT_GT(nl, 0);
  d.ints(&nfac, 1);
  d.ints(&nl, 1);
  d.ints(ipvt.data(), n);
  d.ints(jpvt.data(), n);
  d.ints(irfac.data(), nfac);
  d.ints(jcfac.data(), nfac);
  d.floats(fac.data(), nfac);
  d.ints(iparam, 6);
  d.floats(rparam, 5);
  std::vector<float> b(ipvt.size()), x(ipvt.size());
  for (std::int32_t i = 0; i < n; ++i) b[i] = Spread(i, 7919);
  for (std::int32_t ipath = 1; ipath <= 2; ++ipath) {
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    d.floats(x.data(), n);
  }
  out.real = d.value();
}

// Names the case in failure messages instead of dumping the bytes.
void PrintTo(const Pinned &p, std::ostream *os) { *os << p.file; }

class FactorDigest : public ::testing::TestWithParam<Pinned> {};

TEST_P(FactorDigest, OutputsAreThePinnedOnes) {
  const Pinned &p = GetParam();
  const std::string path = CasesDir() + "/" + p.file;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no case " << path;
  const casefile::Case c = casefile::ReadCase(path);
  Computed got;
  Triplets t;
  ComplexRoad(casefile::MakeHostArrays(casefile::BuildNetwork(c)), got, t);
  RealRoad(t.n, t.nz, t.irow, t.jcol, t.a, got);
  if (std::getenv("ORVEK_PRINT_DIGESTS") != nullptr)
    std::printf("    {\"%s\", 0x%016llXull, 0x%016llXull, 0x%016llXull, 0x%016llXull},\n", p.file,
                static_cast<unsigned long long>(got.assembly), static_cast<unsigned long long>(got.factors),
                static_cast<unsigned long long>(got.solutions), static_cast<unsigned long long>(got.real));
  EXPECT_EQ(got.assembly, p.assembly) << "MatricaY outputs changed";
  EXPECT_EQ(got.factors, p.factors) << "LUC factor set changed";
  EXPECT_EQ(got.solutions, p.solutions) << "BSC solutions changed";
  EXPECT_EQ(got.real, p.real) << "LUR factor set or BSR solutions changed";
}

INSTANTIATE_TEST_SUITE_P(SharedNetworks, FactorDigest, ::testing::ValuesIn(kPinned),
                         [](const ::testing::TestParamInfo<Pinned> &info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('.'));
                           for (char &ch : name)
                             if (ch == '_') ch = 'x';
                           return name;
                         });

} // namespace
} // namespace orvek::test
