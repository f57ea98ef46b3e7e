// Argument guard of the exported routines: checks raised under the routine's
// own name through the error module.
#include "frame/argument_guard.hpp"

namespace orvek::frame {

ArgumentGuard::ArgumentGuard(ErrorModule &err, std::string_view routine) : err_(err), routine_(routine) {
  err_.E1PSH(routine_);
}

ArgumentGuard::~ArgumentGuard() {
  if (!left_) passed();
}

bool ArgumentGuard::reject_if(bool bad, const Rejection &rejection, std::initializer_list<std::int32_t> values) {
  if (!bad) return true;
  std::int32_t index = 1;
  for (const std::int32_t value : values) err_.SetIntegerPlaceholder(index++, value);
  err_.E1MES(kTerminal, rejection.code, rejection.text);
  failed_ = true;
  return false;
}

bool ArgumentGuard::passed() {
  if (!left_) {
    left_ = true;
    err_.E1POP(routine_);
  }
  return !failed_;
}

} // namespace orvek::frame
