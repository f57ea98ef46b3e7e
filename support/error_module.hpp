// The error module: a stack of active routine names, an error type and code
// per level, one pending message with placeholders, per-type print and stop
// flags, and the hold area. The numerical routines (key sort, sparse solver,
// machine constants) report only through an ErrorModule passed to them; the
// exported routines pass the process-wide one (errors()), a native caller may
// pass its own with printing captured and stopping switched off.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvek {

// Error types as the module numbers them.
enum ErrorType : std::int32_t {
  kNote = 1,
  kAlert = 2,
  kWarning = 3,
  kFatal = 4,
  kTerminal = 5,
};

class ErrorModule {
public:
  // Where printed text goes (the whole text of one print, lines ended by '\n').
  using Sink = void (*)(void *context, std::string_view text);
  // What a stop does; the default prints "Stop - Program terminated." on
  // standard output, flushes it and ends the process with exit status 1.
  using StopHandler = void (*)(void *context);

  static constexpr int kMaxDepth = 50;
  static constexpr int kMaxMessage = 1024;
  static constexpr int kPlaceholders = 9;

  ErrorModule();

  // Entry and exit of a library routine.
  void E1PSH(std::string_view name);
  void E1POP(std::string_view name);
  // Records an error of type IERTYP (-1 keeps) and code IERCOD (-1 keeps) at
  // the current level with MSG, placeholders filled in.
  void E1MES(std::int32_t iertyp, std::int32_t iercod, std::string_view msg);
  void SetIntegerPlaceholder(std::int32_t i, std::int32_t value);
  void SetRealPlaceholder(std::int32_t i, float value);
  void SetTextPlaceholder(std::int32_t i, std::string_view text);
  // 0: code of the current level; 1: code left below by the last return.
  std::int32_t N1RCD(std::int32_t i);
  // Hold area: IACT 0 reads into ivalue, IACT 1 stores ivalue.
  void L15XG(std::int32_t iact, std::int32_t &ivalue);

  // Switches (not exported): print and stop flag of one type 1..7.
  void set_print(std::int32_t type, bool on);
  void set_stop(std::int32_t type, bool on);
  bool print_flag(std::int32_t type) const;
  bool stop_flag(std::int32_t type) const;
  void set_sink(Sink sink, void *context);
  void set_stop_handler(StopHandler handler, void *context);
  // Writes text through the sink as it stands (used by UMACH and IMACH).
  void write(std::string_view text);

  // Inspection for adapters and tests.
  std::int32_t depth() const;
  std::int32_t type_at(std::int32_t level) const;
  std::int32_t code_at(std::int32_t level) const;
  // Routine name at a level, trailing blanks removed ("" outside 1..50).
  std::string routine_at(std::int32_t level) const;
  const std::string &pending_message() const;
  // The last message text recorded by E1MES (kept after printing), with the
  // routine name, type and code it was raised with.
  const std::string &last_message() const;
  const std::string &last_routine() const;
  std::int32_t last_type() const;
  std::int32_t last_code() const;

  // Ends the process through the stop handler.
  void stop();

private:
  struct Level;
  struct State;
  State *state_;
  // Non-copyable: the state is identity.
  ErrorModule(const ErrorModule &) = delete;
  ErrorModule &operator=(const ErrorModule &) = delete;

public:
  ~ErrorModule();
};

// One coded message of a routine's table: its code and its text, with
// integer placeholders %(I1).. filled from the values it is raised with.
struct Message {
  std::int32_t code;
  std::string_view text;
};

// Records message m with error type `type` at the current level, the values
// filling %(I1), %(I2), ... in order.
inline void Raise(ErrorModule &err, std::int32_t type, const Message &m,
                  std::initializer_list<std::int32_t> values = {}) {
  std::int32_t index = 1;
  for (const std::int32_t value : values) err.SetIntegerPlaceholder(index++, value);
  err.E1MES(type, m.code, m.text);
}

// One routine's level on the error stack: entered on construction, left on
// leave() or at the end of the scope, whichever comes first. Leaving is where
// a pending error prints and, if its type says so, stops; every routine
// enters and leaves the stack through this type, so no exit path can skip
// the pop.
class ErrorFrame {
public:
  ErrorFrame(ErrorModule &err, std::string_view name) : err_(err), name_(name) { err_.E1PSH(name_); }
  ErrorFrame(const ErrorFrame &) = delete;
  ErrorFrame &operator=(const ErrorFrame &) = delete;
  ~ErrorFrame() { leave(); }

  // Leaves the level now (once; later calls do nothing).
  void leave() {
    if (entered_) {
      entered_ = false;
      err_.E1POP(name_);
    }
  }

private:
  ErrorModule &err_;
  std::string_view name_;
  bool entered_ = true;
};

// The process-wide error state of the exported routines.
ErrorModule &errors();

// The text that stands for a real placeholder %(Rn): the shortest decimal
// that reads back as the same float, in scientific form ("1.0E+16").
std::string FormatRealPlaceholder(float value);

} // namespace orvek
