// Output of orvek-study: a readable table (a one-line summary first,
// aligned columns with units in the headers), CSV (every row starts with
// its record kind; a "record" row names the columns of the rows after it)
// or JSON. Buses appear in the order of the case's bus table; machine
// formats carry every float at full precision.
#pragma once

#include "tools/casefile/matpower.hpp"
#include "tools/study/options.hpp"
#include "tools/study/study.hpp"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvek::study {

struct Report {
  const casefile::Network *net = nullptr;
  std::vector<std::int32_t> file_order; // nodes in the order of the case's bus table
  double tolerance = 0;
  std::optional<PowerFlowResult> pf;
  std::optional<FaultStudy> faults;
  bool flat_prefault = false;
  std::vector<std::string> notes;
};

void WriteReport(std::ostream &out, const Report &r, Format format);

} // namespace orvek::study
