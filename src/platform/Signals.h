#pragma once
// Termination signals (SIGTERM, SIGINT) delivered into the message loop, so
// that a stopped agent runs its ordinary shutdown on the main thread instead
// of dying inside a signal handler.

#include <functional>

namespace kelvo {

// From now on SIGTERM and SIGINT call the handler from the message loop
// (main thread) with the signal number, once per signal received; an empty
// handler restores the default action. Safe to call again to replace it.
void OnTerminationSignal(std::function<void(int signalNumber)> handler);

}  // namespace kelvo
