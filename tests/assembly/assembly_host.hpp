// Host-side helpers of the assembly tests: branch arrays in the exported
// layouts (leading dimension 5000, split-complex), calls of the six exported
// assembly routines with output arrays pre-filled with a sentinel, and the
// outputs read back as plain vectors.
#pragma once

#include <cstdint>
#include <vector>

#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "support/complex.hpp"

namespace orvek::test {

inline constexpr std::int32_t kSentinel = -777;
inline constexpr float kSentinelValue = -9.5f;

// Branches and nodal shunts as a host holds them.
struct HostNetwork {
  std::int32_t n = 0;
  std::int32_t nb = 0;
  std::vector<float> z = std::vector<float>(2 * kLdBranch, 0.0f);
  std::vector<float> ya = std::vector<float>(2 * kLdBranch, 0.0f);
  std::vector<float> yb = std::vector<float>(2 * kLdBranch, 0.0f);
  std::vector<std::int32_t> nodes = std::vector<std::int32_t>(2 * kLdBranch, 0);
  std::vector<float> bsh;
  std::vector<std::int32_t> ksh;

  // Appends branch nb + 1 from node i to node j.
  void Add(std::int32_t i, std::int32_t j, Complex zb, Complex yab, Complex ybb) {
    const auto b = static_cast<std::size_t>(nb++);
    nodes[b] = i;
    nodes[kLdBranch + b] = j;
    z[b] = zb.re;
    z[kLdBranch + b] = zb.im;
    ya[b] = yab.re;
    ya[kLdBranch + b] = yab.im;
    yb[b] = ybb.re;
    yb[kLdBranch + b] = ybb.im;
  }
  void AddShunt(std::int32_t node, float b) {
    ksh.push_back(node);
    bsh.push_back(b);
  }
  std::int32_t nsh() const { return static_cast<std::int32_t>(ksh.size()); }
};

struct Triplets {
  std::int32_t nz = kSentinel;
  std::vector<std::int32_t> irow, jcol;
  std::vector<Complex> a;
};

// Row-indexed form: ija and sa for positions 1..nz + 1 (sa[n] the spacer).
struct RowIndexed {
  std::vector<std::int32_t> ija;
  std::vector<Complex> sa;
};

struct Assembled {
  Triplets t;
  RowIndexed r;
};

// Raw host output arrays of capacity size, sentinel-filled.
struct OutputArrays {
  std::vector<std::int32_t> irow = std::vector<std::int32_t>(kMaxNonzeros, kSentinel);
  std::vector<std::int32_t> jcol = std::vector<std::int32_t>(kMaxNonzeros, kSentinel);
  std::vector<float> a = std::vector<float>(2 * kLdNonzero, kSentinelValue);
  std::int32_t nz = kSentinel;
  std::vector<float> sa = std::vector<float>(2 * kLdNonzero, kSentinelValue);
  std::vector<std::int32_t> ija = std::vector<std::int32_t>(kMaxNonzeros, kSentinel);

  Triplets triplets() const {
    Triplets t;
    t.nz = nz;
    for (std::int32_t k = 0; k < nz; ++k) {
      t.irow.push_back(irow[static_cast<std::size_t>(k)]);
      t.jcol.push_back(jcol[static_cast<std::size_t>(k)]);
      t.a.push_back(Value(a, k));
    }
    return t;
  }
  RowIndexed row_indexed() const {
    RowIndexed r;
    for (std::int32_t k = 0; k <= nz; ++k) {
      r.ija.push_back(ija[static_cast<std::size_t>(k)]);
      r.sa.push_back(Value(sa, k));
    }
    return r;
  }
  static Complex Value(const std::vector<float> &x, std::int32_t k) {
    return {x[static_cast<std::size_t>(k)], x[static_cast<std::size_t>(kLdNonzero + k)]};
  }
};

inline OutputArrays RunMatricaY(const HostNetwork &net) {
  OutputArrays o;
  const std::int32_t nsh = net.nsh();
  MatricaY(net.bsh.data(), net.ksh.data(), &nsh, &net.n, net.z.data(), net.ya.data(), net.yb.data(),
           net.nodes.data(), &net.nb, o.irow.data(), o.jcol.data(), o.a.data(), &o.nz, o.sa.data(), o.ija.data());
  return o;
}

inline OutputArrays RunMatYsa(const HostNetwork &net) {
  OutputArrays o;
  MatYsa(&net.n, net.z.data(), net.ya.data(), net.yb.data(), net.nodes.data(), &net.nb, o.irow.data(),
         o.jcol.data(), o.a.data(), &o.nz, o.sa.data(), o.ija.data());
  return o;
}

inline OutputArrays RunMatY(const HostNetwork &net) {
  OutputArrays o;
  MatY(&net.n, net.z.data(), net.ya.data(), net.yb.data(), net.nodes.data(), &net.nb, o.irow.data(), o.jcol.data(),
       o.a.data(), &o.nz);
  return o;
}

inline OutputArrays RunMatYPrekin(const HostNetwork &net, const std::vector<std::int32_t> &istat) {
  OutputArrays o;
  MatY_prekin(&net.n, net.z.data(), net.ya.data(), net.yb.data(), net.nodes.data(), istat.data(), &net.nb,
              o.irow.data(), o.jcol.data(), o.a.data(), &o.nz);
  return o;
}

inline Assembled AssembleMatricaY(const HostNetwork &net) {
  const OutputArrays o = RunMatricaY(net);
  return {o.triplets(), o.row_indexed()};
}

// The row-indexed input of a reduction as the host passes it.
struct ReductionInput {
  std::vector<float> sa = std::vector<float>(2 * kLdNonzero, 0.0f);
  std::vector<std::int32_t> ija = std::vector<std::int32_t>(kMaxNonzeros, 0);

  static ReductionInput From(const OutputArrays &o) {
    ReductionInput in;
    in.sa = o.sa;
    in.ija = o.ija;
    return in;
  }
};

inline OutputArrays RunMatricaYR(std::int32_t kref, const ReductionInput &in, const std::vector<std::int32_t> &iold,
                                 const std::vector<std::int32_t> &inew, std::int32_t n) {
  OutputArrays o;
  MatricaYR(&kref, in.sa.data(), in.ija.data(), iold.data(), inew.data(), &n, o.sa.data(), o.ija.data(),
            o.irow.data(), o.jcol.data(), o.a.data(), &o.nz);
  return o;
}

inline OutputArrays RunMatYR(std::int32_t nin, const std::vector<std::int32_t> &idrop, const ReductionInput &in,
                             const std::vector<std::int32_t> &iold, const std::vector<std::int32_t> &inew,
                             std::int32_t n) {
  OutputArrays o;
  MatYR(&nin, idrop.data(), in.sa.data(), in.ija.data(), iold.data(), inew.data(), &n, o.irow.data(),
        o.jcol.data(), o.a.data(), &o.nz);
  return o;
}

} // namespace orvek::test
