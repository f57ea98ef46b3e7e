// Runs a piece of code in a child process and returns what it printed on
// standard output and how it ended, so that stops of the library can be
// observed from outside.
#pragma once

#include <functional>
#include <string>

namespace orvek::test {

struct ChildResult {
  std::string output;   // everything written to standard output
  int exit_status = -1; // exit status, or -1 when the child did not exit normally
  bool supported = true; // false where the platform cannot fork
};

// Runs body in a child; when body returns, the child exits with status 0
// after flushing standard output.
ChildResult RunInChild(const std::function<void()> &body);

} // namespace orvek::test
