// Reads power-flow case files (MATPOWER case format, version 2) and builds
// the host-side network arrays of the ORVEK routines from them.
// ReadCase/ParseCase give the raw tables (baseMVA, bus, gen, branch; every
// other table is skipped); BuildNetwork turns them into a per-unit network
// over nodes 1..N (plain vectors, no capacity limit, double precision);
// MakeHostArrays lays that network out in the library's fixed leading
// dimensions (float, split-complex, 5000 branches / 1000 nodes) and rejects
// what exceeds the capacities. All errors are thrown as CaseError with a
// message that names the file and, where there is one, the line. ReadCase
// refuses a directory, an empty name and a file of more than 64 MiB before
// reading it; any line end (LF, CR LF, CR) is read; a control byte other
// than tab, form feed and vertical tab is refused; text from the file in a
// message is escaped (\xHH) and cut after 60 characters.
#pragma once

#include <complex>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvek::casefile {

// ---- Column meanings of the tables (0-based) -----------------------------
namespace bus_col {
inline constexpr int kBusI = 0, kType = 1, kPd = 2, kQd = 3, kGs = 4, kBs = 5, kArea = 6, kVm = 7,
                     kVa = 8, kBaseKv = 9, kZone = 10, kVmax = 11, kVmin = 12;
inline constexpr int kRequired = 13;
} // namespace bus_col
namespace gen_col {
inline constexpr int kBus = 0, kPg = 1, kQg = 2, kQmax = 3, kQmin = 4, kVg = 5, kMbase = 6, kStatus = 7,
                     kPmax = 8, kPmin = 9;
inline constexpr int kRequired = 10;
} // namespace gen_col
namespace branch_col {
inline constexpr int kFbus = 0, kTbus = 1, kR = 2, kX = 3, kB = 4, kRateA = 5, kRateB = 6, kRateC = 7,
                     kRatio = 8, kAngle = 9, kStatus = 10;
inline constexpr int kRequired = 11;
} // namespace branch_col

// Bus types of the case format.
enum class BusType : int { kPQ = 1, kPV = 2, kReference = 3, kIsolated = 4 };

// Thrown for anything the reader or the builder cannot accept.
class CaseError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// ---- Raw tables -----------------------------------------------------------
struct CaseBus {
  std::int32_t number = 0;
  BusType type = BusType::kPQ;
  double pd = 0, qd = 0; // MW, MVAr
  double gs = 0, bs = 0; // MW, MVAr drawn at 1 per unit
  double vm = 1, va = 0; // per unit, degrees (published solution or start)
  double base_kv = 0;
  int line = 0; // line of the row in the file
};

struct CaseGenerator {
  std::int32_t bus = 0;
  double pg = 0, qg = 0, qmax = 0, qmin = 0; // MW, MVAr
  double vg = 1;                             // voltage setpoint, per unit
  double mbase = 0;                          // MVA
  int status = 1;
  int line = 0;
};

struct CaseBranch {
  std::int32_t from = 0, to = 0;
  double r = 0, x = 0, b = 0; // per unit on baseMVA
  double ratio = 0;           // 0 means a line
  double angle = 0;           // phase shift, degrees
  double rate_a = 0;          // long-term rating, MVA (0: none given)
  int status = 1;
  int line = 0;
};

struct Case {
  std::string source; // file name as given, used in messages
  std::string name;   // function name of the case, if any
  double base_mva = 0;
  std::vector<CaseBus> buses;
  std::vector<CaseGenerator> generators;
  std::vector<CaseBranch> branches;
};

// Reads a case file; the messages of CaseError start with "<path>:<line>: ".
Case ReadCase(const std::string &path);
// Parses case text; `source` names it in messages.
Case ParseCase(std::string_view text, const std::string &source);

// ---- Per-unit network over nodes 1..N -------------------------------------
enum class NodeOrder {
  kFile,      // nodes in the order of the bus table
  kPowerFlow, // PQ nodes, then PV nodes, then the reference node last (each in file order)
};

struct NetworkBranch {
  std::int32_t from = 0, to = 0; // nodes, 1..N
  double r = 0, x = 0, b = 0;    // as in the file, per unit
  double ratio = 1;              // off-nominal ratio at the from end (1 for a line)
  double shift_deg = 0;          // phase shift of the file (not represented in the arrays)
  bool transformer = false;      // a ratio in the file, or ends at different base voltages
  double rate_a = 0;             // long-term rating of the file, MVA (0: none)
  // Exact pi-equivalent of the branch (ratio t at the from end, y = 1/(r + jx)):
  //   series impedance t*(r + jx); ya = (y + jb/2)/t^2 - y/t; yb = y + jb/2 - y/t.
  std::complex<double> z, ya, yb;
  int line = 0;       // line of the branch row in the file (0 for built-in data)
  int case_index = 0; // 0-based row index in the branch table
};

struct NetworkGenerator {
  std::int32_t node = 0;
  double pg = 0, qg = 0, qmax = 0, qmin = 0; // per unit on baseMVA
  double vg = 1;
  double mbase = 0; // MVA (0 in the file is reported as baseMVA)
  int line = 0;
  int case_index = 0; // 0-based row index in the generator table
};

struct Network {
  std::string source;
  double base_mva = 100;
  std::int32_t n = 0; // nodes
  std::int32_t npq = 0, npv = 0;
  std::int32_t reference = 0; // node of the reference bus

  // Per node, index node-1.
  std::vector<std::int32_t> bus_of_node;
  std::vector<BusType> type;           // after demotion of PV buses without a generator
  std::vector<double> pd, qd;          // load, per unit
  std::vector<double> pg, qg;          // in-service generation, per unit
  std::vector<double> gs, bs;          // shunt conductance and susceptance, per unit
  std::vector<double> vm_set;          // setpoint (PV, reference) or the file's Vm (PQ)
  std::vector<double> vm_file, va_file; // the file's Vm (per unit) and Va (degrees)
  std::vector<double> base_kv;

  std::map<std::int32_t, std::int32_t> node_of_bus;
  std::vector<NetworkBranch> branches;       // in service, in file order
  std::vector<NetworkGenerator> generators;  // in service, in file order
  std::vector<std::string> warnings;         // what was dropped or changed, one line each

  // Node of a bus number; throws CaseError for an unknown bus.
  std::int32_t NodeOfBus(std::int32_t bus) const;
  std::int32_t nb() const { return static_cast<std::int32_t>(branches.size()); }
};

Network BuildNetwork(const Case &c, NodeOrder order = NodeOrder::kFile);

// ---- Host arrays in the library's layouts ----------------------------------
// Branch arrays hold `ld` rows: Z, YA, YB as split-complex (re in [0, ld),
// im in [ld, 2ld)), NODES (ld, 2), T (ld). The node arrays are plain, size n.
struct HostArrays {
  std::int32_t ld = 0;
  std::int32_t n = 0, nb = 0;
  std::vector<float> z, ya, yb; // pi-equivalent, for the assembly routines
  std::vector<float> z_bx;      // r, x as in the file, for Matrici_VektoriBX
  std::vector<float> t;         // off-nominal ratio at the first end
  std::vector<std::int32_t> nodes;
  // Nodal susceptance shunts (MatricaY's BSH/KSH), one per node with Bs != 0.
  std::vector<float> bsh;
  std::vector<std::int32_t> ksh;
  std::int32_t nsh = 0;
  // Shunt conductance per node (index node-1), added by the host to the diagonal.
  std::vector<float> gsh;
};

// Fixed capacities of the exported routines: leading dimension 5000;
// throws CaseError when the network has more than 1000 nodes, more than
// 5000 branches, or more than 9999 admittance-matrix entries.
HostArrays MakeHostArrays(const Network &net);
// The same data with leading dimension = max(nb, 1) and no capacity check.
HostArrays MakeUnboundedArrays(const Network &net);

// Number of admittance-matrix entries, N + 2 * (distinct node pairs).
std::int32_t CountMatrixEntries(const Network &net);

} // namespace orvek::casefile
