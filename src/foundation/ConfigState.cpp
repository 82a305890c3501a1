// Changes of the application-state set: kept apart from the settings because
// they reach the window layer (the broadcast) and the log.

#include "foundation/Config.h"
#include "foundation/ConfigInternal.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

void Announce(TAppState flag, LPARAM argument, TAppState state, const char* verb) {
  THandlerList::Post(KM_APP_STATE_CHANGED, static_cast<WPARAM>(flag), argument);
  TLog::Info("Application state=" + TConfig::StateNames(state) + " (" + verb + ":" +
             TConfig::StateNames(flag) + ")");
}

}  // namespace

void TConfig::AddState(TAppState flag, LPARAM argument) {
  TAppState state;
  {
    std::lock_guard<std::mutex> lock(config_detail::StateMutex());
    auto& bits = config_detail::StateBits();
    state = bits.load();
    if ((state & flag) == flag) return;
    // A finished synchronization and a pending or running one exclude each
    // other; the one that gives way goes without an announcement.
    if (flag == asSyncronized) {
      state &= ~(asSyncRequired | asSyncRunning);
    } else if (flag == asSyncRequired) {
      state &= ~(asSyncRunning | asSyncronized);
    } else if (flag == asSyncRunning) {
      state &= ~(asSyncRequired | asSyncronized);
    }
    state |= flag;
    bits.store(state);
  }
  Announce(flag, argument, state, "added");
}

void TConfig::RemoveState(TAppState flag, LPARAM argument) {
  TAppState state;
  {
    std::lock_guard<std::mutex> lock(config_detail::StateMutex());
    auto& bits = config_detail::StateBits();
    state = bits.load();
    if (flag == 0 || (state & flag) != flag) return;
    state &= ~flag;
    bits.store(state);
  }
  Announce(flag, argument, state, "removed");
}

}  // namespace kelvo
