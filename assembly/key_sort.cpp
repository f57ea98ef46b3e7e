// The key sort: quicksort of 32-bit (or 64-bit) keys with a moving pivot fraction R, an
// explicit stack of segment bounds and a straight-insertion finish for short
// segments, optionally carrying a companion vector through every move. The
// order in which equal keys come out is part of the contract, so the steps
// below are kept exactly: R moves in steps of k/256, the larger part of a
// partition is stacked and the smaller one sorted next, equal keys are never
// exchanged, and segments that start at position 1 are always partitioned.
#include "assembly/key_sort.hpp"

#include <cstring>
#include <string_view>

namespace orvek {

namespace {

constexpr std::int32_t kLengthCode = 1;
constexpr std::string_view kSvigpName = "SVIGP ";
constexpr std::string_view kSvigpLength = "The length of vectors IA, IB, and IPERM must be greater than or "
                                          "equal to one.  On input the length, N, is "
                                          "given as %(I1).";
constexpr std::string_view kSvignName = "SVIGN";
constexpr std::string_view kSvignLength = "The length of vector IA must be greater than or equal to one.  On "
                                          "input the length, N, is given as %(I1).";

// Pivot fraction: starts at 96/256, moves by +10/256 or -56/256 around the
// single-precision threshold 0.5898437 (just below 151/256).
constexpr float kRStart = 0.375f;
constexpr float kRThreshold = 0.5898437f;
constexpr float kRDown = 0.21875f;
constexpr float kRUp = 0.0390625f;
// Segments of at least this many keys minus one (J - I >= 11) are partitioned.
constexpr std::int32_t kPartitionSpan = 11;
// The larger part is stacked, so the stack holds at most log2(N) + 1
// segments: 21 places suffice up to about two million keys, 32 for any
// 32-bit N.
constexpr int kStackPlaces = 32;

// Positions are 1-based as in the steps: b[p] is IB(p), c[p] is IPERM(p).
// The key type only widens the values compared: keys of equal values in
// either width meet the same comparisons and leave in the same order.
template <bool kCarry, class Key = std::int32_t> class Sorter {
public:
  Sorter(Key *ib, std::int32_t *iperm) : b_(ib - 1), c_(kCarry ? iperm - 1 : nullptr) {}

  void Run(std::int32_t n) {
    std::int32_t il[kStackPlaces + 1];
    std::int32_t iu[kStackPlaces + 1];
    std::int32_t m = 1;
    std::int32_t i = 1;
    std::int32_t j = n;
    float r = kRStart;

  A: // Adjust the pivot fraction before each partition of a new segment.
    if (i == j) goto G;
    if (r > kRThreshold)
      r = r - kRDown;
    else
      r = r + kRUp;

  B: {
    const Split split = Partition(i, j, r);
    // [D] Stack the larger part, keep the smaller.
    if (split.l - i > j - split.k) {
      il[m] = i;
      iu[m] = split.l;
      i = split.k;
    } else {
      il[m] = split.k;
      iu[m] = j;
      j = split.l;
    }
    ++m;
    goto F;
  }

  G: // Next stacked segment.
    --m;
    if (m == 0) return;
    i = il[m];
    j = iu[m];

  F:
    if (j - i >= kPartitionSpan) goto B;
    if (i == 1) goto A;
    InsertionSort(i, j);
    goto G;
  }

private:
  // The parts a partition leaves: IB(I..L) and IB(K..J), L < K.
  struct Split {
    std::int32_t l;
    std::int32_t k;
  };

  // Partitions IB(I..J) around the median of IB(I), IB(IJ) and IB(J), IJ set
  // by the pivot fraction R.
  Split Partition(std::int32_t i, std::int32_t j, float r) {
    Key t = 0;
    std::int32_t tp = 0;
    // [B] Median of three around the pivot position: IB(I) <= T <= IB(J).
    std::int32_t k = i;
    // (J - I) * R is exact: R is a multiple of 1/256 below 1.
    const std::int32_t ij = i + static_cast<std::int32_t>(static_cast<double>(j - i) * static_cast<double>(r));
    Take(ij, t, tp);
    if (b_[i] > t) {
      Swap(i, ij);
      Take(ij, t, tp);
    }
    std::int32_t l = j;
    if (b_[j] < t) {
      Swap(j, ij);
      Take(ij, t, tp);
      if (b_[i] > t) {
        Swap(i, ij);
        Take(ij, t, tp);
      }
    }
    // [C] Partition; keys equal to T stop both scans and are not exchanged.
    for (;;) {
      do --l;
      while (b_[l] > t);
      do ++k;
      while (b_[k] < t);
      if (l < k) return {l, k};
      if (b_[l] != b_[k]) Swap(l, k);
    }
  }

  // Straight insertion of IB(I..J); the key before the segment is no greater
  // than any key in it, so the inner loop needs no lower bound.
  void InsertionSort(std::int32_t i, std::int32_t j) {
    Key t = 0;
    std::int32_t tp = 0;
    for (std::int32_t p = i; p <= j - 1; ++p) {
      Take(p + 1, t, tp);
      if (b_[p] > t) {
        std::int32_t q = p;
        do {
          b_[q + 1] = b_[q];
          if constexpr (kCarry) c_[q + 1] = c_[q];
          --q;
        } while (b_[q] > t);
        b_[q + 1] = t;
        if constexpr (kCarry) c_[q + 1] = tp;
      }
    }
  }

  void Take(std::int32_t p, Key &t, std::int32_t &tp) const {
    t = b_[p];
    if constexpr (kCarry) tp = c_[p];
  }
  void Swap(std::int32_t p, std::int32_t q) {
    const Key key = b_[p];
    b_[p] = b_[q];
    b_[q] = key;
    if constexpr (kCarry) {
      const std::int32_t mate = c_[p];
      c_[p] = c_[q];
      c_[q] = mate;
    }
  }

  Key *b_;
  std::int32_t *c_;
};

template <bool kCarry, class Key>
void SortKeys(ErrorModule &err, std::string_view name, std::string_view length_message, std::int32_t n,
              const Key *ia, Key *ib, std::int32_t *iperm) {
  ErrorFrame frame(err, name);
  if (n >= 1 && ia != ib) std::memmove(ib, ia, static_cast<std::size_t>(n) * sizeof *ib);
  if (n < 1) {
    err.SetIntegerPlaceholder(1, n);
    err.E1MES(kTerminal, kLengthCode, length_message);
  }
  if (err.N1RCD(0) != 0) return;
  Sorter<kCarry, Key>(ib, iperm).Run(n);
}

} // namespace

void SVIGP(ErrorModule &err, std::int32_t n, const std::int32_t *ia, std::int32_t *ib, std::int32_t *iperm) {
  SortKeys<true>(err, kSvigpName, kSvigpLength, n, ia, ib, iperm);
}

void SVIGPWide(ErrorModule &err, std::int32_t n, const std::int64_t *ia, std::int64_t *ib,
               std::int32_t *iperm) {
  SortKeys<true>(err, kSvigpName, kSvigpLength, n, ia, ib, iperm);
}

void SVIGN(ErrorModule &err, std::int32_t n, const std::int32_t *ia, std::int32_t *ib) {
  SortKeys<false>(err, kSvignName, kSvignLength, n, ia, ib, nullptr);
}

} // namespace orvek
