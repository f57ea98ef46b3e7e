// Tests of orvek-study's engine and command line: input the library cannot
// take is refused before any call with a message naming the bus, branch or
// value; numbers are written whole; the program's messages, exit statuses
// and output files. The numerical results are checked against
// double-precision references in study_reference.py.
#include "tools/study/engine.hpp"
#include "tools/study/report.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace st = orvek::study;

namespace {

std::string Program() {
  if (const char *env = std::getenv("ORVEK_STUDY")) return env;
#ifdef ORVEK_STUDY_PROGRAM
  return ORVEK_STUDY_PROGRAM;
#else
  return "";
#endif
}

#define REQUIRE_PROGRAM()                                                                                        \
  do {                                                                                                           \
    if (Program().empty() || !std::filesystem::exists(Program())) GTEST_SKIP() << "orvek-study is not built";     \
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

std::string TempPath(const std::string &stem) {
  static int counter = 0;
  return (std::filesystem::temp_directory_path() /
          ("orvek_study_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" + stem))
      .string();
}

struct RunResult {
  int status = -1;
  std::string out, err;
};

RunResult RunStudy(const std::vector<std::string> &args) {
  const std::string out = TempPath("out"), err = TempPath("err");
  std::string cmd = Quote(Program());
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

// A three-bus case: reference 1, PV 2, PQ 3; rows given here replace the
// branch table and append buses.
std::string SmallCase(const std::string &branches, const std::string &more_buses = "") {
  return "mpc.version = '2';\nmpc.baseMVA = 100;\nmpc.bus = [\n"
         "1 3 0 0 0 0 1 1 0 110 1 1.1 0.9;\n"
         "2 2 10 2 0 0 1 1 0 110 1 1.1 0.9;\n"
         "3 1 20 5 0 0 1 1 0 110 1 1.1 0.9;\n" +
         more_buses +
         "];\nmpc.gen = [\n1 0 0 100 -100 1.02 100 1 100 0;\n2 5 0 50 -50 1.01 100 1 100 0;\n];\n"
         "mpc.branch = [\n" +
         branches + "];\n";
}
const std::string kLines = "1 2 0.01 0.1 0.02 0 0 0 0 0 1 -360 360;\n2 3 0.01 0.1 0.02 0 0 0 0 0 1 -360 360;\n";

std::string CaseError(const std::string &text, const st::FaultOptions *faults = nullptr) {
  try {
    const st::StudyCase c = st::MakeCase(orvek::casefile::ParseCase(text, "t.m"));
    if (faults == nullptr) return "accepted";
    const st::PowerFlowResult pf = st::SolvePowerFlow(c, {});
    (void)st::ComputeFaultLevels(c, *faults, st::PrefaultVoltages(c, &pf), {});
    return "accepted";
  } catch (const std::exception &e) {
    return e.what();
  }
}

TEST(StudyChecks, WhatTheLibraryCannotTakeIsRefusedByName) {
  const std::string range = " is outside the range the single-precision routines take (0, or 1e-12 to 1e+12 in magnitude)";
  struct Row {
    std::string text, message;
  } rows[] = {
      {SmallCase(kLines), "accepted"},
      {SmallCase(kLines, "4 1 0 0 0 0 1 1 0 110 1 1.1 0.9;\n"),
       "t.m: bus 4 has no branch in service: give it type 4 (isolated) or connect it"},
      {SmallCase(kLines + "4 5 0.01 0.1 0 0 0 0 0 0 1 -360 360;\n",
                 "4 1 0 0 0 0 1 1 0 110 1 1.1 0.9;\n5 1 1 0 0 0 1 1 0 110 1 1.1 0.9;\n"),
       "t.m: bus 4 is not connected to the reference bus 1 by branches in service (an island without a reference "
       "bus)"},
      {SmallCase("1 2 0.01 1e-50 0 0 0 0 0 0 1 -360 360;\n2 3 0.01 0.1 0 0 0 0 0 0 1 -360 360;\n"),
       "t.m: branch 1 (bus 1 to bus 2, line 13): x = 1e-50" + range},
      {SmallCase("1 2 0.01 0 0 0 0 0 0 0 1 -360 360;\n2 3 0.01 0.1 0 0 0 0 0 0 1 -360 360;\n"),
       "t.m: branch 1 (bus 1 to bus 2, line 13) has x = 0: the fast decoupled power flow needs a non-zero reactance"},
      {SmallCase("1 2 0 0 0 0 0 0 0 0 1 -360 360;\n2 3 0.01 0.1 0 0 0 0 0 0 1 -360 360;\n"),
       "t.m:13: branch has zero impedance (r = x = 0)"},
      {SmallCase("1 2 0.01 0.1 3e15 0 0 0 0 0 1 -360 360;\n2 3 0.01 0.1 0 0 0 0 0 0 1 -360 360;\n"),
       "t.m: branch 1 (bus 1 to bus 2, line 13): b = 3e+15" + range},
  };
  for (const Row &r : rows) EXPECT_EQ(CaseError(r.text), r.message);

  st::FaultOptions z0;
  z0.line_z0 = 1e300;
  EXPECT_EQ(CaseError(SmallCase(kLines), &z0),
            "t.m: branch 1 (bus 1 to bus 2, line 13): the zero-sequence impedance with --z0-line 1e+300 (real part) = 1e+298" +
                range);
  st::FaultOptions xd;
  xd.xd = 1e-300;
  EXPECT_EQ(CaseError(SmallCase(kLines), &xd),
            "t.m: generator at bus 1 (line 9): the susceptance -1/x with --xd 1e-300 = -1e+300" + range);
  try {
    (void)st::LoadCase("");
    ADD_FAILURE() << "an empty path must be refused";
  } catch (const st::StudyError &e) {
    EXPECT_STREQ(e.what(), "the case file name is empty");
  }
}

TEST(StudyOutput, NumbersAreNeverCut) {
  st::Table t;
  t.name = "faults";
  t.columns = {{"bus", st::Kind::kInteger}, {"ia", st::Kind::kReal}};
  for (const auto &[bus, ia] : {std::pair{1LL, 1.364e303}, std::pair{2LL, -2.5e-300}}) {
    t.rows.emplace_back(2);
    t.rows.back()[0].emplace<long long>(bus);
    t.rows.back()[1].emplace<double>(ia);
  }
  std::ostringstream text, csv, json;
  st::WriteText(text, {t});
  st::WriteCsv(csv, t);
  st::WriteJson(json, {t});
  EXPECT_EQ(text.str(), "faults (2 rows):\n  bus            ia\n    1   1.3640e+303\n    2  -2.5000e-300\n");
  EXPECT_EQ(csv.str(), "bus,ia\n1,1.364e+303\n2,-2.5e-300\n");
  EXPECT_EQ(json.str(), "{\n  \"faults\": [\n    {\"bus\": 1, \"ia\": 1.364e+303},\n    {\"bus\": 2, \"ia\": -2.5e-300}\n  ]\n}\n");
}

// ---- The program -------------------------------------------------------------

TEST(StudyProgram, BuiltinStudyIsRepeatable) {
  REQUIRE_PROGRAM();
  const RunResult a = RunStudy({}), b = RunStudy({});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.out.rfind("summary:\n  case: built-in\n  buses: 9\n  branches: 13\n", 0), 0u) << a.out.substr(0, 200);
  for (const char *table : {"\nbuses (9 rows):", "\nbranches (13 rows):", "\ngenerators (3 rows):", "\nfaults (9 rows):"})
    EXPECT_NE(a.out.find(table), std::string::npos) << table;
}

TEST(StudyProgram, OutputDirectoryHoldsOneFilePerTable) {
  REQUIRE_PROGRAM();
  const std::string dir = TempPath("tables");
  const RunResult r = RunStudy({"--format", "csv", "--fault", "all", "--node", "5", "--output", dir});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  const std::pair<const char *, int> tables[] = {{"summary", 1},     {"notes", 1},           {"buses", 9},
                                                 {"branches", 13},   {"generators", 3},      {"faults", 4},
                                                 {"fault_voltages", 36}, {"fault_branches", 52}};
  for (const auto &[name, rows] : tables) {
    const std::string text = Slurp(dir + "/" + name + ".csv");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), rows + 1) << name;
    const RunResult one = RunStudy({"--format", "csv", "--fault", "all", "--node", "5", "--table", name});
    EXPECT_EQ(one.out, text) << name;
  }
  std::filesystem::remove_all(dir);
}

TEST(StudyProgram, MessagesAndExitStatus) {
  REQUIRE_PROGRAM();
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {{""}, 1, "orvek-study: the case file name is empty\n"},
      {{"--case", ""}, 1, "orvek-study: the case file name is empty\n"},
      {{"/nonexistent/case.m"}, 1, "orvek-study: /nonexistent/case.m: cannot open the case file\n"},
      {{"--fault", "3ph,xyz"}, 64, "orvek-study: unknown fault type \"xyz\" in --fault; use 3ph, ll, llg, slg, all or none\n"},
      {{"--tol", "-1"}, 64, "orvek-study: --tol must be positive, found -1\n"},
      {{"--format", "csv"}, 64, "orvek-study: CSV on standard output needs --table NAME (or --output DIR for every table)\n"},
      {{"--node", "42"}, 1, "orvek-study: built-in: bus 42 is not in the network\n"},
      {{"--table", "nothing"}, 1, "orvek-study: this study has no table \"nothing\"\n"},
      {{"--z0-line", "1e300", "-q"}, 1,
       "orvek-study: built-in: branch 1 (bus 1 to bus 2, line 32): the zero-sequence impedance with --z0-line 1e+300 (real "
       "part) = 1.65e+298 is outside the range the single-precision routines take (0, or 1e-12 to 1e+12 in "
       "magnitude)\n"},
      {{"--max-iter", "1", "--flat-start", "--flat", "-q"}, 2, ""},
  };
  for (const Row &r : rows) {
    const RunResult got = RunStudy(r.args);
    EXPECT_EQ(got.status, r.status) << r.args[0];
    if (r.status == 2)
      EXPECT_EQ(got.err.rfind("orvek-study: the power flow did not converge in 1 iterations", 0), 0u) << got.err;
    else
      EXPECT_EQ(got.err, r.err);
  }
}

TEST(StudyProgram, HelpListsEveryOption) {
  REQUIRE_PROGRAM();
  const RunResult r = RunStudy({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *opt : {"--case", "--write-case", "--tol", "--max-iter", "--flat-start", "--q-limits", "--fault",
                          "--no-faults", "--node", "--buses", "--refine-faults", "--flat", "--xd", "--x2", "--x0", "--z0-line", "--xfmr0",
                          "--format", "--output", "--table", "--quiet", "--progress", "--help"})
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
}

} // namespace
