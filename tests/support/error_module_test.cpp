// The error module: where and when messages are printed, their exact text,
// line breaking, placeholders, the traceback, the stack limits, the misuse
// errors of N1RCD, L15XG and E1POP, and the stop observed from outside.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "support/error_module.hpp"

namespace {

using orvek::ErrorModule;
using orvek::kFatal;
using orvek::kNote;
using orvek::kTerminal;
using orvek::kWarning;
using orvek::test::ErrorCapture;
using orvek::test::RunInChild;

const std::string kTraceHead = "     Here is a traceback of subprogram calls in reverse order:\n"
                               "     Routine name                    Error type  Error code\n"
                               "     ------------                    ----------  ----------\n";
const std::string kStopLine = "Stop - Program terminated.\n";

// One traceback line built independently: name in 32 columns, type and code
// right-aligned in 6 columns with six blanks between.
std::string TraceLine(const std::string &name, int type, int code, bool internal) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "     %-32s%6d      %6d%s\n", name.c_str(), type, code,
                internal ? "    (Called internally)" : "");
  return buffer;
}

// "R<level>", the routine name used at each level of the stack tests.
std::string LevelName(int level) {
  std::string name(1, 'R');
  name += std::to_string(level);
  return name;
}

// ---- Defaults and the initial state ------------------------------------

TEST(ErrorModuleState, InitialLevelsAndFlags) {
  ErrorModule err;
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(err.routine_at(1), "USER");
  EXPECT_EQ(err.type_at(1), 0);
  EXPECT_EQ(err.code_at(1), 0);
  for (int level = 2; level <= ErrorModule::kMaxDepth; ++level) {
    EXPECT_EQ(err.type_at(level), -1) << level;
    EXPECT_EQ(err.code_at(level), -1) << level;
  }
  const bool print[] = {false, false, true, true, true, true, true};
  const bool stop[] = {false, false, false, true, true, false, true};
  for (int type = 1; type <= 7; ++type) {
    EXPECT_EQ(err.print_flag(type), print[type - 1]) << type;
    EXPECT_EQ(err.stop_flag(type), stop[type - 1]) << type;
  }
  EXPECT_FALSE(err.print_flag(0));
  EXPECT_FALSE(err.print_flag(8));
  EXPECT_TRUE(err.pending_message().empty());
}

TEST(ErrorModuleState, SwitchesChangeOnlyTheirType) {
  ErrorModule err;
  err.set_print(kWarning, false);
  err.set_stop(kTerminal, false);
  err.set_print(9, true); // ignored
  EXPECT_FALSE(err.print_flag(kWarning));
  EXPECT_TRUE(err.print_flag(6));
  EXPECT_FALSE(err.stop_flag(kTerminal));
  EXPECT_TRUE(err.stop_flag(kFatal));
  EXPECT_FALSE(err.print_flag(9));
}

TEST(ErrorModuleState, ProcessWideInstanceIsOne) {
  EXPECT_EQ(&orvek::errors(), &orvek::errors());
  EXPECT_EQ(orvek::errors().routine_at(1), "USER");
}

// ---- Where and when a message is printed -------------------------------

TEST(ErrorModulePrinting, WarningThreeLevelsDownPrintsOnceAtTheUser) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1PSH("MIDDLE");
  err.E1PSH("INNER");
  err.SetIntegerPlaceholder(1, 12);
  err.E1MES(kWarning, 4, "Row %(I1) has no entries.");
  EXPECT_EQ(err.pending_message(), "Row 12 has no entries.");
  err.E1POP("INNER");
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(err.N1RCD(1), 4); // MIDDLE sees the code INNER left
  EXPECT_EQ(err.type_at(3), kWarning);
  err.E1POP("MIDDLE");
  EXPECT_EQ(cap.text, "");
  err.E1POP("OUTER");
  EXPECT_EQ(cap.take(), "\n *** WARNING  ERROR 4 from OUTER.  Row 12 has no entries.\n");
  EXPECT_EQ(cap.stops, 0);
  EXPECT_EQ(err.depth(), 1);
  EXPECT_TRUE(err.pending_message().empty());
  EXPECT_EQ(err.last_message(), "Row 12 has no entries.");
  EXPECT_EQ(err.last_routine(), "INNER");
  EXPECT_EQ(err.last_type(), kWarning);
  EXPECT_EQ(err.last_code(), 4);
  // Never printed twice: another frame without an error prints nothing.
  err.E1PSH("OUTER");
  err.E1POP("OUTER");
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(err.type_at(1), kWarning);
  EXPECT_EQ(err.code_at(1), 4);
}

TEST(ErrorModulePrinting, WarningLetsTheProcessGoOn) {
  const auto child = RunInChild([] {
    ErrorModule &err = orvek::errors();
    err.E1PSH("OUTER");
    err.E1PSH("MIDDLE");
    err.E1PSH("INNER");
    err.E1MES(kWarning, 2, "Small pivot.");
    err.E1POP("INNER");
    err.E1POP("MIDDLE");
    std::fputs("inside\n", stdout);
    err.E1POP("OUTER");
    std::fputs("returned\n", stdout);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output, "inside\n\n *** WARNING  ERROR 2 from OUTER.  Small pivot.\nreturned\n");
  EXPECT_EQ(child.exit_status, 0);
}

TEST(ErrorModulePrinting, NoteIsNeitherPrintedNorPassedUp) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1PSH("INNER");
  err.E1MES(kNote, 3, "Just a note.");
  err.E1POP("INNER");
  EXPECT_EQ(err.type_at(2), 0);
  EXPECT_EQ(err.N1RCD(0), 0);
  EXPECT_EQ(err.N1RCD(1), 3);
  err.E1POP("OUTER");
  EXPECT_EQ(cap.text, "");
  // With its print flag on, a NOTE raised by the routine the user called is printed.
  err.set_print(kNote, true);
  err.E1PSH("OUTER");
  err.E1MES(kNote, 3, "Just a note.");
  err.E1POP("OUTER");
  EXPECT_EQ(cap.take(), "\n *** NOTE     ERROR 3 from OUTER.  Just a note.\n");
}

TEST(ErrorModulePrinting, FatalPrintsWithTracebackAndStopsAtTheUser) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1PSH("INNER");
  err.E1MES(kFatal, 7, "Singular.");
  err.E1POP("INNER");
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(cap.stops, 0);
  err.E1POP("OUTER");
  EXPECT_EQ(cap.take(), "\n *** FATAL    ERROR 7 from OUTER.  Singular.\n" + kTraceHead +
                            TraceLine("OUTER", 4, 7, false) + TraceLine("USER", 4, 7, false));
  EXPECT_EQ(cap.stops, 1);
}

TEST(ErrorModulePrinting, TerminalPrintsWhenRaisedAndStopsAtItsReturn) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1PSH("INNER");
  err.SetIntegerPlaceholder(1, -4);
  err.E1MES(kTerminal, 3, "Bad N = %(I1).");
  EXPECT_EQ(cap.take(), "\n *** TERMINAL ERROR 3 from INNER.  Bad N = -4.\n" + kTraceHead +
                            TraceLine("INNER", 5, 3, true) + TraceLine("OUTER", 0, 0, false) +
                            TraceLine("USER", 0, 0, false));
  EXPECT_EQ(cap.stops, 0);
  err.E1POP("INNER"); // the stop comes here, not at the user level
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(cap.text, "");
  err.E1POP("OUTER");
  EXPECT_EQ(cap.stops, 2);
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(err.depth(), 1);
}

TEST(ErrorModulePrinting, TerminalTracebackAndStopSeenFromOutside) {
  const auto child = RunInChild([] {
    ErrorModule &err = orvek::errors();
    err.E1PSH("OUTER");
    err.E1PSH("INNER");
    err.SetIntegerPlaceholder(1, -4);
    err.E1MES(kTerminal, 3, "Bad N = %(I1).");
    std::fputs("raised\n", stdout);
    err.E1POP("INNER");
    std::fputs("not reached\n", stdout);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output, "\n"
                          " *** TERMINAL ERROR 3 from INNER.  Bad N = -4.\n"
                          "     Here is a traceback of subprogram calls in reverse order:\n"
                          "     Routine name                    Error type  Error code\n"
                          "     ------------                    ----------  ----------\n"
                          "     INNER                                5           3    (Called internally)\n"
                          "     OUTER                                0           0\n"
                          "     USER                                 0           0\n"
                          "raised\n"
                          "Stop - Program terminated.\n");
  EXPECT_EQ(child.exit_status, 1);
}

TEST(ErrorModulePrinting, CodeZeroLeavesNothingToPrint) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1MES(kTerminal, 0, "Never shown.");
  EXPECT_EQ(err.type_at(2), kTerminal);
  EXPECT_EQ(err.code_at(2), 0);
  EXPECT_TRUE(err.pending_message().empty());
  EXPECT_EQ(cap.text, "");
  // A message that was pending is withdrawn by a later code 0.
  err.E1MES(kWarning, 5, "Withdrawn.");
  EXPECT_EQ(err.pending_message(), "Withdrawn.");
  err.E1MES(-1, 0, "Ignored.");
  EXPECT_EQ(err.type_at(2), kWarning);
  EXPECT_TRUE(err.pending_message().empty());
  err.E1POP("OUTER");
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(cap.stops, 0);
}

TEST(ErrorModulePrinting, MinusOneKeepsTypeAndCode) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("OUTER");
  err.E1MES(kWarning, 6, "First.");
  err.E1MES(-1, -1, "Second.");
  EXPECT_EQ(err.type_at(2), kWarning);
  EXPECT_EQ(err.code_at(2), 6);
  err.E1MES(-1, 8, "Third.");
  EXPECT_EQ(err.code_at(2), 8);
  err.E1POP("OUTER");
  EXPECT_EQ(cap.take(), "\n *** WARNING  ERROR 8 from OUTER.  Third.\n");
}

TEST(ErrorModulePrinting, PrintFlagOffSuppressesAndStopFlagOffReturns) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.set_print(kTerminal, false);
  err.set_stop(kTerminal, false);
  err.E1PSH("OUTER");
  err.E1MES(kTerminal, 2, "Quiet.");
  err.E1POP("OUTER");
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(cap.stops, 0);
  EXPECT_EQ(err.last_message(), "Quiet.");
  EXPECT_EQ(err.last_routine(), "OUTER");
  EXPECT_EQ(err.last_type(), kTerminal);
  EXPECT_EQ(err.last_code(), 2);
  EXPECT_EQ(err.N1RCD(1), 2);
}

TEST(ErrorModulePrinting, NamesAreComparedAndPrintedWithoutTrailingBlanks) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("SVIGP ");
  EXPECT_EQ(err.routine_at(2), "SVIGP");
  err.E1MES(kWarning, 1, "Blank.");
  err.E1POP("SVIGP"); // same routine
  EXPECT_EQ(cap.take(), "\n *** WARNING  ERROR 1 from SVIGP.  Blank.\n");
  EXPECT_EQ(cap.stops, 0);
  // Longer than 32 characters: stored cut to 32.
  const std::string longer(40, 'Q');
  err.E1PSH(longer);
  EXPECT_EQ(err.routine_at(2), std::string(32, 'Q'));
  err.E1POP(longer);
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(cap.text, "");
}

// ---- Placeholders and line breaking ---------------------------------------

TEST(ErrorModuleMessage, FillsIntegerRealAndTextPlaceholders) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.SetIntegerPlaceholder(1, -17);
  err.SetIntegerPlaceholder(9, 2147483647);
  err.SetRealPlaceholder(2, 1.0E16f);
  err.SetRealPlaceholder(3, -0.25f);
  err.SetTextPlaceholder(1, "LFTXG");
  err.SetIntegerPlaceholder(0, 99);  // ignored
  err.SetIntegerPlaceholder(10, 99); // ignored
  err.E1PSH("R");
  err.E1MES(kWarning, 1, "I=%(I1) %(I9) R=%(R2) %(R3) L=%(L1) %(I1) kept: %(X1) %(I0) %(I1 %(L2)|");
  EXPECT_EQ(err.pending_message(),
            "I=-17 2147483647 R=1.0E+16 -2.5E-01 L=LFTXG -17 kept: %(X1) %(I0) %(I1 |");
  err.E1POP("R");
  EXPECT_EQ(cap.stops, 0);
}

TEST(ErrorModuleMessage, TextPlaceholderCutTo255AndMessageTo1024) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.SetTextPlaceholder(1, std::string(300, 'x'));
  err.E1PSH("R");
  err.E1MES(kWarning, 1, "<%(L1)>");
  EXPECT_EQ(err.pending_message(), "<" + std::string(255, 'x') + ">");
  err.E1MES(kWarning, 1, "%(L1)%(L1)%(L1)%(L1)%(L1)");
  EXPECT_EQ(err.pending_message(), std::string(1024, 'x'));
  err.set_print(kWarning, false);
  err.E1POP("R");
  EXPECT_EQ(cap.text, "");
}

TEST(ErrorModuleMessage, RealPlaceholderForm) {
  EXPECT_EQ(orvek::FormatRealPlaceholder(1.0E16f), "1.0E+16");
  EXPECT_EQ(orvek::FormatRealPlaceholder(0.5f), "5.0E-01");
  EXPECT_EQ(orvek::FormatRealPlaceholder(-2.5E-3f), "-2.5E-03");
  EXPECT_EQ(orvek::FormatRealPlaceholder(0.0f), "0.0E+00");
  EXPECT_EQ(orvek::FormatRealPlaceholder(0.1f), "1.0E-01");
  EXPECT_EQ(orvek::FormatRealPlaceholder(std::numeric_limits<float>::max()), "3.4028235E+38");
  EXPECT_EQ(orvek::FormatRealPlaceholder(std::numeric_limits<float>::min()), "1.1754944E-38");
  EXPECT_EQ(orvek::FormatRealPlaceholder(std::numeric_limits<float>::denorm_min()), "1.0E-45");
  EXPECT_EQ(orvek::FormatRealPlaceholder(std::numeric_limits<float>::infinity()), "Infinity");
  EXPECT_EQ(orvek::FormatRealPlaceholder(-std::numeric_limits<float>::infinity()), "-Infinity");
  EXPECT_EQ(orvek::FormatRealPlaceholder(std::numeric_limits<float>::quiet_NaN()), "NaN");
}

TEST(ErrorModuleMessage, RealPlaceholderReadsBackAsTheSameFloat) {
  std::mt19937 rng(20260);
  std::uniform_int_distribution<std::uint32_t> bits(0, 0xFFFFFFFFu);
  for (int n = 0; n < 20000; ++n) {
    const std::uint32_t b = bits(rng);
    float value;
    std::memcpy(&value, &b, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = orvek::FormatRealPlaceholder(value);
    const float back = std::strtof(text.c_str(), nullptr);
    std::uint32_t back_bits;
    std::memcpy(&back_bits, &back, sizeof back);
    ASSERT_EQ(back_bits, b) << text;
    ASSERT_EQ(text.find(' '), std::string::npos);
  }
}

TEST(ErrorModuleMessage, LongMessageBreaksAtBlanksAndAtTheMark) {
  ErrorModule err;
  ErrorCapture cap(err);
  const std::string letters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ";
  err.E1PSH("LONGR");
  err.E1MES(kWarning, 12,
            "The factorization found a small pivot in column 17 and replaced it by the threshold value.  "
            "Continue with care.%/Second part starts here.  " +
                letters + " end.");
  err.E1POP("LONGR");
  EXPECT_EQ(cap.take(), "\n"
                        " *** WARNING  ERROR 12 from LONGR.  The factorization found a small pivot in\n"
                        " ***          column 17 and replaced it by the threshold value.  Continue with\n"
                        " ***          care.\n"
                        " ***          Second part starts here.\n"
                        " ***          ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL\n"
                        " ***          MNOPQRSTUVWXYZ end.\n");
}

TEST(ErrorModuleMessage, FieldsHoldAtMost59And64Characters) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.set_print(kNote, true);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> word_length(1, 70);
  std::uniform_int_distribution<int> blanks(1, 3);
  for (int trial = 0; trial < 200; ++trial) {
    std::string msg;
    std::string words; // the message's non-blank characters, in order
    while (msg.size() < 600) {
      const int n = word_length(rng);
      for (int c = 0; c < n; ++c) msg += static_cast<char>('a' + (c + trial) % 26);
      msg.append(static_cast<std::size_t>(blanks(rng)), ' ');
      if (trial % 3 == 0 && msg.size() % 7 == 0) msg += "%/";
    }
    err.E1PSH("FIELD");
    err.E1MES(kNote, 3, msg);
    err.E1POP("FIELD");
    const std::string out = cap.take();
    ASSERT_EQ(out.substr(0, 1), "\n");
    std::size_t pos = 1;
    std::string seen;
    int line_number = 0;
    while (pos < out.size()) {
      const std::size_t end = out.find('\n', pos);
      ASSERT_NE(end, std::string::npos);
      const std::string line = out.substr(pos, end - pos);
      pos = end + 1;
      const std::string prefix = line_number == 0 ? " *** NOTE     ERROR" : " ***          ";
      ++line_number;
      if (line == " ***") continue; // an empty field after a forced break
      ASSERT_EQ(line.substr(0, prefix.size()), prefix);
      const std::string field = line.substr(prefix.size());
      ASSERT_LE(field.size(), line_number == 0 ? 59u : 64u) << line;
      ASSERT_TRUE(field.empty() || field.back() != ' ') << line;
      seen += field;
    }
    std::string expected_chars;
    for (const char c : " 3 from FIELD.  " + msg)
      if (c != ' ' && c != '%' && c != '/') expected_chars += c;
    std::string seen_chars;
    for (const char c : seen)
      if (c != ' ') seen_chars += c;
    ASSERT_EQ(seen_chars, expected_chars);
  }
}

TEST(ErrorModuleMessage, LeadingPeriodReplacesTheHeaderEnd) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("DOT");
  err.E1MES(kWarning, 2, ".  Starts with a period.");
  err.E1POP("DOT");
  EXPECT_EQ(cap.take(), "\n *** WARNING  ERROR 2 from DOT.  Starts with a period.\n");
}

// ---- Stack limits and misuse ----------------------------------------------

TEST(ErrorModuleStack, FiftyLevelLimit) {
  ErrorModule err;
  ErrorCapture cap(err);
  for (int level = 2; level <= ErrorModule::kMaxDepth; ++level) err.E1PSH(LevelName(level));
  EXPECT_EQ(err.depth(), 50);
  EXPECT_EQ(cap.text, "");
  err.E1PSH(LevelName(51));
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(err.depth(), 50);
  std::string expected = "\n"
                         " *** TERMINAL ERROR 1 from R50.  Error condition in E1PSH.  Push would cause\n"
                         " ***          stack level to exceed 50.\n" +
                         kTraceHead + TraceLine("R50", 5, 1, true);
  for (int level = 49; level >= 2; --level) expected += TraceLine(LevelName(level), 0, 0, level > 2);
  expected += TraceLine("USER", 0, 0, false);
  EXPECT_EQ(cap.take(), expected);
  // With stopping off the refused frame is absorbed and the others stay paired.
  err.set_stop(kTerminal, false);
  err.E1POP(LevelName(51));
  EXPECT_EQ(err.depth(), 50);
  for (int level = ErrorModule::kMaxDepth; level >= 2; --level) err.E1POP(LevelName(level));
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(cap.text, "");
}

TEST(ErrorModuleStack, FiftyLevelLimitStopsTheProcess) {
  const auto child = RunInChild([] {
    ErrorModule &err = orvek::errors();
    for (int level = 2; level <= 51; ++level) err.E1PSH(LevelName(level));
    std::fputs("not reached\n", stdout);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.exit_status, 1);
  const std::string head = "\n"
                           " *** TERMINAL ERROR 1 from R50.  Error condition in E1PSH.  Push would cause\n"
                           " ***          stack level to exceed 50.\n";
  EXPECT_EQ(child.output.substr(0, head.size()), head);
  ASSERT_GE(child.output.size(), kStopLine.size());
  EXPECT_EQ(child.output.substr(child.output.size() - kStopLine.size()), kStopLine);
  EXPECT_EQ(child.output.find("not reached"), std::string::npos);
}

TEST(ErrorModuleStack, PopAtTheUserLevel) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1POP("GHOST");
  EXPECT_EQ(cap.take(), "\n"
                        " *** TERMINAL ERROR 1 from USER.  Error condition in E1POP.  Cannot pop from\n"
                        " ***          GHOST because stack is empty.\n" +
                            kTraceHead + TraceLine("USER", 5, 1, false));
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(err.depth(), 1);
}

TEST(ErrorModuleStack, PopOfAnotherName) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("ALPHA");
  err.E1POP("BETA");
  EXPECT_EQ(cap.take(), "\n"
                        " *** TERMINAL ERROR 2 from ALPHA.  Error condition in E1POP.  BETA does not\n"
                        " ***          match the name ALPHA in the stack.\n" +
                            kTraceHead + TraceLine("ALPHA", 5, 2, false) + TraceLine("USER", 0, 0, false));
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(err.depth(), 2); // nothing popped
}

TEST(ErrorModuleStack, N1rcdReadsBothLevels) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.set_print(kWarning, false);
  err.E1PSH("OUTER");
  EXPECT_EQ(err.N1RCD(0), 0);
  err.E1PSH("INNER");
  err.E1MES(kWarning, 9, "x");
  EXPECT_EQ(err.N1RCD(0), 9);
  err.E1POP("INNER");
  EXPECT_EQ(err.N1RCD(1), 9);
  EXPECT_EQ(err.N1RCD(0), 9); // travelled up
  err.E1PSH("AGAIN");
  EXPECT_EQ(err.N1RCD(0), 0);
  err.E1POP("AGAIN");
  EXPECT_EQ(err.N1RCD(1), 0);
  EXPECT_EQ(err.code_at(4), -1); // reset above the returning routine
  err.E1POP("OUTER");
}

TEST(ErrorModuleStack, N1rcdMisuse) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("CALLER");
  err.N1RCD(2);
  EXPECT_EQ(cap.take(), "\n *** TERMINAL ERROR 1 from CALLER.  The argument passed to N1RCD must be 0 or\n"
                        " ***          1.\n" +
                            kTraceHead + TraceLine("CALLER", 5, 1, false) + TraceLine("USER", 0, 0, false));
  EXPECT_EQ(cap.stops, 1);
}

TEST(ErrorModuleStack, N1rcdMisuseStopsTheProcess) {
  const auto child = RunInChild([] { orvek::errors().N1RCD(-1); });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output,
            "\n *** TERMINAL ERROR 1 from USER.  The argument passed to N1RCD must be 0 or 1.\n" +
                kTraceHead + TraceLine("USER", 5, 1, false) + kStopLine);
  EXPECT_EQ(child.exit_status, 1);
}

TEST(ErrorModuleHold, ReadsAndWrites) {
  ErrorModule err;
  ErrorCapture cap(err);
  std::int32_t value = 0;
  err.L15XG(0, value);
  EXPECT_EQ(value, 0);
  value = 42;
  err.L15XG(1, value);
  value = 0;
  err.L15XG(0, value);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(cap.text, "");
}

TEST(ErrorModuleHold, BadActionWarnsAndWrites) {
  ErrorModule err;
  ErrorCapture cap(err);
  std::int32_t value = 7;
  err.L15XG(2, value);
  EXPECT_EQ(cap.take(), "\n"
                        " *** WARNING  ERROR 1 from L15XG.  The value of IACT must be 0 to read from or\n"
                        " ***          1 to write to the hold area.  IACT currently has a value of 2.\n");
  EXPECT_EQ(cap.stops, 0);
  std::int32_t read = 0;
  err.L15XG(0, read);
  EXPECT_EQ(read, 7);
  // Inside a routine the warning travels up and is printed by that routine.
  err.E1PSH("DRIVER");
  value = 8;
  err.L15XG(-3, value);
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(err.N1RCD(1), 1);
  err.E1POP("DRIVER");
  EXPECT_EQ(cap.take(), "\n"
                        " *** WARNING  ERROR 1 from DRIVER.  The value of IACT must be 0 to read from\n"
                        " ***          or 1 to write to the hold area.  IACT currently has a value of\n"
                        " ***          -3.\n");
  err.L15XG(0, read);
  EXPECT_EQ(read, 8);
}

TEST(ErrorModuleStop, DefaultStopEndsWithStatusOne) {
  const auto child = RunInChild([] {
    std::fputs("before\n", stdout);
    orvek::errors().stop();
    std::fputs("not reached\n", stdout);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output, "before\n" + kStopLine);
  EXPECT_EQ(child.exit_status, 1);
}

} // namespace
