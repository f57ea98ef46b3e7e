// Double-precision references for the study tests (see reference.hpp).
#include "reference.hpp"

#include <cmath>
#include <stdexcept>

namespace orvek::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Stamps the two-port of a branch: ideal t:1 transformer at the from end in
// series with z, line charging b split over both ends.
//   I_f = ((y + jb/2)/t^2) V_f - (y/t) V_t,   I_t = -(y/t) V_f + (y + jb/2) V_t
void StampBranch(DenseMatrix &y, int f, int t, Cd z, double b, double ratio) {
  const Cd ys = 1.0 / z, half(0.0, b / 2.0);
  const double tap = ratio == 0 ? 1.0 : ratio;
  y(f, f) += (ys + half) / (tap * tap);
  y(t, t) += ys + half;
  y(f, t) -= ys / tap;
  y(t, f) -= ys / tap;
}

DenseMatrix Zero(int n) {
  DenseMatrix m;
  m.n = n;
  m.a.assign(static_cast<std::size_t>(n) * n, Cd(0, 0));
  return m;
}

// Solves a dense real system in place (partial pivoting); b receives x.
void SolveReal(std::vector<double> &a, std::vector<double> &b, int n) {
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(a[static_cast<std::size_t>(i) * n + k]) > std::fabs(a[static_cast<std::size_t>(p) * n + k])) p = i;
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(a[static_cast<std::size_t>(k) * n + j], a[static_cast<std::size_t>(p) * n + j]);
      std::swap(b[k], b[p]);
    }
    const double piv = a[static_cast<std::size_t>(k) * n + k];
    if (piv == 0) throw std::runtime_error("singular Jacobian");
    for (int i = k + 1; i < n; ++i) {
      const double f = a[static_cast<std::size_t>(i) * n + k] / piv;
      if (f == 0) continue;
      double *ri = &a[static_cast<std::size_t>(i) * n];
      const double *rk = &a[static_cast<std::size_t>(k) * n];
      for (int j = k + 1; j < n; ++j) ri[j] -= f * rk[j];
      b[i] -= f * b[k];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    double s = b[k];
    for (int j = k + 1; j < n; ++j) s -= a[static_cast<std::size_t>(k) * n + j] * b[j];
    b[k] = s / a[static_cast<std::size_t>(k) * n + k];
  }
}

} // namespace

ReferenceModel BuildReference(const casefile::Case &c) {
  ReferenceModel m;
  const int n = static_cast<int>(c.buses.size());
  for (int i = 0; i < n; ++i) m.row_of_bus[c.buses[i].number] = i;
  m.type.assign(n, 1);
  m.psp.assign(n, 0);
  m.qsp.assign(n, 0);
  m.vset.assign(n, 1);
  m.base_kv.assign(n, 0);
  std::vector<bool> has_gen(n, false);
  for (const auto &g : c.generators) {
    if (g.status <= 0) continue;
    const int i = m.row_of_bus.at(g.bus);
    if (!has_gen[i]) m.vset[i] = g.vg;
    has_gen[i] = true;
    m.psp[i] += g.pg / c.base_mva;
    m.qsp[i] += g.qg / c.base_mva;
  }
  m.ybus = Zero(n);
  for (int i = 0; i < n; ++i) {
    const auto &b = c.buses[i];
    const int t = static_cast<int>(b.type);
    m.type[i] = (t == 2 || t == 3) && has_gen[i] ? t : 1;
    if (t == 3) m.va_ref_deg = b.va;
    m.psp[i] -= b.pd / c.base_mva;
    m.qsp[i] -= b.qd / c.base_mva;
    m.base_kv[i] = b.base_kv;
    m.ybus(i, i) += Cd(b.gs, b.bs) / c.base_mva;
  }
  for (const auto &br : c.branches) {
    if (br.status <= 0) continue;
    StampBranch(m.ybus, m.row_of_bus.at(br.from), m.row_of_bus.at(br.to), Cd(br.r, br.x), br.b, br.ratio);
  }
  return m;
}

NewtonResult SolveNewton(const ReferenceModel &m, double tolerance, int max_iterations) {
  const int n = m.ybus.n;
  NewtonResult r;
  r.vm.assign(n, 1.0);
  std::vector<double> th(n, m.va_ref_deg * kPi / 180.0);
  for (int i = 0; i < n; ++i)
    if (m.type[i] != 1) r.vm[i] = m.vset[i];
  // Unknowns: angles of every non-reference bus, magnitudes of PQ buses.
  std::vector<int> ang, mag;
  for (int i = 0; i < n; ++i) {
    if (m.type[i] != 3) ang.push_back(i);
    if (m.type[i] == 1) mag.push_back(i);
  }
  const int na = static_cast<int>(ang.size()), nm = static_cast<int>(mag.size()), dim = na + nm;
  std::vector<Cd> v(n), cur(n);
  for (int it = 0; it <= max_iterations; ++it) {
    for (int i = 0; i < n; ++i) v[i] = std::polar(r.vm[i], th[i]);
    for (int i = 0; i < n; ++i) {
      Cd s = 0;
      for (int j = 0; j < n; ++j)
        if (m.ybus(i, j) != Cd(0, 0)) s += m.ybus(i, j) * v[j];
      cur[i] = s;
    }
    std::vector<double> f(dim);
    double worst = 0;
    for (int k = 0; k < na; ++k) {
      const int i = ang[k];
      f[k] = m.psp[i] - (v[i] * std::conj(cur[i])).real();
      worst = std::max(worst, std::fabs(f[k]));
    }
    for (int k = 0; k < nm; ++k) {
      const int i = mag[k];
      f[na + k] = m.qsp[i] - (v[i] * std::conj(cur[i])).imag();
      worst = std::max(worst, std::fabs(f[na + k]));
    }
    if (worst < tolerance) {
      r.converged = true;
      r.iterations = it;
      break;
    }
    if (it == max_iterations) break;
    // dS/dtheta and dS/d|V| (polar form):
    //   dS/dth = j diag(V) conj(diag(I) - Y diag(V)),  dS/dVm = diag(V) conj(Y diag(V/|V|)) + conj(diag(I)) diag(V/|V|)
    std::vector<double> jac(static_cast<std::size_t>(dim) * dim, 0.0);
    std::vector<int> col_a(n, -1), col_m(n, -1);
    for (int k = 0; k < na; ++k) col_a[ang[k]] = k;
    for (int k = 0; k < nm; ++k) col_m[mag[k]] = na + k;
    auto row_of = [&](int i, bool p) { return p ? col_a[i] : (col_m[i] < 0 ? -1 : col_m[i]); };
    for (int i = 0; i < n; ++i) {
      const int rp = row_of(i, true), rq = row_of(i, false);
      if (rp < 0 && rq < 0) continue;
      for (int j = 0; j < n; ++j) {
        const Cd yij = m.ybus(i, j);
        if (yij == Cd(0, 0) && i != j) continue;
        Cd ds_dth = Cd(0, -1) * v[i] * std::conj(yij * v[j]);
        Cd ds_dvm = v[i] * std::conj(yij * v[j] / r.vm[j]);
        if (i == j) {
          ds_dth += Cd(0, 1) * v[i] * std::conj(cur[i]);
          ds_dvm += std::conj(cur[i]) * v[i] / r.vm[i];
        }
        const int ca = col_a[j], cm = col_m[j];
        if (rp >= 0) {
          if (ca >= 0) jac[static_cast<std::size_t>(rp) * dim + ca] = ds_dth.real();
          if (cm >= 0) jac[static_cast<std::size_t>(rp) * dim + cm] = ds_dvm.real();
        }
        if (rq >= 0) {
          if (ca >= 0) jac[static_cast<std::size_t>(rq) * dim + ca] = ds_dth.imag();
          if (cm >= 0) jac[static_cast<std::size_t>(rq) * dim + cm] = ds_dvm.imag();
        }
      }
    }
    SolveReal(jac, f, dim);
    for (int k = 0; k < na; ++k) th[ang[k]] += f[k];
    for (int k = 0; k < nm; ++k) r.vm[mag[k]] += f[na + k];
  }
  r.va_deg.resize(n);
  for (int i = 0; i < n; ++i) r.va_deg[i] = th[i] * 180.0 / kPi;
  return r;
}

DenseMatrix PositiveSequence(const casefile::Case &c, const ReferenceModel &m, double x_machine) {
  DenseMatrix y = m.ybus;
  for (const auto &g : c.generators) {
    if (g.status <= 0) continue;
    const double mbase = g.mbase > 0 ? g.mbase : c.base_mva;
    const int i = m.row_of_bus.at(g.bus);
    y(i, i) += 1.0 / Cd(0.0, x_machine * c.base_mva / mbase);
  }
  return y;
}

DenseMatrix ZeroSequence(const casefile::Case &c, const ReferenceModel &m, double x0_machine, double line_k) {
  DenseMatrix y = Zero(m.ybus.n);
  for (const auto &br : c.branches) {
    if (br.status <= 0) continue;
    const int f = m.row_of_bus.at(br.from), t = m.row_of_bus.at(br.to);
    const bool transformer = br.ratio != 0 || m.base_kv[f] != m.base_kv[t];
    const double k = transformer ? 1.0 : line_k;
    if (transformer) {
      StampBranch(y, f, t, Cd(br.r, br.x), br.b, br.ratio);
    } else {
      // Series impedance scaled, charging unchanged.
      const Cd ys = 1.0 / (k * Cd(br.r, br.x)), half(0.0, br.b / 2.0);
      y(f, f) += ys + half;
      y(t, t) += ys + half;
      y(f, t) -= ys;
      y(t, f) -= ys;
    }
  }
  for (const auto &g : c.generators) {
    if (g.status <= 0) continue;
    const double mbase = g.mbase > 0 ? g.mbase : c.base_mva;
    const int i = m.row_of_bus.at(g.bus);
    y(i, i) += 1.0 / Cd(0.0, x0_machine * c.base_mva / mbase);
  }
  return y;
}

DenseMatrix Invert(DenseMatrix a) {
  const int n = a.n;
  DenseMatrix inv = Zero(n);
  for (int i = 0; i < n; ++i) inv(i, i) = 1;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::abs(a(i, k)) > std::abs(a(p, k))) p = i;
    if (p != k)
      for (int j = 0; j < n; ++j) {
        std::swap(a(k, j), a(p, j));
        std::swap(inv(k, j), inv(p, j));
      }
    const Cd piv = a(k, k);
    if (piv == Cd(0, 0)) throw std::runtime_error("singular matrix");
    for (int j = 0; j < n; ++j) {
      a(k, j) /= piv;
      inv(k, j) /= piv;
    }
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const Cd f = a(i, k);
      if (f == Cd(0, 0)) continue;
      for (int j = 0; j < n; ++j) {
        a(i, j) -= f * a(k, j);
        inv(i, j) -= f * inv(k, j);
      }
    }
  }
  return inv;
}

} // namespace orvek::test
