// The workspace, the call scope and orvek::Error of the native interface.
// A workspace's error module prints into the workspace's capture and its
// stop handler records the first stop and returns; nothing reaches the
// process-wide error state or standard output. Misuse of a workspace and
// allocation failures are errors of their own (routines "Workspace" and
// "Memory"), with nothing printed.
#include <new>
#include <stdexcept>
#include <utility>

#include "native/native_internal.hpp"

namespace orvek {

namespace {

constexpr std::string_view kTypeNames[] = {"UNKNOWN", "NOTE", "ALERT", "WARNING", "FATAL", "TERMINAL",
                                           "WARNING", "FATAL"};

std::string_view TypeName(std::int32_t type) {
  return type >= 1 && type <= 7 ? kTypeNames[type] : kTypeNames[0];
}

// Each print of the module is one message (with its traceback); the header
// it is printed under is that of the module's current level.
void CapturePrint(void *context, std::string_view text) {
  auto &cap = *static_cast<native::Capture *>(context);
  const ErrorModule &err = *cap.err;
  const std::int32_t level = err.depth();
  cap.reports.push_back({err.routine_at(level), err.type_at(level), err.code_at(level), err.last_message()});
  cap.printed.append(text);
}

void CaptureStop(void *context) {
  auto &cap = *static_cast<native::Capture *>(context);
  if (cap.stopped) return;
  cap.stopped = true;
  cap.reports_at_stop = cap.reports.size();
  cap.printed_at_stop = cap.printed.size();
}

std::string Describe(const std::string &call, const std::vector<Report> &reports) {
  if (reports.empty()) return call + ": stopped";
  const Report &r = reports.front();
  return call + ": " + std::string(TypeName(r.type)) + " error " + std::to_string(r.code) + " from " + r.routine +
         ": " + r.message;
}

const Report kNoReport{};

// Errors of the native layer itself (not of an exported routine's checks).
constexpr std::string_view kWorkspaceRoutine = "Workspace";
constexpr Message kMovedFrom{
    1, "The workspace was moved from; assign a Workspace to it before using it again."};
constexpr Message kInUse{
    2, "The workspace is serving another call (on another thread); a workspace serves one call at a time."};
constexpr std::string_view kMemoryRoutine = "Memory";
constexpr Message kOutOfMemory{1, "The call needs more memory than could be obtained (%(L1))."};

[[noreturn]] void ThrowOwn(std::string_view call, std::string_view routine, const Message &r,
                           std::string_view detail = {}) {
  std::string message(r.text);
  if (const auto at = message.find("%(L1)"); at != std::string::npos) message.replace(at, 5, detail);
  throw Error(std::string(call), {Report{std::string(routine), kTerminalType, r.code, std::move(message)}},
              {});
}

Workspace::Impl &Acquire(Workspace &ws, std::string_view call) {
  Workspace::Impl *impl = ws.impl();
  if (impl == nullptr) ThrowOwn(call, kWorkspaceRoutine, kMovedFrom);
  if (impl->in_use.exchange(true, std::memory_order_acquire)) ThrowOwn(call, kWorkspaceRoutine, kInUse);
  return *impl;
}

} // namespace

Error::Error(std::string call, std::vector<Report> reports, std::string printed)
    : std::runtime_error(Describe(call, reports)), call_(std::move(call)), reports_(std::move(reports)),
      printed_(std::move(printed)) {}

const Report &Error::first() const noexcept {
  // The stopping message: the first FATAL or TERMINAL one, else the first.
  for (const Report &r : reports_)
    if (r.type >= kFatalType) return r;
  return reports_.empty() ? kNoReport : reports_.front();
}

Workspace::Impl::Impl() { reset_errors(); }

void Workspace::Impl::reset_errors() {
  if (!err || err->depth() != 1) {
    err = std::make_unique<ErrorModule>();
    capture.err = err.get();
    err->set_sink(&CapturePrint, &capture);
    err->set_stop_handler(&CaptureStop, &capture);
  }
  // Type 0 and code 0 at the user level: no error recorded, none pending.
  err->E1MES(0, 0, "");
  capture.clear();
}

Workspace::Workspace() : impl_(std::make_unique<Impl>()) {}
Workspace::~Workspace() = default;
Workspace::Workspace(Workspace &&) noexcept = default;
Workspace &Workspace::operator=(Workspace &&) noexcept = default;

namespace native {

CallScope::CallScope(Workspace &ws, std::string_view call) : ws_(Acquire(ws, call)) {
  try {
    call_ = call;
    ws_.reset_errors();
  } catch (...) {
    ws_.in_use.store(false, std::memory_order_release);
    RethrowAllocationFailure(call);
  }
}

CallScope::~CallScope() { ws_.in_use.store(false, std::memory_order_release); }

void RethrowAllocationFailure(std::string_view call) {
  try {
    throw;
  } catch (const std::bad_alloc &) {
    ThrowOwn(call, kMemoryRoutine, kOutOfMemory, "std::bad_alloc");
  } catch (const std::length_error &) {
    ThrowOwn(call, kMemoryRoutine, kOutOfMemory, "std::length_error");
  }
}

void CallScope::check() {
  Capture &cap = ws_.capture;
  if (!cap.stopped) return;
  std::vector<Report> reports(cap.reports.begin(),
                              cap.reports.begin() + static_cast<std::ptrdiff_t>(cap.reports_at_stop));
  std::string printed = cap.printed.substr(0, cap.printed_at_stop);
  ws_.reset_errors();
  throw Error(call_, std::move(reports), std::move(printed));
}

std::vector<Report> CallScope::warnings() const {
  std::vector<Report> out;
  for (const Report &r : ws_.capture.reports)
    if (r.type == kWarningType || r.type == 6) out.push_back(r);
  return out;
}

bool CheckEnds(Checks &checks, const EndRejections &texts, std::int32_t n, std::span<const std::int32_t> from,
               std::span<const std::int32_t> to) {
  const std::int32_t nb = Count(from.size());
  if (!checks.require_named(to.size() == from.size(), "TO", texts.size, {Count(to.size()), nb})) return false;
  for (const auto &[name, ends] : {std::pair{"FROM", from}, std::pair{"TO", to}}) {
    for (std::int32_t b = 1; b <= nb; ++b) {
      const std::int32_t node = ends[Size(b) - 1];
      if (!checks.require_named(node >= 1 && node <= n, name, texts.node, {b, node, n})) return false;
    }
  }
  return true;
}

bool CheckRowIndexed(Checks &checks, const RowIndexedRejections &texts, const RowIndexed &y) {
  const std::int32_t n = y.n;
  const std::int64_t size = static_cast<std::int64_t>(y.ija.size());
  if (!checks.require(n >= 1 && size >= static_cast<std::int64_t>(n) + 1 && y.ija[0] == n + 2, texts.shape, {n}))
    return false;
  for (std::int32_t i = 1; i <= n; ++i)
    if (!checks.require(y.ija[Size(i)] >= y.ija[Size(i) - 1], texts.pointer, {i + 1, y.ija[Size(i)]})) return false;
  const std::int64_t end = y.ija[Size(n)];
  if (!checks.require(end - 1 <= size && end - 1 <= static_cast<std::int64_t>(y.sa.size()), texts.pointer,
                      {n + 1, y.ija[Size(n)]}))
    return false;
  for (std::int64_t k = n + 2; k < end; ++k) {
    const std::int32_t c = y.ija[static_cast<std::size_t>(k - 1)];
    if (!checks.require(c >= 1 && c <= n, texts.column, {static_cast<std::int32_t>(k), c, n})) return false;
  }
  return true;
}

} // namespace native
} // namespace orvek
