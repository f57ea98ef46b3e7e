// Matrici_VektoriBX: the examples (ratios, parallel branches, branches to
// the reference node), a double-precision assembly with the orientation and
// order of pairs derived from the key sort, and the lists left after the
// key sort's length error when stopping is switched off.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "assembly/key_sort.hpp"
#include "common/error_capture.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

struct BxBranch {
  std::int32_t a, b;
  float r, x, t;
};

struct Triplets {
  std::vector<std::int32_t> irow, jcol;
  std::vector<float> val;
  std::int32_t nz = -1;
};

struct BxLists {
  Triplets first, second;
};

constexpr float kSentinel = -77.0f;

BxLists CallBx(std::int32_t n, std::int32_t npq, const std::vector<BxBranch> &branches) {
  std::vector<float> z(2 * kLdBranch, 0.0f), t(kLdBranch, 1.0f);
  std::vector<std::int32_t> nodes(2 * kLdBranch, 0);
  for (std::size_t b = 0; b < branches.size(); ++b) {
    z[b] = branches[b].r, z[kLdBranch + b] = branches[b].x, t[b] = branches[b].t;
    nodes[b] = branches[b].a, nodes[kLdBranch + b] = branches[b].b;
  }
  const auto nb = static_cast<std::int32_t>(branches.size());
  const std::size_t room = static_cast<std::size_t>(n) + 2 * branches.size() + 4;
  BxLists out;
  for (Triplets *l : {&out.first, &out.second}) {
    l->irow.assign(room, -1);
    l->jcol.assign(room, -1);
    l->val.assign(room, kSentinel);
  }
  Matrici_VektoriBX(&n, &npq, z.data(), t.data(), nodes.data(), &nb, out.first.irow.data(),
                    out.first.jcol.data(), out.first.val.data(), &out.first.nz, out.second.irow.data(),
                    out.second.jcol.data(), out.second.val.data(), &out.second.nz);
  return out;
}

// (row, column) -> value of a list, checking that no position repeats.
std::map<std::pair<std::int32_t, std::int32_t>, float> Entries(const Triplets &l) {
  std::map<std::pair<std::int32_t, std::int32_t>, float> m;
  for (std::int32_t k = 0; k < l.nz; ++k)
    EXPECT_TRUE(m.emplace(std::pair{l.irow[k], l.jcol[k]}, l.val[k]).second);
  return m;
}

// Double-precision assembly of both lists in the expected layout: diagonals,
// then one pair per node pair inside 1..L in ascending key, oriented as the
// first branch of its group in the key sort's order.
struct RefList {
  std::vector<std::pair<std::int32_t, std::int32_t>> pos;
  std::vector<double> val;
};

std::pair<RefList, RefList> ReferenceBx(std::int32_t n, std::int32_t npq,
                                        const std::vector<BxBranch> &branches) {
  const auto nb = static_cast<std::int32_t>(branches.size());
  std::vector<std::int32_t> key(nb), skey(nb), perm(nb);
  for (std::int32_t b = 0; b < nb; ++b) {
    const std::int32_t lo = std::min(branches[b].a, branches[b].b),
                       hi = std::max(branches[b].a, branches[b].b);
    key[b] = lo * n + hi;
    perm[b] = b + 1;
  }
  ErrorModule err;
  SVIGP(err, nb, key.data(), skey.data(), perm.data());
  RefList lists[2];
  const std::int32_t limit[2] = {n - 1, npq};
  for (int m = 0; m < 2; ++m) {
    for (std::int32_t i = 1; i <= limit[m]; ++i) lists[m].pos.emplace_back(i, i), lists[m].val.push_back(0);
    std::int32_t last_key = -1;
    for (std::int32_t l = 0; l < nb; ++l) {
      const BxBranch &br = branches[perm[l] - 1];
      const double r = br.r, x = br.x, t = br.t;
      const double g = m == 0 ? x / (x * x + r * r) : 1 / x;
      const double da = m == 0 ? g : g / (t * t), db = g, off = m == 0 ? -g : -g / t;
      if (br.a <= limit[m]) lists[m].val[br.a - 1] += da;
      if (br.b <= limit[m]) lists[m].val[br.b - 1] += db;
      if (br.a > limit[m] || br.b > limit[m]) continue;
      if (skey[l] != last_key) {
        lists[m].pos.emplace_back(br.a, br.b), lists[m].val.push_back(0);
        lists[m].pos.emplace_back(br.b, br.a), lists[m].val.push_back(0);
        last_key = skey[l];
      }
      lists[m].val[lists[m].val.size() - 2] += off;
      lists[m].val[lists[m].val.size() - 1] += off;
    }
  }
  return {lists[0], lists[1]};
}

void ExpectAsReference(const Triplets &got, const RefList &ref, double rel) {
  ASSERT_EQ(got.nz, static_cast<std::int32_t>(ref.pos.size()));
  for (std::int32_t k = 0; k < got.nz; ++k) {
    EXPECT_EQ(got.irow[k], ref.pos[k].first) << "entry " << k + 1;
    EXPECT_EQ(got.jcol[k], ref.pos[k].second) << "entry " << k + 1;
    EXPECT_NEAR(got.val[k], ref.val[k], rel * std::max(1.0, std::abs(ref.val[k]))) << "entry " << k + 1;
  }
  EXPECT_EQ(got.val[got.nz], kSentinel) << "written beyond NZ";
}

void ExpectBxAsReference(std::int32_t n, std::int32_t npq, const std::vector<BxBranch> &branches,
                         double rel) {
  const BxLists got = CallBx(n, npq, branches);
  const auto [first, second] = ReferenceBx(n, npq, branches);
  ExpectAsReference(got.first, first, rel);
  ExpectAsReference(got.second, second, rel);
}

TEST(MatriciVektoriBX, ThreeNodeExample) {
  const BxLists l = CallBx(3, 1, {{1, 2, 0.0f, 0.1f, 1.0f}, {2, 3, 0.0f, 0.2f, 1.0f}});
  ASSERT_EQ(l.first.nz, 4);
  EXPECT_EQ(l.first.irow, (std::vector<std::int32_t>{1, 2, 1, 2, -1, -1, -1, -1, -1, -1, -1}));
  EXPECT_EQ(std::vector<std::int32_t>(l.first.jcol.begin(), l.first.jcol.begin() + 4),
            (std::vector<std::int32_t>{1, 2, 2, 1}));
  EXPECT_FLOAT_EQ(l.first.val[0], 10.0f);
  EXPECT_FLOAT_EQ(l.first.val[1], 15.0f);
  EXPECT_FLOAT_EQ(l.first.val[2], -10.0f);
  EXPECT_FLOAT_EQ(l.first.val[3], -10.0f);
  ASSERT_EQ(l.second.nz, 1);
  EXPECT_EQ(l.second.irow[0], 1);
  EXPECT_EQ(l.second.jcol[0], 1);
  EXPECT_FLOAT_EQ(l.second.val[0], 10.0f);
}

TEST(MatriciVektoriBX, EqualResistanceAndReactance) {
  const BxLists l = CallBx(3, 2, {{1, 2, 1.0f, 1.0f, 1.0f}});
  EXPECT_EQ(l.first.val[0], 0.5f);
  EXPECT_EQ(l.first.val[2], -0.5f);
  EXPECT_EQ(l.second.val[0], 1.0f);
  EXPECT_EQ(l.second.val[1], 1.0f);
  EXPECT_EQ(l.second.val[2], -1.0f);
  EXPECT_EQ(l.second.val[3], -1.0f);
}

TEST(MatriciVektoriBX, ParallelBranchesShareOnePair) {
  const BxLists l = CallBx(3, 2, {{1, 2, 0.0f, 0.2f, 1.0f}, {2, 1, 0.0f, 0.2f, 1.0f}});
  ASSERT_EQ(l.first.nz, 4);
  ASSERT_EQ(l.second.nz, 4);
  EXPECT_EQ(l.first.irow[2], 1); // the key sort keeps the first branch first
  EXPECT_EQ(l.first.jcol[2], 2);
  for (const Triplets *t : {&l.first, &l.second}) {
    const auto e = Entries(*t);
    EXPECT_FLOAT_EQ(e.at({1, 1}), 10.0f);
    EXPECT_FLOAT_EQ(e.at({2, 2}), 10.0f);
    EXPECT_FLOAT_EQ(e.at({1, 2}), -10.0f);
    EXPECT_FLOAT_EQ(e.at({2, 1}), -10.0f);
  }
}

TEST(MatriciVektoriBX, TransformerRatioAppliesAtTheFirstEnd) {
  const BxLists l = CallBx(3, 2, {{1, 2, 0.0f, 0.1f, 1.1f}});
  const auto e = Entries(l.second);
  EXPECT_FLOAT_EQ(e.at({1, 1}), 10.0f / 1.21f);
  EXPECT_FLOAT_EQ(e.at({2, 2}), 10.0f);
  EXPECT_FLOAT_EQ(e.at({1, 2}), -10.0f / 1.1f);
  EXPECT_FLOAT_EQ(e.at({2, 1}), -10.0f / 1.1f);
  // The first matrix ignores the ratio.
  EXPECT_FLOAT_EQ(Entries(l.first).at({1, 1}), 10.0f);
}

TEST(MatriciVektoriBX, BranchToTheReferenceNodeAddsOnlyItsDiagonal) {
  const BxLists l = CallBx(4, 3, {{2, 4, 0.1f, 0.3f, 1.0f}, {4, 1, 0.0f, 0.5f, 1.05f}});
  EXPECT_EQ(l.first.nz, 3);
  EXPECT_EQ(l.second.nz, 3);
  EXPECT_FLOAT_EQ(l.first.val[1], 0.3f / (0.09f + 0.01f));
  EXPECT_FLOAT_EQ(l.first.val[0], 2.0f);
  EXPECT_EQ(l.first.val[2], 0.0f);
  // Node 1 is the second end of branch 2: 1/X without the ratio.
  EXPECT_FLOAT_EQ(l.second.val[0], 2.0f);
  EXPECT_FLOAT_EQ(l.second.val[1], 1.0f / 0.3f);
}

TEST(MatriciVektoriBX, NoSecondMatrixWhenNpqIsZero) {
  const BxLists l = CallBx(3, 0, {{1, 2, 0.0f, 0.1f, 1.0f}, {2, 3, 0.0f, 0.2f, 1.0f}});
  EXPECT_EQ(l.second.nz, 0);
  EXPECT_EQ(l.second.val[0], kSentinel);
}

TEST(MatriciVektoriBX, RandomNetworksMatchTheDoubleAssembly) {
  std::mt19937 gen(99);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int trial = 0; trial < 30; ++trial) {
    const std::int32_t n = 2 + static_cast<std::int32_t>(gen() % 40);
    const std::int32_t npq = static_cast<std::int32_t>(gen() % (n + 1));
    const std::int32_t nb = 1 + static_cast<std::int32_t>(gen() % 200);
    std::vector<BxBranch> branches;
    for (std::int32_t b = 0; b < nb; ++b) {
      const std::int32_t a = 1 + static_cast<std::int32_t>(gen() % n);
      std::int32_t c = 1 + static_cast<std::int32_t>(gen() % (n - 1));
      if (c >= a) ++c;
      branches.push_back(
          {a, c, 0.05f * u(gen), 0.05f + 0.3f * u(gen), gen() % 3 == 0 ? 0.9f + 0.2f * u(gen) : 1.0f});
    }
    SCOPED_TRACE(trial);
    ExpectBxAsReference(n, npq, branches, 2e-5);
  }
}

TEST(MatriciVektoriBX, LengthErrorWithStoppingOffLeavesZeroDiagonals) {
  ErrorModule &err = errors();
  ErrorCapture capture(err);
  err.set_stop(kTerminal, false);
  const BxLists l = CallBx(4, 2, {});
  err.set_stop(kTerminal, true);
  EXPECT_EQ(capture.stops, 0);
  EXPECT_EQ(err.last_routine(), "SVIGP");
  EXPECT_EQ(err.last_code(), 1);
  EXPECT_EQ(err.last_message(),
            "The length of vectors IA, IB, and IPERM must be greater than or equal to one.  "
            "On input the length, N, is given as 0.");
  EXPECT_EQ(WithNeutralUserLine(capture.text),
            "\n"
            " *** TERMINAL ERROR 1 from SVIGP.  The length of vectors IA, IB, and IPERM\n"
            " ***          must be greater than or equal to one.  On input the length, N,\n"
            " ***          is given as 0.\n"
            "     Here is a traceback of subprogram calls in reverse order:\n"
            "     Routine name                    Error type  Error code\n"
            "     ------------                    ----------  ----------\n"
            "     SVIGP                                5           1\n"
            "     USER\n");
  ASSERT_EQ(l.first.nz, 3);
  ASSERT_EQ(l.second.nz, 2);
  for (std::int32_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(l.first.irow[i - 1], i);
    EXPECT_EQ(l.first.jcol[i - 1], i);
    EXPECT_EQ(l.first.val[i - 1], 0.0f);
  }
  for (std::int32_t i = 1; i <= 2; ++i) EXPECT_EQ(l.second.val[i - 1], 0.0f);
}

} // namespace
} // namespace orvek::test::topology
