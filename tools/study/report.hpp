// Writers of the result tables (engine.hpp) in the three output formats:
// CSV (one table, one header row, every value in full: reals in their
// shortest round-trip form, an empty field where the case gives no value),
// JSON (one document: an object with one array of row objects per table,
// every CSV field under its column name, null for an empty field) and a
// readable text layout (the summary as lines, then aligned columns).
// Numbers are never cut: any finite double is written whole.
#pragma once

#include "tools/study/engine.hpp"

#include <ostream>
#include <vector>

namespace orvek::study {

void WriteCsv(std::ostream &out, const Table &t);
void WriteJson(std::ostream &out, const std::vector<Table> &tables);
void WriteText(std::ostream &out, const std::vector<Table> &tables);

} // namespace orvek::study
