// Regressions found by fuzzing the sequence routines. So accepted a row
// whose end pointer IJA(K+1) lies below its start (an empty row, nothing
// to read) but then formed IJA(K+1) - 1, which overflows for -2147483648:
// undefined behaviour, in practice a loop over every position up to
// 2147483647. The row must give the diagonal term alone.
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "orvek/orvek.h"

namespace {

constexpr std::int32_t kLdNode = ORVEK_LD_NODE, kLdNonzero = ORVEK_LD_NONZERO;

TEST(SoRegression, RowEndingAtTheSmallestPointerIsEmpty) {
  // Order 2; row 1 from IJA(1) = 4 to IJA(2) = -2147483648, IJA(3) = 4.
  std::vector<std::int32_t> ija = {4, std::numeric_limits<std::int32_t>::min(), 4};
  std::vector<float> v(2 * kLdNode, 0.0f), sa(2 * kLdNonzero, 0.0f);
  v[0] = 1.0f;                           // V(1) = 1
  sa[0] = 2.0f, sa[kLdNonzero] = -3.0f;  // Y(1,1) = 2 - j3
  std::int32_t n = 2, k = 1;
  float sr = -1.0f, si = -1.0f;
  So(&n, &k, v.data(), sa.data(), ija.data(), &sr, &si);
  // S = V(1) * conj(Y(1,1) * V(1)) = 2 + j3.
  EXPECT_EQ(sr, 2.0f);
  EXPECT_EQ(si, 3.0f);
}

} // namespace
