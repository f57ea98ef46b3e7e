// Writers of the three output formats (see report.hpp).
#include "tools/study/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace orvek::study {

namespace {

constexpr double kRadToDeg = 180.0 / 3.14159265358979323846;
constexpr double kSqrt3 = 1.7320508075688772;

// ---- Formatting helpers ---------------------------------------------------
std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) {
    // Prints -0.000 as 0.000.
    if (!s.empty() && s[0] == '-') s.erase(0, 1);
  }
  return s;
}
std::string Full(double v) { // lossless for float, compact for double
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}
std::string Short(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2e", v);
  return buf;
}

std::string JsonString(const std::string &s) {
  std::string o = "\"";
  for (const char c : s) {
    switch (c) {
    case '"': o += "\\\""; break;
    case '\\': o += "\\\\"; break;
    case '\n': o += "\\n"; break;
    case '\t': o += "\\t"; break;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        o += buf;
      } else {
        o += c;
      }
    }
  }
  return o + "\"";
}
std::string JsonNumber(double v) { return std::isfinite(v) ? Full(v) : "null"; }

std::string CsvField(const std::string &s) {
  if (s.find_first_of(",\"\n") == std::string::npos) return s;
  std::string o = "\"";
  for (const char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}

// Aligned text table: first column left-aligned, the rest right-aligned.
class TextTable {
public:
  explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void Write(std::ostream &out) const {
    std::vector<std::size_t> w(header_.size());
    for (std::size_t c = 0; c < header_.size(); ++c) {
      w[c] = header_[c].size();
      for (const auto &r : rows_) w[c] = std::max(w[c], r[c].size());
    }
    auto line = [&](const std::vector<std::string> &r) {
      std::string s = " ";
      for (std::size_t c = 0; c < r.size(); ++c) {
        const std::string pad(w[c] - r[c].size(), ' ');
        s += "  ";
        s += c == 0 ? r[c] + pad : pad + r[c];
      }
      while (!s.empty() && s.back() == ' ') s.pop_back();
      out << s << '\n';
    };
    line(header_);
    std::vector<std::string> rule;
    for (std::size_t c = 0; c < header_.size(); ++c) rule.emplace_back(w[c], '-');
    line(rule);
    for (const auto &r : rows_) line(r);
  }

private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

const char *TypeName(casefile::BusType t) {
  switch (t) {
  case casefile::BusType::kPQ: return "PQ";
  case casefile::BusType::kPV: return "PV";
  case casefile::BusType::kReference: return "REF";
  case casefile::BusType::kIsolated: return "ISO";
  }
  return "?";
}

// ---- Quantities in output units ------------------------------------------
struct View {
  const Report &r;
  const casefile::Network &net;
  explicit View(const Report &rep) : r(rep), net(*rep.net) {}

  bool PerUnit() const { return r.faults && r.faults->per_unit_currents; }
  const char *CurrentUnit() const { return PerUnit() ? "pu" : "kA"; }
  // Current magnitude at a node's base voltage.
  double Current(double pu, std::int32_t node) const {
    if (PerUnit()) return pu;
    return pu * net.base_mva / (kSqrt3 * net.base_kv[node - 1]);
  }
  std::int32_t Bus(std::int32_t node) const { return net.bus_of_node[node - 1]; }

  std::string Summary() const {
    std::ostringstream s;
    s << "orvek-study: " << net.source << ": " << net.n << " buses, " << net.nb() << " branches, base "
      << Full(net.base_mva) << " MVA";
    if (r.pf) {
      if (r.pf->converged)
        s << "; power flow converged in " << r.pf->iterations << " iterations (largest mismatch "
          << Short(std::max(r.pf->max_dp, r.pf->max_dq)) << " pu)";
      else
        s << "; power flow DID NOT CONVERGE in " << r.pf->iterations << " iterations (largest mismatch "
          << Short(std::max(r.pf->max_dp, r.pf->max_dq)) << " pu)";
    }
    if (r.faults && !r.faults->records.empty()) {
      const auto &recs = r.faults->records;
      const FaultRecord *worst = &recs.front();
      double worst_i = -1;
      for (const auto &f : recs) {
        const double i = Current(std::max({f.ia, f.ib, f.ic}), f.node);
        if (i > worst_i) {
          worst_i = i;
          worst = &f;
        }
      }
      s << "; " << recs.size() << " faults, largest " << Fixed(worst_i, 3) << ' ' << CurrentUnit() << " ("
        << FaultName(worst->type) << " at bus " << Bus(worst->node) << ")";
    }
    return s.str();
  }
};

// ---- Table ------------------------------------------------------------------
void WriteTable(std::ostream &out, const Report &r) {
  const View v(r);
  const casefile::Network &net = v.net;
  out << v.Summary() << "\n";
  if (!r.notes.empty()) {
    out << "\nNotes:\n";
    for (const auto &n : r.notes) out << "  - " << n << "\n";
  }
  if (r.pf) {
    out << "\nPower flow: fast decoupled (BX scheme), tolerance " << Short(r.tolerance) << " pu on "
        << Full(net.base_mva) << " MVA; " << (r.pf->converged ? "converged" : "NOT converged") << " after "
        << r.pf->iterations << " iterations, largest mismatch P " << Short(r.pf->max_dp) << " pu, Q "
        << Short(r.pf->max_dq) << " pu\n";
    TextTable t({"Bus", "Type", "|V| (pu)", "Angle (deg)", "P inj (MW)", "Q inj (MVAr)"});
    for (std::int32_t node : r.file_order) {
      const std::size_t i = static_cast<std::size_t>(node - 1);
      t.Add({std::to_string(v.Bus(node)), TypeName(net.type[i]), Fixed(r.pf->vm[i], 4),
             Fixed(r.pf->va[i] * kRadToDeg, 3), Fixed(r.pf->p[i] * net.base_mva, 2),
             Fixed(r.pf->q[i] * net.base_mva, 2)});
    }
    t.Write(out);
  }
  if (r.faults && !r.faults->records.empty()) {
    const std::string u = std::string(" (") + v.CurrentUnit() + ")";
    out << "\nFaults: solid, pre-fault voltages " << (r.flat_prefault ? "1.0 pu (flat)" : "from the power flow")
        << "; phase currents into the fault in " << (v.PerUnit() ? "per unit" : "kA")
        << ", phase voltages at the faulted bus in per unit\n";
    // Records come node by node in study order; print them in file order.
    std::vector<std::size_t> order(r.faults->records.size());
    std::vector<std::size_t> rank(net.n + 1, 0);
    for (std::size_t k = 0; k < r.file_order.size(); ++k) rank[r.file_order[k]] = k;
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return rank[r.faults->records[a].node] < rank[r.faults->records[b].node];
    });
    TextTable t({"Bus", "Fault", "|Ia|" + u, "|Ib|" + u, "|Ic|" + u, "|Va| (pu)", "|Vb| (pu)", "|Vc| (pu)"});
    for (std::size_t k : order) {
      const FaultRecord &f = r.faults->records[k];
      t.Add({std::to_string(v.Bus(f.node)), FaultName(f.type), Fixed(v.Current(f.ia, f.node), 3),
             Fixed(v.Current(f.ib, f.node), 3), Fixed(v.Current(f.ic, f.node), 3), Fixed(f.va, 4), Fixed(f.vb, 4),
             Fixed(f.vc, 4)});
    }
    t.Write(out);
    for (const FaultDetail &d : r.faults->details) {
      out << "\nPhase voltages during the " << FaultName(d.type) << " fault at bus " << v.Bus(r.faults->detail_node)
          << " (pu, degrees)\n";
      TextTable tv({"Bus", "|Va|", "ang Va", "|Vb|", "ang Vb", "|Vc|", "ang Vc"});
      for (std::int32_t node : r.file_order) {
        const std::size_t i = static_cast<std::size_t>(node - 1);
        tv.Add({std::to_string(v.Bus(node)), Fixed(std::abs(d.vpa[i]), 4), Fixed(std::arg(d.vpa[i]) * kRadToDeg, 2),
                Fixed(std::abs(d.vpb[i]), 4), Fixed(std::arg(d.vpb[i]) * kRadToDeg, 2), Fixed(std::abs(d.vpc[i]), 4),
                Fixed(std::arg(d.vpc[i]) * kRadToDeg, 2)});
      }
      tv.Write(out);
      out << "\nBranch currents at the from end during the " << FaultName(d.type) << " fault at bus "
          << v.Bus(r.faults->detail_node) << u << "\n";
      TextTable tb({"From", "To", "|Ia|", "|Ib|", "|Ic|"});
      for (std::size_t b = 0; b < net.branches.size(); ++b) {
        const std::int32_t from = net.branches[b].from;
        tb.Add({std::to_string(v.Bus(from)), std::to_string(v.Bus(net.branches[b].to)),
                Fixed(v.Current(std::abs(d.iba[b]), from), 3), Fixed(v.Current(std::abs(d.ibb[b]), from), 3),
                Fixed(v.Current(std::abs(d.ibc[b]), from), 3)});
      }
      tb.Write(out);
    }
  }
}

// ---- CSV ----------------------------------------------------------------------
void WriteCsv(std::ostream &out, const Report &r) {
  const View v(r);
  const casefile::Network &net = v.net;
  out << "record,case,buses,branches,base_mva,converged,iterations,max_dp_pu,max_dq_pu,tolerance_pu,current_unit\n";
  out << "summary," << CsvField(net.source) << ',' << net.n << ',' << net.nb() << ',' << Full(net.base_mva) << ',';
  if (r.pf)
    out << (r.pf->converged ? "true" : "false") << ',' << r.pf->iterations << ',' << Full(r.pf->max_dp) << ','
        << Full(r.pf->max_dq);
  else
    out << ",,,";
  out << ',' << Full(r.tolerance) << ',' << (r.faults ? v.CurrentUnit() : "") << '\n';
  out << "record,text\n";
  for (const auto &n : r.notes) out << "note," << CsvField(n) << '\n';
  if (r.pf) {
    out << "record,bus,type,vm_pu,va_deg,p_mw,q_mvar\n";
    for (std::int32_t node : r.file_order) {
      const std::size_t i = static_cast<std::size_t>(node - 1);
      out << "bus," << v.Bus(node) << ',' << TypeName(net.type[i]) << ',' << Full(r.pf->vm[i]) << ','
          << Full(r.pf->va[i] * kRadToDeg) << ',' << Full(r.pf->p[i] * net.base_mva) << ','
          << Full(r.pf->q[i] * net.base_mva) << '\n';
    }
  }
  if (r.faults) {
    const std::string u = v.CurrentUnit();
    out << "record,bus,fault,ia_" << u << ",ib_" << u << ",ic_" << u << ",va_pu,vb_pu,vc_pu,i1_re_pu,i1_im_pu,zkk1_pu\n";
    for (const FaultRecord &f : r.faults->records)
      out << "fault," << v.Bus(f.node) << ',' << FaultName(f.type) << ',' << Full(v.Current(f.ia, f.node)) << ','
          << Full(v.Current(f.ib, f.node)) << ',' << Full(v.Current(f.ic, f.node)) << ',' << Full(f.va) << ','
          << Full(f.vb) << ',' << Full(f.vc) << ',' << Full(f.i1.real()) << ',' << Full(f.i1.imag()) << ','
          << Full(f.zkk1) << '\n';
    for (const FaultDetail &d : r.faults->details) {
      out << "record,fault,bus,va_pu,va_deg,vb_pu,vb_deg,vc_pu,vc_deg\n";
      for (std::int32_t node : r.file_order) {
        const std::size_t i = static_cast<std::size_t>(node - 1);
        out << "voltage," << FaultName(d.type) << ',' << v.Bus(node) << ',' << Full(std::abs(d.vpa[i])) << ','
            << Full(std::arg(d.vpa[i]) * kRadToDeg) << ',' << Full(std::abs(d.vpb[i])) << ','
            << Full(std::arg(d.vpb[i]) * kRadToDeg) << ',' << Full(std::abs(d.vpc[i])) << ','
            << Full(std::arg(d.vpc[i]) * kRadToDeg) << '\n';
      }
      out << "record,fault,from_bus,to_bus,ia_" << u << ",ib_" << u << ",ic_" << u << '\n';
      for (std::size_t b = 0; b < net.branches.size(); ++b) {
        const std::int32_t from = net.branches[b].from;
        out << "branch," << FaultName(d.type) << ',' << v.Bus(from) << ',' << v.Bus(net.branches[b].to) << ','
            << Full(v.Current(std::abs(d.iba[b]), from)) << ',' << Full(v.Current(std::abs(d.ibb[b]), from)) << ','
            << Full(v.Current(std::abs(d.ibc[b]), from)) << '\n';
      }
    }
  }
}

// ---- JSON ---------------------------------------------------------------------
void WriteJson(std::ostream &out, const Report &r) {
  const View v(r);
  const casefile::Network &net = v.net;
  out << "{\n  \"summary\": " << JsonString(v.Summary()) << ",\n";
  out << "  \"case\": " << JsonString(net.source) << ",\n  \"buses\": " << net.n << ",\n  \"branches\": " << net.nb()
      << ",\n  \"base_mva\": " << JsonNumber(net.base_mva) << ",\n  \"notes\": [";
  for (std::size_t k = 0; k < r.notes.size(); ++k) out << (k ? ", " : "") << JsonString(r.notes[k]);
  out << "]";
  if (r.pf) {
    out << ",\n  \"power_flow\": {\n    \"converged\": " << (r.pf->converged ? "true" : "false")
        << ",\n    \"iterations\": " << r.pf->iterations << ",\n    \"tolerance_pu\": " << JsonNumber(r.tolerance)
        << ",\n    \"max_dp_pu\": " << JsonNumber(r.pf->max_dp) << ",\n    \"max_dq_pu\": " << JsonNumber(r.pf->max_dq)
        << ",\n    \"buses\": [";
    bool first = true;
    for (std::int32_t node : r.file_order) {
      const std::size_t i = static_cast<std::size_t>(node - 1);
      out << (first ? "\n" : ",\n") << "      {\"bus\": " << v.Bus(node) << ", \"type\": \"" << TypeName(net.type[i])
          << "\", \"vm_pu\": " << JsonNumber(r.pf->vm[i]) << ", \"va_deg\": " << JsonNumber(r.pf->va[i] * kRadToDeg)
          << ", \"p_mw\": " << JsonNumber(r.pf->p[i] * net.base_mva)
          << ", \"q_mvar\": " << JsonNumber(r.pf->q[i] * net.base_mva) << "}";
      first = false;
    }
    out << "\n    ]\n  }";
  }
  if (r.faults) {
    out << ",\n  \"faults\": {\n    \"current_unit\": \"" << v.CurrentUnit() << "\",\n    \"prefault\": \""
        << (r.flat_prefault ? "flat" : "power_flow") << "\",\n    \"results\": [";
    bool first = true;
    for (const FaultRecord &f : r.faults->records) {
      out << (first ? "\n" : ",\n") << "      {\"bus\": " << v.Bus(f.node) << ", \"fault\": \"" << FaultName(f.type)
          << "\", \"ia\": " << JsonNumber(v.Current(f.ia, f.node)) << ", \"ib\": " << JsonNumber(v.Current(f.ib, f.node))
          << ", \"ic\": " << JsonNumber(v.Current(f.ic, f.node)) << ", \"va_pu\": " << JsonNumber(f.va)
          << ", \"vb_pu\": " << JsonNumber(f.vb) << ", \"vc_pu\": " << JsonNumber(f.vc) << "}";
      first = false;
    }
    out << "\n    ]";
    if (!r.faults->details.empty()) {
      out << ",\n    \"details\": [";
      for (std::size_t k = 0; k < r.faults->details.size(); ++k) {
        const FaultDetail &d = r.faults->details[k];
        out << (k ? ",\n" : "\n") << "      {\"fault\": \"" << FaultName(d.type) << "\", \"bus\": "
            << v.Bus(r.faults->detail_node) << ",\n       \"voltages\": [";
        bool f1 = true;
        for (std::int32_t node : r.file_order) {
          const std::size_t i = static_cast<std::size_t>(node - 1);
          out << (f1 ? "\n" : ",\n") << "        {\"bus\": " << v.Bus(node) << ", \"va_pu\": " << JsonNumber(std::abs(d.vpa[i]))
              << ", \"vb_pu\": " << JsonNumber(std::abs(d.vpb[i])) << ", \"vc_pu\": " << JsonNumber(std::abs(d.vpc[i]))
              << "}";
          f1 = false;
        }
        out << "\n       ],\n       \"branches\": [";
        for (std::size_t b = 0; b < net.branches.size(); ++b) {
          const std::int32_t from = net.branches[b].from;
          out << (b ? ",\n" : "\n") << "        {\"from_bus\": " << v.Bus(from) << ", \"to_bus\": "
              << v.Bus(net.branches[b].to) << ", \"ia\": " << JsonNumber(v.Current(std::abs(d.iba[b]), from))
              << ", \"ib\": " << JsonNumber(v.Current(std::abs(d.ibb[b]), from))
              << ", \"ic\": " << JsonNumber(v.Current(std::abs(d.ibc[b]), from)) << "}";
        }
        out << "\n       ]}";
      }
      out << "\n    ]";
    }
    out << "\n  }";
  }
  out << "\n}\n";
}

} // namespace

void WriteReport(std::ostream &out, const Report &r, Format format) {
  switch (format) {
  case Format::kTable: WriteTable(out, r); break;
  case Format::kCsv: WriteCsv(out, r); break;
  case Format::kJson: WriteJson(out, r); break;
  }
}

} // namespace orvek::study
