#pragma once
// Shared between the units of the configuration store; not for other callers.

#include <atomic>
#include <mutex>

#include "foundation/Config.h"

namespace kelvo::config_detail {

// The application-state set: the bits (readable from any thread) and the
// lock that makes each add or remove one step.
std::atomic<TAppState>& StateBits();
std::mutex& StateMutex();

}  // namespace kelvo::config_detail
