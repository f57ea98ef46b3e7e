// Internals of the native interface: the workspace (an error module of its
// own plus growable work buffers) and the call scope that runs kernels
// under that error module and turns a stop of the exported routine into
// orvek::Error.
//
// The workspace's error module keeps the default print and stop flags, so
// it prints and "stops" exactly where the exported routine would; printing
// goes to a capture and the stop handler only records the point of the
// first stop and returns, so every kernel carries on as it does with
// stopping switched off and returns cleanly. After the kernels, the scope
// throws when a stop was recorded and hands out the warnings otherwise.
//
// The scope also holds the workspace for the call: a flag set on entry and
// cleared on exit turns a second call on the same workspace (another
// thread's) into orvek::Error, as it does a workspace moved from. Every
// native function is a function-try-block whose handler passes what it
// catches to RethrowAllocationFailure, so that running out of memory is an
// orvek::Error too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "assembly/accumulator.hpp"
#include "frame/argument_guard.hpp"
#include "orvek/orvek.hpp"
#include "sparse/double_values.hpp"
#include "support/complex.hpp"
#include "support/counts.hpp"
#include "support/error_module.hpp"

namespace orvek::native {

// What the error module printed during one call.
struct Capture {
  ErrorModule *err = nullptr;
  std::vector<Report> reports;
  std::string printed;
  bool stopped = false;
  std::size_t reports_at_stop = 0;
  std::size_t printed_at_stop = 0;

  void clear() {
    reports.clear();
    printed.clear();
    stopped = false;
    reports_at_stop = printed_at_stop = 0;
  }
};

// A growable buffer; take(n) gives a span of n elements (contents left
// from earlier calls unless cleared).
template <class T> class Buffer {
public:
  std::span<T> take(std::size_t n) {
    if (data_.size() < n) data_.resize(n);
    return std::span<T>(data_.data(), n);
  }
  std::span<T> zeroed(std::size_t n) {
    std::span<T> s = take(n);
    for (T &x : s) x = T{};
    return s;
  }

private:
  std::vector<T> data_;
};

} // namespace orvek::native

namespace orvek {

struct Workspace::Impl {
  Impl();
  // Replaces the error module when a previous call left it inconsistent
  // (an exception thrown by the allocator inside a kernel), and clears the
  // user level's error type and code.
  void reset_errors();

  std::unique_ptr<ErrorModule> err;
  native::Capture capture;
  std::atomic<bool> in_use{false}; // a call is running on this workspace

  // Work buffers, named by their use; each call takes what it needs.
  native::Buffer<std::int32_t> perm, key, skey;      // branch order
  native::Buffer<std::int64_t> wide_key, wide_skey;  // its 64-bit keys
  native::Buffer<std::int32_t> save_irow, save_jcol; // row-indexed conversion
  native::Buffer<Complex> save_v;
  native::Buffer<std::int32_t> sort_perm, sort_jcol;
  native::Buffer<Complex> sort_v;
  native::Buffer<std::int32_t> ipvt, jpvt; // solve: marked permutations
  native::Buffer<float> solve_real;        // direct solve: work vector
  native::Buffer<Complex> solve_complex;
  native::Buffer<Complex> cb, cz0, cz1, cz2, cva, cvb, cvc;                      // complex node vectors
  native::Buffer<float> rb;                                                      // real node vector
  native::Buffer<std::int32_t> table_node, table_neighbour, table_branch, itemp; // incidence
  native::Buffer<std::int32_t> pend, count, first_entry, partner_entry;          // ordering, list check
  native::Buffer<std::int32_t> node_positions;                                   // component records
  native::Buffer<std::int32_t> node_marks, tree_marks, chord_marks;              // ordering membership
  native::Buffer<std::int32_t> inv_index;                                        // inverse subset: lists
  native::Buffer<sparse::ComplexD> inv_fac, inv_z, inv_w;                        // double factors, Z, scatter
  native::Buffer<sparse::ComplexD> diag0, diag1, diag2;                          // diagonals per sequence
  native::Buffer<double> wide_real;              // refined solve: x, r, Krylov
  native::Buffer<sparse::ComplexD> wide_complex; //   vectors (real, complex)
  native::Buffer<double> sums;                   // refined solve: row sums
};

namespace native {

// One native call: prepares the workspace's error module, and checks after
// each kernel stage whether the exported routine would have stopped.
class CallScope {
public:
  // Throws orvek::Error when the workspace was moved from or is in use.
  CallScope(Workspace &ws, std::string_view call);
  ~CallScope();
  CallScope(const CallScope &) = delete;
  CallScope &operator=(const CallScope &) = delete;

  ErrorModule &err() { return *ws_.err; }
  Workspace::Impl &ws() { return ws_; }

  // Throws orvek::Error when a stop was recorded.
  void check();
  // The warnings printed so far (after check()).
  std::vector<Report> warnings() const;

private:
  Workspace::Impl &ws_;
  std::string call_;
};

// In the handler of a native function: an allocation failure (bad_alloc,
// or a length beyond what a vector can hold) becomes orvek::Error of
// routine "Memory"; anything else is rethrown as it is.
[[noreturn]] void RethrowAllocationFailure(std::string_view call);

// Argument checks of a native call under its own routine name; texts may
// use %(L1) for an array name and %(I1).. for values.
class Checks {
public:
  Checks(CallScope &scope, std::string_view routine) : err_(scope.err()), guard_(err_, routine) {}
  // True when the check passed.
  bool require(bool good, const Message &r, std::initializer_list<std::int32_t> values = {}) {
    return guard_.reject_if(!good, r, values);
  }
  bool require_named(bool good, std::string_view name, const Message &r,
                     std::initializer_list<std::int32_t> values = {}) {
    if (!good) err_.SetTextPlaceholder(1, name);
    return guard_.reject_if(!good, r, values);
  }
  bool passed() { return guard_.passed(); }

private:
  ErrorModule &err_;
  frame::ArgumentGuard guard_;
};

// Sizes as the library's 32-bit counts and back (support/counts.hpp).
using orvek::Count;
using orvek::Size;

// The branch order of the native calls: 64-bit keys, so that any node
// count of 32-bit node numbers is taken (the places are those of the 32-bit
// keys wherever those fit).
inline assembly::BranchOrder WideBranchOrder(Workspace::Impl &ws, std::size_t nb) {
  return {ws.perm.take(nb), ws.key.take(nb), ws.skey.take(nb), ws.wide_key.take(nb), ws.wide_skey.take(nb)};
}

// Codes 1 to 3 of the calls that read a whole network (the admittance
// assemblies, the decoupled matrices and the adjacency): the node count, the
// sizes of the branch arrays, the branch ends. Each call's table goes on
// from code 4.
inline constexpr Message kNetworkNodes{1, "N = %(I1) must be at least 1."};
inline constexpr Message kNetworkBranchSize{
    2, "%(L1) holds %(I1) values; it must hold NB = %(I2), one per branch."};
inline constexpr Message kNetworkBranchEnd{3, "%(L1)(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};

// Checks shared by the calls that read branch ends or a row-indexed matrix;
// they stop at the first offence.
struct EndRejections {
  const Message &size; // %(L1) holds %(I1), NB = %(I2)
  const Message &node; // %(L1)(%(I1)) = %(I2), N = %(I3)
};
bool CheckEnds(Checks &checks, const EndRejections &texts, std::int32_t n, std::span<const std::int32_t> from,
               std::span<const std::int32_t> to);

struct RowIndexedRejections {
  const Message &shape;   // ija/sa sizes, %(I1) = N
  const Message &pointer; // IJA(%(I1)) = %(I2) out of order
  const Message &column;  // IJA(%(I1)) = %(I2), N = %(I3)
};
bool CheckRowIndexed(Checks &checks, const RowIndexedRejections &texts, const RowIndexed &y);

// The factor checks and the solve of native/factor_and_solve.cpp, for other calls.
template <class T> void CheckFactors(CallScope &scope, const FactorSet<T> &f);
template <class T>
void SolveChecked(CallScope &scope, const FactorSet<T> &f, std::span<const T> b, std::span<T> x, Path path);
template <class T>
void SolveFast(CallScope &scope, const FactorSet<T> &f, std::span<const T> b, std::span<T> x, Path path);

// The diagonal of A^-1 at every node (diag holds n values) for one
// sequence network, from its factor set (checked here: complete, a
// permutation pair, triangular parts with every diagonal) and, when a is
// given, from a refactored in double along the set's pivots. Rejections
// are raised under `routine`, naming the set by `name`.
void InverseDiagonal(CallScope &scope, std::string_view routine, std::string_view name,
                     const FactorSet<Complex> &f, const TripletMatrix<Complex> *a,
                     std::span<sparse::ComplexD> diag);

} // namespace native
} // namespace orvek
