// Child-process runner for the tests of the library's stops.
#include "child_process.hpp"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
namespace orvek::test {
ChildResult RunInChild(const std::function<void()> &) {
  ChildResult r;
  r.supported = false;
  return r;
}
} // namespace orvek::test
#else
#include <sys/wait.h>
#include <unistd.h>

namespace orvek::test {

ChildResult RunInChild(const std::function<void()> &body) {
  ChildResult result;
  std::fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) {
    result.supported = false;
    return result;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    result.supported = false;
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

} // namespace orvek::test
#endif
