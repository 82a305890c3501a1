#pragma once
// The debugger output of the agent: standard error, only while the
// environment variable KELVO_DEBUG_OUTPUT is "1" (checked at each call).
// Any thread; one line per call, never interleaved with another call's.

#include <string>

namespace kelvo {

void DebugOutput(const std::string& text);
// Whether DebugOutput writes at the moment.
bool DebugOutputEnabled();

}  // namespace kelvo
