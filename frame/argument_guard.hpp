// Rejection of input that would reach memory an exported routine does not
// own. A guard enters the error frame under the routine's own name, runs
// every check (each failing one raises a TERMINAL error whose message names
// the argument and the value), and leaves the frame; with the default
// settings the first failing check prints its message and the process stops
// when the frame is left. Routines check before they write anything.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "support/error_module.hpp"

namespace orvek::frame {

class ArgumentGuard {
public:
  ArgumentGuard(ErrorModule &err, std::string_view routine);
  ArgumentGuard(const ArgumentGuard &) = delete;
  ArgumentGuard &operator=(const ArgumentGuard &) = delete;

  // Raises the rejection when bad is true; values fill %(I1), %(I2), ...
  // Returns !bad so that loops can stop at the first offence.
  bool reject_if(bool bad, const Message &rejection, std::initializer_list<std::int32_t> values = {});

  // Leaves the error frame (where a stop takes effect) and tells whether
  // every check passed; call once, after the last check.
  bool passed();

  // Every end node NODES(b, end) of branches 1..nb (first ends, then second
  // ends, in ascending b) lies in 1..n; the rejection's placeholders are
  // %(I1) = b, %(I2) = end, %(I3) = the node, %(I4) = n. Stops at the first
  // offence; nb <= 0 checks nothing. NODES has the branch leading dimension.
  bool end_nodes_in_range(const Message &rejection, const std::int32_t *nodes, std::int32_t nb,
                          std::int32_t n);

private:
  ErrorModule &err_;
  ErrorFrame frame_;
  bool failed_ = false;
};

} // namespace orvek::frame
