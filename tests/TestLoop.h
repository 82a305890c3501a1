// Waiting on the message loop in tests: pump until a condition holds (with
// a deadline, never a bare sleep), or pump for a while to show that nothing
// more arrives.
#pragma once

#include <chrono>
#include <functional>

#include "platform/Window.h"

namespace kelvo::test {

inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    PumpMessages(20);
  }
  return true;
}

inline void PumpFor(std::chrono::milliseconds span) {
  const auto deadline = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < deadline) PumpMessages(10);
}

}  // namespace kelvo::test
