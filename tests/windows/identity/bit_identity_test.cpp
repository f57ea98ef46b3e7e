// Results of ORVEK.dll against the Linux library, bit for bit. The bit dump
// (bit_dump.c) runs here through ORVEK.dll, linked with its import library;
// the same source built on Linux against liborvek.so wrote the reference
// file ORVEK_LINUX_BIT_DUMP. Every value must have the same bits, except the
// powers from polar voltages, whose sines and cosines come from each
// platform's C run-time: those must agree to within a few units in the last
// place of the largest value of their array, and the count of values whose
// bits differ is reported.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
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

bool DependsOnSineAndCosine(const std::string &label) {
  for (const char *prefix : {"MNOZI.", "OdrediPe.", "OdrediSe."})
    if (label.rfind(prefix, 0) == 0) return true;
  return false;
}

float FromBits(const std::string &hex) {
  const auto bits = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
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

  // Largest magnitude per array among the values that depend on the run-time.
  std::map<std::string, float> scale;
  for (const auto &l : linux_lines)
    if (DependsOnSineAndCosine(l.label)) scale[l.label] = std::fmax(scale[l.label], std::fabs(FromBits(l.value)));

  int exact_differences = 0, trigonometric_differences = 0, trigonometric_values = 0;
  for (std::size_t i = 0; i < linux_lines.size(); ++i) {
    const Line &l = linux_lines[i], &w = windows_lines[i];
    ASSERT_EQ(w.label, l.label) << "line " << i + 1;
    ASSERT_EQ(w.index, l.index) << "line " << i + 1 << " " << l.label;
    if (!DependsOnSineAndCosine(l.label)) {
      if (w.value != l.value && ++exact_differences <= 20)
        ADD_FAILURE() << l.label << "(" << l.index << "): Linux " << l.value << ", Windows " << w.value;
      continue;
    }
    ++trigonometric_values;
    if (w.value == l.value) continue;
    ++trigonometric_differences;
    const float a = FromBits(l.value), b = FromBits(w.value);
    const float ulp = std::ldexp(1.0f, std::ilogb(scale[l.label]) - 23);
    EXPECT_LE(std::fabs(a - b), 16 * ulp) << l.label << "(" << l.index << "): Linux " << a << ", Windows " << b;
  }
  EXPECT_EQ(exact_differences, 0) << "values that differ between Linux and Windows";
  std::printf("bit-identical: %zu values; from polar voltages %d of %d differ in their last bits\n",
              linux_lines.size() - static_cast<std::size_t>(trigonometric_differences), trigonometric_differences,
              trigonometric_values);
  RecordProperty("trigonometric_differences", trigonometric_differences);
}

} // namespace
