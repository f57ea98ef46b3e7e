// Child-process runner for the tests of the library's stops.
#include "child_process.hpp"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
// Windows cannot fork: the test program is started again, filtered to the
// running test, with ORVEK_TEST_CHILD = "<call number>|<replay file>" in its
// environment. The child runs the test from its start; at the RunInChild call
// with that number it prints a marker, switches standard output to binary
// (so that line ends are "\n" as on Linux) and runs the body, then exits
// with status 0 if the body returns. Earlier RunInChild calls of the same
// test return, in the child, the results the parent already has (read from
// the replay file), so the child follows the parent's path. Everything the
// child prints before the marker (the test framework's own lines) is
// dropped; the parent returns what follows it and the exit status.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orvek::test {
namespace {

constexpr const char *kChildVariable = "ORVEK_TEST_CHILD";
constexpr const char *kMarker = "\n<<orvek-child-body>>\n";

// The RunInChild calls the running test has made so far, with their results.
struct TestCalls {
  std::string test;
  std::vector<ChildResult> results;
};

TestCalls &Calls() {
  static TestCalls calls;
  return calls;
}

std::string CurrentTest() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!info) return "";
  return std::string(info->test_suite_name()) + "." + info->name();
}

std::string TempFile(const char *prefix) {
  char dir[MAX_PATH] = {}, path[MAX_PATH] = {};
  if (GetTempPathA(MAX_PATH, dir) == 0 || GetTempFileNameA(dir, prefix, 0, path) == 0) return "";
  return path;
}

// Replay file: per earlier call its exit status, the output's length, the output.
void WriteReplay(const std::string &path, const std::vector<ChildResult> &results) {
  std::ofstream out(path, std::ios::binary);
  out << results.size() << "\n";
  for (const auto &r : results) out << r.exit_status << " " << r.output.size() << "\n" << r.output;
}

bool ReadReplay(const std::string &path, std::size_t index, ChildResult &result) {
  std::ifstream in(path, std::ios::binary);
  std::size_t count = 0;
  if (!(in >> count) || index >= count) return false;
  for (std::size_t i = 0; i <= index; ++i) {
    std::size_t length = 0;
    if (!(in >> result.exit_status >> length)) return false;
    in.get();
    result.output.assign(length, '\0');
    if (length > 0 && !in.read(result.output.data(), static_cast<std::streamsize>(length))) return false;
  }
  return true;
}

ChildResult Unsupported() {
  ChildResult r;
  r.supported = false;
  return r;
}

LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS *exception) {
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// The body's side: this process is the child for call `target`.
[[noreturn]] void RunBody(const std::function<void()> &body) {
  std::fputs(kMarker, stdout);
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  // A crash ends the child at once with its exception code: no error dialog,
  // no debugger writing into the captured output.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithExceptionCode);
  body();
  std::fflush(stdout);
  std::_Exit(0);
}

ChildResult Spawn(std::size_t call, const std::vector<ChildResult> &earlier, const std::string &test) {
  const std::string replay = TempFile("orr");
  const std::string capture = TempFile("orc");
  const auto remove_files = [&] {
    if (!replay.empty()) DeleteFileA(replay.c_str());
    if (!capture.empty()) DeleteFileA(capture.c_str());
  };
  char program[MAX_PATH] = {};
  if (replay.empty() || capture.empty() || GetModuleFileNameA(nullptr, program, MAX_PATH) == 0) {
    remove_files();
    return Unsupported();
  }
  WriteReplay(replay, earlier);
  // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) on a chain of +.
  std::string command = "\"";
  command += program;
  command += "\" --gtest_filter=";
  command += test;
  command += " --gtest_also_run_disabled_tests";
  const std::string value = std::to_string(call) + "|" + replay;

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileA(capture.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    remove_files();
    return Unsupported();
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::fflush(stdout);
  SetEnvironmentVariableA(kChildVariable, value.c_str());
  const BOOL started = CreateProcessA(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  CloseHandle(out);
  CloseHandle(in);
  ChildResult result;
  if (!started) {
    remove_files();
    return Unsupported();
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Exception codes (0xC0000005 and the like) mean the child did not exit.
  result.exit_status = code >= 0xC0000000u ? -1 : static_cast<int>(code);

  std::ifstream captured(capture, std::ios::binary);
  std::stringstream text;
  text << captured.rdbuf();
  captured.close();
  const std::string all = text.str();
  // The marker line was written in text mode ("\r\n"), what follows in binary.
  const std::string marker = std::string(kMarker).substr(1, std::string(kMarker).size() - 2);
  const auto at = all.find(marker);
  const auto end = at == std::string::npos ? at : all.find('\n', at);
  if (end == std::string::npos)
    result.exit_status = -1; // the child never reached the body
  else
    result.output = all.substr(end + 1);
  remove_files();
  return result;
}

} // namespace

ChildResult RunInChild(const std::function<void()> &body) {
  const std::string test = CurrentTest();
  if (test.empty()) return Unsupported();
  TestCalls &calls = Calls();
  if (calls.test != test) {
    calls.test = test;
    calls.results.clear();
  }
  const std::size_t call = calls.results.size();

  if (const char *child = std::getenv(kChildVariable)) {
    const std::string request(child);
    const auto bar = request.find('|');
    const std::size_t target = std::stoul(request.substr(0, bar));
    if (call == target) RunBody(body);
    ChildResult replayed;
    if (!ReadReplay(request.substr(bar + 1), call, replayed)) std::_Exit(3);
    calls.results.push_back(replayed);
    return replayed;
  }

  ChildResult result = Spawn(call, calls.results, test);
  calls.results.push_back(result);
  return result;
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
