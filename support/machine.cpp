// Machine constants of the numerical routines: unit numbers (settable),
// integer constants and IEEE single-precision constants given by their bit
// patterns. UMACH and IMACH report a bad index with three fixed lines and a
// stop, outside the error stack; AMACH reports through the error module.
#include "support/machine.hpp"

#include <array>
#include <bit>
#include <string>

namespace orvek {

namespace {

constexpr std::int32_t kUnits = 3;
constexpr std::int32_t kIntegerConstants = 12;
constexpr std::int32_t kRealConstants = 8;
constexpr std::int32_t kNanIndex = 6;

// Units 1 (input), 2 (output), 3 (error messages); unit 6 is the standard
// output, unit 5 the standard input.
std::array<std::int32_t, kUnits> g_units = {5, 6, 6};

constexpr std::array<std::int32_t, kIntegerConstants> kIntegers = {32, 4,    2,   31, 2147483647, 2,
                                                                   24, -125, 128, 53, -1021,      1024};

constexpr std::array<std::uint32_t, kRealConstants> kRealBits = {
    0x00800000u, // smallest normalized positive
    0x7F7FFFFFu, // largest finite
    0x33800000u, // smallest relative spacing
    0x34000000u, // largest relative spacing
    0x3E9A209Bu, // log10(2)
    0x7FC00000u, // quiet NaN
    0x7F800000u, // +infinity
    0xFF800000u, // -infinity
};

constexpr std::int32_t kAmachCode = 5;
constexpr std::string_view kAmachName = "AMACH";
constexpr std::string_view kAmachMessage = "The argument must be between 1 and 8 inclusive. N = %(I1)";

// The three lines UMACH and IMACH write, then the stop (when stopping of
// TERMINAL errors is on; otherwise the call returns).
void FixedTerminal(ErrorModule &err, const std::string &text) {
  err.write(text);
  if (err.stop_flag(kTerminal)) err.stop();
}

} // namespace

void UMACH(ErrorModule &err, std::int32_t n, std::int32_t &nunit) {
  // |N| in 64 bits, so that N = -2147483648 is reported as it is.
  const std::int64_t magnitude = n < 0 ? -static_cast<std::int64_t>(n) : n;
  if (magnitude < 1 || magnitude > kUnits) {
    FixedTerminal(err, "*** TERMINAL ERROR 5 from UMACH.  The absolute\n"
                       "***          value of the index variable must be\n"
                       "***          1, 2, or 3.  IABS(N) = " +
                           std::to_string(magnitude) + "\n");
    return;
  }
  const auto slot = static_cast<std::size_t>(magnitude - 1);
  if (n < 0)
    g_units[slot] = nunit;
  else
    nunit = g_units[slot];
}

void UMACH(std::int32_t n, std::int32_t &nunit) {
  UMACH(errors(), n, nunit);
}

std::int32_t IMACH(ErrorModule &err, std::int32_t n) {
  if (n < 1 || n > kIntegerConstants) {
    FixedTerminal(err, "*** TERMINAL ERROR 5 from IMACH.  The argument\n"
                       "***          must be between 1 and 12 inclusive.\n"
                       "***          N = " +
                           std::to_string(n) + "\n");
    return 0;
  }
  return kIntegers[static_cast<std::size_t>(n - 1)];
}

std::int32_t IMACH(std::int32_t n) {
  return IMACH(errors(), n);
}

float AMACH(ErrorModule &err, std::int32_t n) {
  if (n < 1 || n > kRealConstants) {
    ErrorFrame frame(err, kAmachName);
    err.SetIntegerPlaceholder(1, n);
    err.E1MES(kTerminal, kAmachCode, kAmachMessage);
    n = kNanIndex;
  }
  return std::bit_cast<float>(kRealBits[static_cast<std::size_t>(n - 1)]);
}

} // namespace orvek
