// Results of ORVEK.dll against the Linux library, bit for bit. The bit dump
// (bit_dump.c) runs here through ORVEK.dll, linked with its import library;
// the same source built on Linux against liborvek.so wrote the reference
// file ORVEK_LINUX_BIT_DUMP. Every value must have the same bits, except the
// powers from polar voltages, whose sines and cosines come from each
// platform's C run-time: those must agree to within a few units in the last
// place of the largest value of their array, and the count of values whose
// bits differ is reported.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../bit_dump.h"

namespace {

struct Line {
  std::string label;
  int index = 0;
  std::string value;
};

std::vector<Line> Parse(std::istream &in) {
  std::vector<Line> lines;
  std::string text;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::istringstream fields(text);
    Line line;
    if (fields >> line.label >> line.index >> line.value) lines.push_back(line);
  }
  return lines;
}

std::vector<Line> WindowsDump() {
  std::FILE *file = std::tmpfile();
  if (!file) return {};
  orvek_bit_dump(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  std::istringstream in(text);
  return Parse(in);
}

TEST(BitIdentity, DllMatchesTheLinuxLibrary) {
  std::ifstream reference_file(ORVEK_LINUX_BIT_DUMP);
  ASSERT_TRUE(reference_file) << "no Linux reference dump at " << ORVEK_LINUX_BIT_DUMP;
  const auto linux_lines = Parse(reference_file);
  const auto windows_lines = WindowsDump();
  ASSERT_GT(linux_lines.size(), 10000u);
  ASSERT_EQ(windows_lines.size(), linux_lines.size());

  // Every value, the powers from polar voltages included (their sines and
  // cosines are evaluated in double and rounded once), is the same bit pattern.
  int differences = 0;
  for (std::size_t i = 0; i < linux_lines.size(); ++i) {
    const Line &l = linux_lines[i], &w = windows_lines[i];
    ASSERT_EQ(w.label, l.label) << "line " << i + 1;
    ASSERT_EQ(w.index, l.index) << "line " << i + 1 << " " << l.label;
    if (w.value != l.value && ++differences <= 20)
      ADD_FAILURE() << l.label << "(" << l.index << "): Linux " << l.value << ", Windows " << w.value;
  }
  EXPECT_EQ(differences, 0) << "values that differ between Linux and Windows";
  std::printf("bit-identical: %zu values\n", linux_lines.size());
}

} // namespace
