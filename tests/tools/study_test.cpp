// End-to-end tests of orvek-study: the program is run as a separate process
// (as a user runs it) and its CSV output is compared with independent
// double-precision references computed here: a Newton power flow, the
// published solution of case14, and fault currents from the dense inverse
// of the same admittance matrices. Also: the built-in study is repeatable,
// and bad input gives its clear message and exit status.
#include "reference.hpp"
#include "tools/casefile/matpower.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cf = orvek::casefile;
using orvek::test::Cd;

namespace {

std::string Program() {
  if (const char *env = std::getenv("ORVEK_STUDY")) return env;
#ifdef ORVEK_STUDY_PROGRAM
  return ORVEK_STUDY_PROGRAM;
#else
  return "";
#endif
}

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}
std::string CasePath(const std::string &name) { return CasesDir() + "/" + name; }

#define REQUIRE_PROGRAM()                                                                                        \
  do {                                                                                                           \
    if (Program().empty() || !std::filesystem::exists(Program())) GTEST_SKIP() << "orvek-study is not built";     \
  } while (0)
#define REQUIRE_CASE(name)                                                                                       \
  do {                                                                                                           \
    if (!std::filesystem::exists(CasePath(name))) GTEST_SKIP() << "no case files at " << CasesDir();             \
  } while (0)

std::string Quote(const std::string &s) {
  std::string o = "'";
  for (char c : s) {
    if (c == '\'') o.append("'\\''");
    else o.push_back(c);
  }
  o.push_back('\'');
  return o;
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct RunResult {
  int status = -1;
  std::string out, err;
};

std::string TempPath(const std::string &stem) {
  static int counter = 0;
  return (std::filesystem::temp_directory_path() /
          ("orvek_study_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" + stem))
      .string();
}

RunResult RunStudy(const std::vector<std::string> &args) {
  const std::string out = TempPath("out"), err = TempPath("err");
  std::string cmd = Quote(Program());
  // Appended piece by piece: g++ 12 warns falsely on literal + string here.
  for (const auto &a : args) {
    cmd.append(" ");
    cmd.append(Quote(a));
  }
  cmd.append(" >");
  cmd.append(Quote(out));
  cmd.append(" 2>");
  cmd.append(Quote(err));
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(out);
  r.err = Slurp(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

// CSV rows by record kind (first field); quoted fields are unquoted.
using Rows = std::map<std::string, std::vector<std::vector<std::string>>>;
Rows ParseCsv(const std::string &text) {
  Rows rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::string cur;
    bool q = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (q) {
        if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') cur += '"', ++i;
        else if (c == '"') q = false;
        else cur += c;
      } else if (c == '"') q = true;
      else if (c == ',') f.push_back(cur), cur.clear();
      else cur += c;
    }
    f.push_back(cur);
    rows[f[0]].push_back(f);
  }
  return rows;
}

struct BusResult {
  double vm = 0, va = 0;
};
std::map<int, BusResult> BusResults(const Rows &rows) {
  std::map<int, BusResult> m;
  for (const auto &r : rows.at("bus")) m[std::stoi(r[1])] = {std::stod(r[3]), std::stod(r[4])};
  return m;
}

struct FaultResult {
  double ia, ib, ic;
};
std::map<std::pair<int, std::string>, FaultResult> FaultResults(const Rows &rows) {
  std::map<std::pair<int, std::string>, FaultResult> m;
  for (const auto &r : rows.at("fault")) m[{std::stoi(r[1]), r[2]}] = {std::stod(r[3]), std::stod(r[4]), std::stod(r[5])};
  return m;
}

bool Converged(const Rows &rows) { return rows.at("summary").at(0).at(5) == "true"; }

// ---- Power flow ---------------------------------------------------------------

TEST(StudyPowerFlow, Case14MatchesPublishedSolution) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case14.m");
  const RunResult r = RunStudy({CasePath("case14.m"), "--no-faults", "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Rows rows = ParseCsv(r.out);
  ASSERT_TRUE(Converged(rows));
  const auto buses = BusResults(rows);
  const cf::Case c = cf::ReadCase(CasePath("case14.m"));
  ASSERT_EQ(buses.size(), c.buses.size());
  for (const auto &b : c.buses) {
    EXPECT_NEAR(buses.at(b.number).vm, b.vm, 0.002) << "bus " << b.number;
    EXPECT_NEAR(buses.at(b.number).va, b.va, 0.05) << "bus " << b.number;
  }
}

// Every bus agrees with a double-precision Newton power flow of the same data.
void ExpectMatchesNewton(const cf::Case &c, const std::vector<std::string> &args) {
  const RunResult r = RunStudy(args);
  ASSERT_EQ(r.status, 0) << r.err << r.out.substr(0, 400);
  const Rows rows = ParseCsv(r.out);
  ASSERT_TRUE(Converged(rows));
  const auto buses = BusResults(rows);
  const orvek::test::ReferenceModel m = orvek::test::BuildReference(c);
  const orvek::test::NewtonResult nr = orvek::test::SolveNewton(m);
  ASSERT_TRUE(nr.converged);
  ASSERT_EQ(buses.size(), c.buses.size());
  double worst_v = 0, worst_a = 0;
  for (std::size_t i = 0; i < c.buses.size(); ++i) {
    const BusResult &b = buses.at(c.buses[i].number);
    EXPECT_NEAR(b.vm, nr.vm[i], 1e-4) << c.source << " bus " << c.buses[i].number;
    EXPECT_NEAR(b.va, nr.va_deg[i], 0.01) << c.source << " bus " << c.buses[i].number;
    worst_v = std::max(worst_v, std::fabs(b.vm - nr.vm[i]));
    worst_a = std::max(worst_a, std::fabs(b.va - nr.va_deg[i]));
  }
  testing::Test::RecordProperty("worst_vm_pu", std::to_string(worst_v));
  testing::Test::RecordProperty("worst_va_deg", std::to_string(worst_a));
}

TEST(StudyPowerFlow, CasesMatchNewtonReference) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case14.m");
  for (const char *name : {"case14.m", "case30.m", "case57.m", "case118.m", "case300.m", "case_ACTIVSg500.m"}) {
    SCOPED_TRACE(name);
    ExpectMatchesNewton(cf::ReadCase(CasePath(name)), {CasePath(name), "--no-faults", "--format", "csv"});
  }
}

TEST(StudyPowerFlow, BuiltinMatchesNewtonReference) {
  REQUIRE_PROGRAM();
  const RunResult text = RunStudy({"--write-case"});
  ASSERT_EQ(text.status, 0);
  const cf::Case c = cf::ParseCase(text.out, "built-in");
  EXPECT_EQ(c.buses.size(), 9u);
  ExpectMatchesNewton(c, {"--no-faults", "--format", "csv"});
}

TEST(StudyPowerFlow, IterationLimitIsAFailure) {
  REQUIRE_PROGRAM();
  const RunResult r = RunStudy({"--max-iter", "1", "--tol", "1e-9", "--format", "csv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("orvek-study: the power flow did not converge in 1 iterations"), std::string::npos) << r.err;
  const Rows rows = ParseCsv(r.out);
  EXPECT_FALSE(Converged(rows));
  EXPECT_EQ(rows.count("fault"), 0u); // no fault study on an unsolved network
}

// ---- Faults -------------------------------------------------------------------

struct DenseFaults {
  cf::Case c;
  orvek::test::ReferenceModel m;
  orvek::test::DenseMatrix z1, z0;
};

DenseFaults Dense(const std::string &name) {
  DenseFaults d;
  d.c = cf::ReadCase(CasePath(name));
  d.m = orvek::test::BuildReference(d.c);
  d.z1 = orvek::test::Invert(orvek::test::PositiveSequence(d.c, d.m, 0.2));
  d.z0 = orvek::test::Invert(orvek::test::ZeroSequence(d.c, d.m, 0.2, 3.0));
  return d;
}

// Converts a per-unit current at bus row i to the unit of the report.
double InReportUnit(const DenseFaults &d, int i, double pu, bool per_unit) {
  return per_unit ? pu : pu * d.c.base_mva / (std::sqrt(3.0) * d.m.base_kv[i]);
}

void ExpectFaultsMatchDense(const std::string &name, bool per_unit) {
  const DenseFaults d = Dense(name);
  // Flat pre-fault voltages: I = 1 / Z(K,K), and I = 3 / (Z0 + Z1 + Z2)(K,K).
  const RunResult flat = RunStudy({CasePath(name), "--flat", "--fault", "all", "--format", "csv"});
  ASSERT_EQ(flat.status, 0) << flat.err;
  const Rows fr = ParseCsv(flat.out);
  EXPECT_EQ(fr.at("summary")[0][10], per_unit ? "pu" : "kA");
  const auto f = FaultResults(fr);
  for (std::size_t i = 0; i < d.c.buses.size(); ++i) {
    const int bus = d.c.buses[i].number;
    const int k = static_cast<int>(i);
    const double i3 = InReportUnit(d, k, 1.0 / std::abs(d.z1(k, k)), per_unit);
    const FaultResult &r3 = f.at({bus, "3ph"});
    EXPECT_NEAR(r3.ia / i3, 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_NEAR(r3.ib / i3, 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_NEAR(r3.ic / i3, 1.0, 1e-4) << name << " bus " << bus;
    const double i1 = InReportUnit(d, k, 3.0 / std::abs(d.z0(k, k) + 2.0 * d.z1(k, k)), per_unit);
    const FaultResult &r1 = f.at({bus, "slg"});
    EXPECT_NEAR(r1.ia / i1, 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_LT(r1.ib, 1e-4 * r1.ia); // the sound phases carry no fault current
    EXPECT_LT(r1.ic, 1e-4 * r1.ia);
    // Phase to phase (b-c): |Ib| = |Ic| = sqrt(3) / |Z1 + Z2|; phase a carries nothing.
    const Cd z1 = d.z1(k, k), z0 = d.z0(k, k), a(-0.5, std::sqrt(3.0) / 2.0);
    const double ill = InReportUnit(d, k, std::sqrt(3.0) / std::abs(2.0 * z1), per_unit);
    const FaultResult &rl = f.at({bus, "ll"});
    EXPECT_NEAR(rl.ib / ill, 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_NEAR(rl.ic / ill, 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_LT(rl.ia, 1e-4 * rl.ib);
    // Two phases to earth: I1 = 1 / (Z1 + Z0 Z2 / (Z0 + Z2)), I2 = -I1 Z0/(Z0+Z2), I0 = -I1 Z2/(Z0+Z2).
    const Cd ip = 1.0 / (z1 + z0 * z1 / (z0 + z1)), in = -ip * z0 / (z0 + z1), iz = -ip * z1 / (z0 + z1);
    const FaultResult &rg = f.at({bus, "llg"});
    EXPECT_NEAR(rg.ib / InReportUnit(d, k, std::abs(iz + a * a * ip + a * in), per_unit), 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_NEAR(rg.ic / InReportUnit(d, k, std::abs(iz + a * ip + a * a * in), per_unit), 1.0, 1e-4) << name << " bus " << bus;
    EXPECT_LT(rg.ia, 1e-4 * rg.ib);
  }
  // Power-flow pre-fault voltages: |I| = |E(K)| / |Z(K,K)| with E from the same run.
  const RunResult pf = RunStudy({CasePath(name), "--format", "csv"});
  ASSERT_EQ(pf.status, 0) << pf.err;
  const Rows pr = ParseCsv(pf.out);
  const auto buses = BusResults(pr);
  const auto p = FaultResults(pr);
  for (std::size_t i = 0; i < d.c.buses.size(); ++i) {
    const int bus = d.c.buses[i].number;
    const int k = static_cast<int>(i);
    const double ref = InReportUnit(d, k, buses.at(bus).vm / std::abs(d.z1(k, k)), per_unit);
    EXPECT_NEAR(p.at({bus, "3ph"}).ia / ref, 1.0, 1e-4) << name << " bus " << bus;
  }
}

TEST(StudyFaults, Case14MatchesDenseInverse) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case14.m");
  ExpectFaultsMatchDense("case14.m", true); // baseKV 0: currents in per unit
}

TEST(StudyFaults, Case118MatchesDenseInverse) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case118.m");
  ExpectFaultsMatchDense("case118.m", false);
}

// Branch currents of a single-bus study against V = E - Z(:,K) I1 and the
// two-port currents of every branch.
TEST(StudyFaults, BranchCurrentsOfOneBusMatchDense) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case14.m");
  const DenseFaults d = Dense("case14.m");
  const int bus = 4, k = d.m.row_of_bus.at(bus);
  const RunResult r = RunStudy({CasePath("case14.m"), "--flat", "--node", std::to_string(bus), "--format", "csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Rows rows = ParseCsv(r.out);
  ASSERT_EQ(rows.at("fault").size(), 1u);
  const Cd i1 = 1.0 / d.z1(k, k);
  const int n = d.z1.n;
  std::vector<Cd> v(n);
  for (int i = 0; i < n; ++i) v[i] = 1.0 - d.z1(i, k) * i1;
  // Phase voltages: |Va| = |V1| for a three-phase fault.
  ASSERT_EQ(rows.at("voltage").size(), static_cast<std::size_t>(n));
  for (const auto &row : rows.at("voltage")) {
    const int i = d.m.row_of_bus.at(std::stoi(row[2]));
    EXPECT_NEAR(std::stod(row[3]), std::abs(v[i]), 2e-5) << "bus " << row[2];
  }
  const auto &branches = rows.at("branch");
  ASSERT_EQ(branches.size(), d.c.branches.size());
  for (std::size_t b = 0; b < branches.size(); ++b) {
    const cf::CaseBranch &br = d.c.branches[b];
    ASSERT_EQ(std::stoi(branches[b][2]), br.from);
    ASSERT_EQ(std::stoi(branches[b][3]), br.to);
    const int f = d.m.row_of_bus.at(br.from), t = d.m.row_of_bus.at(br.to);
    const double tap = br.ratio == 0 ? 1.0 : br.ratio;
    const Cd ys = 1.0 / Cd(br.r, br.x), half(0, br.b / 2);
    const Cd ifrom = (ys + half) / (tap * tap) * v[f] - ys / tap * v[t];
    EXPECT_NEAR(std::stod(branches[b][4]), std::abs(ifrom), 1e-4 * std::abs(i1)) << "branch " << b + 1;
  }
}

// ---- The built-in study, output formats and errors ----------------------------

TEST(StudyProgram, BuiltinStudyIsRepeatable) {
  REQUIRE_PROGRAM();
  const RunResult a = RunStudy({}), b = RunStudy({});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.out.rfind("orvek-study: built-in: 9 buses, 13 branches, base 100 MVA; power flow converged in ", 0), 0u)
      << a.out.substr(0, 200);
  EXPECT_NE(a.out.find("Faults: solid"), std::string::npos);
  const RunResult c = RunStudy({"--format", "csv", "--fault", "all"}), e = RunStudy({"--format", "csv", "--fault", "all"});
  EXPECT_EQ(c.out, e.out);
  EXPECT_EQ(ParseCsv(c.out).at("fault").size(), 9u * 4u);
}

TEST(StudyProgram, OutputFileHoldsTheSameResults) {
  REQUIRE_PROGRAM();
  const std::string path = TempPath("result.json");
  const RunResult toFile = RunStudy({"--format", "json", "--output", path});
  const RunResult toOut = RunStudy({"--format", "json"});
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_TRUE(toFile.out.empty());
  EXPECT_EQ(Slurp(path), toOut.out);
  std::filesystem::remove(path);
  for (const char *key : {"\"summary\"", "\"power_flow\"", "\"converged\": true", "\"faults\"", "\"current_unit\": \"kA\""})
    EXPECT_NE(toOut.out.find(key), std::string::npos) << key;
  const RunResult bad = RunStudy({"--output", "/nonexistent/dir/out.txt"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "orvek-study: cannot open /nonexistent/dir/out.txt for writing\n");
}

TEST(StudyProgram, HelpListsEveryOption) {
  REQUIRE_PROGRAM();
  const RunResult r = RunStudy({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *opt : {"--case", "--write-case", "--tol", "--max-iter", "--fault", "--no-faults", "--node", "--flat",
                          "--xd", "--x2", "--x0", "--z0-line", "--xfmr0", "--format", "--output", "--quiet", "--help"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
}

TEST(StudyProgram, BadInputGivesClearErrors) {
  REQUIRE_PROGRAM();
  const std::string bad = TempPath("bad.m");
  {
    std::ofstream f(bad);
    f << "mpc.version = '2';\nmpc.baseMVA = 100;\nmpc.bus = [\n 1 3 0 0 0 0 1 1 0 0 1 1 1;\n 2 1 0 0 0 0 1 1 zero 0 1 1 1;\n];\n";
  }
  const RunResult r = RunStudy({bad});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "orvek-study: " + bad + ":5: \"zero\" in mpc.bus is not a number\n");
  EXPECT_TRUE(r.out.empty());
  std::filesystem::remove(bad);

  const RunResult missing = RunStudy({"/nonexistent/case.m"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvek-study: /nonexistent/case.m: cannot open the case file\n");

  const RunResult usage = RunStudy({"--fault", "3ph,xyz"});
  EXPECT_EQ(usage.status, 64);
  EXPECT_EQ(usage.err, "orvek-study: unknown fault type \"xyz\" in --fault; use 3ph, ll, llg, slg, all or none\n");
  const RunResult tol = RunStudy({"--tol", "-1"});
  EXPECT_EQ(tol.status, 64);
  EXPECT_EQ(tol.err, "orvek-study: --tol must be positive, found -1\n");
  const RunResult node = RunStudy({"--node", "42"});
  EXPECT_EQ(node.status, 1);
  EXPECT_EQ(node.err, "orvek-study: built-in: bus 42 is not in the network\n");
}

TEST(StudyProgram, NetworkAboveCapacityIsRefused) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case1354pegase.m");
  const RunResult r = RunStudy({CasePath("case1354pegase.m")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "orvek-study: " + CasePath("case1354pegase.m") +
                       ": the network has 1354 nodes; the library takes at most 1000\n");
}

TEST(StudyProgram, BaseVoltageZeroGivesPerUnitCurrents) {
  REQUIRE_PROGRAM();
  REQUIRE_CASE("case57.m");
  const RunResult r = RunStudy({CasePath("case57.m")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("fault currents are in per unit"), std::string::npos);
  EXPECT_NE(r.out.find("|Ia| (pu)"), std::string::npos);
  // Every current is non-zero: the fault routine's thresholds did not blank it.
  const auto f = FaultResults(ParseCsv(RunStudy({CasePath("case57.m"), "--format", "csv"}).out));
  ASSERT_EQ(f.size(), 57u);
  for (const auto &[key, v] : f) EXPECT_GT(v.ia, 0.1) << "bus " << key.first;
}

} // namespace
