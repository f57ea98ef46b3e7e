// Loading of ORVEK.dll and checked calls for the Windows host tests.
#include "dll_host.hpp"

namespace orvek::windows_test {

Dll &Dll::Get() {
  static Dll dll;
  return dll;
}

Dll::Dll() {
  // The DLL sits beside the test program; LoadLibrary searches the program's
  // folder first.
  module_ = LoadLibraryA("ORVEK.dll");
  if (!module_) error_ = "LoadLibrary(ORVEK.dll) failed with error " + std::to_string(GetLastError());
}

const void *Dll::ByName(const char *name) const {
  if (!module_) return nullptr;
  return reinterpret_cast<const void *>(GetProcAddress(module_, name));
}

const void *Dll::ByOrdinal(int ordinal) const {
  if (!module_) return nullptr;
  return reinterpret_cast<const void *>(GetProcAddress(module_, MAKEINTRESOURCEA(ordinal)));
}

CallReport CallRoutine(const char *name, const std::vector<const void *> &args) {
  CallReport report;
  const ExportEntry *entry = FindExport(name);
  if (!entry) {
    ADD_FAILURE() << name << " is not in the export table";
    return report;
  }
  if (static_cast<int>(args.size()) != entry->arguments) {
    ADD_FAILURE() << name << ": " << args.size() << " arguments given, the table says " << entry->arguments;
    return report;
  }
  Dll &dll = Dll::Get();
  const void *fn = dll.ByName(name);
  if (!fn) {
    ADD_FAILURE() << name << " does not resolve: " << dll.error();
    return report;
  }
  report = CallStdcall(fn, args, dll.alignment);
  EXPECT_EQ(report.stack_imbalance, 0) << name << " left the stack unbalanced (bytes removed minus bytes pushed)";
  EXPECT_TRUE(report.preserved_ebx) << name << " changed EBX";
  EXPECT_TRUE(report.preserved_esi) << name << " changed ESI";
  EXPECT_TRUE(report.preserved_edi) << name << " changed EDI";
  return report;
}

} // namespace orvek::windows_test
