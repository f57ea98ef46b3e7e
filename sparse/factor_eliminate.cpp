// The elimination of the sparse LU factorization (L5TXG, L5TZG), one
// template for real and complex values.
//   Input:  the linked storage holding the matrix (factor_storage.hpp),
//           IPARAM(2..3) and RPARAM(2..3).
//   Output: IPVT, JPVT; every row's factor list in the storage (its U
//           entries, its pivot, then its multipliers); IPARAM(4) and
//           RPARAM(4..5), the warnings of a small pivot or a large growth.
//   Work:   the storage's slots; the saved column counts double as the
//           candidates' magnitudes during the pivot search.
// For k = 1..N-1:
//  1. a column singleton is taken at once; otherwise up to IPARAM(3)
//     candidate rows/columns of smallest count are collected (rows first on
//     equal counts) and every entry passing the threshold |a| >= max/RPARAM(2)
//     of its row or column is costed (rc-1)*(cc-1); lower cost wins, then
//     fewer column entries, then the earlier entry;
//  2. the pivot is brought to (k, k) by row and column interchanges;
//  3. the rows of the pivot column are updated (multipliers stored in place,
//     fill-in created at the front of the lists), the pivot row leaves the
//     active structure, and the count buckets are maintained.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <utility>

#include "sparse/factor_storage.hpp"
#include "support/complex.hpp"
#include "support/machine.hpp"

namespace orvek::sparse {
namespace {

constexpr Message kNumericallySingular{1, "The coefficient matrix is numerically singular."};
constexpr Message kGrowth{2, "The growth factor, %(R1), exceeds %(R2) = RPARAM(1)."};
constexpr Message kPivotUnderflow{
    23, "Factorization stopped after %(I1) rows, because the value selected as pivot "
        "is within two orders of magnitude of causing underflow or the reciprocal "
        "causing overflow."};

// How one elimination step ended.
enum class StepEnd { kDone, kStop, kExhausted };

// The best entry found by the pivot search so far.
struct Candidate {
  std::int64_t cost;
  std::int64_t column_count;
  std::int32_t slot = 0;
  void offer(std::int64_t c, std::int64_t cc, std::int32_t e) {
    if (c < cost || (c == cost && cc < column_count)) {
      cost = c;
      column_count = cc;
      slot = e;
    }
  }
};

template <class T> class Eliminator {
  using Tr = SparseTraits<T>;

public:
  Eliminator(ErrorModule &err, Linked<T> &L, std::span<std::int32_t> iparam, std::span<float> rparam,
             std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt)
      : err_(err), L(L), iparam_(iparam), rparam_(rparam), ipvt_(ipvt), jpvt_(jpvt), n_(L.n),
        huge_(AMACH(err, 2)), tiny_(AMACH(err, 1)),
        small_(tiny_ * huge_ >= 1.0f ? 100.0f * tiny_ : 100.0f / huge_), run_min_(huge_),
        rows_searched_(iparam[kIparamSearch] != 2), cols_searched_(iparam[kIparamSearch] != 1),
        threshold_(rparam[kRparamThreshold]), drop_(rparam[kRparamDrop]),
        candidates_(iparam[kIparamCandidates]) {}

  Elimination run() {
    Elimination out;
    start();
    std::int32_t stop_step = 0;
    for (std::int32_t k = 1; k <= n_ - 1; ++k) {
      const StepEnd end = step(k);
      if (end == StepEnd::kExhausted) {
        out.stop_row = k;
        return out;
      }
      if (end == StepEnd::kStop) {
        stop_step = k;
        break;
      }
    }
    if (stop_step == 0) finish_last_pivot();
    out.failed = report(stop_step);
    return out;
  }

private:
  // Identity permutations, empty factor lists, rows and columns in their
  // count buckets (filled from N down to 1 by pushing on the front, so
  // every bucket starts in increasing order).
  void start() {
    for (std::int32_t i = 1; i <= n_; ++i) {
      ipvt_[i - 1] = i;
      jpvt_[i - 1] = i;
      L.frhead(i) = -i;
      L.row_at(i) = i;
      L.column_at(i) = i;
    }
    if (rows_searched_) {
      for (std::int32_t c = 1; c <= n_; ++c) L.rows.head(c) = 0;
      for (std::int32_t i = n_; i >= 1; --i) {
        L.rows.push(i, L.rcount(i));
        min_row_ = std::min(min_row_, L.rcount(i));
      }
    }
    if (cols_searched_) {
      for (std::int32_t c = 1; c <= n_; ++c) L.cols.head(c) = 0;
      for (std::int32_t j = n_; j >= 1; --j) {
        L.cols.push(j, L.ccount(j));
        min_col_ = std::min(min_col_, L.ccount(j));
      }
    }
  }

  StepEnd step(std::int32_t k) {
    const std::int32_t piv = choose_pivot(k);
    if (piv == 0) {
      // No entry passed the threshold (only possible with a threshold below
      // 1 or with NaN values): treated as a zero pivot.
      run_min_ = 0.0f;
      return StepEnd::kStop;
    }
    const std::int32_t kr = L.rowof(piv); // the pivot row and column, by their original numbers
    const std::int32_t kc = L.colof(piv);
    interchange(k, kr, kc);
    if (!pivot_usable(L.val(piv))) return StepEnd::kStop;
    bool singular = false;
    if (!update_rows(piv, kr, kc, singular)) return StepEnd::kExhausted;
    singular = retire_pivot_row(piv, kr, kc) || singular;
    maintain_buckets(piv, kr, kc);
    if (singular) {
      // A row or column without active entries: the matrix is structurally
      // singular, a zero pivot is bound to follow.
      run_min_ = 0.0f;
      return StepEnd::kStop;
    }
    return StepEnd::kDone;
  }

  // ---- 1. candidate search ----
  std::int32_t choose_pivot(std::int32_t k) {
    if (min_col_ == 1) return L.chead(L.cols.head(1));
    const std::int32_t c = std::min(n_ - k + 1, candidates_);
    const std::int64_t no_cost = static_cast<std::int64_t>(n_) * n_;
    Candidate best{no_cost, no_cost};
    // Candidates in the order they are collected, each costed as it is
    // taken (costing changes no bucket, so this is the order a collected
    // list would give).
    std::int32_t nc = 0;
    std::int32_t rl = min_row_, cl = min_col_;
    while (nc < c) {
      if (cl > n_ && rl > n_) break;
      if (cl < rl) {
        for (std::int32_t j = L.cols.head(cl); j > 0 && nc < c; j = L.cols.next(j)) {
          ++nc;
          cost_column(j, best);
        }
        ++cl;
      } else {
        for (std::int32_t i = L.rows.head(rl); i > 0 && nc < c; i = L.rows.next(i)) {
          ++nc;
          cost_row(i, best);
        }
        ++rl;
      }
    }
    return best.slot;
  }

  // The magnitudes of a candidate's entries are formed once and kept (as
  // bits) in the saved column counts, which are written only after the
  // search; a row or column has at most N active entries. Returns the
  // threshold bound max |a| / RPARAM(2) of the candidate.
  float magnitudes(std::int32_t first, SlotRef link) {
    float m = 0.0f;
    std::int32_t at = 0;
    for (std::int32_t e = first; e > 0; e = link(e)) {
      const float mag = Tr::magnitude(L.val(e));
      L.saved.p[at++] = std::bit_cast<std::int32_t>(mag);
      m = std::max(m, mag);
    }
    return m / threshold_;
  }
  // Offers every entry of a candidate that passes the threshold, costed by cost(e) -> {cost, cc}.
  template <class Cost> void offer_line(std::int32_t first, SlotRef link, Candidate &best, const Cost &cost) {
    const float bound = magnitudes(first, link);
    std::int32_t at = 0;
    for (std::int32_t e = first; e > 0; e = link(e)) {
      if (!(std::bit_cast<float>(L.saved.p[at++]) >= bound)) continue;
      const auto [c, cc] = cost(e);
      best.offer(c, cc, e);
    }
  }
  void cost_row(std::int32_t i, Candidate &best) {
    const std::int64_t rc1 = L.rcount(i) - 1;
    offer_line(L.rhead(i), L.rlink, best, [&](std::int32_t e) {
      const std::int64_t cc = L.ccount(L.colof(e));
      return std::pair{rc1 * (cc - 1), cc};
    });
  }
  void cost_column(std::int32_t j, Candidate &best) {
    const std::int64_t cc = L.ccount(j);
    offer_line(L.chead(j), L.clink, best, [&](std::int32_t e) {
      return std::pair{(static_cast<std::int64_t>(L.rcount(L.rowof(e))) - 1) * (cc - 1), cc};
    });
  }

  // ---- 2. interchanges: original row kr and column kc to position k ----
  void interchange(std::int32_t k, std::int32_t kr, std::int32_t kc) {
    const std::int32_t pr = L.row_at(kr);
    const std::int32_t pc = L.column_at(kc);
    if (pr != k) {
      L.row_at(ipvt_[k - 1]) = pr; // the row displaced from position k
      L.row_at(kr) = k;
      std::swap(ipvt_[k - 1], ipvt_[pr - 1]);
    }
    if (pc != k) {
      L.column_at(jpvt_[k - 1]) = pc; // the column displaced from position k
      L.column_at(kc) = k;
      std::swap(jpvt_[k - 1], jpvt_[pc - 1]);
    }
  }

  // Records the pivot's size; false when the elimination must stop there.
  bool pivot_usable(const T &pivot) {
    const float apiv = Tr::magnitude(pivot);
    if (std::isnan(apiv)) {
      // A NaN pivot (a column singleton is taken without the threshold
      // test, which NaN never passes) is treated as a zero pivot.
      run_min_ = 0.0f;
      return false;
    }
    if (apiv > max_u_) max_u_ = apiv;
    if (apiv < run_min_) {
      run_min_ = apiv;
      if (small_ >= apiv) return false;
    }
    return true;
  }

  // ---- 3. update of the rows of the pivot column ----
  // The pivot row's columns (the pivot's own left out) are mapped to its
  // entries once for the whole step. A row S updates every entry it has in
  // a mapped column while it is walked (each such entry is updated once,
  // so the walking order leaves every value as it is) and marks the column
  // by negating its map; the pivot row is then walked in its own order,
  // restoring the marks and creating the fill-ins where row S had no entry.
  // False when the workspace ran out; singular is set when a row emptied.
  bool update_rows(std::int32_t piv, std::int32_t kr, std::int32_t kc, bool &singular) {
    const T rinv = Tr::recip(L.val(piv));
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) L.saved(L.colof(p)) = L.ccount(L.colof(p));
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p))
      if (p != piv) L.colpos(L.colof(p)) = p;
    for (std::int32_t e = L.chead(kc), next = 0; e > 0; e = next) {
      next = L.clink(e);
      const std::int32_t s = L.rowof(e);
      if (s == kr) continue;
      const std::int32_t old_count = L.rcount(s);
      const T l = Tr::mul(L.val(e), rinv);
      const bool dropped = drop_ != 0.0f && Tr::magnitude(l) <= drop_;
      update_row(s, e, l, dropped);
      if (dropped) {
        L.free_slot(e);
      } else {
        L.val(e) = l;
        L.rlink(e) = L.frhead(s);
        L.frhead(s) = e;
        if (!fill_in(s, piv, kr, l)) return false;
      }
      const std::int32_t new_count = L.rcount(s);
      if (rows_searched_ && new_count != old_count) {
        L.rows.remove(s, old_count);
        if (new_count > 0) {
          L.rows.push(s, new_count);
          min_row_ = std::min(min_row_, new_count);
        }
      }
      if (new_count == 0) singular = true;
    }
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) L.colpos(L.colof(p)) = 0;
    return true;
  }

  // Takes the pivot column's entry e out of row s and, unless its
  // multiplier l is dropped, updates (and marks) the row's entries in the
  // pivot row's columns.
  void update_row(std::int32_t s, std::int32_t e, const T &l, bool dropped) {
    for (std::int32_t f = L.rhead(s), prev = 0; f > 0; f = L.rlink(f)) {
      if (f == e) {
        if (prev > 0)
          L.rlink(prev) = L.rlink(e);
        else
          L.rhead(s) = L.rlink(e);
        continue;
      }
      if (!dropped) {
        const std::int32_t j = L.colof(f);
        const std::int32_t p = L.colpos(j);
        if (p > 0) {
          L.val(f) = Tr::sub(L.val(f), Tr::mul(L.val(p), l));
          L.colpos(j) = -p;
        }
      }
      prev = f;
    }
    --L.rcount(s);
  }

  // Restores the marks of row s and creates its fill-ins -U(k,j)*l where it
  // had no entry; false when the workspace ran out.
  bool fill_in(std::int32_t s, std::int32_t piv, std::int32_t kr, const T &l) {
    for (std::int32_t p = L.rhead(kr); p > 0; p = L.rlink(p)) {
      if (p == piv) continue;
      const std::int32_t j = L.colof(p);
      if (L.colpos(j) < 0) {
        L.colpos(j) = p;
        continue;
      }
      const std::int32_t slot = L.take_slot();
      if (slot == 0) return false;
      L.link(slot, s, j, Tr::neg(Tr::mul(L.val(p), l)));
    }
    return true;
  }

  // The pivot row leaves the active structure: its entries leave their
  // columns and its factor list becomes its off-diagonal U entries (in row
  // order), the pivot, then the multipliers stored earlier. True when a
  // column emptied.
  bool retire_pivot_row(std::int32_t piv, std::int32_t kr, std::int32_t kc) {
    bool singular = false;
    std::int32_t first = 0, last = 0;
    for (std::int32_t p = L.rhead(kr), next = 0; p > 0; p = next) {
      next = L.rlink(p);
      const std::int32_t j = L.colof(p);
      if (j != kc) {
        unlink_from_column(p, j);
        if (L.ccount(j) == 0) singular = true;
      }
      max_u_ = std::max(max_u_, Tr::magnitude(L.val(p)));
      if (p != piv) {
        if (last > 0)
          L.rlink(last) = p;
        else
          first = p;
        last = p;
      }
    }
    L.rlink(piv) = L.frhead(kr);
    if (last > 0) {
      L.rlink(last) = piv;
      L.frhead(kr) = first;
    } else {
      L.frhead(kr) = piv;
    }
    // A finished row reads as empty; its head keeps the pivot's slot
    // (negated), where the copy-out splits the row's U entries from its
    // multipliers.
    L.rhead(kr) = -piv;
    L.chead(kc) = -kc;
    return singular;
  }
  void unlink_from_column(std::int32_t p, std::int32_t j) {
    std::int32_t q = L.chead(j), prev = 0;
    while (q != p) {
      assert(q > 0);
      prev = q;
      q = L.clink(q);
    }
    if (prev > 0)
      L.clink(prev) = L.clink(p);
    else
      L.chead(j) = L.clink(p);
    --L.ccount(j);
  }

  void maintain_buckets(std::int32_t piv, std::int32_t kr, std::int32_t kc) {
    if (cols_searched_) {
      L.cols.remove(kc, L.saved(kc));
      for (std::int32_t p = L.frhead(kr); p != piv; p = L.rlink(p)) {
        const std::int32_t j = L.colof(p);
        const std::int32_t now = L.ccount(j);
        if (now == L.saved(j)) continue;
        L.cols.remove(j, L.saved(j));
        if (now > 0) {
          L.cols.push(j, now);
          min_col_ = std::min(min_col_, now);
        }
      }
      while (min_col_ <= n_ && L.cols.head(min_col_) <= 0) ++min_col_;
    }
    if (rows_searched_) {
      L.rows.remove(kr, L.rcount(kr));
      while (min_row_ <= n_ && L.rows.head(min_row_) <= 0) ++min_row_;
    }
  }

  // The one entry left in row N is the last pivot, a U entry like any other
  // (growth = largest |U| / largest |A|).
  void finish_last_pivot() {
    const std::int32_t last = ipvt_[n_ - 1];
    const std::int32_t e = L.rhead(last);
    assert(e > 0 && L.column_at(L.colof(e)) == n_ && L.rlink(e) <= 0);
    L.rlink(e) = L.frhead(last);
    L.frhead(last) = e;
    L.rhead(last) = -e;
    L.chead(L.colof(e)) = -L.colof(e);
    const float alast = Tr::magnitude(L.val(e));
    if (alast < run_min_) run_min_ = alast;
    if (std::isnan(alast)) run_min_ = 0.0f; // a NaN pivot counts as zero
    max_u_ = std::max(max_u_, alast);
  }

  // The statistics and the warnings; true when a TERMINAL error was raised.
  bool report(std::int32_t stop_step) {
    iparam_[kIparamPeak] = L.peak;
    rparam_[kRparamGrowth] = max_u_ / L.max_a;
    rparam_[kRparamMinPivot] = run_min_;
    if (std::sqrt(small_) * 0.01f >= rparam_[kRparamMinPivot]) Raise(err_, kWarning, kNumericallySingular);
    if (rparam_[kRparamGrowth] > rparam_[kRparamGrowthLimit]) {
      err_.SetRealPlaceholder(1, rparam_[kRparamGrowth]);
      err_.SetRealPlaceholder(2, rparam_[kRparamGrowthLimit]);
      Raise(err_, kWarning, kGrowth);
    }
    if (small_ >= rparam_[kRparamMinPivot]) {
      Raise(err_, kTerminal, kPivotUnderflow, {stop_step != 0 ? stop_step : n_});
      return true;
    }
    return false;
  }

  ErrorModule &err_;
  Linked<T> &L;
  std::span<std::int32_t> iparam_;
  std::span<float> rparam_;
  std::span<std::int32_t> ipvt_, jpvt_;
  const std::int32_t n_;
  const float huge_, tiny_, small_;
  float run_min_;
  float max_u_ = 0.0f;
  const bool rows_searched_, cols_searched_;
  std::int32_t min_row_ = kUnsearchedCount;
  std::int32_t min_col_ = kUnsearchedCount;
  const float threshold_, drop_;
  const std::int32_t candidates_;
};

} // namespace

template <class T>
Elimination Eliminate(ErrorModule &err, Linked<T> &L, std::span<std::int32_t> iparam, std::span<float> rparam,
                      std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt) {
  const ErrorFrame frame(err, SparseTraits<T>::kElimination);
  return Eliminator<T>(err, L, iparam, rparam, ipvt, jpvt).run();
}

template Elimination Eliminate<float>(ErrorModule &, Linked<float> &, std::span<std::int32_t>,
                                      std::span<float>, std::span<std::int32_t>, std::span<std::int32_t>);
template Elimination Eliminate<Complex>(ErrorModule &, Linked<Complex> &, std::span<std::int32_t>,
                                        std::span<float>, std::span<std::int32_t>, std::span<std::int32_t>);

} // namespace orvek::sparse
