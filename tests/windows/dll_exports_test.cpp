// ORVEK.dll as a host sees it: it loads with LoadLibrary, its export
// directory holds exactly the 28 routines under their plain names with
// ordinals 1..28 (no decorated names, no data, no forwarders), every routine
// resolves by name and by ordinal to the same address, and it imports only
// DLLs that every Windows installation has.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "dll_host.hpp"

namespace orvek::windows_test {
namespace {

const unsigned char *Image() { return reinterpret_cast<const unsigned char *>(Dll::Get().module()); }

const IMAGE_NT_HEADERS32 &NtHeaders() {
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(Image());
  return *reinterpret_cast<const IMAGE_NT_HEADERS32 *>(Image() + dos->e_lfanew);
}

const IMAGE_DATA_DIRECTORY &Directory(int which) { return NtHeaders().OptionalHeader.DataDirectory[which]; }

template <class T> const T *At(DWORD rva) { return reinterpret_cast<const T *>(Image() + rva); }

std::string Lower(std::string s) {
  for (auto &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// name -> ordinal as the module definition file lists them.
std::map<std::string, int> DefinitionFile() {
  std::map<std::string, int> table;
  std::ifstream def(std::string(ORVEK_SOURCE_DIR) + "/frame/exports.def");
  const std::regex entry(R"(^\s+([A-Za-z_0-9]+)\s+@([0-9]+))");
  std::string line;
  std::smatch m;
  while (std::getline(def, line))
    if (std::regex_search(line, m, entry)) table[m[1]] = std::stoi(m[2]);
  return table;
}

class DllExports : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NE(Dll::Get().module(), nullptr) << Dll::Get().error(); }
};

TEST_F(DllExports, IsA32BitX86Dll) {
  const auto &nt = NtHeaders();
  EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_NE(nt.FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(Dll::Get().module(), path, MAX_PATH), 0u);
  const std::string file(path);
  EXPECT_EQ(file.substr(file.find_last_of("\\/") + 1), "ORVEK.dll");
}

TEST_F(DllExports, HostTableMatchesTheModuleDefinition) {
  const auto def = DefinitionFile();
  ASSERT_EQ(def.size(), kExportTable.size()) << "frame/exports.def not read or not 28 entries";
  for (const auto &e : kExportTable) {
    ASSERT_TRUE(def.count(e.name)) << e.name;
    EXPECT_EQ(def.at(e.name), e.ordinal) << e.name;
  }
}

TEST_F(DllExports, HeaderDeclaresTheTableArgumentCounts) {
#define ORVEK_ARITY(routine) {#routine, Arity(static_cast<decltype(&::routine)>(nullptr))}
  const std::map<std::string, int> header = {
      ORVEK_ARITY(BSC),       ORVEK_ARITY(BSR),       ORVEK_ARITY(EMS),          ORVEK_ARITY(FazSim1),
      ORVEK_ARITY(Inverzija), ORVEK_ARITY(J1J2),      ORVEK_ARITY(LUC),          ORVEK_ARITY(LUR),
      ORVEK_ARITY(MAUX),      ORVEK_ARITY(MNOZI),     ORVEK_ARITY(MatY),         ORVEK_ARITY(MatYR),
      ORVEK_ARITY(MatY_prekin), ORVEK_ARITY(MatYsa),  ORVEK_ARITY(MatricaY),     ORVEK_ARITY(MatricaYR),
      ORVEK_ARITY(Matrici_VektoriBX), ORVEK_ARITY(MultiPodred), ORVEK_ARITY(NaponiKV), ORVEK_ARITY(OdrediPe),
      ORVEK_ARITY(OdrediSe),  ORVEK_ARITY(Paralelno), ORVEK_ARITY(Sg),           ORVEK_ARITY(SimFaz),
      ORVEK_ARITY(SimFaz1),   ORVEK_ARITY(So),        ORVEK_ARITY(StruiKV),      ORVEK_ARITY(ZapisiPodredeno),
  };
#undef ORVEK_ARITY
  ASSERT_EQ(header.size(), kExportTable.size());
  for (const auto &e : kExportTable) EXPECT_EQ(header.at(e.name), e.arguments) << e.name;
}

TEST_F(DllExports, ExportDirectoryHoldsExactlyTheTable) {
  const auto &dir_entry = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
  ASSERT_NE(dir_entry.VirtualAddress, 0u);
  const auto &dir = *At<IMAGE_EXPORT_DIRECTORY>(dir_entry.VirtualAddress);
  EXPECT_EQ(std::string(At<char>(dir.Name)), "ORVEK.dll");
  EXPECT_EQ(dir.Base, 1u);
  EXPECT_EQ(dir.NumberOfFunctions, 28u);
  ASSERT_EQ(dir.NumberOfNames, 28u);
  const auto *functions = At<DWORD>(dir.AddressOfFunctions);
  const auto *names = At<DWORD>(dir.AddressOfNames);
  const auto *name_ordinals = At<WORD>(dir.AddressOfNameOrdinals);
  std::map<std::string, int> exported;
  for (DWORD i = 0; i < dir.NumberOfNames; ++i) exported[At<char>(names[i])] = static_cast<int>(dir.Base + name_ordinals[i]);
  for (const auto &e : kExportTable) {
    ASSERT_TRUE(exported.count(e.name)) << e.name << " is not exported";
    EXPECT_EQ(exported.at(e.name), e.ordinal) << e.name;
  }
  EXPECT_EQ(exported.size(), kExportTable.size());
  for (DWORD i = 0; i < dir.NumberOfFunctions; ++i) {
    const DWORD rva = functions[i];
    EXPECT_NE(rva, 0u) << "ordinal " << dir.Base + i << " has no routine";
    // A forwarder's address points back into the export directory.
    EXPECT_FALSE(rva >= dir_entry.VirtualAddress && rva < dir_entry.VirtualAddress + dir_entry.Size)
        << "ordinal " << dir.Base + i << " is a forwarder";
    // Every export is code: it lies in an executable section.
    const auto &nt = NtHeaders();
    const auto *section = IMAGE_FIRST_SECTION(&nt);
    bool in_code = false;
    for (WORD s = 0; s < nt.FileHeader.NumberOfSections; ++s, ++section)
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
        in_code = (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0;
    EXPECT_TRUE(in_code) << "ordinal " << dir.Base + i << " is not code";
  }
}

TEST_F(DllExports, EveryRoutineResolvesByNameAndByOrdinalToOneAddress) {
  std::set<const void *> addresses;
  for (const auto &e : kExportTable) {
    const void *by_name = Dll::Get().ByName(e.name);
    const void *by_ordinal = Dll::Get().ByOrdinal(e.ordinal);
    EXPECT_NE(by_name, nullptr) << e.name;
    EXPECT_EQ(by_name, by_ordinal) << e.name << " @" << e.ordinal;
    addresses.insert(by_name);
  }
  EXPECT_EQ(addresses.size(), kExportTable.size()) << "two names share one routine";
  EXPECT_EQ(Dll::Get().ByOrdinal(0), nullptr);
  EXPECT_EQ(Dll::Get().ByOrdinal(29), nullptr);
}

TEST_F(DllExports, NamesAreCaseSensitiveAndUndecorated) {
  for (const auto &e : kExportTable) {
    const std::string bytes = std::to_string(4 * e.arguments);
    EXPECT_EQ(Dll::Get().ByName(("_" + std::string(e.name) + "@" + bytes).c_str()), nullptr) << e.name;
    EXPECT_EQ(Dll::Get().ByName((std::string(e.name) + "@" + bytes).c_str()), nullptr) << e.name;
    EXPECT_EQ(Dll::Get().ByName(("_" + std::string(e.name)).c_str()), nullptr) << e.name;
    const std::string lower = Lower(e.name);
    if (lower != e.name) {
      EXPECT_EQ(Dll::Get().ByName(lower.c_str()), nullptr) << lower;
    }
  }
}

TEST_F(DllExports, ImportsOnlySystemDlls) {
  // kernel32 and the C run-time that every Windows installation carries.
  const std::set<std::string> allowed = {"kernel32.dll", "msvcrt.dll"};
  const auto &imports = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  ASSERT_NE(imports.VirtualAddress, 0u);
  std::set<std::string> found;
  for (const auto *d = At<IMAGE_IMPORT_DESCRIPTOR>(imports.VirtualAddress); d->Name != 0; ++d)
    found.insert(Lower(At<char>(d->Name)));
  for (const auto &name : found) EXPECT_TRUE(allowed.count(name)) << "ORVEK.dll imports " << name;
  EXPECT_TRUE(found.count("kernel32.dll"));
  EXPECT_EQ(Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).VirtualAddress, 0u) << "delay-loaded imports";
}

} // namespace
} // namespace orvek::windows_test
