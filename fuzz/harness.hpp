// Shared harness of the fuzz targets: host arrays sized exactly as a host
// declares them (heap blocks, so AddressSanitizer flags any access past
// their end), filled with a canary pattern so that writes into unused
// positions show; the error module switched to neither print nor stop, so a
// rejected call returns and the next input runs; the checks that turn a
// broken promise into a crash the fuzzer records; and the decoders of host
// arrays that several targets read alike.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz/byte_stream.hpp"
#include "support/error_module.hpp"

// The harness's own bookkeeping loops carry no coverage feedback: they
// would only slow the fuzzer down and say nothing about the library.
#define ORVEK_FUZZ_PLAIN __attribute__((no_sanitize("coverage")))

namespace orvek::fuzz {

// Word-wise compare without the memcmp interceptor (large blocks).
ORVEK_FUZZ_PLAIN inline bool SameWords(const void *a, const void *b, std::size_t words) {
  const auto *x = static_cast<const std::uint32_t *>(a);
  const auto *y = static_cast<const std::uint32_t *>(b);
  std::uint32_t diff = 0;
  for (std::size_t k = 0; k < words; ++k) diff |= x[k] ^ y[k];
  return diff == 0;
}

ORVEK_FUZZ_PLAIN inline bool AllCanary(const void *a, std::size_t words) {
  const auto *x = static_cast<const std::uint32_t *>(a);
  std::uint32_t diff = 0;
  for (std::size_t k = 0; k < words; ++k) diff |= x[k] ^ 0xA5A5A5A5u;
  return diff == 0;
}

// The canary: as an integer -1515870811, as a float a quiet NaN, so no
// routine produces it by chance.
inline constexpr std::uint32_t kCanaryBits = 0xA5A5A5A5u;

[[noreturn]] inline void Fail(const char *what) {
  std::fprintf(stderr, "fuzz harness: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

inline void Expect(bool ok, const char *what) {
  if (!ok) Fail(what);
}

// A host array of exactly `size` elements of T (int32_t or float), canary
// filled; a zero size gives a zero-length block, never a null pointer.
template <class T> class HostArray {
  static_assert(sizeof(T) == sizeof(std::uint32_t));

public:
  ORVEK_FUZZ_PLAIN explicit HostArray(std::size_t size) : size_(size), p_(new T[size]), copy_(new T[size]) {
    std::memset(p_.get(), 0xA5, size_ * sizeof(T)); // every byte 0xA5: the canary word
  }
  T *data() { return p_.get(); }
  const T *data() const { return p_.get(); }
  std::size_t size() const { return size_; }
  T &operator[](std::size_t k) { return p_[k]; }
  const T &operator[](std::size_t k) const { return p_[k]; }
  // Stores only inside the array (decoders may name any position).
  void put(std::int64_t k, T v) {
    if (k >= 0 && static_cast<std::size_t>(k) < size_) p_[static_cast<std::size_t>(k)] = v;
  }
  T get(std::int64_t k) const {
    return k >= 0 && static_cast<std::size_t>(k) < size_ ? p_[static_cast<std::size_t>(k)] : T{};
  }

  // Positions [from, to) still hold the canary.
  ORVEK_FUZZ_PLAIN bool untouched(std::int64_t from, std::int64_t to) const {
    const auto lo = static_cast<std::size_t>(std::clamp<std::int64_t>(from, 0, static_cast<std::int64_t>(size_)));
    const auto hi = static_cast<std::size_t>(std::clamp<std::int64_t>(to, 0, static_cast<std::int64_t>(size_)));
    return hi <= lo || AllCanary(p_.get() + lo, hi - lo);
  }
  bool untouched() const { return untouched(0, static_cast<std::int64_t>(size_)); }

  // Remembers the contents; unchanged() compares bit for bit.
  ORVEK_FUZZ_PLAIN void snapshot() { std::memcpy(copy_.get(), p_.get(), size_ * sizeof(T)); }
  ORVEK_FUZZ_PLAIN bool unchanged() const { return SameWords(copy_.get(), p_.get(), size_); }

private:
  std::size_t size_;
  std::unique_ptr<T[]> p_;
  std::unique_ptr<T[]> copy_;
};

using Ints = HostArray<std::int32_t>;
using Reals = HostArray<float>;

// A split-complex X(LD, 2) is 2*LD reals; column 2 starts at LD. Positions
// [used, LD) of both columns hold the canary.
inline bool SplitUntouchedBeyond(const Reals &x, std::int64_t ld, std::int64_t used) {
  return x.untouched(used, ld) && x.untouched(ld + used, 2 * ld);
}

// Element count of a host array whose length is given by a count argument:
// counts beyond `cap` (which the routine must reject before reading) get a
// `cap`-element block, counts below zero an empty one.
inline std::size_t Extent(std::int64_t count, std::int64_t cap) {
  return static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, cap));
}

// IJA of a row-indexed matrix of order n as a host declares it: `end`
// (IJA(N+1), decoded first), the N pointers before it, then room for
// IJA(N+1) - 1 entries whose column numbers are decoded too (1 once the
// bytes run out). Counts beyond the capacities get capacity-sized blocks.
inline Ints DecodeRowIndex(ByteReader &in, std::int32_t n, std::int64_t node_cap, std::int64_t value_cap,
                           std::int32_t &end) {
  const std::int64_t rows = static_cast<std::int64_t>(Extent(static_cast<std::int64_t>(n) + 1, node_cap + 1));
  end = in.integer();
  const std::size_t size =
      std::max<std::size_t>(static_cast<std::size_t>(rows), Extent(static_cast<std::int64_t>(end) - 1, value_cap));
  Ints ija(size);
  for (std::int64_t i = 0; i + 1 < rows; ++i) ija.put(i, in.integer());
  ija.put(rows - 1, end);
  for (std::size_t p = static_cast<std::size_t>(rows); p < size; ++p) ija[p] = in.empty() ? 1 : in.integer();
  return ija;
}

inline void QuietErrors() {
  static const bool done = [] {
    ErrorModule &err = errors();
    for (std::int32_t type = 1; type <= 7; ++type) {
      err.set_print(type, false);
      err.set_stop(type, false);
    }
    return true;
  }();
  (void)done;
}

// Brackets one call of an exported routine: the error state starts clean at
// the user level and must be back there afterwards (every push popped).
class Call {
public:
  Call() {
    QuietErrors();
    ErrorModule &err = errors();
    Expect(err.depth() == 1, "error stack not at the user level before a call");
    err.E1MES(0, 0, ""); // clears the type and code the last call left at the user level
  }
  // After the call: true when the routine rejected its arguments itself (a
  // TERMINAL error raised under its own name), in which case it must have
  // written nothing.
  bool rejected(std::string_view routine) const {
    ErrorModule &err = errors();
    Expect(err.depth() == 1, "error stack not back at the user level after a call");
    return err.type_at(1) == kTerminal && err.last_type() == kTerminal && err.last_routine() == routine;
  }
  // Any error of type TERMINAL raised during the call (own check or kernel).
  bool terminal() const { return errors().type_at(1) == kTerminal; }
};

} // namespace orvek::fuzz
