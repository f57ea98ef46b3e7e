// Argument guard of the exported routines: checks raised under the routine's
// own name through the error module.
#include "frame/argument_guard.hpp"

#include "frame/capacities.hpp"
#include "frame/views.hpp"

namespace orvek::frame {

ArgumentGuard::ArgumentGuard(ErrorModule &err, std::string_view routine) : err_(err), frame_(err, routine) {}

bool ArgumentGuard::reject_if(bool bad, const Message &rejection,
                              std::initializer_list<std::int32_t> values) {
  if (!bad) return true;
  Raise(err_, kTerminal, rejection, values);
  failed_ = true;
  return false;
}

bool ArgumentGuard::end_nodes_in_range(const Message &rejection, const std::int32_t *nodes, std::int32_t nb,
                                       std::int32_t n) {
  const Mat<const std::int32_t, kLdBranch> ends(nodes);
  for (std::int32_t end = 1; end <= 2; ++end) {
    for (std::int32_t b = 1; b <= nb; ++b) {
      const std::int32_t node = ends(b, end);
      if (!reject_if(node < 1 || node > n, rejection, {b, end, node, n})) return false;
    }
  }
  return true;
}

bool ArgumentGuard::passed() {
  frame_.leave();
  return !failed_;
}

} // namespace orvek::frame
