// The shared library exports exactly the routines of the export table, and
// every one of them resolves by its name.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

std::set<std::string> ExportTable() {
  std::set<std::string> names;
  std::ifstream def(std::string(ORVEK_SOURCE_DIR) + "/frame/exports.def");
  const std::regex entry(R"(^\s+([A-Za-z_0-9]+)\s+@([0-9]+))");
  std::string line;
  std::smatch m;
  while (std::getline(def, line))
    if (std::regex_search(line, m, entry)) names.insert(m[1]);
  return names;
}

std::set<std::string> DefinedDynamicSymbols(const std::string &library) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + library + "'";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const auto last_space = line.rfind(' ');
    if (last_space == std::string::npos) continue;
    std::string name = line.substr(last_space + 1);
    const auto at = name.find('@');
    if (at != std::string::npos) name = name.substr(0, at);
    // The version node the linker adds for the version script is not a routine.
    const std::string kind = line.size() > 17 ? line.substr(17, 1) : "";
    if (kind == "A") continue;
    names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(ExportTable, HasTheTwentyEightRoutinesWithOrdinals) {
  const auto names = ExportTable();
  EXPECT_EQ(names.size(), 28u);
  // Ordinals follow the byte order of the names.
  std::ifstream def(std::string(ORVEK_SOURCE_DIR) + "/frame/exports.def");
  const std::regex entry(R"(^\s+([A-Za-z_0-9]+)\s+@([0-9]+))");
  std::string line, previous;
  std::smatch m;
  int expected = 1;
  while (std::getline(def, line)) {
    if (!std::regex_search(line, m, entry)) continue;
    EXPECT_EQ(std::stoi(m[2]), expected) << m[1];
    EXPECT_LT(previous, std::string(m[1]));
    previous = m[1];
    ++expected;
  }
}

TEST(ExportTable, SharedLibraryExportsExactlyTheTable) {
  const auto table = ExportTable();
  const auto exported = DefinedDynamicSymbols(ORVEK_SHARED_LIBRARY);
  ASSERT_FALSE(exported.empty()) << "could not read the dynamic symbols of " << ORVEK_SHARED_LIBRARY;
  for (const auto &name : exported) EXPECT_TRUE(table.count(name)) << "exported but not in the table: " << name;
  for (const auto &name : table) EXPECT_TRUE(exported.count(name)) << "in the table but not exported: " << name;
}

TEST(ExportTable, EveryRoutineResolvesByName) {
  void *handle = dlopen(ORVEK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  for (const auto &name : ExportTable()) EXPECT_NE(dlsym(handle, name.c_str()), nullptr) << name;
  dlclose(handle);
}

} // namespace
