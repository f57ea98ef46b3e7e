// Decoding of fuzzer bytes into the arguments of the exported routines, and
// the matching encoding used by the seed generator. Every value takes a tag
// byte: integers 0..239 stand for themselves (small counts and node numbers
// are what the routines mostly see), 0xF0 takes a 16-bit value, 0xF1 a raw
// 32-bit value, 0xF2.. pick boundary values; reals below 0xE0 are small
// multiples of 1/16, 0xFE takes a raw 32-bit float, the rest pick special
// values (zero, signed zero, infinities, NaN, extremes, subnormals). When the
// bytes run out every value reads as zero, so any prefix is a valid input.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace orvek::fuzz {

inline constexpr std::uint8_t kTagInt16 = 0xF0;
inline constexpr std::uint8_t kTagInt32 = 0xF1;
inline constexpr std::uint8_t kTagFloatRaw = 0xFE;
inline constexpr std::uint8_t kSmallIntLimit = 0xF0;   // tags below stand for themselves
inline constexpr std::uint8_t kSmallFloatLimit = 0xE0; // tags below are (tag - 112) / 16

// Boundary integers: around zero, the capacities and the 32-bit extremes.
inline constexpr std::int32_t kSpecialInts[] = {
    -1,   std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
    100,  101, 1000, 1001, 2500, 5000, 5001, 9999, 10000, 10001, 30001};
static_assert(sizeof kSpecialInts / sizeof kSpecialInts[0] == 0x100 - 0xF2);

inline float SpecialFloat(std::uint8_t tag) {
  switch (tag) {
  case 0xE0: return 0.0f;
  case 0xE1: return -0.0f;
  case 0xE2: return std::numeric_limits<float>::infinity();
  case 0xE3: return -std::numeric_limits<float>::infinity();
  case 0xE4: return std::numeric_limits<float>::quiet_NaN();
  case 0xE5: return std::numeric_limits<float>::max();
  case 0xE6: return -std::numeric_limits<float>::max();
  case 0xE7: return std::numeric_limits<float>::min();
  case 0xE8: return std::numeric_limits<float>::denorm_min();
  case 0xE9: return 1e-30f;
  case 0xEA: return 1e30f;
  case 0xEB: return 1e-8f;
  case 0xEC: return 1e8f;
  case 0xED: return std::numeric_limits<float>::epsilon();
  case 0xEE: return 0.5f;
  case 0xEF: return 1.0f;
  default: return 1e-4f * static_cast<float>(tag - 0xF0);
  }
}

class ByteReader {
public:
  ByteReader(const std::uint8_t *data, std::size_t size) : p_(data), end_(data + size) {}

  bool empty() const { return p_ == end_; }
  std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }

  std::int32_t integer() {
    const std::uint8_t tag = byte();
    if (tag < kSmallIntLimit) return tag;
    if (tag == kTagInt16) {
      const std::uint32_t lo = byte(), hi = byte();
      return static_cast<std::int32_t>(lo | hi << 8);
    }
    if (tag == kTagInt32) {
      std::uint32_t v = 0;
      for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(byte()) << (8 * k);
      return static_cast<std::int32_t>(v);
    }
    return kSpecialInts[tag - 0xF2];
  }

  float real() {
    const std::uint8_t tag = byte();
    if (tag < kSmallFloatLimit) return static_cast<float>(static_cast<int>(tag) - 112) / 16.0f;
    if (tag == kTagFloatRaw) {
      std::uint32_t v = 0;
      for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(byte()) << (8 * k);
      float f;
      std::memcpy(&f, &v, sizeof f);
      return f;
    }
    return SpecialFloat(tag);
  }

private:
  const std::uint8_t *p_;
  const std::uint8_t *end_;
};

class ByteWriter {
public:
  void byte(std::uint8_t b) { out_.push_back(b); }
  void integer(std::int32_t v) {
    if (v >= 0 && v < kSmallIntLimit) {
      byte(static_cast<std::uint8_t>(v));
    } else if (v >= 0 && v <= 0xFFFF) {
      byte(kTagInt16);
      byte(static_cast<std::uint8_t>(v & 0xFF));
      byte(static_cast<std::uint8_t>(v >> 8));
    } else {
      byte(kTagInt32);
      const auto u = static_cast<std::uint32_t>(v);
      for (int k = 0; k < 4; ++k) byte(static_cast<std::uint8_t>(u >> (8 * k)));
    }
  }
  void real(float f) {
    const float scaled = f * 16.0f;
    if (scaled == static_cast<float>(static_cast<int>(scaled)) && scaled >= -112.0f && scaled < 112.0f &&
        !(f == 0.0f && std::signbit(f))) {
      byte(static_cast<std::uint8_t>(static_cast<int>(scaled) + 112));
      return;
    }
    byte(kTagFloatRaw);
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    for (int k = 0; k < 4; ++k) byte(static_cast<std::uint8_t>(u >> (8 * k)));
  }
  const std::vector<std::uint8_t> &bytes() const { return out_; }

private:
  std::vector<std::uint8_t> out_;
};

} // namespace orvek::fuzz
