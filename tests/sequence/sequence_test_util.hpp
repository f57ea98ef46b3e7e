// Helpers of the sequence tests: host split-complex arrays with a sentinel
// fill, capture of the process-wide error module, the expected text of a
// TERMINAL rejection, double-precision references (exact rotation operator,
// π-branch networks, their admittance matrices, a dense inverse with
// partial pivoting and the row-indexed form built here independently).
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/error_capture.hpp"
#include "orvek/orvek.h"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::test::sequence {

using cd = std::complex<double>;

inline constexpr std::int32_t kLdBranch = ORVEK_LD_BRANCH;
inline constexpr std::int32_t kLdNode = ORVEK_LD_NODE;
inline constexpr std::int32_t kLdNonzero = ORVEK_LD_NONZERO;

// The value every host output holds before a call; entries the routine must
// not write are compared bit for bit with it.
inline constexpr float kSentinel = -12345.678f;

inline bool SameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool SameBits(Complex a, Complex b) {
  return SameBits(a.re, b.re) && SameBits(a.im, b.im);
}

// A host array X(LD, 2), 1-based access.
template <std::int32_t LD> struct Split {
  std::vector<float> data = std::vector<float>(2 * static_cast<std::size_t>(LD), kSentinel);
  Complex get(std::int32_t i) const { return {data[i - 1], data[LD + i - 1]}; }
  void set(std::int32_t i, Complex v) {
    data[i - 1] = v.re;
    data[LD + i - 1] = v.im;
  }
  void set(std::int32_t i, cd v) {
    set(i, Complex{static_cast<float>(v.real()), static_cast<float>(v.imag())});
  }
  float *ptr() { return data.data(); }
  const float *ptr() const { return data.data(); }
  // True when entries from..LD still hold the sentinel in both columns.
  bool untouched_from(std::int32_t from) const {
    for (std::int32_t i = from; i <= LD; ++i)
      if (!SameBits(get(i), Complex{kSentinel, kSentinel})) return false;
    return true;
  }
};

inline cd ToDouble(Complex x) {
  return {x.re, x.im};
}

// ---- Rejections -------------------------------------------------------------

inline std::string TraceLine(const std::string &name, int type, int code) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "     %-32s%6d      %6d\n", name.c_str(), type, code);
  return buffer;
}

// The printed form of a TERMINAL error raised by an exported routine called
// from the host: the message broken at blanks into a first line of at most
// 59 characters and continuation lines of at most 64, then the traceback
// of the routine and of the user level, which still shows the error type
// and code that the last error of the process left there (passed in).
inline std::string TerminalText(const std::string &routine, int code, const std::string &message,
                                int user_type, int user_code) {
  // Built by append: GCC 12 warns falsely on literal + temporary strings.
  std::string rest(" ");
  rest.append(std::to_string(code)).append(" from ").append(routine).append(".  ").append(message);
  std::string out("\n *** TERMINAL ERROR");
  std::size_t width = 59;
  while (rest.size() > width) {
    const std::size_t cut = rest.rfind(' ', width);
    out.append(rest, 0, cut).append("\n ***          ");
    rest.erase(0, cut + 1);
    width = 64;
  }
  out.append(rest).append("\n");
  out.append("     Here is a traceback of subprogram calls in reverse order:\n"
             "     Routine name                    Error type  Error code\n"
             "     ------------                    ----------  ----------\n");
  out.append(TraceLine(routine, 5, code)).append(TraceLine("USER", user_type, user_code));
  return out;
}

// Captures the printing of errors() and counts its stops while alive; the
// expected text of a rejection uses the user level as it was before.
struct CapturedErrors {
  int user_type = orvek::errors().type_at(1);
  int user_code = orvek::errors().code_at(1);
  orvek::test::ErrorCapture capture{orvek::errors()};
  std::string expected(const std::string &routine, int code, const std::string &message) const {
    return TerminalText(routine, code, message, user_type, user_code);
  }
};

// ---- Exact rotation operator ----------------------------------------------

inline const cd kA{-0.5, std::sqrt(3.0) / 2.0};
inline const cd kA2 = kA * kA;

struct PhaseD {
  cd a, b, c;
};
inline PhaseD SequenceToPhaseD(cd x0, cd x1, cd x2) {
  return {x0 + x1 + x2, x0 + kA2 * x1 + kA * x2, x0 + kA * x1 + kA2 * x2};
}

// ---- π-branch networks -----------------------------------------------------

struct BranchD {
  std::int32_t k = 0, m = 0; // first and second end, 1-based
  cd z, ya, yb;
};

struct NetworkD {
  std::int32_t n = 0;
  std::vector<BranchD> branches;
  std::vector<cd> shunt; // nodal shunt admittance, index node-1
};

// Host branch arrays of a network, rounded to single precision.
struct HostBranches {
  Split<kLdBranch> z, ya, yb;
  std::vector<std::int32_t> nodes = std::vector<std::int32_t>(2 * static_cast<std::size_t>(kLdBranch), 0);
  std::int32_t nb = 0;
};

inline HostBranches MakeHostBranches(const NetworkD &net) {
  HostBranches h;
  h.nb = static_cast<std::int32_t>(net.branches.size());
  for (std::int32_t b = 1; b <= h.nb; ++b) {
    const BranchD &br = net.branches[b - 1];
    h.z.set(b, br.z);
    h.ya.set(b, br.ya);
    h.yb.set(b, br.yb);
    h.nodes[b - 1] = br.k;
    h.nodes[kLdBranch + b - 1] = br.m;
  }
  return h;
}

// Dense nodal admittance matrix, column-major n x n, from the given branch
// and shunt values (the caller chooses double or float-rounded data).
inline std::vector<cd> DenseAdmittance(const NetworkD &net) {
  const std::size_t n = static_cast<std::size_t>(net.n);
  std::vector<cd> y(n * n);
  auto at = [&](std::int32_t i, std::int32_t j) -> cd & {
    return y[static_cast<std::size_t>(j - 1) * n + static_cast<std::size_t>(i - 1)];
  };
  for (const BranchD &br : net.branches) {
    const cd ys = 1.0 / br.z;
    at(br.k, br.k) += ys + br.ya;
    at(br.m, br.m) += ys + br.yb;
    at(br.k, br.m) -= ys;
    at(br.m, br.k) -= ys;
  }
  for (std::int32_t i = 1; i <= net.n; ++i) at(i, i) += net.shunt[static_cast<std::size_t>(i - 1)];
  return y;
}

// Gauss-Jordan inverse with partial pivoting, column-major n x n.
inline std::vector<cd> InverseD(std::vector<cd> a, std::int32_t n) {
  const std::size_t un = static_cast<std::size_t>(n);
  std::vector<cd> inv(un * un);
  for (std::size_t i = 0; i < un; ++i) inv[i * un + i] = 1.0;
  auto el = [un](std::vector<cd> &m, std::size_t i, std::size_t j) -> cd & { return m[j * un + i]; };
  for (std::size_t c = 0; c < un; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < un; ++r)
      if (std::abs(el(a, r, c)) > std::abs(el(a, piv, c))) piv = r;
    for (std::size_t j = 0; j < un; ++j) {
      std::swap(el(a, c, j), el(a, piv, j));
      std::swap(el(inv, c, j), el(inv, piv, j));
    }
    const cd d = el(a, c, c);
    for (std::size_t j = 0; j < un; ++j) {
      el(a, c, j) /= d;
      el(inv, c, j) /= d;
    }
    for (std::size_t r = 0; r < un; ++r) {
      if (r == c) continue;
      const cd f = el(a, r, c);
      if (f == 0.0) continue;
      for (std::size_t j = 0; j < un; ++j) {
        el(a, r, j) -= f * el(a, c, j);
        el(inv, r, j) -= f * el(inv, c, j);
      }
    }
  }
  return inv;
}

// The network with every value rounded to single precision (what the
// library sees through the host arrays).
inline NetworkD RoundedToFloat(NetworkD net) {
  auto r = [](cd v) { return cd{static_cast<float>(v.real()), static_cast<float>(v.imag())}; };
  for (BranchD &b : net.branches) {
    b.z = r(b.z);
    b.ya = r(b.ya);
    b.yb = r(b.yb);
  }
  for (cd &s : net.shunt) s = r(s);
  return net;
}

// Row-indexed form of a dense matrix: diagonals at 1..n, position n+1
// unused, the nonzero off-diagonal entries of each row from n+2 on, in
// descending column order (consumers accept any order within a row).
struct RowIndexed {
  Split<kLdNonzero> sa;
  std::vector<std::int32_t> ija;
};

inline RowIndexed MakeRowIndexed(const std::vector<cd> &y, std::int32_t n) {
  RowIndexed f;
  const std::size_t un = static_cast<std::size_t>(n);
  f.ija.assign(static_cast<std::size_t>(n) + 1, 0);
  std::int32_t pos = n + 1;
  for (std::int32_t i = 1; i <= n; ++i) {
    f.sa.set(i, y[static_cast<std::size_t>(i - 1) * un + static_cast<std::size_t>(i - 1)]);
    f.ija[static_cast<std::size_t>(i - 1)] = pos + 1;
    for (std::int32_t j = n; j >= 1; --j) {
      const cd v = y[static_cast<std::size_t>(j - 1) * un + static_cast<std::size_t>(i - 1)];
      if (j == i || v == 0.0) continue;
      ++pos;
      f.ija.push_back(j);
      f.sa.set(pos, v);
    }
  }
  f.ija[un] = pos + 1;
  return f;
}

// A deterministic pseudo-random source for test data (no global state).
struct Lcg {
  std::uint64_t state;
  explicit Lcg(std::uint64_t seed) : state(seed) {}
  double uniform(double lo, double hi) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return lo + (hi - lo) * static_cast<double>(state >> 11) / 9007199254740992.0;
  }
  cd complex(double lo, double hi) { return {uniform(lo, hi), uniform(lo, hi)}; }
};

// Location of the shared test networks.
inline std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

} // namespace orvek::test::sequence
