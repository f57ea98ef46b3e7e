// Tests of the case-file reader: parsing of the table syntax, per-unit
// network building (pi-equivalents of off-nominal transformers checked
// against the two-port equations in double precision), host layouts,
// capacity limits and the file/line of every malformed-input message.
#include "tools/casefile/matpower.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace cf = orvek::casefile;

namespace {

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

std::string CasePath(const std::string &name) { return CasesDir() + "/" + name; }

// A small case with the odd bits of the format: comments, a cell array, an
// extra table, commas, two rows on one line, a continued row, Inf limits,
// non-contiguous bus numbers, an out-of-service branch, a transformer.
const char *kSmallCase = R"(function mpc = small
% header comment
mpc.version = '2';
mpc.baseMVA = 50;   % system base

mpc.bus = [
  10  3  0   0   0  0   1 1.02 0    138 1 1.1 0.9;
  20  1  25  10  5  -2.5 1 1.0 -3.5 138 1 1.1 0.9;  % a load with a shunt
  7   2  5, 1, 0, 0, 1, 1.01, -1, 69, 1, 1.1, 0.9; 30 1 0 0 0 0 1 1 0 69 ...
     1 1.1 0.9;
];
mpc.gen = [
  10 40 0 Inf -Inf 1.02 100 1 80 0;
  7  10 2 20  -20  1.01 0   1 20 0;
];
mpc.branch = [
  10 20 0.01 0.1 0.02 0 0 0 0    0 1 -360 360;
  20 7  0    0.2 0    0 0 0 1.05 0 1 -360 360;
  7  30 0.02 0.3 0.04 0 0 0 0    0 1 -360 360;
  10 30 0.02 0.3 0.04 0 0 0 0    0 0 -360 360;
];
mpc.gencost = [
  2 0 0 3 0.01 20 0;
  2 0 0 3 0.01 20 0;
];
mpc.bus_name = {
  'ten; [strange] % name';
  'twenty';
};
)";

TEST(CaseParse, ReadsTablesCommentsAndLayouts) {
  const cf::Case c = cf::ParseCase(kSmallCase, "small.m");
  EXPECT_EQ(c.name, "small");
  EXPECT_EQ(c.base_mva, 50);
  ASSERT_EQ(c.buses.size(), 4u);
  ASSERT_EQ(c.generators.size(), 2u);
  ASSERT_EQ(c.branches.size(), 4u);
  EXPECT_EQ(c.buses[0].number, 10);
  EXPECT_EQ(c.buses[0].type, cf::BusType::kReference);
  EXPECT_EQ(c.buses[1].gs, 5);
  EXPECT_EQ(c.buses[1].bs, -2.5);
  EXPECT_EQ(c.buses[1].line, 8);
  EXPECT_EQ(c.buses[2].number, 7);
  EXPECT_EQ(c.buses[2].base_kv, 69);
  EXPECT_EQ(c.buses[3].number, 30);
  EXPECT_EQ(c.buses[3].line, 9);
  EXPECT_TRUE(std::isinf(c.generators[0].qmax));
  EXPECT_EQ(c.branches[1].ratio, 1.05);
  EXPECT_EQ(c.branches[3].status, 0);
  EXPECT_EQ(c.branches[3].line, 20);
}

TEST(CaseNetwork, MapsBusesToNodesAndPerUnit) {
  const cf::Network net = cf::BuildNetwork(cf::ParseCase(kSmallCase, "small.m"));
  ASSERT_EQ(net.n, 4);
  EXPECT_EQ(net.nb(), 3); // the opened branch is left out
  EXPECT_EQ(net.NodeOfBus(10), 1);
  EXPECT_EQ(net.NodeOfBus(20), 2);
  EXPECT_EQ(net.NodeOfBus(7), 3);
  EXPECT_EQ(net.NodeOfBus(30), 4);
  EXPECT_THROW((void)net.NodeOfBus(99), cf::CaseError);
  EXPECT_EQ(net.reference, 1);
  EXPECT_EQ(net.npq, 2);
  EXPECT_EQ(net.npv, 1);
  EXPECT_DOUBLE_EQ(net.pd[1], 0.5);
  EXPECT_DOUBLE_EQ(net.qd[1], 0.2);
  EXPECT_DOUBLE_EQ(net.gs[1], 0.1);
  EXPECT_DOUBLE_EQ(net.bs[1], -0.05);
  EXPECT_DOUBLE_EQ(net.pg[0], 0.8);
  EXPECT_DOUBLE_EQ(net.vm_set[2], 1.01);
  EXPECT_DOUBLE_EQ(net.generators[1].mbase, 50); // mBase 0 means the system base

  const cf::Network pf = cf::BuildNetwork(cf::ParseCase(kSmallCase, "small.m"), cf::NodeOrder::kPowerFlow);
  // PQ buses 20, 30 first, then PV bus 7, then the reference bus 10.
  EXPECT_EQ(pf.bus_of_node, (std::vector<std::int32_t>{20, 30, 7, 10}));
  EXPECT_EQ(pf.reference, 4);
  EXPECT_EQ(pf.branches[0].from, 4);
  EXPECT_EQ(pf.branches[0].to, 1);
}

// The pi-equivalent of a branch must reproduce the two-port currents of an
// ideal t:1 transformer at the from end in series with z and the line charging.
TEST(CaseNetwork, TransformerPiEquivalentMatchesTwoPort) {
  const char *text = R"(mpc.version = '2';
mpc.baseMVA = 100;
mpc.bus = [ 1 3 0 0 0 0 1 1 0 0 1 1 1; 2 1 0 0 0 0 1 1 0 0 1 1 1 ];
mpc.gen = [ 1 0 0 0 0 1 100 1 0 0 ];
mpc.branch = [ 1 2 0.03 0.4 0.1 0 0 0 0.93 0 1 -360 360 ];
)";
  const cf::Network net = cf::BuildNetwork(cf::ParseCase(text, "t.m"));
  ASSERT_EQ(net.nb(), 1);
  const cf::NetworkBranch &b = net.branches[0];
  using C = std::complex<double>;
  const C v1(1.02, 0.1), v2(0.97, -0.05);
  const C y = 1.0 / C(0.03, 0.4), half(0, 0.05);
  const double t = 0.93;
  const C i1 = (y + half) / (t * t) * v1 - y / t * v2;
  const C i2 = -y / t * v1 + (y + half) * v2;
  const C ys = 1.0 / b.z;
  const C p1 = (ys + b.ya) * v1 - ys * v2;
  const C p2 = -ys * v1 + (ys + b.yb) * v2;
  EXPECT_NEAR(std::abs(p1 - i1), 0.0, 1e-12);
  EXPECT_NEAR(std::abs(p2 - i2), 0.0, 1e-12);
  EXPECT_DOUBLE_EQ(b.ratio, 0.93);

  const cf::HostArrays h = cf::MakeHostArrays(net);
  ASSERT_EQ(h.ld, 5000);
  EXPECT_EQ(h.nodes[0], 1);
  EXPECT_EQ(h.nodes[5000], 2);
  EXPECT_FLOAT_EQ(h.z[0], static_cast<float>(0.03 * t));
  EXPECT_FLOAT_EQ(h.z[5000], static_cast<float>(0.4 * t));
  EXPECT_FLOAT_EQ(h.z_bx[0], 0.03f);
  EXPECT_FLOAT_EQ(h.z_bx[5000], 0.4f);
  EXPECT_FLOAT_EQ(h.t[0], 0.93f);
  EXPECT_FLOAT_EQ(h.ya[5000], static_cast<float>(b.ya.imag()));
  EXPECT_FLOAT_EQ(h.yb[0], static_cast<float>(b.yb.real()));
}

TEST(CaseNetwork, LineIsSymmetricPi) {
  const cf::Network net = cf::BuildNetwork(cf::ParseCase(kSmallCase, "small.m"));
  const cf::NetworkBranch &line = net.branches[0];
  EXPECT_EQ(line.ya, std::complex<double>(0.0, 0.01));
  EXPECT_EQ(line.ya, line.yb);
  EXPECT_EQ(line.z, std::complex<double>(0.01, 0.1));
}

TEST(CaseNetwork, ShuntsAndUnboundedLayout) {
  const cf::Network net = cf::BuildNetwork(cf::ParseCase(kSmallCase, "small.m"));
  const cf::HostArrays h = cf::MakeUnboundedArrays(net);
  EXPECT_EQ(h.ld, 3);
  EXPECT_EQ(h.nodes[3], 2); // second end of branch 1 at ld
  EXPECT_EQ(h.nsh, 1);
  EXPECT_EQ(h.ksh[0], 2);
  EXPECT_FLOAT_EQ(h.bsh[0], -0.05f);
  EXPECT_FLOAT_EQ(h.gsh[1], 0.1f);
  EXPECT_EQ(cf::CountMatrixEntries(net), 4 + 2 * 3);
}

TEST(CaseNetwork, PhaseShiftIsReportedAndPvWithoutGeneratorDemoted) {
  const char *text = R"(mpc.version = '2';
mpc.baseMVA = 100;
mpc.bus = [ 1 3 0 0 0 0 1 1 0 0 1 1 1; 2 2 0 0 0 0 1 1 0 0 1 1 1 ];
mpc.gen = [ 1 0 0 0 0 1 100 1 0 0; 2 0 0 0 0 1 100 0 0 0 ];
mpc.branch = [ 1 2 0.03 0.4 0.1 0 0 0 1 -5 1 -360 360 ];
)";
  const cf::Network net = cf::BuildNetwork(cf::ParseCase(text, "ps.m"));
  EXPECT_DOUBLE_EQ(net.branches[0].shift_deg, -5);
  EXPECT_EQ(net.type[1], cf::BusType::kPQ);
  ASSERT_EQ(net.warnings.size(), 2u);
  EXPECT_NE(net.warnings[0].find("no generator in service"), std::string::npos);
  EXPECT_NE(net.warnings[1].find("phase shift"), std::string::npos);
}

// Every malformed input names the file and the line.
struct Malformed {
  const char *text;
  const char *message;
};

TEST(CaseErrors, MalformedInputNamesFileAndLine) {
  const std::string head = "mpc.version = '2';\nmpc.baseMVA = 100;\n";
  const std::string bus = "mpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1 1;\n 2 1 0 0 0 0 1 1 0 0 1 1 1;\n];\n";
  const std::string gen = "mpc.gen = [ 1 0 0 0 0 1 100 1 0 0 ];\n";
  const std::string br = "mpc.branch = [ 1 2 0.01 0.1 0 0 0 0 0 0 1 ];\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {head + "mpc.bus = [\n 1 3 0 0 0 x 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m:4: \"x\" in mpc.bus is not a number"},
      {head + "mpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1 1;\n 2 1 0 0 0 0 1 1 0 0 1 1;\n];\n" + gen + br,
       "bad.m:5: row of mpc.bus has 12 values; the table's first row has 13"},
      {head + "mpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1;\n];\n" + gen + br,
       "bad.m:4: row of mpc.bus has 12 values; at least 13 are required"},
      {head + bus + gen + "mpc.branch = [\n 1 2 0.01 0.1 0 0 0 0 0 0 1;\n", "bad.m:8: the table mpc.branch is not closed with \"];\""},
      {"mpc.version = '1';\nmpc.baseMVA = 100;\n" + bus + gen + br,
       "bad.m:1: case format version '1' is not supported; only version 2 is"},
      {"mpc.version = '2';\n" + bus + gen + br, "bad.m: mpc.baseMVA is missing"},
      {head + bus + br, "bad.m: the table mpc.gen is missing"},
      {head + "mpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1 1;\n 1 1 0 0 0 0 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m:5: bus 1 is defined twice (first on line 4)"},
      {head + bus + gen + "mpc.branch = [ 1 3 0.01 0.1 0 0 0 0 0 0 1 ];\n",
       "bad.m:8: branch to bus 3, which is not in mpc.bus"},
      {head + bus + "mpc.gen = [ 4 0 0 0 0 1 100 1 0 0 ];\n" + br,
       "bad.m:7: generator at bus 4, which is not in mpc.bus"},
      {head + bus + gen + "mpc.branch = [ 1 2 0 0 0 0 0 0 0 0 1 ];\n", "bad.m:8: branch has zero impedance (r = x = 0)"},
      {head + "mpc.bus = [\n 1 5 0 0 0 0 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m:4: bus 1 has type 5; types are 1 (PQ), 2 (PV), 3 (reference) and 4 (isolated)"},
      {head + "mpc.bus = [\n 1 1 0 0 0 0 1 1 0 0 1 1 1;\n 2 1 0 0 0 0 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m: the case has no reference bus (type 3)"},
      {head + "x = 3;\n" + bus + gen + br, "bad.m:3: unexpected text \"x = 3;\"; expected an assignment mpc.NAME = ..."},
      {"mpc.version = '2';\nmpc.baseMVA = -1;\n", "bad.m:2: baseMVA must be a positive number, found \"-1\""},
      {head + bus + gen + "mpc.branch = [ 1 2 0.01 0.1 0 0 0 0 0 0 1.5 ];\n",
       "bad.m:8: status must be an integer, found 1.5"},
      {head + bus + gen + "mpc.branch = [ 1 2 0.01 NaN 0 0 0 0 0 0 1 ];\n", "bad.m:8: x must be finite, found nan"},
      // Hostile text: control bytes refused by name, quoted text escaped and cut.
      {head + "mpc.bus = [\n 1 3 0 0 \x1b[2J 0 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m:4: byte \\x1B is a control character; a case file is text"},
      {head + std::string("mpc.bus = [\0\n", 13),
       "bad.m:3: byte \\x00 is a control character; a case file is text"},
      {head + "mpc.bus = [\n 1 3 0 0 0 \xff\xfe 1 1 0 0 1 1 1;\n];\n" + gen + br,
       "bad.m:4: \"\\xFF\\xFE\" in mpc.bus is not a number"},
      {head + std::string(100, 'z') + "\n",
       "bad.m:3: unexpected text \"" + std::string(60, 'z') +
           "... (40 more bytes)\"; expected an assignment mpc.NAME = ..."},
      // Rows are checked as they end: a wrong width before a later table's error.
      {head + "mpc.gen = [ 1 0 0 ];\nmpc.bus = [ 1 x ];\n",
       "bad.m:3: row of mpc.gen has 3 values; at least 10 are required"},
  };
  for (const auto &m : cases) {
    try {
      (void)cf::BuildNetwork(cf::ParseCase(m.text, "bad.m"));
      ADD_FAILURE() << "accepted:\n" << m.text;
    } catch (const cf::CaseError &e) {
      EXPECT_EQ(std::string(e.what()), m.message) << m.text;
    }
  }
}

// Line ends LF, CR LF and a lone CR read alike, with the same line numbers.
TEST(CaseParse, EveryLineEndReadsAlike) {
  const cf::Case lf = cf::ParseCase(kSmallCase, "small.m");
  for (const char *end : {"\r\n", "\r"}) {
    std::string text;
    for (const char *c = kSmallCase; *c != 0; ++c) text += *c == '\n' ? std::string(end) : std::string(1, *c);
    const cf::Case other = cf::ParseCase(text, "small.m");
    ASSERT_EQ(other.buses.size(), lf.buses.size());
    ASSERT_EQ(other.branches.size(), lf.branches.size());
    for (std::size_t i = 0; i < lf.buses.size(); ++i) {
      EXPECT_EQ(other.buses[i].number, lf.buses[i].number);
      EXPECT_EQ(other.buses[i].line, lf.buses[i].line);
    }
    EXPECT_EQ(other.branches[3].line, lf.branches[3].line);
  }
}

// What is not a readable case file is refused by name, and before more
// than 64 MiB are read: a directory, an empty name, a file that is too
// large (refused by its size, unread) and an endless device.
TEST(CaseErrors, FilesThatAreNoCaseFiles) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("orvek-casefile-test-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string big = (dir / "big.m").string();
  std::ofstream(big).put('%');
  fs::resize_file(big, (std::uintmax_t{64} << 20) + 1);
  const std::string too_large =
      ": the case file is larger than 67108864 bytes (64 MiB), the most that is read";
  const struct {
    std::string path, message;
  } files[] = {
      {dir.string(), dir.string() + ": is a directory, not a case file"},
      {"", "the case file name is empty"},
      {big, big + too_large},
      {"/dev/zero", "/dev/zero" + too_large},
  };
  for (const auto &f : files) {
    if (!fs::exists(f.path) && !f.path.empty()) continue;
    try {
      (void)cf::ReadCase(f.path);
      ADD_FAILURE() << "accepted " << f.path;
    } catch (const cf::CaseError &e) {
      EXPECT_EQ(std::string(e.what()), f.message);
    }
  }
  fs::remove_all(dir);
}

TEST(CaseErrors, MissingFileAndCapacity) {
  try {
    (void)cf::ReadCase("/nonexistent/dir/none.m");
    ADD_FAILURE();
  } catch (const cf::CaseError &e) {
    EXPECT_EQ(std::string(e.what()), "/nonexistent/dir/none.m: cannot open the case file");
  }
  const std::string path = CasePath("case1354pegase.m");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no case files at " << CasesDir();
  const cf::Network net = cf::BuildNetwork(cf::ReadCase(path));
  EXPECT_EQ(net.n, 1354);
  try {
    (void)cf::MakeHostArrays(net);
    ADD_FAILURE();
  } catch (const cf::CaseError &e) {
    EXPECT_EQ(std::string(e.what()), path + ": the network has 1354 nodes; the library takes at most 1000");
  }
  const cf::HostArrays h = cf::MakeUnboundedArrays(net);
  EXPECT_EQ(h.n, 1354);
  EXPECT_EQ(h.ld, net.nb());
}

// Every shared case file reads; counts match the tables.
TEST(CaseFiles, AllSharedCasesRead) {
  if (!std::filesystem::exists(CasePath("case14.m"))) GTEST_SKIP() << "no case files at " << CasesDir();
  const struct {
    const char *file;
    int buses, branches;
  } expected[] = {{"case9.m", 9, 9},       {"case14.m", 14, 20},    {"case30.m", 30, 41},
                  {"case57.m", 57, 80},    {"case118.m", 118, 186}, {"case300.m", 300, 411},
                  {"case89pegase.m", 89, 210}, {"case_ACTIVSg200.m", 200, 245},
                  {"case_ACTIVSg500.m", 500, 597}};
  for (const auto &e : expected) {
    const cf::Case c = cf::ReadCase(CasePath(e.file));
    EXPECT_EQ(static_cast<int>(c.buses.size()), e.buses) << e.file;
    EXPECT_EQ(static_cast<int>(c.branches.size()), e.branches) << e.file;
    const cf::Network net = cf::BuildNetwork(c);
    EXPECT_EQ(net.n, e.buses) << e.file;
    const cf::HostArrays h = cf::MakeHostArrays(net); // all fit the capacities
    EXPECT_EQ(h.nb, net.nb()) << e.file;
  }
  const cf::Case c14 = cf::ReadCase(CasePath("case14.m"));
  EXPECT_EQ(c14.buses[8].number, 9);
  EXPECT_EQ(c14.buses[8].bs, 19);
  EXPECT_EQ(c14.buses[8].line, 33);
  EXPECT_EQ(c14.generators.size(), 5u);
  EXPECT_EQ(c14.branches[7].ratio, 0.978);
}

} // namespace
