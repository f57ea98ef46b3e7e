// A 32-bit Windows host of ORVEK.dll for the tests: loads the DLL with
// LoadLibrary (from the test program's folder), resolves routines by name
// and by ordinal, and calls them through the stack probe so that every call
// also checks the stdcall discipline (callee removes 4 x argument count
// bytes, keeps EBX, ESI, EDI). The export table below is the host's own
// copy of the library's table: name, ordinal, argument count.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "orvek/orvek.h"
#include "stdcall_probe.hpp"

namespace orvek::windows_test {

struct ExportEntry {
  const char *name;
  int ordinal;
  int arguments;
};

inline constexpr std::array<ExportEntry, 28> kExportTable = {{
    {"BSC", 1, 11},           {"BSR", 2, 11},        {"EMS", 3, 7},          {"FazSim1", 4, 12},
    {"Inverzija", 5, 3},      {"J1J2", 6, 12},       {"LUC", 7, 14},         {"LUR", 8, 14},
    {"MAUX", 9, 5},           {"MNOZI", 10, 6},      {"MatY", 11, 10},       {"MatYR", 12, 11},
    {"MatY_prekin", 13, 11},  {"MatYsa", 14, 12},    {"MatricaY", 15, 15},   {"MatricaYR", 16, 12},
    {"Matrici_VektoriBX", 17, 14}, {"MultiPodred", 18, 8}, {"NaponiKV", 19, 12}, {"OdrediPe", 20, 6},
    {"OdrediSe", 21, 8},      {"Paralelno", 22, 3},  {"Sg", 23, 9},          {"SimFaz", 24, 7},
    {"SimFaz1", 25, 12},      {"So", 26, 7},         {"StruiKV", 27, 9},     {"ZapisiPodredeno", 28, 6},
}};

inline const ExportEntry *FindExport(std::string_view name) {
  for (const auto &e : kExportTable)
    if (name == e.name) return &e;
  return nullptr;
}

// Number of parameters of a routine's declared type in the public header.
template <class R, class... P> constexpr int Arity(R(ORVEK_CALL *)(P...)) { return static_cast<int>(sizeof...(P)); }

// The loaded DLL, shared by all tests of the program (loaded once, as a host
// would; the library needs no initialisation call).
class Dll {
public:
  static Dll &Get();
  HMODULE module() const { return module_; }
  const std::string &error() const { return error_; }
  // Address of a routine by name (nullptr when absent).
  const void *ByName(const char *name) const;
  const void *ByOrdinal(int ordinal) const;

  // Entry alignment (ESP mod 16 at the callee's entry) used by Call.
  int alignment = 4;

private:
  Dll();
  HMODULE module_ = nullptr;
  std::string error_;
};

// Calls routine `name` with the given pointer arguments through the probe and
// records a test failure for a bad argument count or a broken stdcall frame.
CallReport CallRoutine(const char *name, const std::vector<const void *> &args);

template <class R, class... P, class... A>
CallReport CallTyped(R(ORVEK_CALL *)(P...), const char *name, A... args) {
  static_assert(sizeof...(P) == sizeof...(A), "argument count differs from the header");
  static_assert((std::is_convertible_v<A, P> && ...), "argument type differs from the header");
  return CallRoutine(name, {static_cast<const void *>(static_cast<P>(args))...});
}

} // namespace orvek::windows_test

// Calls an exported routine of ORVEK.dll: the argument list is checked against
// the header's declaration at compile time, the table's argument count and the
// stdcall frame at run time.
#define ORVEK_DLL(routine, ...)                                                                     \
  ::orvek::windows_test::CallTyped(static_cast<decltype(&::routine)>(nullptr), #routine, __VA_ARGS__)
