// The error module: routine stack of 50 levels (level 1 is the user), one
// pending message, placeholders, per-type print and stop flags, hold area.
// Routine names are kept blank-padded to 32 characters (longer names are cut
// to 32) and are compared and printed with their trailing blanks removed, so
// "SVIGP " and "SVIGP" name the same routine. Printed text goes to the sink
// as one piece per print; a stop goes to the stop handler.
//
// Printed form of a message (every line without trailing blanks):
//   <empty line>
//    *** <type, 8 columns> ERROR<text of at most 59 characters>
//    ***          <text of at most 64 characters>        (continuation lines)
// The text is " <code> from <routine>.  <message>" (the ".  " is left out
// when the message begins with it). Lines break at the last blank that lets
// the line fit; the blanks at a break are dropped. "%/" forces a break and
// is not printed; the text after it starts the next line as it stands. A
// word longer than its field is split after the field's last character and
// continues on the next line.
//
// Stops happen only where the stop flag of the type allows it, the module's
// own misuse errors included (they are TERMINAL), so a caller that switches
// stopping off always gets control back: a refused push is then remembered
// and its pop absorbed, a failed pop leaves the stack as it was, and N1RCD
// with a bad argument returns the code it has just set.
#include "support/error_module.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace orvek {

namespace {

constexpr int kNameLength = 32;
constexpr int kMaxText = 255;   // a text placeholder is cut to this length
constexpr int kTypes = 7;       // types with their own name and flags
constexpr int kFirstField = 59; // text on the first printed line
constexpr int kNextField = 64;  // text on a continuation line
constexpr std::string_view kFirstPrefix = " *** ";
constexpr std::string_view kNextPrefix = " ***          ";
constexpr std::string_view kTracePrefix = "     ";
constexpr std::string_view kUserName = "USER";
constexpr std::string_view kStopText = "Stop - Program terminated.\n";

// Type names, 8 columns each; index 0 is used for any type outside 1..7.
constexpr std::array<std::string_view, kTypes + 1> kTypeNames = {
    "UNKNOWN ", "NOTE    ", "ALERT   ", "WARNING ", "FATAL   ", "TERMINAL", "WARNING ", "FATAL   "};
constexpr std::array<bool, kTypes + 1> kDefaultPrint = {false, false, false, true, true, true, true, true};
constexpr std::array<bool, kTypes + 1> kDefaultStop = {false, false, false, false, true, true, false, true};

// Messages of the module's own misuse errors.
constexpr std::int32_t kCodeStackFull = 1;
constexpr std::string_view kMsgStackFull =
    "Error condition in E1PSH.  Push would cause stack level to exceed %(I1).";
constexpr std::int32_t kCodePopEmpty = 1;
constexpr std::string_view kMsgPopEmpty =
    "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.";
constexpr std::int32_t kCodePopMismatch = 2;
constexpr std::string_view kMsgPopMismatch =
    "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.";
constexpr std::int32_t kCodeN1rcdArgument = 1;
constexpr std::string_view kMsgN1rcdArgument = ".  The argument passed to N1RCD must be 0 or 1.";
constexpr std::int32_t kCodeL15xgAction = 1;
constexpr std::string_view kMsgL15xgAction =
    "The value of IACT must be 0 to read from or 1 to write to the hold area.  IACT currently has a value of "
    "%(I1).";
constexpr std::string_view kL15xgName = "L15XG";

std::string_view TrimRight(std::string_view s) {
  const auto end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : s.substr(0, end + 1);
}

// The stored form of a routine name: cut to 32, trailing blanks removed.
std::string_view StoredName(std::string_view name) {
  return TrimRight(name.substr(0, std::min<std::size_t>(name.size(), kNameLength)));
}

void DefaultSink(void *, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void DefaultStop(void *) {
  std::fwrite(kStopText.data(), 1, kStopText.size(), stdout);
  std::fflush(stdout);
  std::exit(1);
}

bool KnownType(std::int32_t type) {
  return type >= 1 && type <= kTypes;
}

std::string_view TypeName(std::int32_t type) {
  return kTypeNames[KnownType(type) ? type : 0];
}

std::string RightAligned(std::int32_t value, std::size_t width) {
  std::string s = std::to_string(value);
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

// Breaks header + message into the lines of the printed form.
std::vector<std::string> BreakLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t mark = text.find("%/", start);
    std::string_view rest =
        text.substr(start, mark == std::string_view::npos ? std::string_view::npos : mark - start);
    do {
      const std::size_t width = lines.empty() ? kFirstField : kNextField;
      std::string_view piece;
      if (rest.size() <= width) {
        piece = rest;
        rest = {};
      } else {
        const std::size_t blank = rest.find_last_of(' ', width);
        if (blank == std::string_view::npos || blank == 0 || TrimRight(rest.substr(0, blank)).empty()) {
          piece = rest.substr(0, width); // a word longer than the field
          rest = rest.substr(width);
        } else {
          piece = rest.substr(0, blank);
          rest = rest.substr(blank);
          const auto word = rest.find_first_not_of(' ');
          rest = word == std::string_view::npos ? std::string_view{} : rest.substr(word);
        }
      }
      lines.emplace_back(TrimRight(piece));
    } while (!rest.empty());
    if (mark == std::string_view::npos) break;
    start = mark + 2;
  }
  return lines;
}

} // namespace

// Real placeholders: the shortest decimal that reads back as the same float,
// in scientific form with at least one fraction digit and a signed exponent
// of at least two digits ("1.0E+16", "-2.5E-03", "3.4028235E+38"); "NaN",
// "Infinity" and "-Infinity" for the non-finite values.
std::string FormatRealPlaceholder(float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buffer[48];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string s(buffer, result.ptr);
  const auto e = s.find('e');
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1); // sign and at least two digits
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  return mantissa + "E" + exponent;
}

struct ErrorModule::Level {
  std::array<char, kNameLength> name{};
  std::int32_t type = -1;
  std::int32_t code = -1;
  bool user = false;

  std::string_view trimmed() const { return TrimRight(std::string_view(name.data(), name.size())); }
  void set_name(std::string_view s) {
    name.fill(' ');
    const std::string_view stored = StoredName(s);
    std::copy(stored.begin(), stored.end(), name.begin());
  }
};

struct ErrorModule::State {
  std::array<Level, kMaxDepth + 1> levels{}; // levels[1..50]
  std::int32_t depth = 1;
  std::int32_t hold = 0;
  // Pushes refused at the full stack while stopping is off; their pops are
  // absorbed so that the frames above stay paired.
  std::int32_t refused_pushes = 0;
  std::string pending;
  std::array<std::int32_t, kPlaceholders + 1> int_values{};
  std::array<float, kPlaceholders + 1> real_values{};
  std::array<std::string, kPlaceholders + 1> text_values{};
  std::array<bool, kTypes + 1> print = kDefaultPrint;
  std::array<bool, kTypes + 1> stop = kDefaultStop;
  Sink sink = DefaultSink;
  void *sink_context = nullptr;
  StopHandler stop_handler = DefaultStop;
  void *stop_context = nullptr;
  std::string last_message;
  std::string last_routine;
  std::int32_t last_type = 0;
  std::int32_t last_code = 0;

  Level &current() { return levels[static_cast<std::size_t>(depth)]; }

  std::string Fill(std::string_view msg) const {
    std::string out;
    out.reserve(msg.size());
    for (std::size_t p = 0; p < msg.size(); ++p) {
      if (msg[p] == '%' && p + 4 < msg.size() && msg[p + 1] == '(' && msg[p + 4] == ')' &&
          msg[p + 3] >= '1' && msg[p + 3] <= '9') {
        const auto i = static_cast<std::size_t>(msg[p + 3] - '0');
        const char kind = msg[p + 2];
        if (kind == 'I' || kind == 'R' || kind == 'L') {
          if (kind == 'I') out += std::to_string(int_values[i]);
          if (kind == 'R') out += FormatRealPlaceholder(real_values[i]);
          if (kind == 'L') out += text_values[i];
          p += 4;
          continue;
        }
      }
      out += msg[p];
    }
    if (out.size() > static_cast<std::size_t>(kMaxMessage)) out.resize(kMaxMessage);
    return out;
  }

  // Prints the pending message under the type and code of the current level,
  // with the traceback for FATAL and TERMINAL; clears it.
  void Print() {
    if (pending.empty()) return;
    const Level &lv = current();
    std::string text(1, ' ');
    text += std::to_string(lv.code);
    text += " from ";
    text += lv.trimmed();
    if (!pending.starts_with(".  ")) text += ".  ";
    text += pending;
    pending.clear();

    std::string out = "\n";
    const std::vector<std::string> lines = BreakLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
      std::string line =
          n == 0 ? std::string(kFirstPrefix) + std::string(TypeName(lv.type)) + " ERROR" + lines[n]
                 : std::string(kNextPrefix) + lines[n];
      out += TrimRight(line);
      out += '\n';
    }
    if (lv.type == kFatal || lv.type == kTerminal || lv.type == 7) {
      out += std::string(kTracePrefix) + "Here is a traceback of subprogram calls in reverse order:\n";
      out += std::string(kTracePrefix) + "Routine name               " + " " + "    Error type  Error code\n";
      out += std::string(kTracePrefix) + "------------" + "  " + std::string(14, ' ') +
             "    ----------  ----------\n";
      for (std::int32_t k = depth; k >= 1; --k) {
        const Level &tl = levels[static_cast<std::size_t>(k)];
        out += kTracePrefix;
        out.append(tl.name.data(), tl.name.size());
        out += RightAligned(tl.type, 6) + std::string(6, ' ') + RightAligned(tl.code, 6);
        if (k > 1 && !levels[static_cast<std::size_t>(k - 1)].user) out += "    (Called internally)";
        out += '\n';
      }
    }
    sink(sink_context, out);
  }
};

ErrorModule::ErrorModule() : state_(new State) {
  Level &user = state_->levels[1];
  user.set_name(kUserName);
  user.type = 0;
  user.code = 0;
  user.user = true;
  for (std::size_t k = 2; k <= kMaxDepth; ++k) state_->levels[k].set_name("");
}

ErrorModule::~ErrorModule() {
  delete state_;
}

void ErrorModule::E1PSH(std::string_view name) {
  State &s = *state_;
  if (s.depth >= kMaxDepth) {
    SetIntegerPlaceholder(1, kMaxDepth);
    E1MES(kTerminal, kCodeStackFull, kMsgStackFull);
    ++s.refused_pushes;
    if (stop_flag(kTerminal)) stop();
    return;
  }
  ++s.depth;
  Level &lv = s.current();
  lv.set_name(name);
  lv.type = 0;
  lv.code = 0;
}

void ErrorModule::E1POP(std::string_view name) {
  State &s = *state_;
  if (s.refused_pushes > 0) {
    --s.refused_pushes;
    return;
  }
  const std::int32_t l = s.depth;
  if (l <= 1) {
    SetTextPlaceholder(1, StoredName(name));
    E1MES(kTerminal, kCodePopEmpty, kMsgPopEmpty);
    if (stop_flag(kTerminal)) stop();
    return;
  }
  Level &lv = s.current();
  if (StoredName(name) != lv.trimmed()) {
    SetTextPlaceholder(1, StoredName(name));
    SetTextPlaceholder(2, lv.trimmed());
    E1MES(kTerminal, kCodePopMismatch, kMsgPopMismatch);
    if (stop_flag(kTerminal)) stop();
    return;
  }
  Level &caller = s.levels[static_cast<std::size_t>(l - 1)];
  const std::int32_t t = lv.type;
  if (t != 0) {
    // An error travels up to the caller; a NOTE does not.
    if (t >= 2 && t <= 7) {
      caller.type = t;
      caller.code = lv.code;
    }
    // Below TERMINAL the routine the user called prints and stops; a
    // TERMINAL error stops at the return of the routine that raised it.
    if (t <= 4) {
      if (caller.user && print_flag(t)) s.Print();
      if (caller.user && stop_flag(t)) stop();
    } else {
      if (print_flag(t)) s.Print();
      // Types 6 and 7 do not stop here: only a TERMINAL error stops away
      // from the user level.
      if (t == kTerminal && stop_flag(t)) stop();
    }
  }
  if (l < kMaxDepth) {
    Level &below = s.levels[static_cast<std::size_t>(l + 1)];
    below.type = -1;
    below.code = -1;
  }
  --s.depth;
}

void ErrorModule::E1MES(std::int32_t iertyp, std::int32_t iercod, std::string_view msg) {
  State &s = *state_;
  Level &lv = s.current();
  if (iertyp != -1) lv.type = iertyp;
  if (iercod >= 0) lv.code = iercod;
  if (lv.type == 0 || lv.code == 0) {
    s.pending.clear();
    return;
  }
  s.pending = s.Fill(msg);
  s.last_message = s.pending;
  s.last_routine = std::string(lv.trimmed());
  s.last_type = lv.type;
  s.last_code = lv.code;
  if (lv.type >= kTerminal && print_flag(lv.type)) s.Print();
}

void ErrorModule::SetIntegerPlaceholder(std::int32_t i, std::int32_t value) {
  if (i >= 1 && i <= kPlaceholders) state_->int_values[static_cast<std::size_t>(i)] = value;
}

void ErrorModule::SetRealPlaceholder(std::int32_t i, float value) {
  if (i >= 1 && i <= kPlaceholders) state_->real_values[static_cast<std::size_t>(i)] = value;
}

void ErrorModule::SetTextPlaceholder(std::int32_t i, std::string_view text) {
  if (i >= 1 && i <= kPlaceholders)
    state_->text_values[static_cast<std::size_t>(i)] =
        std::string(text.substr(0, std::min<std::size_t>(text.size(), kMaxText)));
}

std::int32_t ErrorModule::N1RCD(std::int32_t i) {
  State &s = *state_;
  if (i == 0) return s.current().code;
  if (i == 1) return s.depth < kMaxDepth ? s.levels[static_cast<std::size_t>(s.depth + 1)].code : -1;
  E1MES(kTerminal, kCodeN1rcdArgument, kMsgN1rcdArgument);
  if (stop_flag(kTerminal)) stop();
  return s.current().code;
}

void ErrorModule::L15XG(std::int32_t iact, std::int32_t &ivalue) {
  E1PSH(kL15xgName);
  if (iact == 0) {
    ivalue = state_->hold;
  } else {
    if (iact != 1) {
      SetIntegerPlaceholder(1, iact);
      E1MES(kWarning, kCodeL15xgAction, kMsgL15xgAction);
    }
    state_->hold = ivalue;
  }
  E1POP(kL15xgName);
}

void ErrorModule::set_print(std::int32_t type, bool on) {
  if (KnownType(type)) state_->print[static_cast<std::size_t>(type)] = on;
}

void ErrorModule::set_stop(std::int32_t type, bool on) {
  if (KnownType(type)) state_->stop[static_cast<std::size_t>(type)] = on;
}

bool ErrorModule::print_flag(std::int32_t type) const {
  return KnownType(type) && state_->print[static_cast<std::size_t>(type)];
}

bool ErrorModule::stop_flag(std::int32_t type) const {
  return KnownType(type) && state_->stop[static_cast<std::size_t>(type)];
}

void ErrorModule::set_sink(Sink sink, void *context) {
  state_->sink = sink != nullptr ? sink : DefaultSink;
  state_->sink_context = sink != nullptr ? context : nullptr;
}

void ErrorModule::set_stop_handler(StopHandler handler, void *context) {
  state_->stop_handler = handler != nullptr ? handler : DefaultStop;
  state_->stop_context = handler != nullptr ? context : nullptr;
}

void ErrorModule::write(std::string_view text) {
  state_->sink(state_->sink_context, text);
}

std::int32_t ErrorModule::depth() const {
  return state_->depth;
}

std::int32_t ErrorModule::type_at(std::int32_t level) const {
  return level >= 1 && level <= kMaxDepth ? state_->levels[static_cast<std::size_t>(level)].type : -1;
}

std::int32_t ErrorModule::code_at(std::int32_t level) const {
  return level >= 1 && level <= kMaxDepth ? state_->levels[static_cast<std::size_t>(level)].code : -1;
}

std::string ErrorModule::routine_at(std::int32_t level) const {
  return level >= 1 && level <= kMaxDepth
             ? std::string(state_->levels[static_cast<std::size_t>(level)].trimmed())
             : std::string();
}

const std::string &ErrorModule::pending_message() const {
  return state_->pending;
}
const std::string &ErrorModule::last_message() const {
  return state_->last_message;
}
const std::string &ErrorModule::last_routine() const {
  return state_->last_routine;
}
std::int32_t ErrorModule::last_type() const {
  return state_->last_type;
}
std::int32_t ErrorModule::last_code() const {
  return state_->last_code;
}

void ErrorModule::stop() {
  state_->stop_handler(state_->stop_context);
}

ErrorModule &errors() {
  // Created on first use and never destroyed: the error state lives as long
  // as the process, and the pointer keeps it reachable.
  static ErrorModule *const instance = new ErrorModule;
  return *instance;
}

} // namespace orvek
