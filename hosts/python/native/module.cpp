// orvek._native: the pybind11 module over the native C++ API and the study
// engine. It takes and returns numpy arrays of the library's own types
// (complex64, float32, int32, checked and converted once by the Python
// layer, orvek/_api.py) and raises the Python exceptions of orvek/_errors.py
// for every error; nothing here prints or ends the process. Every call
// that computes releases the GIL; a call without a workspace uses the
// calling thread's own (thread_local), so threads never share one, and a
// Workspace object given by the caller serves one call at a time.
#include "hosts/python/native/engine.hpp"
#include "tools/study/engine.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <complex>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace py = pybind11;

namespace {

using orvek::Complex;
using orvek::pyhost::LoadedCase;
using CaseHandle = std::shared_ptr<LoadedCase>;
using CArray = py::array_t<std::complex<float>, py::array::c_style>;
using FArray = py::array_t<float, py::array::c_style>;
using IArray = py::array_t<std::int32_t, py::array::c_style>;
using DArray = py::array_t<double, py::array::c_style>;

static_assert(sizeof(Complex) == sizeof(std::complex<float>) && alignof(Complex) <= alignof(std::complex<float>));

// ---- Workspaces -----------------------------------------------------------------

struct PyWorkspace {
  orvek::Workspace ws;
  std::atomic<bool> busy{false};
};

// The workspace of one call: the caller's (held for the call; a second
// call meanwhile is refused) or the calling thread's own.
class Lease {
public:
  explicit Lease(PyWorkspace *given) : given_(given) {
    if (given_ && given_->busy.exchange(true))
      throw std::runtime_error("the workspace is in use by another call; give each thread its own Workspace");
  }
  ~Lease() {
    if (given_) given_->busy.store(false);
  }
  Lease(const Lease &) = delete;
  Lease &operator=(const Lease &) = delete;
  orvek::Workspace &ws() {
    thread_local orvek::Workspace own;
    return given_ ? given_->ws : own;
  }

private:
  PyWorkspace *given_;
};

// ---- Arrays ---------------------------------------------------------------------

template <class T> std::span<const T> View(const py::array_t<T, py::array::c_style> &a) {
  return {a.data(), static_cast<std::size_t>(a.size())};
}
std::span<const Complex> CView(const CArray &a) {
  return {reinterpret_cast<const Complex *>(a.data()), static_cast<std::size_t>(a.size())};
}

template <class T> py::array_t<T> ToArray(const std::vector<T> &v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(static_cast<void *>(a.mutable_data()), static_cast<const void *>(v.data()), v.size() * sizeof(T));
  return a;
}
CArray ToArray(const std::vector<Complex> &v) {
  CArray a(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(static_cast<void *>(a.mutable_data()), static_cast<const void *>(v.data()), v.size() * sizeof(Complex));
  return a;
}

// ---- Errors ---------------------------------------------------------------------

py::list Reports(const std::vector<orvek::Report> &reports) {
  py::list out;
  for (const orvek::Report &r : reports) out.append(py::make_tuple(r.routine, r.type, r.code, r.message));
  return out;
}

void Raise(const char *kind, py::dict fields) {
  py::object cls = py::module_::import("orvek._errors").attr(kind);
  py::object err = cls(**fields);
  PyErr_SetObject(cls.ptr(), err.ptr());
}

void TranslateErrors(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const orvek::Error &e) {
    Raise("Error", py::dict(py::arg("message") = e.message(), py::arg("routine") = e.routine(),
                            py::arg("type") = e.type(), py::arg("code") = e.code(), py::arg("call") = e.call(),
                            py::arg("reports") = Reports(e.reports()), py::arg("printed") = e.printed(),
                            py::arg("text") = std::string(e.what())));
  } catch (const orvek::pyhost::StudyFailure &e) {
    Raise("StudyError", py::dict(py::arg("message") = std::string(e.what()), py::arg("reports") = Reports(e.reports())));
  } catch (const orvek::study::StudyError &e) {
    Raise("StudyError", py::dict(py::arg("message") = std::string(e.what())));
  } catch (const orvek::casefile::CaseError &e) {
    Raise("CaseError", py::dict(py::arg("message") = std::string(e.what())));
  }
}

// ---- Native API -------------------------------------------------------------------

orvek::BranchView Branches(const IArray &from, const IArray &to, const CArray &z, const CArray &ya, const CArray &yb) {
  return {View(from), View(to), CView(z), CView(ya), CView(yb)};
}

py::tuple AssembleAdmittance(std::int32_t n, const IArray &from, const IArray &to, const CArray &z, const CArray &ya,
                             const CArray &yb, const IArray &shunt_node, const FArray &shunt_b, PyWorkspace *ws) {
  orvek::Admittance y;
  {
    py::gil_scoped_release nogil;
    Lease lease(ws);
    y = orvek::AssembleAdmittance(lease.ws(), n, Branches(from, to, z, ya, yb),
                                  orvek::ShuntView{View(shunt_node), View(shunt_b)});
  }
  return py::make_tuple(ToArray(y.triplets.irow), ToArray(y.triplets.jcol), ToArray(y.triplets.value),
                        ToArray(y.row_indexed.ija), ToArray(y.row_indexed.sa));
}

template <class T, class A>
orvek::FactorSet<T> FactorTriplets(std::int32_t n, const IArray &irow, const IArray &jcol, const A &value,
                                   PyWorkspace *ws) {
  orvek::TripletMatrix<T> m;
  m.n = n;
  m.irow.assign(irow.data(), irow.data() + irow.size());
  m.jcol.assign(jcol.data(), jcol.data() + jcol.size());
  m.value.resize(static_cast<std::size_t>(value.size()));
  if (value.size()) std::memcpy(static_cast<void *>(m.value.data()), static_cast<const void *>(value.data()), m.value.size() * sizeof(T));
  py::gil_scoped_release nogil;
  Lease lease(ws);
  return orvek::Factor(lease.ws(), m);
}

template <class T, class A> A SolveWith(const orvek::FactorSet<T> &f, const A &b, bool transposed, PyWorkspace *ws) {
  A x(b.size());
  const std::span<const T> in(reinterpret_cast<const T *>(b.data()), static_cast<std::size_t>(b.size()));
  const std::span<T> out(reinterpret_cast<T *>(x.mutable_data()), static_cast<std::size_t>(x.size()));
  py::gil_scoped_release nogil;
  Lease lease(ws);
  orvek::Solve(lease.ws(), f, in, out, transposed ? orvek::Path::kTransposed : orvek::Path::kPlain);
  return x;
}

template <class T> void BindFactorSet(py::module_ &m, const char *name) {
  using F = orvek::FactorSet<T>;
  py::class_<F>(m, name, "The factors of one matrix (owned by the library; pass to solve).")
      .def_readonly("n", &F::n)
      .def_readonly("nfac", &F::nfac)
      .def_readonly("nl", &F::nl)
      .def_readonly("peak", &F::peak)
      .def_readonly("growth", &F::growth)
      .def_readonly("min_pivot", &F::min_pivot)
      .def_property_readonly("complete", &F::complete)
      .def_property_readonly("warnings", [](const F &f) { return Reports(f.warnings); })
      .def_property_readonly("ipvt", [](const F &f) { return ToArray(f.ipvt); })
      .def_property_readonly("jpvt", [](const F &f) { return ToArray(f.jpvt); });
}

py::tuple FaultAt(std::int32_t itype, std::int32_t k, const FArray &ub, const CArray &e, const CArray &z0,
                  const CArray &z1, const CArray &z2, PyWorkspace *ws) {
  orvek::FaultResult r;
  {
    py::gil_scoped_release nogil;
    Lease lease(ws);
    r = orvek::Fault(lease.ws(), itype, k, View(ub), CView(e), CView(z0), CView(z1), CView(z2));
  }
  const std::vector<Complex> currents = {r.currents.i0, r.currents.i1, r.currents.i2};
  return py::make_tuple(ToArray(currents), ToArray(r.v0), ToArray(r.v1), ToArray(r.v2), ToArray(r.va),
                        ToArray(r.vb), ToArray(r.vc));
}

CArray FaultStudyAt(std::int32_t itype, const orvek::FactorSet<Complex> &f0, const orvek::FactorSet<Complex> &f1,
                    const orvek::FactorSet<Complex> &f2, const FArray &ub, const CArray &e, const IArray &nodes,
                    PyWorkspace *ws) {
  std::vector<orvek::FaultCurrents> c;
  {
    py::gil_scoped_release nogil;
    Lease lease(ws);
    c = orvek::FaultStudy(lease.ws(), itype, orvek::SequenceFactors{f0, f1, f2}, View(ub), CView(e), View(nodes));
  }
  CArray out({static_cast<py::ssize_t>(c.size()), py::ssize_t{3}});
  if (!c.empty()) std::memcpy(static_cast<void *>(out.mutable_data()), static_cast<const void *>(c.data()), c.size() * sizeof(orvek::FaultCurrents));
  return out;
}

py::tuple BranchFlowsOf(bool powers, const IArray &from, const IArray &to, const CArray &z, const CArray &ya,
                        const CArray &yb, const CArray &v, PyWorkspace *ws) {
  orvek::BranchFlows f;
  {
    py::gil_scoped_release nogil;
    Lease lease(ws);
    f = powers ? orvek::BranchPowers(lease.ws(), Branches(from, to, z, ya, yb), CView(v))
               : orvek::BranchCurrents(lease.ws(), Branches(from, to, z, ya, yb), CView(v));
  }
  return py::make_tuple(ToArray(f.first), ToArray(f.second));
}

// ---- Cases and studies ------------------------------------------------------------

py::dict BusTable(const LoadedCase &c) {
  const auto &b = c.table.buses;
  std::vector<std::int32_t> number, type;
  std::vector<double> pd, qd, gs, bs, vm, va, kv;
  for (const auto &x : b) {
    number.push_back(x.number);
    type.push_back(static_cast<std::int32_t>(x.type));
    pd.push_back(x.pd), qd.push_back(x.qd), gs.push_back(x.gs), bs.push_back(x.bs);
    vm.push_back(x.vm), va.push_back(x.va), kv.push_back(x.base_kv);
  }
  py::dict d;
  d["bus"] = ToArray(number), d["type"] = ToArray(type), d["pd_mw"] = ToArray(pd), d["qd_mvar"] = ToArray(qd);
  d["gs_mw"] = ToArray(gs), d["bs_mvar"] = ToArray(bs), d["vm_pu"] = ToArray(vm), d["va_deg"] = ToArray(va);
  d["base_kv"] = ToArray(kv);
  return d;
}

py::dict BranchTable(const LoadedCase &c) {
  std::vector<std::int32_t> from, to, status;
  std::vector<double> r, x, b, ratio, angle;
  for (const auto &x_ : c.table.branches) {
    from.push_back(x_.from), to.push_back(x_.to), status.push_back(x_.status);
    r.push_back(x_.r), x.push_back(x_.x), b.push_back(x_.b), ratio.push_back(x_.ratio), angle.push_back(x_.angle);
  }
  py::dict d;
  d["from_bus"] = ToArray(from), d["to_bus"] = ToArray(to), d["r_pu"] = ToArray(r), d["x_pu"] = ToArray(x);
  d["b_pu"] = ToArray(b), d["ratio"] = ToArray(ratio), d["angle_deg"] = ToArray(angle), d["status"] = ToArray(status);
  return d;
}

// The network as the studies see it: nodes in power-flow order, in-service
// branches with their branch-table rows.
py::dict NetworkOf(const LoadedCase &c) {
  const auto &net = c.net;
  std::vector<std::int32_t> type, from, to, row;
  for (auto t : net.type) type.push_back(static_cast<std::int32_t>(t));
  for (const auto &b : net.branches) from.push_back(b.from), to.push_back(b.to), row.push_back(b.case_index + 1);
  py::dict d;
  d["n"] = net.n, d["npq"] = net.npq, d["npv"] = net.npv, d["base_mva"] = net.base_mva;
  d["bus_of_node"] = ToArray(net.bus_of_node), d["type"] = ToArray(type), d["base_kv"] = ToArray(net.base_kv);
  d["from"] = ToArray(from), d["to"] = ToArray(to), d["row"] = ToArray(row);
  d["warnings"] = net.warnings;
  // The positive-sequence π-branches and shunts as the studies assemble them.
  const orvek::casefile::HostArrays h = orvek::casefile::MakeUnboundedArrays(net);
  const std::size_t ld = static_cast<std::size_t>(h.ld);
  std::vector<Complex> z, ya, yb;
  for (std::size_t b = 0; b < net.branches.size(); ++b) {
    z.push_back({h.z[b], h.z[b + ld]});
    ya.push_back({h.ya[b], h.ya[b + ld]});
    yb.push_back({h.yb[b], h.yb[b + ld]});
  }
  d["z"] = ToArray(z), d["ya"] = ToArray(ya), d["yb"] = ToArray(yb);
  d["shunt_node"] = ToArray(h.ksh), d["shunt_b"] = ToArray(h.bsh), d["gsh"] = ToArray(h.gsh);
  std::vector<std::int32_t> gen_node;
  std::vector<double> gen_mbase;
  for (const auto &g : net.generators) gen_node.push_back(g.node), gen_mbase.push_back(g.mbase);
  d["gen_node"] = ToArray(gen_node), d["gen_mbase"] = ToArray(gen_mbase);
  return d;
}


// ---- The study engine of orvek-study ---------------------------------------------

// The options of the command line, one for one (tools/study/engine.hpp).
struct EngineOptions {
  orvek::study::PowerFlowOptions power_flow;
  orvek::study::FaultOptions faults;
  bool run_faults = true;
  bool flat_prefault = false;
  std::vector<long> buses;   // fault levels at these buses (every bus when empty)
  long detail_bus = 0;       // one fault in detail at this bus (0: none)
};

py::object CellObject(const orvek::study::Cell &cell) {
  if (std::holds_alternative<long long>(cell)) return py::int_(std::get<long long>(cell));
  if (std::holds_alternative<double>(cell)) return py::float_(std::get<double>(cell));
  if (std::holds_alternative<std::string>(cell)) return py::str(std::get<std::string>(cell));
  if (std::holds_alternative<bool>(cell)) return py::bool_(std::get<bool>(cell));
  return py::none();
}

// The engine's tables as {name: (column names, rows)}, from the run the
// command line makes: the power flow, then (when it converged or the
// pre-fault voltages are flat) the fault levels or one fault in detail.
py::dict RunEngine(const CaseHandle &c, const EngineOptions &o) {
  std::vector<orvek::study::Table> tables;
  {
    py::gil_scoped_release nogil;
    const orvek::study::StudyCase sc = orvek::study::MakeCase(c->table);
    const auto node_of = [&](long bus) {
      const auto it = sc.net.node_of_bus.find(static_cast<std::int32_t>(bus));
      if (it == sc.net.node_of_bus.end() || bus != static_cast<std::int32_t>(bus))
        throw std::invalid_argument("bus " + std::to_string(bus) + " is not in the network");
      return it->second;
    };
    std::vector<std::int32_t> nodes;
    for (long bus : o.buses) nodes.push_back(node_of(bus));
    const std::int32_t detail = o.detail_bus ? node_of(o.detail_bus) : 0;
    orvek::study::StudyRun run;
    run.c = &sc;
    run.pf_options = o.power_flow;
    run.fault_options = o.faults;
    run.flat_prefault = o.flat_prefault;
    run.notes = sc.notes;
    run.pf = orvek::study::SolvePowerFlow(sc, o.power_flow);
    if (o.run_faults && (run.pf->converged || o.flat_prefault)) {
      const auto e = orvek::study::PrefaultVoltages(sc, o.flat_prefault ? nullptr : &*run.pf);
      if (detail > 0) run.details = orvek::study::DetailedFault(sc, o.faults, e, detail);
      else run.faults = orvek::study::ComputeFaultLevels(sc, o.faults, e, nodes);
    }
    tables = orvek::study::MakeTables(run);
  }
  py::dict d;
  for (const auto &t : tables) {
    py::list columns, rows;
    for (const auto &col : t.columns) columns.append(col.name);
    for (const auto &row : t.rows) {
      py::list r;
      for (const auto &cell : row) r.append(CellObject(cell));
      rows.append(r);
    }
    d[py::str(t.name)] = py::make_tuple(columns, rows);
  }
  return d;
}

py::tuple Screen(const CaseHandle &c, const IArray &outages, const orvek::pyhost::Options &o, const CArray &prefault,
                 PyWorkspace *ws) {
  orvek::pyhost::ScreeningBatch b;
  const std::span<const std::complex<float>> e(prefault.data(), static_cast<std::size_t>(prefault.size()));
  {
    py::gil_scoped_release nogil;
    Lease lease(ws);
    b = orvek::pyhost::ScreenOutages(lease.ws(), *c, View(outages), o, e);
  }
  DArray levels({static_cast<py::ssize_t>(outages.size()), static_cast<py::ssize_t>(o.types.size()),
                 static_cast<py::ssize_t>(c->net.n)});
  if (!b.levels.empty()) std::memcpy(levels.mutable_data(), b.levels.data(), b.levels.size() * sizeof(double));
  return py::make_tuple(levels, b.failures);
}

// The native API: workspaces, factor sets and the routines over arrays.
void BindNativeApi(py::module_ &m) {
  py::class_<PyWorkspace>(m, "Workspace",
                          "Work storage and error state of native calls. One call at a time uses a workspace; "
                          "calls without one use their thread's own.")
      .def(py::init<>());

  BindFactorSet<float>(m, "RealFactors");
  BindFactorSet<Complex>(m, "ComplexFactors");

  const auto ws = py::arg("ws") = py::none();
  m.def("assemble_admittance", &AssembleAdmittance, py::arg("n"), py::arg("from_"), py::arg("to"), py::arg("z"),
        py::arg("ya"), py::arg("yb"), py::arg("shunt_node"), py::arg("shunt_b"), ws);
  m.def("factor_complex", &FactorTriplets<Complex, CArray>, py::arg("n"), py::arg("irow"), py::arg("jcol"),
        py::arg("value"), ws);
  m.def("factor_real", &FactorTriplets<float, FArray>, py::arg("n"), py::arg("irow"), py::arg("jcol"),
        py::arg("value"), ws);
  m.def("solve_complex", &SolveWith<Complex, CArray>, py::arg("factors"), py::arg("b"), py::arg("transposed"), ws);
  m.def("solve_real", &SolveWith<float, FArray>, py::arg("factors"), py::arg("b"), py::arg("transposed"), ws);
  m.def("fault", &FaultAt, py::arg("itype"), py::arg("k"), py::arg("ub"), py::arg("e"), py::arg("z0"), py::arg("z1"),
        py::arg("z2"), ws);
  m.def("fault_study", &FaultStudyAt, py::arg("itype"), py::arg("zero"), py::arg("positive"), py::arg("negative"),
        py::arg("ub"), py::arg("e"), py::arg("nodes"), ws);
  m.def("branch_flows", &BranchFlowsOf, py::arg("powers"), py::arg("from_"), py::arg("to"), py::arg("z"),
        py::arg("ya"), py::arg("yb"), py::arg("v"), ws);
}

// The study options of orvek-study and the enumerations they use.
void BindStudyOptions(py::module_ &m) {
  py::enum_<orvek::study::FaultType>(m, "FaultType")
      .value("three_phase", orvek::study::FaultType::kThreePhase)
      .value("phase_to_phase", orvek::study::FaultType::kPhasePhase)
      .value("two_phase_to_earth", orvek::study::FaultType::kPhasePhaseEarth)
      .value("single_phase_to_earth", orvek::study::FaultType::kPhaseEarth);
  py::enum_<orvek::study::Transformer0>(m, "Transformer0")
      .value("pass_", orvek::study::Transformer0::kPass)
      .value("block", orvek::study::Transformer0::kBlock);
  using orvek::pyhost::Options;
  py::class_<Options>(m, "Options", "The study options of orvek-study, with its defaults.")
      .def(py::init<>())
      .def_readwrite("tolerance", &Options::tolerance)
      .def_readwrite("max_iterations", &Options::max_iterations)
      .def_readwrite("faults", &Options::types)
      .def_readwrite("flat_prefault", &Options::flat_prefault)
      .def_readwrite("xd", &Options::xd)
      .def_readwrite("x2", &Options::x2)
      .def_readwrite("x0", &Options::x0)
      .def_readwrite("x0_open", &Options::x0_open)
      .def_readwrite("line_z0", &Options::line_z0)
      .def_readwrite("transformer0", &Options::transformer0);
}

// Case files as read, and the outage screening over a case.
void BindCases(py::module_ &m) {
  const auto ws = py::arg("ws") = py::none();
  py::class_<LoadedCase, CaseHandle>(m, "Case", "A case file as read, and its network.")
      .def_readonly("source", &LoadedCase::source)
      .def_property_readonly("name", [](const LoadedCase &c) { return c.table.name; })
      .def_property_readonly("base_mva", [](const LoadedCase &c) { return c.table.base_mva; })
      .def_readonly("text", &LoadedCase::text)
      .def_property_readonly("bus_table", &BusTable)
      .def_property_readonly("branch_table", &BranchTable)
      .def_property_readonly("network", &NetworkOf)
      .def(
          "without_branches",
          [](const LoadedCase &c, const IArray &rows) {
            py::gil_scoped_release nogil;
            return orvek::pyhost::WithoutBranches(c, View(rows));
          },
          py::arg("rows"))
      .def(py::pickle([](const LoadedCase &c) { return py::make_tuple(py::bytes(c.text), c.source); },
                      [](const py::tuple &t) {
                        return orvek::pyhost::ParseCaseText(t[0].cast<std::string>(), t[1].cast<std::string>());
                      }));

  m.def(
      "read_case",
      [](const std::string &path) {
        py::gil_scoped_release nogil;
        return orvek::pyhost::ReadCaseFile(path);
      },
      py::arg("path"));
  m.def(
      "parse_case",
      [](std::string text, std::string source) {
        py::gil_scoped_release nogil;
        return orvek::pyhost::ParseCaseText(std::move(text), std::move(source));
      },
      py::arg("text"), py::arg("source"));
  m.def("screen_outages", &Screen, py::arg("case"), py::arg("outages"), py::arg("options"), py::arg("prefault"), ws);
}

// The study engine and its options.
void BindEngine(py::module_ &m) {
  namespace st = orvek::study;
  py::class_<EngineOptions>(m, "EngineOptions")
      .def(py::init<>())
      .def_property("tolerance", [](const EngineOptions &o) { return o.power_flow.tolerance; },
                    [](EngineOptions &o, double v) { o.power_flow.tolerance = v; })
      .def_property("max_iterations", [](const EngineOptions &o) { return o.power_flow.max_iterations; },
                    [](EngineOptions &o, int v) { o.power_flow.max_iterations = v; })
      .def_property("flat_start", [](const EngineOptions &o) { return o.power_flow.flat_start; },
                    [](EngineOptions &o, bool v) { o.power_flow.flat_start = v; })
      .def_property("q_limits", [](const EngineOptions &o) { return o.power_flow.q_limits; },
                    [](EngineOptions &o, bool v) { o.power_flow.q_limits = v; })
      .def_property("fault_types",
                    [](const EngineOptions &o) {
                      std::vector<int> v;
                      for (auto t : o.faults.types) v.push_back(static_cast<int>(t));
                      return v;
                    },
                    [](EngineOptions &o, const std::vector<int> &v) {
                      o.faults.types.clear();
                      for (int t : v) {
                        if (t < 1 || t > 4) throw std::invalid_argument("fault type code must be 1..4");
                        o.faults.types.push_back(static_cast<st::FaultType>(t));
                      }
                    })
      .def_property("xd", [](const EngineOptions &o) { return o.faults.xd; },
                    [](EngineOptions &o, double v) { o.faults.xd = v; })
      .def_property("x2", [](const EngineOptions &o) { return o.faults.x2; },
                    [](EngineOptions &o, std::optional<double> v) { o.faults.x2 = v; })
      .def_property("x0", [](const EngineOptions &o) { return o.faults.x0; },
                    [](EngineOptions &o, std::optional<double> v) { o.faults.x0 = v; })
      .def_property("x0_open", [](const EngineOptions &o) { return o.faults.x0_open; },
                    [](EngineOptions &o, bool v) { o.faults.x0_open = v; })
      .def_property("line_z0", [](const EngineOptions &o) { return o.faults.line_z0; },
                    [](EngineOptions &o, double v) { o.faults.line_z0 = v; })
      .def_property("transformer0_block",
                    [](const EngineOptions &o) { return o.faults.transformer0 == st::Transformer0::kBlock; },
                    [](EngineOptions &o, bool v) {
                      o.faults.transformer0 = v ? st::Transformer0::kBlock : st::Transformer0::kPass;
                    })
      .def_property("refine", [](const EngineOptions &o) { return o.faults.refine; },
                    [](EngineOptions &o, bool v) { o.faults.refine = v; })
      .def_readwrite("run_faults", &EngineOptions::run_faults)
      .def_readwrite("flat_prefault", &EngineOptions::flat_prefault)
      .def_readwrite("buses", &EngineOptions::buses)
      .def_readwrite("detail_bus", &EngineOptions::detail_bus);
  m.def("run_engine", &RunEngine, py::arg("case"), py::arg("options"));
}

} // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "ORVEK native C++ API and study engine (use the orvek package, not this module)";
  py::register_exception_translator(&TranslateErrors);
  BindNativeApi(m);
  BindStudyOptions(m);
  BindCases(m);
  BindEngine(m);
}
