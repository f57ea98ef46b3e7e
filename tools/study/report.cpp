// Writers of the three output formats (see report.hpp).
#include "tools/study/report.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvek::study {

namespace {

// Shortest text that reads back as the same double.
std::string RoundTrip(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// For people: four decimals, or four significant digits in exponent form
// for magnitudes the fixed form would show badly (the whole number either
// way: the buffer holds any double in these forms).
std::string Readable(double v) {
  char buf[64];
  const double a = std::fabs(v);
  if (v != 0 && (a >= 1e9 || a < 1e-3))
    std::snprintf(buf, sizeof buf, "%.4e", v);
  else
    std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s = buf;
  if (s == "-0.0000") s = "0.0000";
  return s;
}

std::string Escaped(const std::string &s, bool json) {
  std::string o;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (json && (ch == '"' || ch == '\\')) {
      o += '\\';
      o += ch;
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      o += buf;
    } else {
      o += ch;
    }
  }
  return o;
}

std::string CsvText(const std::string &s) {
  const std::string e = Escaped(s, false);
  if (e.find_first_of(",\"") == std::string::npos && !e.empty() && e.front() != ' ') return e;
  std::string o = "\"";
  for (const char c : e) {
    if (c == '"') o.push_back('"');
    o.push_back(c);
  }
  o.push_back('"');
  return o;
}

std::string CellText(const Cell &c, bool json, bool readable) {
  if (std::holds_alternative<std::monostate>(c)) return json ? "null" : "";
  if (const auto *i = std::get_if<long long>(&c)) return std::to_string(*i);
  if (const auto *d = std::get_if<double>(&c)) return readable ? Readable(*d) : RoundTrip(*d);
  if (const auto *b = std::get_if<bool>(&c)) return *b ? "true" : "false";
  const std::string &s = std::get<std::string>(c);
  if (json) {
    // Appended piece by piece: g++ 12 warns falsely on literal + string here.
    std::string q(1, '"');
    q.append(Escaped(s, true));
    q.push_back('"');
    return q;
  }
  return readable ? Escaped(s, false) : CsvText(s);
}

} // namespace

void WriteCsv(std::ostream &out, const Table &t) {
  for (std::size_t c = 0; c < t.columns.size(); ++c) out << (c ? "," : "") << t.columns[c].name;
  out << '\n';
  for (const auto &row : t.rows) {
    for (std::size_t c = 0; c < row.size(); ++c) out << (c ? "," : "") << CellText(row[c], false, false);
    out << '\n';
  }
}

void WriteJson(std::ostream &out, const std::vector<Table> &tables) {
  out << "{";
  for (std::size_t k = 0; k < tables.size(); ++k) {
    const Table &t = tables[k];
    out << (k ? ",\n" : "\n") << "  \"" << t.name << "\": [";
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      out << (r ? ",\n    {" : "\n    {");
      for (std::size_t c = 0; c < t.columns.size(); ++c)
        out << (c ? ", " : "") << '"' << t.columns[c].name << "\": " << CellText(t.rows[r][c], true, false);
      out << "}";
    }
    out << (t.rows.empty() ? "]" : "\n  ]");
  }
  out << "\n}\n";
}

void WriteText(std::ostream &out, const std::vector<Table> &tables) {
  bool first = true;
  for (const Table &t : tables) {
    if (t.rows.empty()) continue;
    if (!first) out << '\n';
    first = false;
    if (t.name == "summary" || t.name == "notes") {
      out << t.name << ":\n";
      for (const auto &row : t.rows)
        for (std::size_t c = 0; c < t.columns.size(); ++c) {
          const std::string v = CellText(row[c], false, true);
          if (t.name == "notes") out << "  - " << v << '\n';
          else if (!v.empty()) out << "  " << t.columns[c].name << ": " << v << '\n';
        }
      continue;
    }
    out << t.name << " (" << t.rows.size() << " rows):\n";
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> width(t.columns.size());
    for (std::size_t c = 0; c < t.columns.size(); ++c) width[c] = t.columns[c].name.size();
    for (const auto &row : t.rows) {
      std::vector<std::string> line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        line.push_back(CellText(row[c], false, true));
        width[c] = std::max(width[c], line.back().size());
      }
      cells.push_back(std::move(line));
    }
    auto write = [&](const std::vector<std::string> &line) {
      std::string s;
      for (std::size_t c = 0; c < line.size(); ++c) {
        const std::string pad(width[c] - line[c].size(), ' ');
        s += "  ";
        if (t.columns[c].kind == Kind::kText) {
          s.append(line[c]);
          s.append(pad);
        } else {
          s.append(pad);
          s.append(line[c]);
        }
      }
      while (!s.empty() && s.back() == ' ') s.pop_back();
      out << s << '\n';
    };
    std::vector<std::string> header;
    for (const Column &c : t.columns) header.push_back(c.name);
    write(header);
    for (const auto &line : cells) write(line);
  }
}

} // namespace orvek::study
