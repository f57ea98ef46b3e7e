// The shared machinery of admittance assembly: branch order by key, the row
// sort of a triplet list and its conversion into the row-indexed form.
// Spans are 0-based, the numbers stored in them 1-based (see the header).
#include "assembly/accumulator.hpp"

#include "assembly/key_sort.hpp"

namespace orvek::assembly {

void OrderBranches(ErrorModule &err, std::int32_t n, std::int32_t nb, std::span<const std::int32_t> from,
                   std::span<const std::int32_t> to, const BranchOrder &order) {
  if (!order.wide_key.empty()) {
    for (std::int32_t b = 1; b <= nb; ++b) {
      order.perm[b - 1] = b;
      order.wide_key[b - 1] = WideBranchKey(n, from[b - 1], to[b - 1]);
    }
    SVIGPWide(err, nb, order.wide_key.data(), order.wide_skey.data(), order.perm.data());
    // Ranks of the distinct keys stand for the keys: equal where they are.
    std::int32_t rank = 0;
    for (std::int32_t l = 0; l < nb; ++l) {
      if (l == 0 || order.wide_skey[l] != order.wide_skey[l - 1]) ++rank;
      order.skey[l] = rank;
      order.key[order.perm[l] - 1] = rank;
    }
    return;
  }
  for (std::int32_t b = 1; b <= nb; ++b) {
    order.perm[b - 1] = b;
    order.key[b - 1] = BranchKey(n, from[b - 1], to[b - 1]);
  }
  // nb < 1 reaches the sort, which reports its length error.
  SVIGP(err, nb, order.key.data(), order.skey.data(), order.perm.data());
}

std::int32_t CountNodePairs(std::span<const std::int32_t> skey, std::span<const std::int32_t> perm,
                            std::int32_t nb, std::span<const std::int32_t> from,
                            std::span<const std::int32_t> to, std::span<const std::int32_t> istat) {
  std::int32_t pairs = 0;
  bool group_has_pair = false;
  for (std::int32_t l = 0; l < nb; ++l) {
    if (!MergesWithPrevious(skey, l)) group_has_pair = false;
    const std::int32_t b = perm[l];
    const bool in_service = istat.empty() || istat[b - 1] == 1;
    if (in_service && from[b - 1] != to[b - 1] && !group_has_pair) {
      group_has_pair = true;
      ++pairs;
    }
  }
  return pairs;
}

template <class T>
void SortTripletsByRow(ErrorModule &err, std::span<std::int32_t> irow, std::span<std::int32_t> jcol,
                       std::span<T> v, std::int32_t nz, const RowSortWork<T> &work) {
  for (std::int32_t k = 1; k <= nz; ++k) work.perm[k - 1] = k;
  SVIGP(err, nz, irow.data(), irow.data(), work.perm.data());
  if (nz < 1) return;
  // Gather into the temporaries first: the permutation reads former positions.
  for (std::int32_t k = 0; k < nz; ++k) {
    const std::int32_t from = work.perm[k] - 1;
    work.jcol[k] = jcol[from];
    work.v[k] = v[from];
  }
  for (std::int32_t k = 0; k < nz; ++k) {
    jcol[k] = work.jcol[k];
    v[k] = work.v[k];
  }
}

template <class T>
void ConvertToRowIndexed(ErrorModule &err, std::int32_t n, TripletList<T> &acc, const RowIndexedWork<T> &work,
                         std::span<std::int32_t> ija) {
  const std::int32_t nz = acc.nz;
  for (std::int32_t k = 0; k < nz; ++k) {
    work.save_irow[k] = acc.irow[k];
    work.save_jcol[k] = acc.jcol[k];
    work.save_v[k] = acc.v[k];
  }
  SortTripletsByRow<T>(err, acc.irow, acc.jcol, acc.v, nz, work.sort);

  // pos is the last position used (1-based); off-diagonals start at n + 2.
  std::int32_t pos = n + 1;
  ija[0] = n + 2;
  for (std::int32_t h = 0; h < nz; ++h) {
    const std::int32_t row = acc.irow[h];
    if (acc.jcol[h] != row) {
      ++pos;
      ija[pos - 1] = acc.jcol[h];
      work.s[pos - 1] = acc.v[h];
    } else {
      work.s[row - 1] = acc.v[h];
    }
    if (h == nz - 1 || acc.irow[h + 1] != row) ija[row] = pos + 1;
  }
  // The spacer carries no entry; it is written so that equal inputs always
  // give equal outputs.
  work.s[n] = T{};

  for (std::int32_t k = 0; k < nz; ++k) {
    acc.irow[k] = work.save_irow[k];
    acc.jcol[k] = work.save_jcol[k];
    acc.v[k] = work.save_v[k];
  }
}

template void SortTripletsByRow<Complex>(ErrorModule &, std::span<std::int32_t>, std::span<std::int32_t>,
                                         std::span<Complex>, std::int32_t, const RowSortWork<Complex> &);
template void SortTripletsByRow<float>(ErrorModule &, std::span<std::int32_t>, std::span<std::int32_t>,
                                       std::span<float>, std::int32_t, const RowSortWork<float> &);
template void ConvertToRowIndexed<Complex>(ErrorModule &, std::int32_t, TripletList<Complex> &,
                                           const RowIndexedWork<Complex> &, std::span<std::int32_t>);
template void ConvertToRowIndexed<float>(ErrorModule &, std::int32_t, TripletList<float> &,
                                         const RowIndexedWork<float> &, std::span<std::int32_t>);

} // namespace orvek::assembly
