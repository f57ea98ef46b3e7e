// Case-file reader and network builder (see matpower.hpp for the contract).
// The text is read line by line: `%` starts a comment (outside quotes), a
// matrix `mpc.NAME = [ ... ];` has rows separated by `;` or line ends and
// values by blanks or commas, `...` continues a row on the next line; cell
// arrays `{ ... }` and tables other than bus, gen and branch are skipped.
// Hostile files are refused early and cheaply: a directory or a file of
// more than kMaxCaseBytes is refused before anything is read, a control
// byte before any line is parsed, a row of the wrong width as soon as it
// ends (skipped tables keep no rows), so what is held stays a few times
// the file's size; lines may end in LF, CR LF or a lone CR. Text quoted in
// a message is cut to kQuotedLength characters, bytes outside printable
// ASCII shown as \xHH.
#include "tools/casefile/matpower.hpp"

#include "orvek/orvek.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace orvek::casefile {

namespace {

// Largest admittance-matrix entry count the row-indexed form can hold.
constexpr std::int32_t kMaxMatrixEntries = ORVEK_LD_NONZERO - 1;
// The largest case file read: about twenty times the largest published
// network's file; a larger one is refused before it is read.
constexpr std::uintmax_t kMaxCaseBytes = std::uintmax_t{64} << 20;
// Characters of file text (or of a path) quoted in a message.
constexpr std::size_t kQuotedLength = 60;

// Text as a message may show it: bytes outside printable ASCII as \xHH,
// cut after kQuotedLength characters with the number of bytes left out.
std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::size_t i = 0;
  for (; i < text.size() && out.size() < kQuotedLength; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (i < text.size()) out += "... (" + std::to_string(text.size() - i) + " more bytes)";
  return out;
}

std::string Quoted(std::string_view text) {
  std::string out(1, '"');
  out += Printable(text);
  out += '"';
  return out;
}

[[noreturn]] void Fail(const std::string &source, int line, const std::string &what) {
  std::ostringstream s;
  s << Printable(source);
  if (line > 0) s << ':' << line;
  s << ": " << what;
  throw CaseError(s.str());
}

std::string Trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return std::string(s.substr(a, b - a));
}

// Removes a `%` comment, leaving text inside single or double quotes alone.
std::string StripComment(std::string_view s) {
  char quote = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      // A quote directly after an identifier or `]` is a transpose, not a string.
      if (c == '\'' && i > 0 && (std::isalnum(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == ']' ||
                                 s[i - 1] == ')' || s[i - 1] == '_'))
        continue;
      quote = c;
    } else if (c == '%') {
      return std::string(s.substr(0, i));
    }
  }
  return std::string(s);
}

struct Row {
  std::vector<double> values;
  int line = 0;
};

struct Table {
  std::vector<Row> rows;
  int line = 0; // line of `mpc.NAME = [`
  bool present = false;
};

bool ParseNumber(const std::string &token, double &value) {
  if (token.empty()) return false;
  const char *begin = token.c_str();
  char *end = nullptr;
  errno = 0;
  value = std::strtod(begin, &end);
  if (end != begin + token.size()) return false;
  // strtod also takes hexadecimal and "infinity"/"nan" spellings; the case
  // format writes Inf, -Inf and NaN, all of which strtod accepts.
  return true;
}

class Parser {
public:
  Parser(std::string_view text, const std::string &source) : text_(text), source_(source) {}

  Case Run() {
    Case c;
    c.source = source_;
    Tables tables;
    CheckText();
    ReadAssignments(c, tables);
    CheckTables(tables);
    ReadBuses(tables.bus, c);
    ReadGenerators(tables.gen, c);
    ReadBranches(tables.branch, c);
    return c;
  }

private:
  // What the assignments of the file give beyond the case's name and base.
  struct Tables {
    Table bus, gen, branch;
    bool have_base = false;
    std::string version;
    int version_line = 0;
  };

  // Where the line scan stands: inside a matrix (table non-null) or a cell
  // array, or between assignments.
  struct ScanState {
    Table *table = nullptr;
    Table skipped;
    bool in_matrix = false, in_cell = false;
    int cell_line = 0;
    std::string matrix_name;
    Row current;
    bool continued = false;
  };

  void ReadAssignments(Case &c, Tables &tables) {
    ScanState scan;
    std::size_t pos = 0;
    int line_no = 0;
    while (pos <= text_.size()) {
      // A line ends at LF, CR LF or a lone CR.
      std::size_t eol = text_.find_first_of("\r\n", pos);
      if (eol == std::string_view::npos) eol = text_.size();
      const std::string_view raw = text_.substr(pos, eol - pos);
      ++line_no;
      const bool last = eol >= text_.size();
      pos = eol + (text_.compare(eol, 2, "\r\n") == 0 ? 2 : 1);
      std::string line = StripComment(raw);

      if (scan.in_cell) {
        if (line.find('}') != std::string::npos) scan.in_cell = false;
      } else if (scan.in_matrix || ReadStatement(line, line_no, c, tables, scan)) {
        // Inside a matrix: scan the values of this line.
        ScanMatrixLine(line, line_no, *scan.table, scan.current, scan.continued, scan.in_matrix,
                       scan.matrix_name);
        if (!scan.in_matrix) scan.table = nullptr;
      }
      if (last) break;
    }

    if (scan.in_matrix)
      Fail(source_, scan.table->line,
           "the table mpc." + Printable(scan.matrix_name) + " is not closed with \"];\"");
    if (scan.in_cell) Fail(source_, scan.cell_line, "a cell array is not closed with \"};\"");
  }

  // One line between matrices. Returns true when it opens a matrix, with
  // line left holding the text after the opening `[`.
  bool ReadStatement(std::string &line, int line_no, Case &c, Tables &tables, ScanState &scan) {
    const std::string t = Trim(line);
    if (t.empty()) return false;
    if (t.rfind("function", 0) == 0) {
      const auto eq = t.find('=');
      if (eq != std::string::npos) c.name = Trim(std::string_view(t).substr(eq + 1));
      return false;
    }
    const auto eq = t.find('=');
    if (t.rfind("mpc.", 0) != 0 || eq == std::string::npos) {
      if (t == "end" || t == "return" || t == "return;" || t == "end;") return false;
      Fail(source_, line_no, "unexpected text " + Quoted(t) + "; expected an assignment mpc.NAME = ...");
    }
    const std::string name = Trim(std::string_view(t).substr(4, eq - 4));
    std::string rhs = Trim(std::string_view(t).substr(eq + 1));
    if (!rhs.empty() && rhs[0] == '[') {
      OpenMatrix(name, line_no, tables, scan);
      line = rhs.substr(1);
      return true;
    }
    if (!rhs.empty() && rhs[0] == '{') {
      if (rhs.find('}') == std::string::npos) {
        scan.in_cell = true;
        scan.cell_line = line_no;
      }
      return false;
    }
    if (!rhs.empty() && rhs.back() == ';') rhs.pop_back();
    rhs = Trim(rhs);
    if (name == "baseMVA") {
      double v = 0;
      if (!ParseNumber(rhs, v) || !std::isfinite(v) || v <= 0)
        Fail(source_, line_no, "baseMVA must be a positive number, found " + Quoted(rhs));
      c.base_mva = v;
      tables.have_base = true;
    } else if (name == "version") {
      tables.version = rhs;
      tables.version_line = line_no;
    }
    return false;
  }

  // `mpc.NAME = [` on line line_no: bus, gen and branch keep their rows,
  // any other table is scanned and dropped.
  void OpenMatrix(const std::string &name, int line_no, Tables &tables, ScanState &scan) {
    scan.in_matrix = true;
    scan.matrix_name = name;
    required_ = 0;
    if (name == "bus") scan.table = &tables.bus, required_ = bus_col::kRequired;
    else if (name == "gen") scan.table = &tables.gen, required_ = gen_col::kRequired;
    else if (name == "branch") scan.table = &tables.branch, required_ = branch_col::kRequired;
    else scan.table = &scan.skipped;
    keep_rows_ = scan.table != &scan.skipped;
    if (scan.table != &scan.skipped && scan.table->present)
      Fail(source_, line_no, "the table mpc." + Printable(name) + " is given twice (first on line " +
                                 std::to_string(scan.table->line) + ")");
    *scan.table = Table{};
    scan.table->present = true;
    scan.table->line = line_no;
    scan.current = Row{};
    scan.continued = false;
  }

  void CheckTables(const Tables &tables) {
    if (!tables.version.empty()) {
      std::string v = tables.version;
      v.erase(std::remove(v.begin(), v.end(), '\''), v.end());
      v.erase(std::remove(v.begin(), v.end(), '"'), v.end());
      if (Trim(v) != "2")
        Fail(source_, tables.version_line,
             "case format version " + Printable(tables.version) + " is not supported; only version 2 is");
    }
    if (!tables.have_base) Fail(source_, 0, "mpc.baseMVA is missing");
    if (!tables.bus.present) Fail(source_, 0, "the table mpc.bus is missing");
    if (!tables.gen.present) Fail(source_, 0, "the table mpc.gen is missing");
    if (!tables.branch.present) Fail(source_, 0, "the table mpc.branch is missing");

    if (tables.bus.rows.empty()) Fail(source_, tables.bus.line, "the table mpc.bus has no rows");
  }

  void ReadBuses(const Table &bus, Case &c) {
    for (const Row &r : bus.rows) {
      CaseBus b;
      b.line = r.line;
      b.number = Integer(r, bus_col::kBusI, "bus_i");
      if (b.number <= 0) Fail(source_, r.line, "bus number " + std::to_string(b.number) + " must be positive");
      const std::int32_t type = Integer(r, bus_col::kType, "type");
      if (type < 1 || type > 4)
        Fail(source_, r.line, "bus " + std::to_string(b.number) + " has type " + std::to_string(type) +
                                  "; types are 1 (PQ), 2 (PV), 3 (reference) and 4 (isolated)");
      b.type = static_cast<BusType>(type);
      b.pd = Finite(r, bus_col::kPd, "Pd");
      b.qd = Finite(r, bus_col::kQd, "Qd");
      b.gs = Finite(r, bus_col::kGs, "Gs");
      b.bs = Finite(r, bus_col::kBs, "Bs");
      b.vm = Finite(r, bus_col::kVm, "Vm");
      b.va = Finite(r, bus_col::kVa, "Va");
      b.base_kv = Finite(r, bus_col::kBaseKv, "baseKV");
      if (b.base_kv < 0) Fail(source_, r.line, "baseKV must not be negative");
      c.buses.push_back(b);
    }
  }

  void ReadGenerators(const Table &gen, Case &c) {
    for (const Row &r : gen.rows) {
      CaseGenerator g;
      g.line = r.line;
      g.bus = Integer(r, gen_col::kBus, "bus");
      g.pg = Finite(r, gen_col::kPg, "Pg");
      g.qg = Finite(r, gen_col::kQg, "Qg");
      g.qmax = r.values[gen_col::kQmax]; // limits may be +-Inf
      g.qmin = r.values[gen_col::kQmin];
      g.vg = Finite(r, gen_col::kVg, "Vg");
      g.mbase = Finite(r, gen_col::kMbase, "mBase");
      g.status = Integer(r, gen_col::kStatus, "status");
      c.generators.push_back(g);
    }
  }

  void ReadBranches(const Table &branch, Case &c) {
    for (const Row &r : branch.rows) {
      CaseBranch b;
      b.line = r.line;
      b.from = Integer(r, branch_col::kFbus, "fbus");
      b.to = Integer(r, branch_col::kTbus, "tbus");
      b.r = Finite(r, branch_col::kR, "r");
      b.x = Finite(r, branch_col::kX, "x");
      b.b = Finite(r, branch_col::kB, "b");
      b.ratio = Finite(r, branch_col::kRatio, "ratio");
      b.angle = Finite(r, branch_col::kAngle, "angle");
      b.rate_a = Finite(r, branch_col::kRateA, "rateA");
      b.status = Integer(r, branch_col::kStatus, "status");
      c.branches.push_back(b);
    }
  }

  void ScanMatrixLine(const std::string &line, int line_no, Table &table, Row &current, bool &continued,
                      bool &in_matrix, const std::string &name) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    if (!continued && current.values.empty()) current.line = line_no;
    continued = false;
    auto end_row = [&]() {
      if (!current.values.empty() && keep_rows_) {
        CheckWidth(table, current, name);
        table.rows.push_back(std::move(current));
      }
      current = Row{};
      current.line = line_no;
    };
    while (i < n) {
      const char ch = line[i];
      if (std::isspace(static_cast<unsigned char>(ch)) || ch == ',') {
        ++i;
        continue;
      }
      if (ch == ';') {
        end_row();
        ++i;
        continue;
      }
      if (ch == ']') {
        end_row();
        in_matrix = false;
        const std::string rest = Trim(std::string_view(line).substr(i + 1));
        if (!rest.empty() && rest != ";")
          Fail(source_, line_no,
               "unexpected text " + Quoted(rest) + " after the end of mpc." + Printable(name));
        return;
      }
      if (line.compare(i, 3, "...") == 0) {
        continued = true;
        return;
      }
      std::size_t j = i;
      while (j < n && !std::isspace(static_cast<unsigned char>(line[j])) && line[j] != ',' && line[j] != ';' &&
             line[j] != ']')
        ++j;
      const std::string token = line.substr(i, j - i);
      double v = 0;
      if (!ParseNumber(token, v))
        Fail(source_, line_no, Quoted(token) + " in mpc." + Printable(name) + " is not a number");
      if (current.values.empty()) current.line = line_no;
      if (keep_rows_) current.values.push_back(v);
      i = j;
    }
    // A line end closes the row unless the row continues.
    if (!continued) end_row();
  }

  // A row as it ends: as wide as the table's first row and at least as wide
  // as the table needs.
  void CheckWidth(const Table &t, const Row &r, const std::string &name) {
    const std::size_t width = t.rows.empty() ? r.values.size() : t.rows.front().values.size();
    if (r.values.size() != width)
      Fail(source_, r.line, "row of mpc." + name + " has " + std::to_string(r.values.size()) +
                                " values; the table's first row has " + std::to_string(width));
    if (r.values.size() < static_cast<std::size_t>(required_))
      Fail(source_, r.line, "row of mpc." + name + " has " + std::to_string(r.values.size()) +
                                " values; at least " + std::to_string(required_) + " are required");
  }

  // A case file is text: no control bytes but tab, line ends, form feed
  // and vertical tab (a binary or UTF-16 file stops here, at its first).
  void CheckText() {
    int line = 1;
    for (std::size_t i = 0; i < text_.size(); ++i) {
      const auto c = static_cast<unsigned char>(text_[i]);
      if (c == '\n' || (c == '\r' && text_.compare(i, 2, "\r\n") != 0)) ++line;
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') || c == 0x7F)
        Fail(source_, line,
             "byte " + Printable(text_.substr(i, 1)) + " is a control character; a case file is text");
    }
  }

  std::int32_t Integer(const Row &r, int col, const char *what) {
    const double v = r.values[col];
    if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 2147483647.0)
      Fail(source_, r.line, std::string(what) + " must be an integer, found " + Format(v));
    return static_cast<std::int32_t>(v);
  }

  double Finite(const Row &r, int col, const char *what) {
    const double v = r.values[col];
    if (!std::isfinite(v)) Fail(source_, r.line, std::string(what) + " must be finite, found " + Format(v));
    return v;
  }

  static std::string Format(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
  }

  std::string_view text_;
  const std::string &source_;
  int required_ = 0;       // width the current table needs
  bool keep_rows_ = false; // the current table is bus, gen or branch
};

} // namespace

Case ParseCase(std::string_view text, const std::string &source) { return Parser(text, source).Run(); }

Case ReadCase(const std::string &path) {
  namespace fs = std::filesystem;
  if (path.empty()) throw CaseError("the case file name is empty");
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) Fail(path, 0, "is a directory, not a case file");
  const std::string too_large = "the case file is larger than " + std::to_string(kMaxCaseBytes) +
                                " bytes (64 MiB), the most that is read";
  std::uintmax_t size = 0;
  if (fs::is_regular_file(status)) {
    size = fs::file_size(path, ec);
    if (!ec && size > kMaxCaseBytes) Fail(path, 0, too_large);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, 0, "cannot open the case file");
  // Read in blocks, never more than the limit (a device or pipe has no size).
  std::string text;
  text.reserve(static_cast<std::size_t>(std::min(size, kMaxCaseBytes)));
  char block[1 << 16];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    text.append(block, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCaseBytes) Fail(path, 0, too_large);
  }
  if (in.bad()) Fail(path, 0, "cannot read the case file");
  return ParseCase(text, path);
}

std::int32_t Network::NodeOfBus(std::int32_t bus) const {
  const auto it = node_of_bus.find(bus);
  if (it == node_of_bus.end()) Fail(source, 0, "bus " + std::to_string(bus) + " is not in the network");
  return it->second;
}

namespace {

// What the steps of BuildNetwork share: the case's row of each bus number,
// the bus types as the generators settle them, the first in-service
// generator of each bus row and the node given to each bus row (0 = none).
struct NetworkDraft {
  const Case &c;
  Network &net;
  double base;
  std::map<std::int32_t, std::size_t> row_of_bus;
  std::vector<BusType> type;
  std::vector<int> first_gen;
  std::vector<std::int32_t> node_of_row;
};

// Bus numbers must be unique.
void MapBusRows(NetworkDraft &d) {
  const Case &c = d.c;
  for (std::size_t i = 0; i < c.buses.size(); ++i) {
    const auto [it, fresh] = d.row_of_bus.emplace(c.buses[i].number, i);
    if (!fresh)
      Fail(c.source, c.buses[i].line, "bus " + std::to_string(c.buses[i].number) +
                                          " is defined twice (first on line " +
                                          std::to_string(c.buses[it->second].line) + ")");
  }
}

// Bus types after the generators: a PV bus without an in-service
// generator becomes PQ; the first reference bus is kept, later ones are PV.
void SettleBusTypes(NetworkDraft &d) {
  const Case &c = d.c;
  std::vector<BusType> &type = d.type;
  type.assign(c.buses.size(), {});
  d.first_gen.assign(c.buses.size(), -1);
  for (std::size_t g = 0; g < c.generators.size(); ++g) {
    const CaseGenerator &gen = c.generators[g];
    const auto it = d.row_of_bus.find(gen.bus);
    if (it == d.row_of_bus.end())
      Fail(c.source, gen.line, "generator at bus " + std::to_string(gen.bus) + ", which is not in mpc.bus");
    if (gen.status > 0 && d.first_gen[it->second] < 0) d.first_gen[it->second] = static_cast<int>(g);
  }
  std::size_t ref_row = c.buses.size();
  for (std::size_t i = 0; i < c.buses.size(); ++i) {
    type[i] = c.buses[i].type;
    if (type[i] == BusType::kIsolated) {
      d.net.warnings.push_back("bus " + std::to_string(c.buses[i].number) +
                               " is isolated (type 4) and left out");
      continue;
    }
    if (type[i] == BusType::kReference) {
      if (ref_row == c.buses.size()) {
        ref_row = i;
      } else {
        type[i] = BusType::kPV;
        d.net.warnings.push_back("bus " + std::to_string(c.buses[i].number) +
                                 " is a second reference bus and is treated as a PV bus");
      }
    }
    if ((type[i] == BusType::kPV || type[i] == BusType::kReference) && d.first_gen[i] < 0) {
      if (type[i] == BusType::kReference)
        Fail(c.source, c.buses[i].line,
             "reference bus " + std::to_string(c.buses[i].number) + " has no generator in service");
      type[i] = BusType::kPQ;
      d.net.warnings.push_back("bus " + std::to_string(c.buses[i].number) +
                               " has no generator in service and is treated as a PQ bus");
    }
  }
  if (ref_row == c.buses.size()) Fail(c.source, 0, "the case has no reference bus (type 3)");
}

// Node numbering (isolated buses are left out) and the per-node data.
void NumberNodes(NetworkDraft &d, NodeOrder order) {
  const Case &c = d.c;
  Network &net = d.net;
  std::vector<std::size_t> rows;
  auto take = [&](BusType t) {
    for (std::size_t i = 0; i < c.buses.size(); ++i)
      if (d.type[i] == t) rows.push_back(i);
  };
  if (order == NodeOrder::kPowerFlow) {
    take(BusType::kPQ);
    take(BusType::kPV);
    take(BusType::kReference);
  } else {
    for (std::size_t i = 0; i < c.buses.size(); ++i)
      if (d.type[i] != BusType::kIsolated) rows.push_back(i);
  }
  net.n = static_cast<std::int32_t>(rows.size());
  auto resize = [&](auto &v) { v.assign(rows.size(), {}); };
  resize(net.bus_of_node);
  resize(net.type);
  resize(net.pd);
  resize(net.qd);
  resize(net.pg);
  resize(net.qg);
  resize(net.gs);
  resize(net.bs);
  resize(net.vm_set);
  resize(net.vm_file);
  resize(net.va_file);
  resize(net.base_kv);
  d.node_of_row.assign(c.buses.size(), 0);
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const CaseBus &b = c.buses[rows[k]];
    const auto node = static_cast<std::int32_t>(k + 1);
    d.node_of_row[rows[k]] = node;
    net.node_of_bus[b.number] = node;
    net.bus_of_node[k] = b.number;
    net.type[k] = d.type[rows[k]];
    net.pd[k] = b.pd / d.base;
    net.qd[k] = b.qd / d.base;
    net.gs[k] = b.gs / d.base;
    net.bs[k] = b.bs / d.base;
    net.vm_file[k] = b.vm;
    net.va_file[k] = b.va;
    net.base_kv[k] = b.base_kv;
    net.vm_set[k] = b.vm;
    if (net.type[k] == BusType::kPQ) ++net.npq;
    else if (net.type[k] == BusType::kPV) ++net.npv;
    else net.reference = node;
    if (net.type[k] != BusType::kPQ) net.vm_set[k] = c.generators[d.first_gen[rows[k]]].vg;
  }
}

void AddGenerators(NetworkDraft &d) {
  const Case &c = d.c;
  const double base = d.base;
  for (std::size_t gi = 0; gi < c.generators.size(); ++gi) {
    const CaseGenerator &g = c.generators[gi];
    if (g.status <= 0) continue;
    const std::size_t row = d.row_of_bus.at(g.bus);
    if (d.type[row] == BusType::kIsolated) {
      d.net.warnings.push_back("generator at isolated bus " + std::to_string(g.bus) + " is left out");
      continue;
    }
    NetworkGenerator ng;
    ng.node = d.node_of_row[row];
    ng.pg = g.pg / base;
    ng.qg = g.qg / base;
    ng.qmax = g.qmax / base;
    ng.qmin = g.qmin / base;
    ng.vg = g.vg;
    ng.mbase = g.mbase > 0 ? g.mbase : base;
    ng.line = g.line;
    ng.case_index = static_cast<int>(gi);
    d.net.pg[ng.node - 1] += ng.pg;
    d.net.qg[ng.node - 1] += ng.qg;
    d.net.generators.push_back(ng);
  }
}

// The series impedance and the two end shunts of a branch's pi model.
void ModelBranch(const CaseBranch &cb, NetworkBranch &b) {
  const std::complex<double> zs(cb.r, cb.x);
  const std::complex<double> y = 1.0 / zs;
  const std::complex<double> half(0.0, cb.b / 2.0);
  const double t = b.ratio;
  if (t == 1.0) {
    // A line (or a transformer at nominal ratio): the plain symmetric pi.
    b.z = zs;
    b.ya = half;
    b.yb = half;
  } else {
    b.z = t * zs;
    b.ya = (y + half) / (t * t) - y / t;
    b.yb = y + half - y / t;
  }
}

void AddBranches(NetworkDraft &d) {
  const Case &c = d.c;
  for (std::size_t k = 0; k < c.branches.size(); ++k) {
    const CaseBranch &cb = c.branches[k];
    const auto fi = d.row_of_bus.find(cb.from), ti = d.row_of_bus.find(cb.to);
    if (fi == d.row_of_bus.end())
      Fail(c.source, cb.line, "branch from bus " + std::to_string(cb.from) + ", which is not in mpc.bus");
    if (ti == d.row_of_bus.end())
      Fail(c.source, cb.line, "branch to bus " + std::to_string(cb.to) + ", which is not in mpc.bus");
    if (cb.status <= 0) continue;
    if (d.type[fi->second] == BusType::kIsolated || d.type[ti->second] == BusType::kIsolated) {
      d.net.warnings.push_back("branch " + std::to_string(cb.from) + "-" + std::to_string(cb.to) + " (line " +
                               std::to_string(cb.line) + ") touches an isolated bus and is left out");
      continue;
    }
    if (cb.from == cb.to)
      Fail(c.source, cb.line, "branch joins bus " + std::to_string(cb.from) + " to itself");
    if (cb.r == 0 && cb.x == 0) Fail(c.source, cb.line, "branch has zero impedance (r = x = 0)");
    if (cb.ratio < 0) Fail(c.source, cb.line, "branch ratio must not be negative");
    NetworkBranch b;
    b.from = d.node_of_row[fi->second];
    b.to = d.node_of_row[ti->second];
    b.r = cb.r;
    b.x = cb.x;
    b.b = cb.b;
    b.ratio = cb.ratio == 0 ? 1.0 : cb.ratio;
    b.shift_deg = cb.angle;
    b.rate_a = cb.rate_a;
    b.transformer = cb.ratio != 0 || c.buses[fi->second].base_kv != c.buses[ti->second].base_kv;
    b.line = cb.line;
    b.case_index = static_cast<int>(k);
    ModelBranch(cb, b);
    if (cb.angle != 0)
      d.net.warnings.push_back("branch " + std::to_string(cb.from) + "-" + std::to_string(cb.to) + " (line " +
                               std::to_string(cb.line) + ") has a phase shift of " +
                               std::to_string(cb.angle) + " degrees, which is dropped");
    d.net.branches.push_back(b);
  }
}

} // namespace

Network BuildNetwork(const Case &c, NodeOrder order) {
  Network net;
  net.source = c.source;
  net.base_mva = c.base_mva;
  NetworkDraft draft{c, net, c.base_mva, {}, {}, {}, {}};
  MapBusRows(draft);
  SettleBusTypes(draft);
  NumberNodes(draft, order);
  AddGenerators(draft);
  AddBranches(draft);
  if (net.branches.empty()) Fail(c.source, 0, "the case has no branch in service");
  return net;
}

std::int32_t CountMatrixEntries(const Network &net) {
  std::set<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const NetworkBranch &b : net.branches) pairs.emplace(std::min(b.from, b.to), std::max(b.from, b.to));
  return net.n + 2 * static_cast<std::int32_t>(pairs.size());
}

namespace {

HostArrays Lay(const Network &net, std::int32_t ld) {
  HostArrays h;
  h.ld = ld;
  h.n = net.n;
  h.nb = net.nb();
  const auto uld = static_cast<std::size_t>(ld);
  h.z.assign(2 * uld, 0.0f);
  h.ya.assign(2 * uld, 0.0f);
  h.yb.assign(2 * uld, 0.0f);
  h.z_bx.assign(2 * uld, 0.0f);
  h.t.assign(uld, 1.0f);
  h.nodes.assign(2 * uld, 0);
  for (std::size_t k = 0; k < net.branches.size(); ++k) {
    const NetworkBranch &b = net.branches[k];
    h.z[k] = static_cast<float>(b.z.real());
    h.z[k + uld] = static_cast<float>(b.z.imag());
    h.ya[k] = static_cast<float>(b.ya.real());
    h.ya[k + uld] = static_cast<float>(b.ya.imag());
    h.yb[k] = static_cast<float>(b.yb.real());
    h.yb[k + uld] = static_cast<float>(b.yb.imag());
    h.z_bx[k] = static_cast<float>(b.r);
    h.z_bx[k + uld] = static_cast<float>(b.x);
    h.t[k] = static_cast<float>(b.ratio);
    h.nodes[k] = b.from;
    h.nodes[k + uld] = b.to;
  }
  h.gsh.assign(static_cast<std::size_t>(net.n), 0.0f);
  for (std::int32_t i = 0; i < net.n; ++i) {
    h.gsh[i] = static_cast<float>(net.gs[i]);
    if (net.bs[i] != 0) {
      h.bsh.push_back(static_cast<float>(net.bs[i]));
      h.ksh.push_back(i + 1);
    }
  }
  h.nsh = static_cast<std::int32_t>(h.bsh.size());
  return h;
}

} // namespace

HostArrays MakeHostArrays(const Network &net) {
  if (net.n > ORVEK_LD_NODE)
    Fail(net.source, 0, "the network has " + std::to_string(net.n) + " nodes; the library takes at most " +
                            std::to_string(ORVEK_LD_NODE));
  if (net.nb() > ORVEK_LD_BRANCH)
    Fail(net.source, 0, "the network has " + std::to_string(net.nb()) +
                            " branches in service; the library takes at most " + std::to_string(ORVEK_LD_BRANCH));
  const std::int32_t entries = CountMatrixEntries(net);
  if (entries > kMaxMatrixEntries)
    Fail(net.source, 0, "the admittance matrix has " + std::to_string(entries) +
                            " entries; the library takes at most " + std::to_string(kMaxMatrixEntries));
  return Lay(net, ORVEK_LD_BRANCH);
}

HostArrays MakeUnboundedArrays(const Network &net) { return Lay(net, std::max<std::int32_t>(net.nb(), 1)); }

} // namespace orvek::casefile
