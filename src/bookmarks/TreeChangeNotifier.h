#pragma once
// Change notification of a tree root: edits are bracketed by BeginUpdate /
// EndUpdate, and listeners (the sidebar, the controller) hear one "begin
// update" and one "end update" per outermost bracket.
//
// Listeners are added, removed and called on the thread that uses the tree
// (the agent's main thread once the reader thread has handed it over); the
// list is not locked.

#include <cstdint>
#include <string>

#include "bookmarks/BNode.h"

namespace kelvo {

enum TChangeKind : std::uint8_t {
  ckBeginUpdate = 0,
  ckEndUpdate = 1,
};

enum TChangeScope : std::uint8_t {
  csNone = 0,
  csData = 1,
  csStructure = 2,
  csTerminated = 3,
};

// Display names used in log text: "begin update", "end update"; "none",
// "data", "structure", "terminated". An unknown value gives "".
const char* ChangeKindName(TChangeKind kind);
const char* ChangeScopeName(TChangeScope scope);

// What a listener receives, by value.
struct TChange {
  TChangeKind Kind = ckBeginUpdate;
  TChangeScope Scope = csNone;
  std::string Text;
  TNodeList Nodes;  // empty = none
};

// A listener: a method of an object, compared by (code, object) so that the
// same method of the same object is registered once and removed completely.
// Make one with TTreeChangeMethod::Of<TClass, &TClass::Method>(object).
struct TTreeChangeMethod {
  using TCode = void (*)(void* object, const TChange& change);

  TCode Code = nullptr;
  void* Object = nullptr;

  template <class T, void (T::*Method)(const TChange&)>
  static TTreeChangeMethod Of(T* object) {
    return TTreeChangeMethod{&Thunk<T, Method>, object};
  }

  void operator()(const TChange& change) const { Code(Object, change); }
  bool operator==(const TTreeChangeMethod& other) const = default;

 private:
  // One function per (class, method): its address is the "code" half.
  template <class T, void (T::*Method)(const TChange&)>
  static void Thunk(void* object, const TChange& change) {
    (static_cast<T*>(object)->*Method)(change);
  }
};

class ITreeChangeNotifier {
 public:
  virtual ~ITreeChangeNotifier() = default;

  // Appends the method unless an equal one is registered already.
  virtual void AddListener(const TTreeChangeMethod& method) = 0;
  // Removes every registered method equal to it.
  virtual void RemoveListener(const TTreeChangeMethod& method) = 0;
  // The outermost call notifies "begin update" (scope "none").
  virtual void BeginUpdate() = 0;
  // The call that closes the outermost bracket rebuilds keys, counts and
  // indexes, then notifies "end update" (scope "structure").
  virtual void EndUpdate() = 0;
  // Tells the listeners that the tree is finished with ("end update", scope
  // "terminated"); inside an update this waits for the closing EndUpdate.
  // Afterwards the tree stays inside an update for good.
  virtual void NotifyTerminated() = 0;
};
using ITreeChangeNotifierPtr = std::shared_ptr<ITreeChangeNotifier>;

// Holds one update bracket for a scope. End() closes it and lets a failure
// of the rebuild reach the caller; the destructor closes a bracket still
// open and logs such a failure instead, so that an exception thrown inside
// the bracket never leaves the tree stuck in an update.
class TTreeUpdateBracket {
 public:
  // A null notifier makes the bracket do nothing (trees without one).
  explicit TTreeUpdateBracket(ITreeChangeNotifier* notifier);
  ~TTreeUpdateBracket();
  TTreeUpdateBracket(const TTreeUpdateBracket&) = delete;
  TTreeUpdateBracket& operator=(const TTreeUpdateBracket&) = delete;

  void End();

 private:
  ITreeChangeNotifier* notifier_;
};

}  // namespace kelvo
