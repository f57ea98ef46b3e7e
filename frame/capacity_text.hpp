// Message texts that state a capacity, built at compile time from the named
// constant, so that changing a capacity changes every text that states it.
// kCapacityText<"... at most {}.", kMaxNonzeros> is the pattern with each
// "{}" replaced, in order, by the next value in decimal; the %(I1)-style
// placeholders filled at run time pass through untouched. Too few or too
// many values, or a text beyond FixedText::kCapacity characters, stop the
// compilation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace orvek::frame {

// A text built at compile time.
struct FixedText {
  static constexpr std::size_t kCapacity = 192;
  char chars[kCapacity] = {};
  std::size_t size = 0;

  constexpr std::string_view view() const { return {chars, size}; }
  constexpr void append(char c) {
    if (size == kCapacity) throw "message text beyond FixedText::kCapacity";
    chars[size++] = c;
  }
};

consteval FixedText FillCapacities(std::string_view pattern, std::initializer_list<std::int32_t> values) {
  FixedText out;
  const std::int32_t *next = values.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '{' || i + 1 >= pattern.size() || pattern[i + 1] != '}') {
      out.append(pattern[i]);
      continue;
    }
    if (next == values.end()) throw "more {} than values";
    std::int64_t v = *next++;
    if (v < 0) {
      out.append('-');
      v = -v;
    }
    char digits[12] = {};
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) out.append(digits[--n]);
    ++i; // the '}'
  }
  if (next != values.end()) throw "more values than {}";
  return out;
}

// A string literal as a template argument.
template <std::size_t N> struct Pattern {
  char chars[N] = {};
  consteval Pattern(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = s[i];
  }
  constexpr std::string_view view() const { return {chars, N - 1}; }
};

template <Pattern P, std::int32_t... Values>
inline constexpr FixedText kCapacityTextStorage = FillCapacities(P.view(), {Values...});

// The text itself, with static storage duration (a Message may hold it).
template <Pattern P, std::int32_t... Values>
inline constexpr std::string_view kCapacityText = kCapacityTextStorage<P, Values...>.view();

static_assert(kCapacityText<"N = %(I1) must not exceed {}.", 1000> == "N = %(I1) must not exceed 1000.");
static_assert(kCapacityText<"between {} and {}", 0, -25> == "between 0 and -25");
static_assert(kCapacityText<"{}{}", 2147483647, 7> == "21474836477");

} // namespace orvek::frame
