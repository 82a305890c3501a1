#include "foundation/KException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <utility>

namespace kelvo {

TKException::TKException(std::string message) : message_(std::move(message)) {}

TKException::TKException(std::string message, const std::exception& inner)
    : message_(std::move(message)), hasOrigin_(true) {
  if (auto* k = dynamic_cast<const TKException*>(&inner)) {
    origin_ = k->FullMessage();
  } else {
    origin_ = inner.what();
  }
}

std::string TKException::FullMessage() const {
  if (!hasOrigin_) return message_;
  return message_ + " (raised from " + origin_ + ")";
}

std::string ExceptionClassName(const std::exception& e) {
  if (auto* k = dynamic_cast<const TKException*>(&e)) return k->ClassName();
  int status = 0;
  const char* mangled = typeid(e).name();
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

}  // namespace kelvo
