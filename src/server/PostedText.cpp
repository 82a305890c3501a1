#include "server/PostedText.h"

#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

namespace kelvo {

namespace {

struct TEntry {
  HWND wnd = 0;
  std::string text;
};

struct TStore {
  std::mutex m;
  std::uint64_t lastKey = 0;
  std::map<std::uint64_t, TEntry> entries;
};

// Never destroyed: a worker that ends during process exit may still keep
// its answer here.
TStore& Store() {
  static TStore* store = new TStore;
  return *store;
}

// Caller holds the lock.
std::size_t DropOrphansLocked(TStore& store) {
  std::size_t dropped = 0;
  for (auto it = store.entries.begin(); it != store.entries.end();) {
    if (!IsWindow(it->second.wnd)) {
      it = store.entries.erase(it);
      ++dropped;
    } else {
      ++it;
    }
  }
  return dropped;
}

}  // namespace

WPARAM TPostedText::Put(HWND wnd, std::string text) {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  DropOrphansLocked(store);
  const std::uint64_t key = ++store.lastKey;
  store.entries.emplace(key, TEntry{wnd, std::move(text)});
  return static_cast<WPARAM>(key);
}

std::string TPostedText::Take(WPARAM key) {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  auto it = store.entries.find(static_cast<std::uint64_t>(key));
  if (it == store.entries.end()) return "";
  std::string text = std::move(it->second.text);
  store.entries.erase(it);
  return text;
}

void TPostedText::Drop(WPARAM key) {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  store.entries.erase(static_cast<std::uint64_t>(key));
}

void TPostedText::DropWindow(HWND wnd) {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  std::erase_if(store.entries, [wnd](const auto& entry) { return entry.second.wnd == wnd; });
}

std::size_t TPostedText::DropOrphans() {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  return DropOrphansLocked(store);
}

void TPostedText::Clear() {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  store.entries.clear();
}

std::size_t TPostedText::Count() {
  TStore& store = Store();
  std::lock_guard<std::mutex> lock(store.m);
  return store.entries.size();
}

}  // namespace kelvo
