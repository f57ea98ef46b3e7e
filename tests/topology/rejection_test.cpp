// Rejections of input that would reach memory the routines do not own: the
// message of every check, word for word, under the routine's own name as a
// TERMINAL error; the host's outputs untouched; and one real stop observed
// from a child process with its full printed text and exit status.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "topology/component_records.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

struct Raised {
  std::string routine;
  std::int32_t type = 0, code = 0;
  std::string message;
  int stops = 0;
};

// Runs fn with the printing captured and the stop intercepted (the routine
// must then return without writing anything).
Raised Capture(const std::function<void()> &fn) {
  ErrorModule &err = errors();
  ErrorCapture capture(err);
  fn();
  Raised r{err.last_routine(), err.last_type(), err.last_code(), err.last_message(), capture.stops};
  if (capture.text.empty()) r = Raised{};
  return r;
}

void ExpectRaised(const Raised &r, const std::string &routine, std::int32_t code,
                  const std::string &message) {
  EXPECT_EQ(r.routine, routine);
  EXPECT_EQ(r.type, kTerminal);
  EXPECT_EQ(r.code, code);
  EXPECT_EQ(r.message, message);
  EXPECT_EQ(r.stops, 1);
}

// ---- MAUX ----------------------------------------------------------------------

void ExpectMauxRejects(std::int32_t n, const std::vector<std::int32_t> &nodes, std::int32_t nb,
                       std::int32_t code, const std::string &message) {
  std::vector<std::int32_t> ija(64, 5), ibr(64, 6);
  ExpectRaised(Capture([&] { MAUX(&n, nodes.data(), &nb, ija.data(), ibr.data()); }), "MAUX", code, message);
  EXPECT_EQ(ija, std::vector<std::int32_t>(64, 5));
  EXPECT_EQ(ibr, std::vector<std::int32_t>(64, 6));
}

TEST(Rejections, Maux) {
  ExpectMauxRejects(4, NodesTable({{1, 2}}), 2500, 1, "NB = 2500 must not exceed 2499.");
  ExpectMauxRejects(4, NodesTable({{1, 2}, {3, 9}}), 2, 2, "NODES(2, 2) = 9 must lie between 1 and N = 4.");
  ExpectMauxRejects(4, NodesTable({{1, 2}, {0, 3}}), 2, 2, "NODES(2, 1) = 0 must lie between 1 and N = 4.");
  ExpectMauxRejects(0, NodesTable({{1, 1}}), 1, 2, "NODES(1, 1) = 1 must lie between 1 and N = 0.");
  ExpectMauxRejects(std::numeric_limits<std::int32_t>::max() - 10, NodesTable({{1, 2}}), 10, 3,
                    "N = 2147483637 is too large: N + 1 + 2*NB must not exceed 2147483647 with NB = 10.");
}

TEST(Rejections, MauxWithoutBranchesKeepsTheSortsLengthError) {
  std::int32_t n = 3, nb = 0;
  const auto nodes = NodesTable({});
  std::vector<std::int32_t> ija(8, 5), ibr(8, 6);
  ErrorModule &err = errors();
  ErrorCapture capture(err);
  err.set_stop(kTerminal, false);
  MAUX(&n, nodes.data(), &nb, ija.data(), ibr.data());
  err.set_stop(kTerminal, true);
  EXPECT_EQ(err.last_routine(), "SVIGP");
  EXPECT_EQ(err.last_code(), 1);
  EXPECT_NE(capture.text.find("is given as 0."), std::string::npos) << capture.text;
  EXPECT_EQ(ija, std::vector<std::int32_t>(8, 5));
  EXPECT_EQ(ibr, std::vector<std::int32_t>(8, 6));
}

TEST(Rejections, MauxStopsTheProcessWithItsMessage) {
  const ChildResult child = RunInChild([] {
    std::int32_t n = 3, nb = 2500;
    const auto nodes = NodesTable({{1, 2}});
    std::vector<std::int32_t> ija(8), ibr(8);
    MAUX(&n, nodes.data(), &nb, ija.data(), ibr.data());
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.exit_status, 1);
  EXPECT_EQ(WithNeutralUserLine(child.output),
            "\n"
            " *** TERMINAL ERROR 1 from MAUX.  NB = 2500 must not exceed 2499.\n"
            "     Here is a traceback of subprogram calls in reverse order:\n"
            "     Routine name                    Error type  Error code\n"
            "     ------------                    ----------  ----------\n"
            "     MAUX                                 5           1\n"
            "     USER\n"
            "Stop - Program terminated.\n");
}

// ---- MultiPodred -----------------------------------------------------------------

void ExpectMultiPodredRejects(std::int32_t n, const std::vector<std::int32_t> &ija,
                              const std::vector<std::int32_t> &ibr, std::int32_t code,
                              const std::string &message) {
  Ordering o;
  o.ord.assign(8, kUntouched);
  o.par.assign(8, kUntouched);
  o.bl.assign(8, kUntouched);
  ExpectRaised(Capture([&] {
                 MultiPodred(&n, ija.data(), ibr.data(), o.ord.data(), o.cnt.data(), o.bl.data(),
                             o.par.data(), &o.nc);
               }),
               "MultiPodred", code, message);
  EXPECT_EQ(o.ord, std::vector<std::int32_t>(8, kUntouched));
  EXPECT_EQ(o.par, std::vector<std::int32_t>(8, kUntouched));
  EXPECT_EQ(o.bl, std::vector<std::int32_t>(8, kUntouched));
  EXPECT_EQ(o.cnt, std::vector<std::int32_t>(2000, kUntouched));
  EXPECT_EQ(o.nc, kUntouched);
}

TEST(Rejections, MultiPodredListChecks) {
  // A valid triangle for reference: IJA = 5 7 9 11 | 2 3 | 1 3 | 1 2.
  const std::vector<std::int32_t> ija = {5, 7, 9, 11, 2, 3, 1, 3, 1, 2};
  const std::vector<std::int32_t> ibr = {0, 0, 0, 0, 1, 3, 1, 2, 3, 2};
  ExpectMultiPodredRejects(0, ija, ibr, 1, "N = 0 must be at least 1.");
  ExpectMultiPodredRejects(
      6001, ija, ibr, 2,
      "N = 6001 must not exceed 6000: with at most 5000 branches more nodes form more than "
      "1000 components.");
  ExpectMultiPodredRejects(2, ija, ibr, 3, "IJA(1) = 5 must equal N + 2 = 4.");
  auto bad = ija;
  bad[2] = 6;
  ExpectMultiPodredRejects(3, bad, ibr, 4, "IJA(3) = 6 must not be less than IJA(2) = 7.");
  ExpectMultiPodredRejects(
      2, {4, 4, 10005}, {}, 5,
      "The lists hold IJA(N+1) - IJA(1) = 10001 entries; at most 10000, two for each of 5000 "
      "branches, fit.");
  bad = ija;
  bad[7] = 4;
  ExpectMultiPodredRejects(3, bad, ibr, 6, "IJA(8) = 4 must lie between 1 and N = 3.");
  auto bad_br = ibr;
  bad_br[5] = 4;
  ExpectMultiPodredRejects(3, ija, bad_br, 7,
                           "IBR(6) = 4 must lie between 1 and NB = 3, half the number of list entries.");
  bad_br = ibr;
  bad_br[5] = 1;
  ExpectMultiPodredRejects(
      3, ija, bad_br, 8,
      "Branch 1 occurs 3 times in IBR; every branch must occur exactly twice, once at each end.");
  // Branch 2 listed at node 2 towards node 3 and at node 3 towards node 1.
  bad = ija;
  bad_br = ibr;
  bad[8] = 1, bad[9] = 2, bad_br[8] = 2, bad_br[9] = 3;
  bad[4] = 2, bad[5] = 3, bad_br[4] = 1, bad_br[5] = 3;
  ExpectMultiPodredRejects(
      3, bad, bad_br, 9,
      "IJA(6) = 3 with IBR(6) = 3 in the list of node 1 has no matching entry in the list of "
      "node 3.");
}

TEST(Rejections, MultiPodredComponentCount) {
  // 1001 nodes without branches: more components than CNT has rows.
  std::vector<std::int32_t> ija(1002, 1003);
  ExpectMultiPodredRejects(
      1001, ija, ija, 10, "The network of N = 1001 nodes and NB = 0 branches has more than 1000 components.");
  // Five parallel branches between nodes 1 and 2 and 1002 isolated nodes:
  // within the quick bound, found by the walk.
  const std::int32_t n = 1004;
  ija.assign(static_cast<std::size_t>(n + 1 + 10), 0);
  std::vector<std::int32_t> ibr(ija.size(), 0);
  ija[0] = n + 2;
  ija[1] = n + 7;
  for (std::int32_t i = 3; i <= n + 1; ++i) ija[i - 1] = n + 12;
  for (std::int32_t b = 1; b <= 5; ++b) {
    ija[n + 1 + b - 1] = 2, ibr[n + 1 + b - 1] = b;
    ija[n + 6 + b - 1] = 1, ibr[n + 6 + b - 1] = b;
  }
  ExpectMultiPodredRejects(
      n, ija, ibr, 10, "The network of N = 1004 nodes and NB = 5 branches has more than 1000 components.");
  // One component fewer fits exactly.
  const std::int32_t m = 1001;
  std::vector<std::int32_t> ok(static_cast<std::size_t>(m + 1 + 10), 0), ok_br(ok.size(), 0);
  ok[0] = m + 2;
  ok[1] = m + 7;
  for (std::int32_t i = 3; i <= m + 1; ++i) ok[i - 1] = m + 12;
  for (std::int32_t b = 1; b <= 5; ++b) {
    ok[m + 1 + b - 1] = 2, ok_br[m + 1 + b - 1] = b;
    ok[m + 6 + b - 1] = 1, ok_br[m + 6 + b - 1] = b;
  }
  Incidence inc{ok, ok_br, m};
  const Ordering o = CallMultiPodred(inc, 5);
  EXPECT_EQ(o.nc, 1000);
  EXPECT_EQ(o.cnt_nodes(1000), m);
}

// ---- ZapisiPodredeno ------------------------------------------------------------

// ORD and PAR as long as MultiPodred can fill them (6000), BL 5000: a check
// that reads beyond them shows under AddressSanitizer.
void ExpectZapisiRejects(const std::vector<std::int32_t> &cnt, const std::vector<std::int32_t> &bl,
                         std::int32_t nc, std::int32_t code, const std::string &message) {
  ASSERT_EQ(bl.size(), 5000u);
  const std::vector<std::int32_t> ord(6000, 1), par(6000, 0);
  const auto nodes = NodesTable({{1, 2}});
  const orvek::topology::ComponentRecord before = orvek::topology::StoredComponentRecord(1);
  ExpectRaised(
      Capture([&] { ZapisiPodredeno(cnt.data(), ord.data(), bl.data(), par.data(), &nc, nodes.data()); }),
      "ZapisiPodredeno", code, message);
  EXPECT_EQ(orvek::topology::StoredComponentRecord(1).nn, before.nn);
  EXPECT_EQ(orvek::topology::StoredComponentRecord(1).node, before.node);
}

std::vector<std::int32_t> Counts(const std::vector<std::pair<std::int32_t, std::int32_t>> &rows) {
  std::vector<std::int32_t> cnt(2000, 0);
  for (std::size_t g = 0; g < rows.size(); ++g) cnt[g] = rows[g].first, cnt[1000 + g] = rows[g].second;
  return cnt;
}

// Components that each fit a record, g = 1..count, of `nodes` nodes and
// `branches` branches.
std::vector<std::int32_t> EqualComponents(std::int32_t count, std::int32_t nodes, std::int32_t branches) {
  std::vector<std::pair<std::int32_t, std::int32_t>> rows;
  for (std::int32_t g = 1; g <= count; ++g) rows.emplace_back(g * nodes, g * branches);
  return Counts(rows);
}

TEST(Rejections, ZapisiPodredeno) {
  const std::vector<std::int32_t> bl(5000, 1);
  ExpectZapisiRejects(Counts({}), bl, 51, 1, "NC = 51 must not exceed 50.");
  ExpectZapisiRejects(Counts({{2, 1}, {1003, 2}}), bl, 2, 2,
                      "Component 2 has CNT(2, 1) - CNT(1, 1) = 1001 nodes; it must have between 1 and 1000.");
  ExpectZapisiRejects(Counts({{2, 1}, {2, 1}}), bl, 2, 2,
                      "Component 2 has CNT(2, 1) - CNT(1, 1) = 0 nodes; it must have between 1 and 1000.");
  ExpectZapisiRejects(
      Counts({{1000, 1001}}), bl, 1, 3,
      "Component 1 has CNT(1, 2) - CNT(0, 2) = 1001 branches; it must have between 0 and 1000.");
  ExpectZapisiRejects(
      Counts({{3, 2}, {4, 1}}), bl, 2, 3,
      "Component 2 has CNT(2, 2) - CNT(1, 2) = -1 branches; it must have between 0 and 1000.");
  ExpectZapisiRejects(Counts({{10, 160}}), bl, 1, 4, "Component 1 has 151 chords; it must have at most 150.");
  auto bad = bl;
  bad[6 - 1] = 5001; // BL(5..6) are the chords of component 2
  ExpectZapisiRejects(Counts({{2, 3}, {4, 6}}), bad, 2, 5,
                      "BL(6) = 5001, a chord of component 2, must lie between 1 and 5000.");
  // Running totals beyond the host's ORD/PAR and BL, each component within
  // its record's limits.
  ExpectZapisiRejects(EqualComponents(6, 1000, 1000), bl, 6, 7,
                      "CNT(6, 2) = 6000 must not exceed 5000, the length of BL.");
  ExpectZapisiRejects(EqualComponents(50, 1000, 800), bl, 50, 6,
                      "CNT(7, 1) = 7000 must not exceed 6000, the length of ORD and PAR.");
  // Totals of exactly 6000 and 5000 are read to the last entries and kept.
  auto full = EqualComponents(6, 1000, 999);
  full[1000 + 5] = 5000;
  const std::vector<std::int32_t> ord(6000, 1), par(6000, 0);
  const auto nodes = NodesTable({{1, 1}});
  std::int32_t nc = 6;
  EXPECT_EQ(Capture([&] {
              ZapisiPodredeno(full.data(), ord.data(), bl.data(), par.data(), &nc, nodes.data());
            }).stops,
            0);
  EXPECT_EQ(orvek::topology::StoredComponentRecord(6).nbr, 5);
}

// ---- Dense routines -----------------------------------------------------------

TEST(Rejections, DenseOrderBeyond100) {
  std::vector<float> a(100 * 100, 2.0f), b(100 * 100, 3.0f), v(200, 1.0f), p(200, 4.0f), q(200, 4.0f),
      ci(200, 4.0f);
  std::int32_t n = 101;
  ExpectRaised(Capture([&] { Inverzija(a.data(), b.data(), &n); }), "Inverzija", 1,
               "N = 101 must not exceed 100.");
  EXPECT_EQ(a, std::vector<float>(100 * 100, 2.0f));
  ExpectRaised(Capture([&] { OdrediPe(&n, a.data(), b.data(), v.data(), v.data(), p.data()); }), "OdrediPe",
               1, "N = 101 must not exceed 100.");
  ExpectRaised(
      Capture([&] { OdrediSe(&n, a.data(), b.data(), v.data(), v.data(), p.data(), q.data(), ci.data()); }),
      "OdrediSe", 1, "N = 101 must not exceed 100.");
  EXPECT_EQ(p, std::vector<float>(200, 4.0f));
  EXPECT_EQ(q, std::vector<float>(200, 4.0f));
  EXPECT_EQ(ci, std::vector<float>(200, 4.0f));
}

void ExpectMnoziRejects(std::int32_t n, const std::vector<std::int32_t> &ija, std::int32_t code,
                        const std::string &message) {
  const std::vector<float> sa(20000, 1.0f), v(1001, 1.0f);
  std::vector<float> s(2000, 8.0f);
  ExpectRaised(Capture([&] { MNOZI(sa.data(), ija.data(), v.data(), v.data(), s.data(), &n); }), "MNOZI",
               code, message);
  EXPECT_EQ(s, std::vector<float>(2000, 8.0f));
}

TEST(Rejections, Mnozi) {
  ExpectMnoziRejects(1001, std::vector<std::int32_t>(1002, 1003), 1, "N = 1001 must not exceed 1000.");
  ExpectMnoziRejects(2, {5, 5, 6, 2}, 2, "IJA(1) = 5 must equal N + 2 = 4.");
  ExpectMnoziRejects(2, {4, 6, 5, 2, 1}, 3, "IJA(3) = 5 must not be less than IJA(2) = 6.");
  ExpectMnoziRejects(2, {4, 5, 10002}, 4,
                     "IJA(N+1) - 1 = 10001 stored positions exceed the 10000 positions of SA.");
  ExpectMnoziRejects(2, {4, 5, 6, 2, 3}, 5, "IJA(5) = 3 must lie between 1 and N = 2.");
}

// ---- Matrici_VektoriBX -----------------------------------------------------------

void ExpectBxRejects(std::int32_t n, std::int32_t npq, const std::vector<std::int32_t> &nodes,
                     std::int32_t nb, std::int32_t code, const std::string &message) {
  const std::vector<float> z(10000, 0.1f), t(5000, 1.0f);
  std::vector<std::int32_t> irow(16, -1), jcol(16, -1);
  std::vector<float> val(16, -1.0f);
  std::int32_t nz1 = -1, nz2 = -1;
  ExpectRaised(Capture([&] {
                 Matrici_VektoriBX(&n, &npq, z.data(), t.data(), nodes.data(), &nb, irow.data(), jcol.data(),
                                   val.data(), &nz1, irow.data(), jcol.data(), val.data(), &nz2);
               }),
               "Matrici_VektoriBX", code, message);
  EXPECT_EQ(irow, std::vector<std::int32_t>(16, -1));
  EXPECT_EQ(val, std::vector<float>(16, -1.0f));
  EXPECT_EQ(nz1, -1);
  EXPECT_EQ(nz2, -1);
}

TEST(Rejections, MatriciVektoriBX) {
  const auto nodes = NodesTable({{1, 2}, {2, 3}});
  ExpectBxRejects(3, 1, nodes, 5001, 1, "NB = 5001 must not exceed 5000.");
  ExpectBxRejects(
      46341, 1, nodes, 2, 2,
      "N = 46341 must not exceed 46340, the largest node count whose branch keys fit in 32 bits.");
  ExpectBxRejects(3, -1, nodes, 2, 3, "NPQ = -1 must lie between 0 and N = 3.");
  ExpectBxRejects(3, 4, nodes, 2, 3, "NPQ = 4 must lie between 0 and N = 3.");
  ExpectBxRejects(2, 1, nodes, 2, 4, "NODES(2, 2) = 3 must lie between 1 and N = 2.");
}

} // namespace
} // namespace orvek::test::topology
