// Fuzz target of the error module on its own instance: a decoded sequence
// of pushes, pops, messages (long ones, every placeholder kind, "%/"
// breaks, words longer than a line), placeholder settings, N1RCD, L15XG and
// switch changes, with printing captured by a sink and stops by a handler
// that returns. Checks: the depth stays within 1..50; every printed line
// fits its field (78 columns with the prefixes; traceback
// lines may widen for codes or types of more than six digits); a message is never printed
// twice; a stop is only requested when the stop flag of the type allows it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/byte_stream.hpp"
#include "fuzz/harness.hpp"
#include "support/error_module.hpp"

namespace {

using namespace orvek;
using namespace orvek::fuzz;

constexpr std::size_t kLineWidth = 78; // " *** " + type + " ERROR" + 59, or 14 + 64

struct Capture {
  std::size_t prints = 0;
  std::size_t stops = 0;
  std::string last;
};

void Sink(void *context, std::string_view text) {
  auto &c = *static_cast<Capture *>(context);
  ++c.prints;
  Expect(!text.empty() && text.front() == '\n' && text.back() == '\n', "a print is not whole lines after an empty one");
  std::size_t start = 1;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    // Message lines have fixed fields; traceback lines widen with 7-digit codes.
    const bool message_line = text.substr(start, 5) == " *** ";
    if (message_line && end - start > kLineWidth) {
      std::fprintf(stderr, "[%.*s]\n", static_cast<int>(end - start), text.data() + start);
      Fail("a printed line is wider than its field");
    }
    start = end + 1;
  }
  c.last.assign(text);
}

void Stop(void *context) { ++static_cast<Capture *>(context)->stops; }

// Text of decoded length: bytes below 0x80 pick from an alphabet that leans
// towards what the formatter treats specially, the others are literal.
std::string Text(ByteReader &in, std::size_t max) {
  static constexpr char kAlphabet[] = "%(IRL123456789)/. abcXYZ-_%(I1)%(R2)%(L3)%/   ";
  std::size_t length = in.byte();
  if (length >= 0xC0) length = (length - 0xC0) * 64 + in.byte();
  length = std::min(length, max);
  std::string s;
  s.reserve(length);
  for (std::size_t k = 0; k < length; ++k) {
    const std::uint8_t b = in.byte();
    s += b < 0x80 ? kAlphabet[b % (sizeof kAlphabet - 1)] : static_cast<char>(b & 0x7F ? b & 0x7F : ' ');
  }
  return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  ByteReader in(data, size);
  ErrorModule err;
  Capture capture;
  err.set_sink(Sink, &capture);
  err.set_stop_handler(Stop, &capture);
  std::string names[ErrorModule::kMaxDepth + 8];
  std::int32_t pushed = 0;
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const std::size_t prints = capture.prints, stops = capture.stops;
    const std::uint8_t op = in.byte() % 10;
    switch (op) {
    case 0: { // push
      std::string name = Text(in, 40);
      err.E1PSH(name);
      if (pushed < static_cast<std::int32_t>(sizeof names / sizeof names[0])) names[pushed] = name;
      ++pushed;
      break;
    }
    case 1: { // pop, usually of the name on top
      const bool own = in.byte() < 0xE0 && pushed > 0 && pushed <= static_cast<std::int32_t>(sizeof names / sizeof names[0]);
      const std::string name = own ? names[pushed - 1] : Text(in, 40);
      err.E1POP(name);
      if (own) --pushed;
      break;
    }
    case 2: {
      const std::int32_t type = in.byte() < 0xF0 ? in.byte() % 9 - 1 : in.integer();
      const std::int32_t code = in.byte() < 0xF0 ? in.byte() % 6 - 1 : in.integer();
      const std::string msg = Text(in, 3000);
      err.E1MES(type, code, msg);
      break;
    }
    case 3: err.SetIntegerPlaceholder(in.integer() % 12, in.integer()); break;
    case 4: err.SetRealPlaceholder(in.integer() % 12, in.real()); break;
    case 5: {
      const std::int32_t i = in.integer() % 12;
      err.SetTextPlaceholder(i, Text(in, 600));
      break;
    }
    case 6: (void)err.N1RCD(in.byte() < 0xF0 ? in.byte() % 3 : in.integer()); break;
    case 7: {
      std::int32_t value = in.integer();
      err.L15XG(in.byte() < 0xF0 ? in.byte() % 3 : in.integer(), value);
      break;
    }
    case 8: err.set_print(in.byte() % 9, in.byte() & 1); break;
    default: err.set_stop(in.byte() % 9, in.byte() & 1); break;
    }
    Expect(err.depth() >= 1 && err.depth() <= ErrorModule::kMaxDepth, "depth outside 1..50");
    Expect(capture.prints <= prints + 1, "one operation printed twice");
    if (capture.stops > stops) {
      bool any_stop = false;
      for (std::int32_t t = 1; t <= 7; ++t) any_stop = any_stop || err.stop_flag(t);
      Expect(any_stop, "a stop with every stop flag off");
    }
    Expect(err.pending_message().size() <= static_cast<std::size_t>(ErrorModule::kMaxMessage), "pending message longer than 1024");
  }
  return 0;
}
