// Independent double-precision dense assembly of the admittance matrix of a
// host network (its float data read as doubles), with, per entry, the sum of
// the magnitudes of the terms that make it up, and checkers that compare the
// library's triplet list and row-indexed form with it and with each other.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"

namespace orvek::test {

struct DenseReference {
  std::int32_t n = 0;
  std::vector<std::complex<double>> y;   // y[(i-1)*n + (k-1)]
  std::vector<double> magnitude_sum;     // Σ |term| per entry
  std::vector<std::int32_t> term_count;  // number of terms per entry
  std::vector<bool> present;             // structurally present (diagonal or a branch in service)

  std::size_t at(std::int32_t i, std::int32_t k) const {
    return static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(k - 1);
  }
  void add(std::int32_t i, std::int32_t k, std::complex<double> t) {
    y[at(i, k)] += t;
    magnitude_sum[at(i, k)] += std::abs(t);
    ++term_count[at(i, k)];
    present[at(i, k)] = true;
  }
};

// Y(i,i) = Σ j·BSH + Σ (y + YA) over first ends + Σ (y + YB) over second
// ends; Y(i,k) = -Σ y. Opened branches (istat != 1) and self-loops carry
// their end admittances only.
inline DenseReference BuildDenseReference(const HostNetwork &net, const std::vector<std::int32_t> &istat = {}) {
  DenseReference r;
  r.n = net.n;
  const auto size = static_cast<std::size_t>(net.n) * static_cast<std::size_t>(net.n);
  r.y.assign(size, 0.0);
  r.magnitude_sum.assign(size, 0.0);
  r.term_count.assign(size, 0);
  r.present.assign(size, false);
  for (std::int32_t i = 1; i <= net.n; ++i) r.present[r.at(i, i)] = true;
  for (std::size_t k = 0; k < net.ksh.size(); ++k) r.add(net.ksh[k], net.ksh[k], {0.0, double(net.bsh[k])});
  for (std::int32_t b = 0; b < net.nb; ++b) {
    const auto u = static_cast<std::size_t>(b);
    const std::int32_t i = net.nodes[u];
    const std::int32_t j = net.nodes[kLdBranch + u];
    const std::complex<double> z(net.z[u], net.z[kLdBranch + u]);
    const std::complex<double> ya(net.ya[u], net.ya[kLdBranch + u]);
    const std::complex<double> yb(net.yb[u], net.yb[kLdBranch + u]);
    const bool in_service = istat.empty() || istat[u] == 1;
    if (!in_service || i == j) {
      r.add(i, i, ya);
      r.add(j, j, yb);
      continue;
    }
    const std::complex<double> y = 1.0 / z;
    r.add(i, i, y + ya);
    r.add(j, j, y + yb);
    r.add(i, j, -y);
    r.add(j, i, -y);
  }
  return r;
}

struct Deviation {
  double max_relative = 0.0;  // max |f - d| / |d| over entries with d != 0
  double max_bound_ratio = 0.0; // max |f - d| / (eps · (terms + 2) · Σ|term|)
};

// Every triplet lies at a present position, no position repeats, every
// present position is listed, and each value agrees with the reference
// within the single-precision rounding of its terms.
inline Deviation CompareWithReference(const Triplets &t, const DenseReference &r) {
  Deviation d;
  constexpr double kEps = 0x1p-24; // unit roundoff of single precision
  std::vector<bool> seen(r.y.size(), false);
  EXPECT_GE(t.nz, r.n);
  for (std::int32_t k = 0; k < t.nz; ++k) {
    const auto u = static_cast<std::size_t>(k);
    const std::int32_t i = t.irow[u], c = t.jcol[u];
    if (k < r.n) {
      EXPECT_EQ(i, k + 1);
      EXPECT_EQ(c, k + 1);
    }
    if (i < 1 || i > r.n || c < 1 || c > r.n) {
      ADD_FAILURE() << "entry " << k + 1 << " at (" << i << ", " << c << ")";
      continue;
    }
    const std::size_t p = r.at(i, c);
    EXPECT_TRUE(r.present[p]) << "(" << i << ", " << c << ") not in the network";
    EXPECT_FALSE(seen[p]) << "(" << i << ", " << c << ") twice";
    seen[p] = true;
    const std::complex<double> f(t.a[u].re, t.a[u].im);
    const double err = std::abs(f - r.y[p]);
    const double bound = kEps * (r.term_count[p] + 2) * r.magnitude_sum[p] * 2.0;
    if (std::abs(r.y[p]) > 0) d.max_relative = std::max(d.max_relative, err / std::abs(r.y[p]));
    if (bound > 0) d.max_bound_ratio = std::max(d.max_bound_ratio, err / bound);
    EXPECT_LE(err, bound) << "(" << i << ", " << c << "): " << f << " vs " << r.y[p];
  }
  for (std::size_t p = 0; p < r.y.size(); ++p) EXPECT_EQ(seen[p], bool(r.present[p])) << "position " << p;
  return d;
}

// The row-indexed form holds exactly the triplets: diagonals at 1..N, every
// off-diagonal triplet once in its row's range with the same value, and
// IJA(1) = N + 2, IJA(N + 1) = NZ + 2.
inline void ExpectRowIndexedMatches(std::int32_t n, const Triplets &t, const RowIndexed &r) {
  ASSERT_EQ(r.ija.size(), static_cast<std::size_t>(t.nz + 1));
  EXPECT_EQ(r.ija[0], n + 2);
  EXPECT_EQ(r.ija[static_cast<std::size_t>(n)], t.nz + 2);
  for (std::int32_t i = 1; i <= n; ++i) {
    EXPECT_EQ(r.sa[static_cast<std::size_t>(i - 1)], t.a[static_cast<std::size_t>(i - 1)]) << "diagonal " << i;
    EXPECT_LE(r.ija[static_cast<std::size_t>(i - 1)], r.ija[static_cast<std::size_t>(i)]);
  }
  std::vector<bool> used(r.ija.size() + 1, false);
  for (std::int32_t k = n; k < t.nz; ++k) {
    const auto u = static_cast<std::size_t>(k);
    const std::int32_t i = t.irow[u];
    bool found = false;
    for (std::int32_t p = r.ija[static_cast<std::size_t>(i - 1)]; p < r.ija[static_cast<std::size_t>(i)]; ++p) {
      const auto q = static_cast<std::size_t>(p - 1);
      if (r.ija[q] == t.jcol[u]) {
        EXPECT_FALSE(used[q]);
        used[q] = true;
        EXPECT_EQ(r.sa[q], t.a[u]) << "(" << i << ", " << t.jcol[u] << ")";
        found = true;
      }
    }
    EXPECT_TRUE(found) << "(" << i << ", " << t.jcol[u] << ") missing from the row-indexed form";
  }
}

} // namespace orvek::test
