// Calls a routine of ORVEK.dll the way a 32-bit Windows host does: pushes
// the arguments (all pointers) right to left and calls through a stdcall
// function pointer, then reports how the callee left the stack and the
// registers it must preserve. A callee that removes the wrong number of
// bytes (its argument count differs from the caller's) shows a non-zero
// stack imbalance instead of silently corrupting the host's frame.
#pragma once

#include <cstdint>
#include <vector>

namespace orvek::windows_test {

struct CallReport {
  std::int32_t stack_imbalance = 0; // bytes the callee removed minus bytes pushed
  bool preserved_ebx = true;
  bool preserved_esi = true;
  bool preserved_edi = true;
  bool clean() const { return stack_imbalance == 0 && preserved_ebx && preserved_esi && preserved_edi; }
};

// Calls fn with args pushed right to left so that the callee sees its stack
// pointer at entry congruent to entry_alignment modulo 16 (0, 4, 8 or 12;
// 32-bit Windows guarantees only 4-byte alignment).
CallReport CallStdcall(const void *fn, const std::vector<const void *> &args, int entry_alignment = 4);

} // namespace orvek::windows_test
