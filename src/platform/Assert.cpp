#include "platform/Assert.h"

#include <cstdio>
#include <mutex>

namespace kelvo {

namespace {
std::mutex gAssertMutex;
TAssertHandler gAssertHandler;
}  // namespace

void SetAssertHandler(TAssertHandler handler) {
  std::lock_guard<std::mutex> lock(gAssertMutex);
  gAssertHandler = std::move(handler);
}

// Not inlined, so that the return address names the failing caller.
__attribute__((noinline)) void AssertFailed(const char* message, const char* file, int line) {
  auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  TAssertHandler handler;
  {
    std::lock_guard<std::mutex> lock(gAssertMutex);
    handler = gAssertHandler;
  }
  try {
    if (handler) {
      handler(message ? message : "", file ? file : "", line, address);
    } else {
      std::fprintf(stderr, "kelvo: %s (%s, line %d, address $%jx)\n", message ? message : "",
                   file ? file : "", line, static_cast<std::uintmax_t>(address));
    }
  } catch (...) {
    // The report must not replace the assertion's own exception.
  }
  throw TAssertException();
}

}  // namespace kelvo
