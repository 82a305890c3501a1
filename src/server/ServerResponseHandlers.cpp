#include "server/ServerResponseHandlers.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>

#include "foundation/Config.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

constexpr const char* kSingletonsClass = "TClientSingletons";

enum class TRegistryState { None, Creating, Ready, Freed };

struct TSingletons {
  std::mutex mutex;
  TRegistryState registryState = TRegistryState::None;
  TServerResponseHandlersPtr registry;
  TClientActionQueuePtr queue;
  std::function<void()> archiveTerminator;
};

TSingletons& Singletons() {
  static TSingletons singletons;
  return singletons;
}

std::atomic<bool> gSawRequestSync{false};
std::atomic<bool> gSawDisplayError{false};

// The answer element an action was made from; a display-error action
// answers "error" as its name, so the name alone would hide it.
std::string ElementName(const IClientAction& action) {
  const TXmlDocument document = action.GetDocument();
  if (!document.IsNone() && !document.DocumentElement().IsNone()) {
    return document.DocumentElement().Name();
  }
  return action.GetName();
}

template <typename F>
void Guarded(const std::string& name, F&& f) {
  try {
    f();
  } catch (const TKException& e) {
    TLog::Warning("TKException executing action " + name + ":" + e.FullMessage());
  } catch (...) {
    TLog::Warning("Unknown exception executing action " + name);
  }
}

// The actions routed to one area's handler during a run.
struct THandlerGroup {
  std::string tagText;
  TServerResponseHandler handler;
  std::vector<IClientActionPtr> actions;
};

}  // namespace

// --- TServerResponseHandlers --------------------------------------------------

void TServerResponseHandlers::Register(const std::string& name, TServerResponseHandler handler) {
  if (!handler) return;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({name, std::move(handler)});
}

bool TServerResponseHandlers::Unregister(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto before = entries_.size();
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const TEntry& e) { return e.name == name; }),
                 entries_.end());
  return entries_.size() != before;
}

std::size_t TServerResponseHandlers::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

TServerResponseHandler TServerResponseHandlers::FindHandler(const IClientAction& action) const {
  const IClientAreaTagPtr tag = action.GetClientTag();
  if (!tag) return nullptr;
  const std::string text = tag->GetText();
  std::lock_guard<std::mutex> lock(mutex_);
  TServerResponseHandler found;
  // From the last registered to the first: the earliest match is kept.
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->name == text) found = it->handler;
  }
  return found;
}

// --- TClientActionQueue ---------------------------------------------------

void TClientActionQueue::Add(const IClientActionPtr& action) {
  if (!action) return;
  std::lock_guard<std::mutex> lock(mutex_);
  actions_.push_back(action);
}

std::size_t TClientActionQueue::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return actions_.size();
}

std::vector<IClientActionPtr> TClientActionQueue::Actions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return actions_;
}

std::vector<IClientActionPtr> TClientActionQueue::TakeNew() {
  std::vector<IClientActionPtr> taken;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const IClientActionPtr& action : actions_) {
    if (action->GetState() != kClientActnNew) continue;
    action->SetState(kClientActnRunning);
    taken.push_back(action);
  }
  return taken;
}

void TClientActionQueue::MarkDone(const std::vector<IClientActionPtr>& actions) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const IClientActionPtr& action : actions) action->SetState(kClientActnDone);
  // A done action is never run again; keeping it would grow the queue for
  // the life of the process.
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                [](const IClientActionPtr& a) {
                                  return a->GetState() == kClientActnDone;
                                }),
                 actions_.end());
}

// --- TClientSingletons ------------------------------------------------------

TServerResponseHandlersPtr TClientSingletons::ServerResponseHandlers() {
  TSingletons& s = Singletons();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    switch (s.registryState) {
      case TRegistryState::Ready:
        return s.registry;
      case TRegistryState::Freed:
        throw TClientException(std::string(kSingletonsClass) +
                               ":Client.ServerResponseHandlers:freed");
      case TRegistryState::Creating:
        throw TClientException(std::string(kSingletonsClass) +
                               ":ServerResponseHandlers:not assigned");
      case TRegistryState::None:
        s.registryState = TRegistryState::Creating;
        break;
    }
  }
  // Created outside the lock, so that a request during creation is answered
  // with an exception rather than a deadlock.
  TServerResponseHandlersPtr registry;
  try {
    registry = std::make_shared<TServerResponseHandlers>();
  } catch (...) {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.registryState = TRegistryState::None;
    throw;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.registryState == TRegistryState::Creating) {
    s.registry = registry;
    s.registryState = TRegistryState::Ready;
  } else if (s.registryState == TRegistryState::Freed) {
    throw TClientException(std::string(kSingletonsClass) + ":Client.ServerResponseHandlers:freed");
  }
  return s.registry;
}

void TClientSingletons::SetClientActionQueue(TClientActionQueuePtr queue) {
  TSingletons& s = Singletons();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.queue = std::move(queue);
}

TClientActionQueuePtr TClientSingletons::GetClientActionQueue() {
  TSingletons& s = Singletons();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.queue) throw TClientException(std::string(kSingletonsClass) + ":ClientActionList not found");
  return s.queue;
}

void TClientSingletons::SetArchiveTerminator(std::function<void()> terminate) {
  TSingletons& s = Singletons();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.archiveTerminator = std::move(terminate);
}

void TClientSingletons::FreeSingletons() {
  TSingletons& s = Singletons();
  // Each part is freed on its own, so that a failing archive does not keep
  // the registry alive.
  try {
    TLog::Debug("Terminating ArchiveSingleton");
    std::function<void()> terminate;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      terminate = std::move(s.archiveTerminator);
      s.archiveTerminator = nullptr;
    }
    if (terminate) terminate();
  } catch (const std::exception& e) {
    TLog::LogException(e, "Client.FreeSingletons");
  } catch (...) {
    TLog::Error("Client.FreeSingletons:unknown exception");
  }
  try {
    TLog::Debug("Terminating ServerResponseHandlersSingleton");
    TServerResponseHandlersPtr registry;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      registry = std::move(s.registry);
      s.registry.reset();
      s.registryState = TRegistryState::Freed;
    }
    registry.reset();
  } catch (const std::exception& e) {
    TLog::LogException(e, "Client.FreeSingletons");
  }
}

void TClientSingletons::ResetForTesting() {
  TSingletons& s = Singletons();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.registry.reset();
  s.registryState = TRegistryState::None;
  s.queue.reset();
  s.archiveTerminator = nullptr;
  gSawRequestSync = false;
  gSawDisplayError = false;
}

// --- Runner -----------------------------------------------------------------

bool ClientActionsSawRequestSync() { return gSawRequestSync; }
bool ClientActionsSawDisplayError() { return gSawDisplayError; }

void RunClientActions() {
  gSawRequestSync = false;
  gSawDisplayError = false;

  const TClientActionQueuePtr queue = TClientSingletons::GetClientActionQueue();
  const std::vector<IClientActionPtr> local = queue->TakeNew();
  for (const IClientActionPtr& action : local) {
    const std::string name = ElementName(*action);
    if (name == "request-sync") gSawRequestSync = true;
    if (name == "display-error") gSawDisplayError = true;
  }
  if (local.empty() || TConfig::HasState(asClosing)) return;

  const TServerResponseHandlersPtr registry = TClientSingletons::ServerResponseHandlers();
  std::vector<THandlerGroup> groups;
  for (const IClientActionPtr& action : local) {
    // The windows that would handle or show an action may be going away.
    if (TConfig::HasState(asClosing)) return;
    const std::string name = action->GetName();
    Guarded(name, [&] {
      if (TServerResponseHandler handler = registry->FindHandler(*action)) {
        const std::string text = action->GetClientTag()->GetText();
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const THandlerGroup& g) { return g.tagText == text; });
        if (group == groups.end()) {
          groups.push_back({text, std::move(handler), {}});
          group = groups.end() - 1;
        }
        group->actions.push_back(action);
      } else {
        action->Execute();
      }
    });
  }
  // Every area that had actions gets them, each once with its own list.
  for (const THandlerGroup& group : groups) {
    if (TConfig::HasState(asClosing)) return;
    Guarded(group.actions.front()->GetName(), [&] { group.handler(group.actions); });
  }

  if (TConfig::HasState(asClosing)) return;
  queue->MarkDone(local);
}

std::size_t QueueClientActions(const TXmlDocument& answer) {
  const TClientActionQueuePtr queue = TClientSingletons::GetClientActionQueue();
  const std::vector<IClientActionPtr> actions = MakeClientActions(answer);
  for (const IClientActionPtr& action : actions) queue->Add(action);
  return actions.size();
}

}  // namespace kelvo
