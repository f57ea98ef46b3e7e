// Helpers of the native-interface tests: test networks from the case files
// in both layouts (native vectors and the exported routines' fixed leading
// dimensions), the exported routines looked up by name in liborvek.so, and
// double-precision references (matrix-vector products, refined solutions).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "orvek/orvek.h"
#include "orvek/orvek.hpp"
#include "tools/casefile/matpower.hpp"

namespace orvek::test::native {

inline std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

// A network in both layouts. The sequence networks of the fault study are
// the case's π-branches with a source reactance at every generator node
// (positive j0.2, negative j0.25 as nodal shunts -5 and -4) and, for the
// zero sequence, three times the series impedances with -10 at generators.
struct TestNet {
  casefile::Network net;
  casefile::HostArrays host; // leading dimension ld (5000 when it fits)
  std::int32_t n = 0, nb = 0;
  std::vector<std::int32_t> from, to;
  std::vector<Complex> z, ya, yb, z0;
  std::vector<float> r, x, t;
  std::vector<std::int32_t> gen_nodes; // distinct, ascending
  std::vector<float> ub;
  std::vector<Complex> e;
  bool fits = false;

  BranchView branches() const { return {from, to, z, ya, yb}; }
  BranchView zero_branches() const { return {from, to, z0, ya, yb}; }
  DecoupledBranchView decoupled() const { return {from, to, r, x, t}; }
};

inline std::optional<TestNet> LoadNet(const std::string &name,
                                      casefile::NodeOrder order = casefile::NodeOrder::kFile) {
  const std::string path = CasesDir() + "/" + name + ".m";
  if (!std::filesystem::exists(path)) return std::nullopt;
  TestNet t;
  t.net = casefile::BuildNetwork(casefile::ReadCase(path), order);
  try {
    t.host = casefile::MakeHostArrays(t.net);
    t.fits = true;
  } catch (const casefile::CaseError &) {
    t.host = casefile::MakeUnboundedArrays(t.net);
  }
  const casefile::HostArrays &h = t.host;
  const auto ld = static_cast<std::size_t>(h.ld);
  t.n = h.n;
  t.nb = h.nb;
  for (std::size_t b = 0; b < static_cast<std::size_t>(h.nb); ++b) {
    t.from.push_back(h.nodes[b]);
    t.to.push_back(h.nodes[ld + b]);
    t.z.push_back({h.z[b], h.z[ld + b]});
    t.z0.push_back({3.0f * h.z[b], 3.0f * h.z[ld + b]});
    t.ya.push_back({h.ya[b], h.ya[ld + b]});
    t.yb.push_back({h.yb[b], h.yb[ld + b]});
    t.r.push_back(h.z_bx[b]);
    t.x.push_back(h.z_bx[ld + b]);
    t.t.push_back(h.t[b]);
  }
  std::vector<bool> gen(static_cast<std::size_t>(t.n), false);
  for (const auto &g : t.net.generators) gen[static_cast<std::size_t>(g.node - 1)] = true;
  for (std::int32_t i = 1; i <= t.n; ++i)
    if (gen[static_cast<std::size_t>(i - 1)]) t.gen_nodes.push_back(i);
  for (std::int32_t i = 0; i < t.n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const double kv = t.net.base_kv[k] > 0 ? t.net.base_kv[k] : 1.0;
    t.ub.push_back(static_cast<float>(kv));
    const auto vm = static_cast<float>(t.net.vm_file[k]);
    const auto va = static_cast<float>(t.net.va_file[k] * 3.14159265358979323846 / 180.0);
    t.e.push_back({vm * std::cos(va), vm * std::sin(va)});
  }
  return t;
}

#define ORVEK_LOAD_NET(var, name)                                                                                     \
  auto var##_opt = ::orvek::test::native::LoadNet(name);                                                             \
  if (!var##_opt) GTEST_SKIP() << "case " << (name) << " not found in " << ::orvek::test::native::CasesDir();        \
  const ::orvek::test::native::TestNet &var = *var##_opt

// Nodal shunts of one sequence network: susceptance `b` at every generator.
struct Shunts {
  std::vector<std::int32_t> node;
  std::vector<float> b;
  ShuntView view() const { return {node, b}; }
};
inline Shunts GeneratorShunts(const TestNet &t, float b) {
  Shunts s;
  s.node = t.gen_nodes;
  s.b.assign(t.gen_nodes.size(), b);
  return s;
}

// The exported routines of liborvek.so, looked up by name (null when the
// library does not export it yet). One instance for the whole program,
// never unloaded: the library's process-wide error state lives as long as
// the process, as it does for a host.
class Exports {
public:
  template <class F> F *get(const char *name) const {
    return handle_ == nullptr ? nullptr : reinterpret_cast<F *>(dlsym(handle_, name));
  }
  static const Exports &Library() {
    static const Exports *lib = new Exports();
    return *lib;
  }

private:
  Exports() : handle_(dlopen(ORVEK_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  void *handle_;
};

#define ORVEK_EXPORT(exports, var, Name)                                                                              \
  auto *var = (exports).get<decltype(::Name)>(#Name);                                                                \
  if (var == nullptr) GTEST_SKIP() << #Name << " is not exported yet"

// Bitwise equality of floats (distinguishes -0 and +0, equates equal NaNs).
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool SameBits(Complex a, Complex b) { return SameBits(a.re, b.re) && SameBits(a.im, b.im); }

// ---- Double-precision references -------------------------------------------
using cd = std::complex<double>;

// A sparse matrix in double, rows of (column, value).
struct DoubleMatrix {
  std::int32_t n = 0;
  std::vector<std::vector<std::pair<std::int32_t, cd>>> rows;
  double norm_inf() const {
    double m = 0;
    for (const auto &row : rows) {
      double s = 0;
      for (const auto &[c, v] : row) s += std::abs(v);
      m = std::max(m, s);
    }
    return m;
  }
  std::vector<cd> times(const std::vector<cd> &x) const {
    std::vector<cd> y(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < rows.size(); ++i)
      for (const auto &[c, v] : rows[i]) y[i] += v * x[static_cast<std::size_t>(c - 1)];
    return y;
  }
};

template <class T> cd ToDouble(T v) {
  if constexpr (std::is_same_v<T, float>) return {v, 0.0};
  else return {v.re, v.im};
}

// The matrix a triplet list describes, in double.
template <class T> DoubleMatrix FromTriplets(const TripletMatrix<T> &a) {
  DoubleMatrix m;
  m.n = a.n;
  m.rows.resize(static_cast<std::size_t>(a.n));
  for (std::size_t k = 0; k < a.value.size(); ++k)
    m.rows[static_cast<std::size_t>(a.irow[k] - 1)].emplace_back(a.jcol[k], ToDouble(a.value[k]));
  return m;
}

// The admittance matrix assembled independently in double from the same
// single-precision branch data: y = 1/(R + jX), the π-stamps, j·BSH.
inline DoubleMatrix AdmittanceInDouble(std::int32_t n, const BranchView &br, const ShuntView &sh) {
  std::vector<std::map<std::int32_t, cd>> rows(static_cast<std::size_t>(n));
  for (std::int32_t i = 1; i <= n; ++i) rows[static_cast<std::size_t>(i - 1)][i] = 0.0;
  for (std::size_t k = 0; k < sh.node.size(); ++k) rows[static_cast<std::size_t>(sh.node[k] - 1)][sh.node[k]] += cd(0, sh.b[k]);
  for (std::size_t b = 0; b < br.from.size(); ++b) {
    const std::int32_t i = br.from[b], j = br.to[b];
    const cd y = 1.0 / ToDouble(br.z[b]);
    rows[static_cast<std::size_t>(i - 1)][i] += y + ToDouble(br.ya[b]);
    rows[static_cast<std::size_t>(j - 1)][j] += y + ToDouble(br.yb[b]);
    rows[static_cast<std::size_t>(i - 1)][j] -= y;
    rows[static_cast<std::size_t>(j - 1)][i] -= y;
  }
  DoubleMatrix m;
  m.n = n;
  m.rows.resize(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (const auto &[c, v] : rows[i]) m.rows[i].emplace_back(c, v);
  return m;
}

// The solution of m·x = b in double by iterative refinement: residuals in
// double against the double matrix, corrections from the native complex
// factors of (an approximation of) the same matrix. Returns the refined x
// and leaves the final scaled residual in `residual`.
inline std::vector<cd> RefinedSolve(Workspace &ws, const DoubleMatrix &m, const FactorSet<Complex> &f,
                                    const std::vector<cd> &b, double &residual, int steps = 8) {
  const auto n = static_cast<std::size_t>(m.n);
  std::vector<cd> x(n, 0.0), r = b;
  std::vector<Complex> rf(n), dx(n);
  for (int s = 0; s < steps; ++s) {
    double scale = 0;
    for (const cd &v : r) scale = std::max(scale, std::abs(v));
    if (scale == 0) break;
    for (std::size_t i = 0; i < n; ++i)
      rf[i] = {static_cast<float>(r[i].real() / scale), static_cast<float>(r[i].imag() / scale)};
    Solve(ws, f, rf, dx);
    for (std::size_t i = 0; i < n; ++i) x[i] += scale * cd(dx[i].re, dx[i].im);
    const std::vector<cd> ax = m.times(x);
    for (std::size_t i = 0; i < n; ++i) r[i] = b[i] - ax[i];
  }
  double rn = 0, xn = 0;
  for (std::size_t i = 0; i < n; ++i) {
    rn = std::max(rn, std::abs(r[i]));
    xn = std::max(xn, std::abs(x[i]));
  }
  residual = rn / (m.norm_inf() * xn);
  return x;
}

} // namespace orvek::test::native
