#pragma once
// Assertions for preconditions that only a programming error can break. A
// failed assertion goes to the handler the agent installs (it logs it) and
// then raises TAssertException "Assert exception", which the message
// handlers' guards catch like any other failure. Any thread.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kelvo {

class TAssertException : public std::logic_error {
 public:
  TAssertException() : std::logic_error("Assert exception") {}
};

// message (the failed condition), source file, line, code address.
using TAssertHandler =
    std::function<void(const std::string& message, const char* file, int line,
                       std::uintptr_t address)>;
// An empty handler restores the default (one line on stderr).
void SetAssertHandler(TAssertHandler handler);

// Reports to the handler, then throws TAssertException.
[[noreturn]] void AssertFailed(const char* message, const char* file, int line);

}  // namespace kelvo

#define KELVO_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : ::kelvo::AssertFailed(#condition, __FILE__, __LINE__))
