#pragma once
// The machinery that would run the client actions of answers: the locked
// queue of actions, the registry that routes an action to the screen area
// waiting for it (by its client-area text), the runner the main agent calls
// on a server-status notification, and the client singletons that keep the
// registry, the queue and the archive for the life of the process.
//
// Receivers in this agent interpret their answers directly, so in normal
// operation the queue and the registry stay empty; they are complete so that
// an answer can be handed to them (QueueClientActions).
//
// The queue may be filled from any thread; the runner, the handlers and the
// actions run on the main thread, outside the queue lock.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/ClientActn.h"

namespace kelvo {

// A screen area's handler: called once per run with the actions of the
// answer that carry its tag text, in queue order.
using TServerResponseHandler = std::function<void(const std::vector<IClientActionPtr>& actions)>;

// Maps a tag text to a handler. Any thread.
class TServerResponseHandlers {
 public:
  // Names may repeat; the first registered of a name is the one found.
  void Register(const std::string& name, TServerResponseHandler handler);
  // Removes every registration of the name; false when there was none.
  bool Unregister(const std::string& name);
  std::size_t Count() const;
  // The handler whose name equals the action's tag text (the first
  // registered when several do); none when the action has no tag or no
  // name matches.
  TServerResponseHandler FindHandler(const IClientAction& action) const;

 private:
  struct TEntry {
    std::string name;
    TServerResponseHandler handler;
  };
  mutable std::mutex mutex_;
  std::vector<TEntry> entries_;
};
using TServerResponseHandlersPtr = std::shared_ptr<TServerResponseHandlers>;

// The process-wide list of client actions waiting to run. Every operation
// takes the one lock; done actions leave the queue.
class TClientActionQueue {
 public:
  // None is ignored.
  void Add(const IClientActionPtr& action);
  std::size_t Count() const;
  std::vector<IClientActionPtr> Actions() const;
  // Every action in state new, marked running, in queue order.
  std::vector<IClientActionPtr> TakeNew();
  // Marks the actions done and takes them out of the queue.
  void MarkDone(const std::vector<IClientActionPtr>& actions);

 private:
  mutable std::mutex mutex_;
  std::vector<IClientActionPtr> actions_;
};
using TClientActionQueuePtr = std::shared_ptr<TClientActionQueue>;

// Process-wide objects of the client side, freed in the shutdown sequence.
// Class operations only; any thread.
class TClientSingletons {
 public:
  TClientSingletons() = delete;

  // Created on first use. Raises TClientException "TClientSingletons:" +
  // "Client.ServerResponseHandlers:freed" after FreeSingletons, and
  // "TClientSingletons:ServerResponseHandlers:not assigned" while it is
  // being created.
  static TServerResponseHandlersPtr ServerResponseHandlers();

  // Set by the main agent at start-up (none takes it away again).
  static void SetClientActionQueue(TClientActionQueuePtr queue);
  // Raises TClientException "TClientSingletons:ClientActionList not found"
  // before one was set.
  static TClientActionQueuePtr GetClientActionQueue();

  // The archive module keeps its own singleton; it hands in how to free it
  // so that it goes in this shutdown step, before the registry.
  static void SetArchiveTerminator(std::function<void()> terminate);

  // Frees the archive and the registry (debug lines "Terminating
  // ArchiveSingleton", "Terminating ServerResponseHandlersSingleton"); an
  // exception is logged with context "Client.FreeSingletons".
  static void FreeSingletons();

  // Tests: back to the state at process start.
  static void ResetForTesting();
};

// What the last run of the runner saw among the actions it collected.
bool ClientActionsSawRequestSync();
bool ClientActionsSawDisplayError();

// Runs the new actions of the queue: each goes to its area's handler, or
// executes itself; nothing runs while the application is closing, and a run
// stops as soon as it is. Main thread.
void RunClientActions();

// The actions of the answer appended to the process-wide queue; answers
// how many. Raises TClientException when no queue was set.
std::size_t QueueClientActions(const TXmlDocument& answer);

}  // namespace kelvo
