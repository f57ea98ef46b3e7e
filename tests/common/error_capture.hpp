// Routes the printing of an ErrorModule into a string and counts its stops
// instead of ending the process, for as long as the capture lives.
#pragma once

#include <string>
#include <string_view>

#include "support/error_module.hpp"

namespace orvek::test {

class ErrorCapture {
public:
  explicit ErrorCapture(ErrorModule &err) : err_(err) {
    err_.set_sink(&ErrorCapture::Append, this);
    err_.set_stop_handler(&ErrorCapture::CountStop, this);
  }
  ErrorCapture(const ErrorCapture &) = delete;
  ErrorCapture &operator=(const ErrorCapture &) = delete;
  ~ErrorCapture() {
    err_.set_sink(nullptr, nullptr);
    err_.set_stop_handler(nullptr, nullptr);
  }

  // Returns what was printed so far and forgets it.
  std::string take() {
    std::string out;
    out.swap(text);
    return out;
  }

  std::string text; // everything printed, in order
  int stops = 0;    // how often the module asked to stop

private:
  static void Append(void *self, std::string_view piece) {
    static_cast<ErrorCapture *>(self)->text.append(piece);
  }
  static void CountStop(void *self) { ++static_cast<ErrorCapture *>(self)->stops; }
  ErrorModule &err_;
};

} // namespace orvek::test
