// Fuzz target of the MATPOWER case reader: the input is the case text
// itself. ParseCase, then BuildNetwork and both host layouts on what it
// accepts. Checks: nothing but CaseError is thrown; a message holds no
// control byte (text from the file is escaped) and stays short; a network
// holds only nodes 1..N at its branch ends; and the same text with LF line
// ends turned into CR ones reads alike (the same tables or the same
// message).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/harness.hpp"
#include "tools/casefile/matpower.hpp"

namespace {

using orvek::fuzz::Expect;
namespace cf = orvek::casefile;

// Longest message: a few quoted excerpts of at most 60 characters (each
// escaped byte four) plus the fixed words.
constexpr std::size_t kLongestMessage = 1024;

ORVEK_FUZZ_PLAIN void ExpectPrintable(const std::string &message) {
  Expect(message.size() <= kLongestMessage, "a case-file message is too long");
  for (const char c : message) {
    const auto u = static_cast<unsigned char>(c);
    Expect(u >= 0x20 && u != 0x7F, "a case-file message holds a control byte");
  }
}

// What a read gave: the tables' sizes and row lines, or the message.
std::string Outcome(std::string_view text) {
  try {
    const cf::Case c = cf::ParseCase(text, "fuzz.m");
    std::string out = "tables " + std::to_string(c.buses.size()) + " " + std::to_string(c.generators.size()) +
                      " " + std::to_string(c.branches.size());
    for (const cf::CaseBus &b : c.buses) out += " " + std::to_string(b.line);
    for (const cf::CaseBranch &b : c.branches) out += " " + std::to_string(b.line);
    return out;
  } catch (const cf::CaseError &e) {
    ExpectPrintable(e.what());
    return e.what();
  }
}

void BuildAndLayOut(std::string_view text) {
  cf::Case c;
  try {
    c = cf::ParseCase(text, "fuzz.m");
  } catch (const cf::CaseError &) {
    return;
  }
  try {
    const cf::Network net = cf::BuildNetwork(c);
    for (const cf::NetworkBranch &b : net.branches)
      Expect(b.from >= 1 && b.from <= net.n && b.to >= 1 && b.to <= net.n, "a branch end outside 1..N");
    const cf::HostArrays wide = cf::MakeUnboundedArrays(net);
    Expect(wide.n == net.n && wide.nb == net.nb(), "unbounded arrays of another size");
    (void)cf::MakeHostArrays(net);
  } catch (const cf::CaseError &e) {
    ExpectPrintable(e.what());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const std::string first = Outcome(text);
  BuildAndLayOut(text);
  if (text.find('\r') == std::string_view::npos) {
    std::string cr(text);
    for (char &c : cr)
      if (c == '\n') c = '\r';
    Expect(Outcome(cr) == first, "CR line ends read differently from LF ones");
  }
  return 0;
}
