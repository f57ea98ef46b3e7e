// The host's face of the assembly and reduction kernels, shared by the six
// exported routines of this folder: their static work storage types, their
// input checks, and the adapters that read the host's arrays, run the one
// assembly recipe (AssembleAdmittanceMatrix) or the reduction, and write the
// host's arrays. Each exported routine owns one `storage` object of these
// types; the checks run under the routine's own ArgumentGuard with texts
// from its own table, and read host arrays only where the previous checks
// made that safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "assembly/accumulator.hpp"
#include "assembly/admittance.hpp"
#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "support/complex.hpp"
#include "support/counts.hpp"

namespace orvek::assembly {

// Branch order, interleaved copies of the branch data and the value list.
struct BranchStorage {
  std::array<std::int32_t, kMaxBranches> perm{};
  std::array<std::int32_t, kMaxBranches> key{};
  std::array<std::int32_t, kMaxBranches> skey{};
  std::array<Complex, kMaxBranches> z{};
  std::array<Complex, kMaxBranches> ya{};
  std::array<Complex, kMaxBranches> yb{};
  std::array<Complex, kMaxNonzeros> v{};

  BranchOrder order() { return {perm, key, skey}; }
};

// Save copies, row-sort temporaries and the row-indexed values S.
struct RowIndexedStorage {
  std::array<std::int32_t, kMaxNonzeros> save_irow{};
  std::array<std::int32_t, kMaxNonzeros> save_jcol{};
  std::array<Complex, kMaxNonzeros> save_v{};
  std::array<std::int32_t, kMaxNonzeros> sort_perm{};
  std::array<std::int32_t, kMaxNonzeros> sort_jcol{};
  std::array<Complex, kMaxNonzeros> sort_v{};
  std::array<Complex, kMaxNonzeros> s{};

  RowIndexedWork<Complex> work() { return {save_irow, save_jcol, save_v, {sort_perm, sort_jcol, sort_v}, s}; }
};

// The work storage of an assembly in both forms.
struct BothFormsStorage {
  BranchStorage branches;
  RowIndexedStorage row_indexed;
};

// Input copy, output values, column sort buffers and triplet values of a
// reduction (the index array is the host's or, for MatYR, ijar here).
struct ReductionStorage {
  std::array<Complex, kMaxNonzeros> c{};
  std::array<Complex, kMaxNonzeros> w{};
  std::array<std::int32_t, kMaxNonzeros> col{};
  std::array<Complex, kMaxNonzeros> val{};
  std::array<std::int32_t, kMaxNonzeros> perm{};
  std::array<Complex, kMaxNonzeros> t{};
  std::array<std::int32_t, kMaxNonzeros> ijar{};

  ColumnSortWork sort() { return {col, val, perm}; }
};

// The texts of a routine's checks on the network it assembles (N, then NB,
// then the end nodes; sequence/ checks branch flows as BranchFlowRejections).
struct NetworkRejections {
  const Message &n_range;  // %(I1) = N
  const Message &nb_range; // %(I1) = NB
  const Message &node;     // NODES(%(I1), %(I2)) = %(I3), %(I4) = N
};

// N within 1..max_n, NB at most the branch capacity (NB <= 0 is left to the
// key sort's length error, raised before these checks), and every end node
// of branches 1..NB in 1..N.
// Reads NODES only when NB fits.
inline bool CheckBranchInput(frame::ArgumentGuard &guard, const NetworkRejections &texts, std::int32_t n,
                             std::int32_t max_n, std::int32_t nb, const std::int32_t *nodes) {
  // One message per call: the checks stop at the first offence.
  if (!guard.reject_if(n < 1 || n > max_n, texts.n_range, {n})) return false;
  if (!guard.reject_if(nb > kMaxBranches, texts.nb_range, {nb})) return false;
  return guard.end_nodes_in_range(texts.node, nodes, nb, n);
}

// Copies the split-complex branch data of branches 1..NB into storage and
// describes them; from/to read the host's NODES columns in place.
inline BranchArrays ReadBranches(BranchStorage &st, const float *z, const float *ya, const float *yb,
                                 const std::int32_t *nodes, std::int32_t nb, const std::int32_t *istat) {
  const frame::SplitComplexIn<kLdBranch> zv(z), yav(ya), ybv(yb);
  const std::int32_t count = nb < 0 ? 0 : nb;
  for (std::int32_t b = 1; b <= count; ++b) {
    st.z[b - 1] = zv(b);
    st.ya[b - 1] = yav(b);
    st.yb[b - 1] = ybv(b);
  }
  const auto len = static_cast<std::size_t>(count);
  BranchArrays br;
  br.nb = nb;
  br.from = std::span<const std::int32_t>(nodes, len);
  br.to = std::span<const std::int32_t>(nodes + kLdBranch, len);
  br.z = std::span<const Complex>(st.z.data(), len);
  br.ya = std::span<const Complex>(st.ya.data(), len);
  br.yb = std::span<const Complex>(st.yb.data(), len);
  if (istat != nullptr) br.istat = std::span<const std::int32_t>(istat, len);
  return br;
}

// A host output array of `count` elements.
inline std::span<std::int32_t> HostSpan(std::int32_t *p, std::int32_t count) {
  return {p, Size(count)};
}

// A triplet list over the host's IROW/JCOL (count elements, checked against
// the capacity before) and a static value list.
template <std::size_t kCap>
TripletList<Complex> HostTriplets(std::int32_t *irow, std::int32_t *jcol, std::array<Complex, kCap> &v,
                                  std::int32_t count) {
  return {HostSpan(irow, count), HostSpan(jcol, count), v, 0};
}

// Writes values 1..count into a split-complex output X(LD, 2).
template <std::int32_t LD> void WriteSplit(float *out, std::span<const Complex> values, std::int32_t count) {
  const frame::SplitComplexOut<LD> x(out);
  for (std::int32_t k = 1; k <= count; ++k) x.set(k, values[k - 1]);
}

// The texts of the checks of an assembly routine.
struct AssemblyRejections {
  NetworkRejections network;
  const Message &entries; // %(I1) = the number of entries the result needs
};

// A network as the host holds it: NB branches of NODES(LD, 2), the
// split-complex Z, YA, YB, and ISTAT (null: all in service).
struct HostNetwork {
  std::int32_t n, nb;
  const float *z, *ya, *yb;
  const std::int32_t *nodes;
  const std::int32_t *istat;
};

// The host's face of the assembly recipe: checks the network (and whatever
// `extra_checks(guard)` adds), copies the branch data, runs the recipe and
// checks the size of the result against max_entries (which also bounds N)
// before anything is stamped into the host's IROW/JCOL (and IJA when
// `row_indexed` is given) with the values in storage. Returns NZ, or -1
// when a check failed, in which case nothing has been written.
template <class ExtraChecks>
std::int32_t AssembleFromHost(std::string_view name, const AssemblyRejections &texts,
                              std::int32_t max_entries, const HostNetwork &in, const NodalShunts &shunts,
                              ExtraChecks extra_checks, BranchStorage &st, std::int32_t *irow,
                              std::int32_t *jcol, RowIndexedStorage *row_indexed, std::int32_t *ija) {
  ErrorModule &err = errors();
  const BranchOrder order = st.order();
  // No branches: the key sort's length error comes first, whatever N is
  // (nothing is read for it); the checks follow when stopping is off.
  if (in.nb <= 0) RaiseNoBranches(err, in.n, in.nb, order);
  {
    frame::ArgumentGuard guard(err, name);
    const bool ok =
        CheckBranchInput(guard, texts.network, in.n, max_entries, in.nb, in.nodes) && extra_checks(guard);
    if (!guard.passed() || !ok) return -1;
  }
  const BranchArrays branches = ReadBranches(st, in.z, in.ya, in.yb, in.nodes, in.nb, in.istat);
  return AssembleAdmittanceMatrix(err, in.n, branches, shunts, order,
                                  [&](std::int32_t entries) -> std::optional<AssemblyOutput> {
                                    frame::ArgumentGuard guard(err, name);
                                    guard.reject_if(entries > max_entries, texts.entries, {entries});
                                    if (!guard.passed()) return std::nullopt;
                                    AssemblyOutput out{HostTriplets(irow, jcol, st.v, entries)};
                                    if (row_indexed != nullptr) {
                                      out.ija = HostSpan(ija, entries + 1);
                                      out.conversion = row_indexed->work();
                                    }
                                    return out;
                                  });
}

inline bool NoExtraChecks(frame::ArgumentGuard &) {
  return true;
}

// The host's outputs of an assembly in both forms.
struct BothFormsOutput {
  std::int32_t *irow, *jcol;
  float *a;
  std::int32_t *nz;
  float *sa;
  std::int32_t *ija;
};

// MatricaY and MatYsa: the triplet list in stamping order and the row-indexed
// form of the branches and the nodal shunts (none for MatYsa).
template <class ExtraChecks>
void AssembleBothForms(std::string_view name, const AssemblyRejections &texts, BothFormsStorage &st,
                       const HostNetwork &in, const NodalShunts &shunts, ExtraChecks extra_checks,
                       const BothFormsOutput &out) {
  const std::int32_t nz = AssembleFromHost(name, texts, kMaxRowIndexedEntries, in, shunts, extra_checks,
                                           st.branches, out.irow, out.jcol, &st.row_indexed, out.ija);
  if (nz < 0) return;
  *out.nz = nz;
  WriteSplit<kLdNonzero>(out.a, st.branches.v, nz);
  WriteSplit<kLdNonzero>(out.sa, st.row_indexed.s, nz + 1);
}

// The texts of the triplet-only assemblies (MatY, MatY_prekin).
inline constexpr Message kTripletNRange{
    1, orvek::frame::kCapacityText<"N = %(I1) must lie between 1 and {}.", orvek::kMaxNonzeros>};
inline constexpr Message kTripletNbRange{
    2, orvek::frame::kCapacityText<"NB = %(I1) must not exceed {}.", orvek::kMaxBranches>};
inline constexpr Message kTripletNodeRange{3,
                                           "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
inline constexpr Message kTripletEntries{
    4, orvek::frame::kCapacityText<"The matrix needs NZ = %(I1) entries; the triplet list holds at most {}.",
                                   orvek::kMaxNonzeros>};

// MatY and MatY_prekin: the triplet list of the branches (ISTAT null: all in
// service), in stamping order, into the host's IROW, JCOL, A and NZ.
inline void AssembleTripletList(std::string_view name, BranchStorage &st, const HostNetwork &in,
                                std::int32_t *irow, std::int32_t *jcol, float *a, std::int32_t *nz) {
  const std::int32_t count =
      AssembleFromHost(name, {{kTripletNRange, kTripletNbRange, kTripletNodeRange}, kTripletEntries},
                       kMaxNonzeros, in, NodalShunts{}, NoExtraChecks, st, irow, jcol, nullptr, nullptr);
  if (count < 0) return;
  *nz = count;
  WriteSplit<kLdNonzero>(a, st.v, count);
}

// The texts of a reduction's checks on its row-indexed input.
struct ReductionRejections {
  const Message &end_pointer; // IJA(%(I1)) = %(I2), bounds %(I3)..%(I4)
  const Message &iold;        // IOLD(%(I1)) = %(I2), bound %(I3)
  const Message &row_pointer; // IJA(%(I1)) = %(I2), bounds %(I3)..%(I4)
  const Message &column;      // IJA(%(I1)) = %(I2), bound %(I3)
  const Message &inew;        // INEW(%(I1)) = %(I2), bound %(I3) = N
};

// Checks a row-indexed input of n_in nodes and the rows IOLD(1..N) that a
// reduction reads, in reading order: the end pointer IJA(n_in + 1) (the
// values C(1..IJA(n_in + 1) - 1) must fit in the value capacity), each IOLD
// entry, the two pointers of each row read, every column of those rows that
// is tested against IDROP or looked up in INEW (all for MatYR, idrop given;
// all but KREF for MatricaYR, idrop null), and the new number INEW(c) of
// every column kept, which must lie in 1..N. The caller checks the size of
// the result afterwards. Requires 1 <= n_in, n_in + 1 <= the value
// capacity, n >= 0.
inline bool CheckReductionInput(frame::ArgumentGuard &guard, const ReductionRejections &texts,
                                std::int32_t n_in, const std::int32_t *ija_host,
                                const std::int32_t *iold_host, const std::int32_t *inew_host, std::int32_t n,
                                std::int32_t kref, const std::int32_t *idrop_host) {
  const frame::Vec1<const std::int32_t> ija(ija_host);
  const frame::Vec1<const std::int32_t> iold(iold_host);
  const frame::Vec1<const std::int32_t> inew(inew_host);
  const frame::Vec1<const std::int32_t> idrop(idrop_host);
  const std::int32_t first = n_in + 2; // first off-diagonal position
  const std::int32_t end = ija(n_in + 1);
  if (!guard.reject_if(end < first || end > kMaxNonzeros + 1, texts.end_pointer,
                       {n_in + 1, end, first, kMaxNonzeros + 1}))
    return false;
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t p = iold(i);
    if (!guard.reject_if(p < 1 || p > n_in, texts.iold, {i, p, n_in})) return false;
    for (std::int32_t q = p; q <= p + 1; ++q) {
      const std::int32_t ptr = ija(q);
      if (!guard.reject_if(ptr < first || ptr > end, texts.row_pointer, {q, ptr, first, end})) return false;
    }
    for (std::int32_t k = ija(p); k < ija(p + 1); ++k) {
      const std::int32_t c = ija(k);
      if (idrop_host == nullptr && c == kref) continue;
      if (!guard.reject_if(c < 1 || c > n_in, texts.column, {k, c, n_in})) return false;
      if (idrop_host != nullptr && idrop(c) != 0) continue;
      const std::int32_t renumbered = inew(c);
      if (!guard.reject_if(renumbered < 1 || renumbered > n, texts.inew, {c, renumbered, n})) return false;
    }
  }
  return true;
}

// A row-indexed matrix of n_in nodes as the host holds it, and the rows a
// reduction reads from it (IOLD(1..N)), checked by CheckReductionInput.
struct HostReduction {
  std::int32_t n_in, n;
  const float *sa;
  const std::int32_t *ija, *iold, *inew;
  ColumnFilter filter;

  std::span<const std::int32_t> index() const { return {ija, static_cast<std::size_t>(ija[n_in] - 1)}; }
  std::span<const std::int32_t> rows() const { return {iold, static_cast<std::size_t>(n)}; }
};

// The entries the reduction keeps (the size the caller checks).
inline std::int32_t CountHostReduction(const HostReduction &in) {
  return CountReducedEntries({in.n_in, in.index(), {}}, in.rows(), in.n, in.filter);
}

// Copies the host's values into storage and reduces the matrix into the
// host's IROW/JCOL (values in storage.t) and the row-indexed ijar (values in
// storage.w); `entries` is CountHostReduction's, checked. Returns NZ.
inline std::int32_t ReduceFromHost(ReductionStorage &st, const HostReduction &in, std::int32_t entries,
                                   std::int32_t *irow, std::int32_t *jcol, std::span<std::int32_t> ijar) {
  const std::int32_t end = in.ija[in.n_in];
  const frame::SplitComplexIn<kLdNonzero> values(in.sa);
  for (std::int32_t k = 1; k < end; ++k) st.c[k - 1] = values(k);
  const RowIndexedMatrix matrix{in.n_in, in.index(),
                                std::span<const Complex>(st.c.data(), static_cast<std::size_t>(end - 1))};
  TripletList<Complex> out = HostTriplets(irow, jcol, st.t, entries);
  ReduceRowIndexed(errors(), matrix, in.rows(),
                   std::span<const std::int32_t>(in.inew, static_cast<std::size_t>(in.n_in)), in.n, in.filter,
                   ijar, st.w, out, st.sort());
  return out.nz;
}

} // namespace orvek::assembly
