#include "bookmarks/ReadBookmarksThread.h"

#include <thread>

#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"
#include "foundation/Translate.h"

namespace kelvo {

namespace {

std::mutex& SlotLock() {
  static std::mutex lock;
  return lock;
}
TFileTreePtr& Slot() {
  static TFileTreePtr tree;
  return tree;
}

}  // namespace

TFileTreePtr CurrentFavoritesTree() {
  std::lock_guard<std::mutex> guard(SlotLock());
  return Slot();
}

void SetCurrentFavoritesTree(const TFileTreePtr& tree) {
  std::lock_guard<std::mutex> guard(SlotLock());
  Slot() = tree;
}

TReadBookmarksThread::TReadBookmarksThread(std::string directory, TOnTerminate onTerminate)
    : directory_(std::move(directory)), onTerminate_(std::move(onTerminate)) {}

std::shared_ptr<TReadBookmarksThread> TReadBookmarksThread::Start(const std::string& directory,
                                                                  TOnTerminate onTerminate) {
  std::shared_ptr<TReadBookmarksThread> self(new TReadBookmarksThread(directory, std::move(onTerminate)));
  // The thread holds its own reference: it frees itself when it ends,
  // whether or not the starter kept the handle.
  std::thread([self] { self->Run(); }).detach();
  return self;
}

std::shared_ptr<TReadBookmarksThread> TReadBookmarksThread::Start(const std::string& directory, HWND window,
                                                                  UINT message) {
  return Start(directory, [window, message](const TFileTreePtr& tree) {
    PostMessage(window, message, tree ? 1 : 0, 0);
  });
}

TFileTreePtr TReadBookmarksThread::ReadTree(const std::string& directory) {
  TLog::Info("TReadBookmarksThread.Reading bookmarks:start");
  auto tree = std::make_shared<TFileTree>(directory, Translate("My Favorites"));
  SetCurrentFavoritesTree(tree);
  TLog::Info("TReadBookmarksThread.Init hashes:start");
  tree->InitHashes();
  TLog::Info("TReadBookmarksThread.Unduplicating:start");
  Unduplicate(*tree);
  TLog::Info("TReadBookmarksThread.Finished");
  return tree;
}

void TReadBookmarksThread::Run() {
  TFileTreePtr tree;
  {
    TThreadRegistration registration(kClassName);
    try {
      tree = ReadTree(directory_);
    } catch (...) {
      // Ends silently: the slot holds whatever was stored.
      tree = nullptr;
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    tree_ = tree;
  }
  if (onTerminate_) {
    try {
      onTerminate_(tree);
    } catch (...) {
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
  }
  finishedCv_.notify_all();
}

bool TReadBookmarksThread::WaitFinished(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(lock_);
  return finishedCv_.wait_for(guard, timeout, [this] { return finished_; });
}

bool TReadBookmarksThread::Finished() const {
  std::lock_guard<std::mutex> guard(lock_);
  return finished_;
}

TFileTreePtr TReadBookmarksThread::Tree() const {
  std::lock_guard<std::mutex> guard(lock_);
  return tree_;
}

}  // namespace kelvo
