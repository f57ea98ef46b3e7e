// The stdcall call probe: a small assembly routine that calls through a
// pointer with a counted argument list and measures the stack afterwards.
#include "stdcall_probe.hpp"

#if !defined(_WIN32) || defined(_WIN64)
#error "the stdcall probe is for 32-bit Windows"
#endif

// int32_t orvek_probe_call(const void *fn, int32_t nargs, const void *const *args,
//                          int32_t pad, int32_t *flags)   (cdecl)
// Aligns the stack to 16, lowers it by pad bytes, remembers it, pushes
// args[nargs-1] .. args[0], loads marker values into the callee-saved
// registers and calls fn. Returns ESP after the call minus the remembered
// ESP (0 for a callee that removed exactly 4*nargs bytes); flags gets bit 0,
// 1, 2 set when EBX, ESI, EDI came back changed.
asm(R"(
    .text
    .p2align 4
    .globl _orvek_probe_call
_orvek_probe_call:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl  $4, %esp
    andl  $-16, %esp
    subl  20(%ebp), %esp
    movl  %esp, -16(%ebp)
    movl  12(%ebp), %ecx
    movl  16(%ebp), %edx
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%edx,%ecx,4)
    jmp   1b
2:  movl  8(%ebp), %eax
    movl  $0x1badb002, %ebx
    movl  $0x5eed5eed, %esi
    movl  $0xd1ce0ff5, %edi
    call  *%eax
    xorl  %ecx, %ecx
    cmpl  $0x1badb002, %ebx
    je    3f
    orl   $1, %ecx
3:  cmpl  $0x5eed5eed, %esi
    je    4f
    orl   $2, %ecx
4:  cmpl  $0xd1ce0ff5, %edi
    je    5f
    orl   $4, %ecx
5:  movl  %esp, %eax
    subl  -16(%ebp), %eax
    movl  24(%ebp), %edx
    movl  %ecx, (%edx)
    leal  -12(%ebp), %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

extern "C" std::int32_t orvek_probe_call(const void *fn, std::int32_t nargs, const void *const *args,
                                         std::int32_t pad, std::int32_t *flags);

namespace orvek::windows_test {

CallReport CallStdcall(const void *fn, const std::vector<const void *> &args, int entry_alignment) {
  const auto nargs = static_cast<std::int32_t>(args.size());
  // At the callee's entry ESP = aligned - pad - 4*nargs - 4 (return address).
  const std::int32_t pad = ((-(entry_alignment + 4 * nargs + 4)) % 16 + 16) % 16;
  std::int32_t flags = 0;
  CallReport report;
  report.stack_imbalance = orvek_probe_call(fn, nargs, args.data(), pad, &flags);
  report.preserved_ebx = (flags & 1) == 0;
  report.preserved_esi = (flags & 2) == 0;
  report.preserved_edi = (flags & 4) == 0;
  return report;
}

} // namespace orvek::windows_test
