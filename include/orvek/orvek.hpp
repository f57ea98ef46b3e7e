// ORVEK native C++20 interface: the library's exact single-precision
// network routines over std::span inputs and std::vector results, for
// networks of any size (no fixed leading dimensions, no capacities).
//
// Conventions
//  - Arrays are 0-based containers; the numbers stored in them (nodes,
//    branches, rows, columns, positions of the row-indexed form) are the
//    library's 1-based numbers, exactly as the exported routines hold them.
//    Branch b is element b - 1 of every branch array, node i element i - 1
//    of every node array.
//  - Results are bit-identical to the exported routines' for the same data:
//    the same kernels run, with the same orders of summation and pivoting.
//  - Every call takes a Workspace the caller owns: its work storage and its
//    own error state. Calls with different workspaces may run at once on
//    different threads; one workspace serves one call at a time (a second
//    call on it while one runs is refused with Error, see Workspace).
//  - What the exported routine would print and stop on is thrown as
//    orvek::Error; the process, its standard output and the exported
//    routines' error state are never touched. Warnings are returned in the
//    result (FactorSet::warnings).
//  - Input that would make a kernel read or write outside the given arrays
//    (sizes that disagree, node numbers out of range) is rejected with an
//    Error before anything is computed.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvek/complex_value.hpp"
#include "orvek/fault_values.hpp"

namespace orvek {

// ===========================================================================
// Errors and workspace
// ===========================================================================

// Error types as the library numbers them.
inline constexpr std::int32_t kWarningType = 3;
inline constexpr std::int32_t kFatalType = 4;
inline constexpr std::int32_t kTerminalType = 5;

// One message of the error module as the exported routine would print it.
struct Report {
  std::string routine;    // routine named in the message ("L2TZG", "SVIGP", "Factor")
  std::int32_t type = 0;  // 3 WARNING, 4 FATAL, 5 TERMINAL
  std::int32_t code = 0;  // code of the routine
  std::string message;    // message text, placeholders filled in
};

// A terminal or fatal error of a native call. routine/type/code/message are
// those of the first message that stops the exported routine; reports()
// holds every message printed up to the stop, printed() the exact text
// (messages and tracebacks) the exported routine would have written.
class Error : public std::runtime_error {
public:
  Error(std::string call, std::vector<Report> reports, std::string printed);

  const std::string &call() const noexcept { return call_; } // native function ("Factor")
  const std::string &routine() const noexcept { return first().routine; }
  std::int32_t type() const noexcept { return first().type; }
  std::int32_t code() const noexcept { return first().code; }
  const std::string &message() const noexcept { return first().message; }
  const std::vector<Report> &reports() const noexcept { return reports_; }
  const std::string &printed() const noexcept { return printed_; }

private:
  const Report &first() const noexcept;
  std::string call_;
  std::vector<Report> reports_;
  std::string printed_;
};

// Work storage and error state of native calls; reusable, grows to the
// largest problem it has served. Movable, not copyable. A call with a
// workspace that was moved from (until a Workspace is assigned to it), or
// with one that is serving a call on another thread, throws Error
// (routine "Workspace"); so does a call that cannot obtain the memory it
// needs (routine "Memory", instead of std::bad_alloc).
class Workspace {
public:
  Workspace();
  ~Workspace();
  Workspace(Workspace &&) noexcept;
  Workspace &operator=(Workspace &&) noexcept;
  Workspace(const Workspace &) = delete;
  Workspace &operator=(const Workspace &) = delete;

  struct Impl; // internal
  Impl *impl() noexcept { return impl_.get(); } // null after a move

private:
  std::unique_ptr<Impl> impl_;
};

// ===========================================================================
// Network data
// ===========================================================================

// π-branches 1..NB (element b - 1 for branch b): series impedance z between
// the first end `from` and the second end `to`, admittance ya at the first
// end and yb at the second. All five spans hold NB elements.
struct BranchView {
  std::span<const std::int32_t> from;
  std::span<const std::int32_t> to;
  std::span<const Complex> z;
  std::span<const Complex> ya;
  std::span<const Complex> yb;
};

// Nodal shunt susceptances b[k] at nodes node[k] (added as j·b).
struct ShuntView {
  std::span<const std::int32_t> node;
  std::span<const float> b;
};

// A square sparse matrix of order n as a triplet list: entry k + 1 is
// (irow[k], jcol[k], value[k]). No position twice; every row and column
// present (the factorization's input form).
template <class T> struct TripletMatrix {
  std::int32_t n = 0;
  std::vector<std::int32_t> irow;
  std::vector<std::int32_t> jcol;
  std::vector<T> value;
  std::int32_t nz() const { return static_cast<std::int32_t>(value.size()); }
};

// Row-indexed sparse form of order n: ija[0..n] pointers (ija[0] = n + 2,
// ija[n] = nz + 2), then the columns of the off-diagonal entries;
// sa[i - 1] is the diagonal of row i, sa[n] the unused spacer (zero), and
// sa[k - 1] for k >= n + 2 the value at position k.
struct RowIndexed {
  std::int32_t n = 0;
  std::vector<std::int32_t> ija;
  std::vector<Complex> sa;
};

// ===========================================================================
// Admittance assembly
// ===========================================================================

// Both forms of the nodal admittance matrix (as MatricaY; without shunts as
// MatYsa): the triplet list in stamping order (diagonals 1..N, then one
// pair per distinct node pair in ascending branch key) and the row-indexed
// form.
struct Admittance {
  TripletMatrix<Complex> triplets;
  RowIndexed row_indexed;
};

Admittance AssembleAdmittance(Workspace &ws, std::int32_t n, const BranchView &branches,
                              const ShuntView &shunts = {});

// The triplet list only (as MatY); with `status` (NB elements: 1 in
// service, any other value opened) as MatY_prekin.
TripletMatrix<Complex> AssembleTriplets(Workspace &ws, std::int32_t n, const BranchView &branches,
                                        std::span<const std::int32_t> status = {});

// ===========================================================================
// Reduction of an assembled matrix
// ===========================================================================

// y (order N + 1) without the row and column of node kref, the other nodes
// renumbered: new node i is old node iold[i - 1] (N elements), old node c
// becomes inew[c - 1] (N + 1 elements; the entry of kref is not read). The
// values stay as they are (no elimination). Both forms of the reduced
// matrix of order N (as MatricaYR): the triplet list with the diagonals of
// new nodes 1..N first, then the off-diagonals row by row with ascending
// columns, and the row-indexed form in that order.
Admittance ReduceAdmittance(Workspace &ws, const RowIndexed &y, std::int32_t kref,
                            std::span<const std::int32_t> iold, std::span<const std::int32_t> inew);

// y (order NIN) without the columns of the nodes flagged in idrop (NIN
// elements, non-zero removes) and with the rows of iold only (N elements),
// renumbered through inew (NIN elements, read for kept columns): the
// triplet list of order N (as MatYR), in the order of ReduceAdmittance.
TripletMatrix<Complex> ReduceTriplets(Workspace &ws, const RowIndexed &y, std::span<const std::int32_t> idrop,
                                      std::span<const std::int32_t> iold, std::span<const std::int32_t> inew);

// ===========================================================================
// Sparse LU factorization and solve
// ===========================================================================

// The factors of one matrix (the factor set of LUR/LUC), owning its arrays:
// entries 1..nl are the multipliers of L, nl + 1..nfac the rows of U from
// row n down to 1, each closed by its diagonal; ipvt/jpvt the row and
// column permutations. peak, growth and min_pivot are the statistics
// IPARAM(4), RPARAM(4), RPARAM(5). When the elimination ends with a
// warning (numerically singular, growth factor) the exported routine
// leaves its factor arrays unwritten; here they are then empty,
// complete() is false and Solve refuses the set.
template <class T> struct FactorSet {
  std::int32_t n = 0;
  std::int32_t nfac = 0;
  std::int32_t nl = 0;
  std::vector<T> fac;
  std::vector<std::int32_t> irfac;
  std::vector<std::int32_t> jcfac;
  std::vector<std::int32_t> ipvt;
  std::vector<std::int32_t> jpvt;
  std::int32_t peak = 0;
  float growth = 0.0f;
  float min_pivot = 0.0f;
  std::vector<Report> warnings;
  bool complete() const { return nfac > 0 && static_cast<std::int32_t>(fac.size()) == nfac; }
};

// Factors the matrix with the default parameters (as LUR / LUC).
FactorSet<float> Factor(Workspace &ws, const TripletMatrix<float> &a);
FactorSet<Complex> Factor(Workspace &ws, const TripletMatrix<Complex> &a);

// Room of a factorization beyond the default, which holds MAXNZ = 3·NZ
// entries (the matrix, its fill-in and the factors): max_entries > 0 sets
// MAXNZ, i.e. the workspace limit IPARAM(5) = 15·N + 5·MAXNZ, and room for
// as many factor entries; every other parameter keeps its default. For a
// matrix whose elimination fits the default room the factors are those of
// the default call.
struct FactorOptions {
  std::int64_t max_entries = 0;
};
FactorSet<float> Factor(Workspace &ws, const TripletMatrix<float> &a, const FactorOptions &options);
FactorSet<Complex> Factor(Workspace &ws, const TripletMatrix<Complex> &a, const FactorOptions &options);

// A·x = b, or the transpose (the conjugate transpose for complex factors).
enum class Path : std::int32_t { kPlain = 1, kTransposed = 2 };

// Solves with the factors (as BSR / BSC); b and x hold n elements and may
// be the same storage. The second form allocates nothing.
std::vector<float> Solve(Workspace &ws, const FactorSet<float> &f, std::span<const float> b,
                         Path path = Path::kPlain);
std::vector<Complex> Solve(Workspace &ws, const FactorSet<Complex> &f, std::span<const Complex> b,
                           Path path = Path::kPlain);
void Solve(Workspace &ws, const FactorSet<float> &f, std::span<const float> b, std::span<float> x,
           Path path = Path::kPlain);
void Solve(Workspace &ws, const FactorSet<Complex> &f, std::span<const Complex> b, std::span<Complex> x,
           Path path = Path::kPlain);

// A solution refined to double accuracy from single-precision factors: the
// residual b - A·x is formed in double against the matrix's triplets, the
// correction solved with the factors and added in double, until the
// residual stops falling. Factors too far from A for such corrections to
// converge (a large growth factor on an ill-conditioned matrix) go on with
// corrections by flexible GMRES in double, preconditioned by the factors.
// iterations counts the solves with the factors after the first;
// backward_error is the normwise ||b - A·x|| / (||A||·||x|| + ||b||) of the
// returned x (infinity norms).
template <class D> struct RefinedSolution {
  std::vector<D> x;
  std::int32_t iterations = 0;
  double backward_error = 0.0;
};

// Solves A·x = b (or the transpose, the conjugate transpose for complex
// values) with the factor set f of the matrix a, refined to double
// accuracy; b holds n values.
RefinedSolution<double> SolveRefined(Workspace &ws, const FactorSet<float> &f, const TripletMatrix<float> &a,
                                     std::span<const double> b, Path path = Path::kPlain);
RefinedSolution<std::complex<double>> SolveRefined(Workspace &ws, const FactorSet<Complex> &f,
                                                   const TripletMatrix<Complex> &a,
                                                   std::span<const std::complex<double>> b,
                                                   Path path = Path::kPlain);

// Fill-in of a factor set: factor entries stored minus entries of the matrix.
template <class T> std::int64_t FillIn(const FactorSet<T> &f, const TripletMatrix<T> &a) {
  return static_cast<std::int64_t>(f.nfac) - a.nz();
}

// ===========================================================================
// Faults, branch and node quantities
// ===========================================================================

// FaultType (fault-type codes, any other code a three-phase fault) and
// FaultCurrents (I0, I1, I2 at the fault node): orvek/fault_values.hpp.

// A solid fault at node k (as NaponiKV): currents, and the sequence and
// phase voltages of every node (n elements each).
struct FaultResult {
  FaultCurrents currents;
  std::vector<Complex> v0, v1, v2;
  std::vector<Complex> va, vb, vc;
};

// z0/z1/z2: the impedance columns of the three sequence networks to node k
// (n elements each); e the pre-fault voltages, ub the base voltages (zero
// thresholds only), all n elements.
FaultResult Fault(Workspace &ws, std::int32_t itype, std::int32_t k, std::span<const float> ub,
                  std::span<const Complex> e, std::span<const Complex> z0, std::span<const Complex> z1,
                  std::span<const Complex> z2);

// The factors of the three sequence networks (the same set may be given
// for several sequences; it is then solved once per node).
struct SequenceFactors {
  const FactorSet<Complex> &zero;
  const FactorSet<Complex> &positive;
  const FactorSet<Complex> &negative;
};

// The fault-study road for every node k in `nodes`: a unit current
// injected at k in each sequence network gives the impedance columns (as
// BSC), the fault computation (as NaponiKV) the currents. With `nodes`
// empty every node 1..n is studied, and since only Z(k,k) enters the
// currents they come from the diagonals of the inverses (as FaultLevels
// without the matrices) instead of n solves per network: the same formulas
// on driving-point impedances that agree with the solved columns' within
// the single-precision factors' rounding. Element j of the result belongs
// to nodes[j] (or node j + 1).
std::vector<FaultCurrents> FaultStudy(Workspace &ws, std::int32_t itype, const SequenceFactors &factors,
                                      std::span<const float> ub, std::span<const Complex> e,
                                      std::span<const std::int32_t> nodes = {});

// Fault levels: every fault type of Fault at every node at once. The
// driving-point impedances Z0(k,k), Z1(k,k), Z2(k,k) are the diagonals of
// the inverses of the three sequence matrices, taken from the factors
// without a solve per node (the inverse on the pattern of the factors,
// formed in double from the last row up); the currents follow from them
// with Fault's formulas, coefficients and thresholds (only the fault
// node's values enter them). Voltages at other nodes stay the business of
// Fault and FaultStudy.
inline constexpr std::int32_t kFaultTypeCount = 4;

// Phase currents into the fault: Ia = I0 + (I2 + I1),
// Ib = I0 + (a·I2 + a²·I1), Ic = I0 + (a²·I2 + a·I1).
struct PhaseCurrents {
  Complex ia, ib, ic;
};

// One fault type at one node.
struct FaultLevel {
  FaultCurrents sequence; // I0, I1, I2 as Fault returns them
  PhaseCurrents phase;
};

// Every fault type at one node, and the impedances they were computed from.
struct NodeFaultLevels {
  std::int32_t node = 0;                               // 1-based node number
  Complex z0, z1, z2;                                  // Z0(k,k), Z1(k,k), Z2(k,k)
  std::array<FaultLevel, kFaultTypeCount> by_type{};   // element itype - 1 (kThreePhase .. kSinglePhaseToEarth)
  const FaultLevel &of(FaultType t) const { return by_type[static_cast<std::size_t>(t - 1)]; }
};

// The matrices the sequence factor sets were computed from (optional).
// When a factor set's matrix is given, its diagonal of the inverse comes
// from the matrix refactored in double along the factor set's pivot order
// and pattern (double accuracy, about 1e-12 relative); otherwise from the
// single-precision factors, with recurrences in double (the accuracy of
// the factors: a relative error of a few units of single precision times
// the condition of the driving-point impedance).
struct SequenceMatrices {
  const TripletMatrix<Complex> *zero = nullptr;
  const TripletMatrix<Complex> *positive = nullptr;
  const TripletMatrix<Complex> *negative = nullptr;
};

// Fault levels at every node k in `nodes` (all nodes 1..n when empty);
// element j of the result belongs to nodes[j] (or node j + 1). e the
// pre-fault voltages, ub the base voltages (thresholds only), n elements
// each. A factor set given for several sequences is used once.
std::vector<NodeFaultLevels> FaultLevels(Workspace &ws, const SequenceFactors &factors, std::span<const float> ub,
                                         std::span<const Complex> e, std::span<const std::int32_t> nodes = {},
                                         const SequenceMatrices &matrices = {});

// Current entering every branch at its first end and leaving at its second
// (as StruiKV), and the complex powers there (as Sg), from node voltages v.
struct BranchFlows {
  std::vector<Complex> first;  // IE1 or SE1, NB elements
  std::vector<Complex> second; // IE2 or SE2
};
BranchFlows BranchCurrents(Workspace &ws, const BranchView &branches, std::span<const Complex> v);
BranchFlows BranchPowers(Workspace &ws, const BranchView &branches, std::span<const Complex> v);

// Complex power injected at node k from the row-indexed matrix (as So).
Complex NodePower(Workspace &ws, const RowIndexed &y, std::int32_t k, std::span<const Complex> v);

// Power injected at every node, S = V·conj(Y·V), from voltage magnitudes
// and angles in radians (as MNOZI).
std::vector<Complex> NodePowers(Workspace &ws, const RowIndexed &y, std::span<const float> vm,
                                std::span<const float> va);

// ===========================================================================
// Fast decoupled power flow
// ===========================================================================

// The two constant matrices of the BX scheme (as Matrici_VektoriBX): the
// first of order N - 1 from X/(R² + X²), the second of order NPQ from 1/X
// with the ratio t at the first end. r, x, t, from, to hold NB elements.
struct DecoupledBranchView {
  std::span<const std::int32_t> from;
  std::span<const std::int32_t> to;
  std::span<const float> r;
  std::span<const float> x;
  std::span<const float> t;
};
struct DecoupledMatrices {
  TripletMatrix<float> first;
  TripletMatrix<float> second;
};
DecoupledMatrices FastDecoupledMatrices(Workspace &ws, std::int32_t n, std::int32_t npq,
                                        const DecoupledBranchView &branches);

// ===========================================================================
// Topology
// ===========================================================================

// Node-branch adjacency lists (as MAUX): ija[0..n] pointers (ija[0] = n + 2),
// then the neighbours; ibr parallel to ija holds each neighbour's branch
// (ibr[0..n] unused, zero).
struct Adjacency {
  std::int32_t n = 0;
  std::vector<std::int32_t> ija;
  std::vector<std::int32_t> ibr;
};
Adjacency BuildAdjacency(Workspace &ws, std::int32_t n, std::span<const std::int32_t> from,
                         std::span<const std::int32_t> to);

// One connected component (the record of ZapisiPodredeno): its nodes in
// breadth-first order, its branches (tree branches 1..nn-1, then the
// chords), and the 0-based positions of the branch ends: branch k joins
// end1[k-1] and k when it is a tree branch, end1[k-1] and end2[l-1] when it
// is chord l (k = nn - 1 + l).
struct Component {
  std::vector<std::int32_t> nodes;
  std::vector<std::int32_t> branches;
  std::vector<std::int32_t> end1;
  std::vector<std::int32_t> end2;
  std::int32_t chords() const { return static_cast<std::int32_t>(end2.size()); }
};

// The breadth-first spanning forest (as MultiPodred): ord, par (par[i] is
// the parent position of ord[i]; left 0 at a component's root), bl, and the
// cumulative counts per component; components() the records.
struct ComponentOrdering {
  std::vector<std::int32_t> ord;
  std::vector<std::int32_t> par;
  std::vector<std::int32_t> bl;
  std::vector<std::int32_t> cnt_nodes;
  std::vector<std::int32_t> cnt_branches;
  std::vector<Component> components;
  std::int32_t nc() const { return static_cast<std::int32_t>(cnt_nodes.size()); }
};
// from/to are the branch ends the adjacency was built from.
ComponentOrdering OrderComponents(Workspace &ws, const Adjacency &adjacency, std::span<const std::int32_t> from,
                                  std::span<const std::int32_t> to);

} // namespace orvek
