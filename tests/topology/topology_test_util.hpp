// Helpers of the topology tests: host-layout branch tables, calls of the
// exported routines with vectors, and the location of the test networks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "orvek/orvek.h"

namespace orvek::test::topology {

inline constexpr std::int32_t kLdBranch = ORVEK_LD_BRANCH;

// NODES(5000, 2) holding the given branch ends.
inline std::vector<std::int32_t> NodesTable(const std::vector<std::pair<std::int32_t, std::int32_t>> &ends) {
  std::vector<std::int32_t> nodes(2 * kLdBranch, 0);
  for (std::size_t b = 0; b < ends.size(); ++b) {
    nodes[b] = ends[b].first;
    nodes[kLdBranch + b] = ends[b].second;
  }
  return nodes;
}

struct Incidence {
  std::vector<std::int32_t> ija, ibr;
  std::int32_t n = 0;
  // List of node i as (neighbour, branch), in stored order.
  std::vector<std::pair<std::int32_t, std::int32_t>> list(std::int32_t i) const {
    std::vector<std::pair<std::int32_t, std::int32_t>> out;
    for (std::int32_t k = ija[i - 1]; k < ija[i]; ++k) out.emplace_back(ija[k - 1], ibr[k - 1]);
    return out;
  }
};

// MAUX over the given branches; IJA is prefilled with `fill`.
inline Incidence CallMaux(std::int32_t n, const std::vector<std::pair<std::int32_t, std::int32_t>> &ends,
                          std::int32_t fill = 0) {
  const auto nodes = NodesTable(ends);
  const auto nb = static_cast<std::int32_t>(ends.size());
  Incidence inc;
  inc.n = n;
  inc.ija.assign(static_cast<std::size_t>(n + 1 + 2 * nb), fill);
  inc.ibr.assign(inc.ija.size(), -7);
  MAUX(&n, nodes.data(), &nb, inc.ija.data(), inc.ibr.data());
  return inc;
}

inline constexpr std::int32_t kUntouched = -99; // host value of outputs the routines leave alone

struct Ordering {
  std::vector<std::int32_t> ord, par, bl;
  std::vector<std::int32_t> cnt = std::vector<std::int32_t>(2 * 1000, kUntouched);
  std::int32_t nc = kUntouched;
  std::int32_t cnt_nodes(std::int32_t g) const { return g == 0 ? 0 : cnt[g - 1]; }
  std::int32_t cnt_branches(std::int32_t g) const { return g == 0 ? 0 : cnt[1000 + g - 1]; }
};

inline Ordering CallMultiPodred(const Incidence &inc, std::int32_t nb) {
  Ordering o;
  o.ord.assign(static_cast<std::size_t>(inc.n), kUntouched);
  o.par.assign(static_cast<std::size_t>(inc.n), kUntouched);
  o.bl.assign(static_cast<std::size_t>(nb > 0 ? nb : 1), kUntouched);
  MultiPodred(&inc.n, inc.ija.data(), inc.ibr.data(), o.ord.data(), o.cnt.data(), o.bl.data(), o.par.data(),
              &o.nc);
  return o;
}

// The traceback's USER line shows the last error that reached the user
// level in this process (earlier tests included); it is neutralised so
// that printed texts can be compared whatever ran before.
inline std::string WithNeutralUserLine(const std::string &text) {
  return std::regex_replace(text, std::regex("\n     USER +-?[0-9]+ +-?[0-9]+\n"), "\n     USER\n");
}

inline std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

} // namespace orvek::test::topology
