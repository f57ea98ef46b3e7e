// The stdcall contract of ORVEK.dll: every routine, called with the table's
// argument count, removes exactly its arguments from the stack and keeps the
// callee-saved registers; it computes the same bits whatever the alignment
// of the stack it is entered with (32-bit hosts guarantee only 4 bytes) and
// whether the call comes from the probe or from compiled host code. The
// probe itself is shown to notice a wrong argument count.
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "dll_host.hpp"
#include "recipes.hpp"

// Probe targets written in assembly: one removes its 2 arguments as it
// should, one removes only 1, one changes EBX, one records the stack pointer
// it was entered with into *arg0.
asm(R"(
    .text
    .globl _orvek_target_good@8
_orvek_target_good@8:
    ret $8
    .globl _orvek_target_short@8
_orvek_target_short@8:
    ret $4
    .globl _orvek_target_clobber@8
_orvek_target_clobber@8:
    movl $0, %ebx
    ret $8
    .globl _orvek_target_entry_sp@8
_orvek_target_entry_sp@8:
    movl 4(%esp), %eax
    movl %esp, (%eax)
    ret $8
)");

extern "C" void __stdcall orvek_target_good(const void *, const void *);
extern "C" void __stdcall orvek_target_short(const void *, const void *);
extern "C" void __stdcall orvek_target_clobber(const void *, const void *);
extern "C" void __stdcall orvek_target_entry_sp(const void *, const void *);

namespace orvek::windows_test {
namespace {

constexpr int kAlignments[] = {0, 4, 8, 12};

TEST(StdcallProbe, AcceptsACorrectCallee) {
  int dummy = 0;
  const auto r = CallStdcall(reinterpret_cast<const void *>(&orvek_target_good), {&dummy, &dummy});
  EXPECT_TRUE(r.clean());
  EXPECT_EQ(r.stack_imbalance, 0);
}

TEST(StdcallProbe, NoticesAWrongArgumentCount) {
  int dummy = 0;
  // The callee removes 4 bytes of the 8 pushed.
  EXPECT_EQ(CallStdcall(reinterpret_cast<const void *>(&orvek_target_short), {&dummy, &dummy}).stack_imbalance, -4);
  // The caller pushes 3 arguments, the callee removes 2.
  EXPECT_EQ(CallStdcall(reinterpret_cast<const void *>(&orvek_target_good), {&dummy, &dummy, &dummy}).stack_imbalance,
            -4);
  // The caller pushes 1 argument, the callee removes 2 (it pops the probe's own slot).
  EXPECT_EQ(CallStdcall(reinterpret_cast<const void *>(&orvek_target_good), {&dummy}).stack_imbalance, 4);
}

TEST(StdcallProbe, NoticesAClobberedRegister) {
  int dummy = 0;
  const auto r = CallStdcall(reinterpret_cast<const void *>(&orvek_target_clobber), {&dummy, &dummy});
  EXPECT_FALSE(r.preserved_ebx);
  EXPECT_TRUE(r.preserved_esi);
  EXPECT_FALSE(r.clean());
}

TEST(StdcallProbe, EntersWithTheRequestedAlignment) {
  for (int alignment : kAlignments) {
    std::uintptr_t sp = 0;
    int dummy = 0;
    CallStdcall(reinterpret_cast<const void *>(&orvek_target_entry_sp), {&sp, &dummy}, alignment);
    EXPECT_EQ(sp % 16, static_cast<std::uintptr_t>(alignment));
  }
}

TEST(StdcallProbe, NoticesAWrongCountAgainstTheDll) {
  const void *paralelno = Dll::Get().ByName("Paralelno");
  ASSERT_NE(paralelno, nullptr) << Dll::Get().error();
  float z1[2] = {2.0f, 0.0f}, z2[2] = {2.0f, 0.0f}, zp[2] = {};
  // One argument too many: Paralelno removes its 3, the fourth stays behind.
  EXPECT_EQ(CallStdcall(paralelno, {z1, z2, zp, zp}).stack_imbalance, -4);
  EXPECT_EQ(CallStdcall(paralelno, {z1, z2, zp}).stack_imbalance, 0);
}

TEST(CallingConvention, RecipesCoverEveryRoutine) {
  std::set<std::string> covered;
  for (const auto &recipe : Recipes()) covered.insert(recipe.routine);
  for (const auto &e : kExportTable) EXPECT_TRUE(covered.count(e.name)) << e.name << " has no recipe";
}

// Every routine at every entry alignment: a clean stdcall frame (checked by
// CallRoutine) and the same bits in every host array.
TEST(CallingConvention, EveryRoutineAtEveryStackAlignment) {
  auto reference = std::make_unique<Workspace>();
  auto w = std::make_unique<Workspace>();
  for (const auto &recipe : Recipes()) {
    SCOPED_TRACE(recipe.routine);
    for (int alignment : kAlignments) {
      Dll::Get().alignment = alignment;
      Workspace &target = alignment == kAlignments[0] ? *reference : *w;
      target.Clear();
      target.LoadNetwork();
      recipe.run(target);
      if (alignment != kAlignments[0]) {
        EXPECT_EQ(std::memcmp(reference.get(), w.get(), sizeof(Workspace)), 0)
            << recipe.routine << " gives other results when entered with ESP = " << alignment << " mod 16";
      }
    }
    Dll::Get().alignment = 4;
  }
}

// A host's compiler makes the calls itself: the same results as the probe's.
TEST(CallingConvention, CompiledHostCallsMatchTheProbe) {
  auto probe = std::make_unique<Workspace>();
  auto host = std::make_unique<Workspace>();
  probe->Clear();
  probe->LoadNetwork();
  ImpedanceColumn(*probe, 2);
  host->Clear();
  host->LoadNetwork();
  auto *matrica_y = reinterpret_cast<decltype(&::MatricaY)>(Dll::Get().ByName("MatricaY"));
  auto *luc = reinterpret_cast<decltype(&::LUC)>(Dll::Get().ByOrdinal(7));
  auto *bsc = reinterpret_cast<decltype(&::BSC)>(Dll::Get().ByName("BSC"));
  ASSERT_TRUE(matrica_y && luc && bsc);
  Workspace &h = *host;
  matrica_y(h.BSH, h.KSH, &h.NSH, &h.N, h.Z, h.YA, h.YB, h.NODES, &h.NB, h.IROW, h.JCOL, h.A, &h.NZ, h.SA, h.IJA);
  luc(&h.N, &h.NZ, h.A, h.IROW, h.JCOL, h.IPARAM, h.RPARAM, &h.NFAC, &h.NL, h.FAC, h.IRFAC, h.JCFAC, h.IPVT, h.JPVT);
  h.B[1] = 1.0f;
  h.IPATH = 1;
  bsc(&h.N, &h.NFAC, &h.NL, h.FAC, h.IRFAC, h.JCFAC, h.IPVT, h.JPVT, h.B, &h.IPATH, h.X);
  EXPECT_EQ(std::memcmp(probe.get(), host.get(), sizeof(Workspace)), 0);
}

// Calling a routine twice, with other routines in between, gives the same
// outputs: the static work storage carries nothing a later call uses.
TEST(CallingConvention, RepeatedCallsGiveTheSameBits) {
  auto first = std::make_unique<Workspace>();
  auto again = std::make_unique<Workspace>();
  auto other = std::make_unique<Workspace>();
  for (const auto &recipe : Recipes()) {
    SCOPED_TRACE(recipe.routine);
    first->Clear();
    first->LoadNetwork();
    recipe.run(*first);
    for (const auto &between : Recipes()) {
      other->Clear();
      other->LoadNetwork();
      between.run(*other);
    }
    again->Clear();
    again->LoadNetwork();
    recipe.run(*again);
    EXPECT_EQ(std::memcmp(first.get(), again.get(), sizeof(Workspace)), 0) << recipe.routine;
  }
}

} // namespace
} // namespace orvek::windows_test
