#include "foundation/HandlerList.h"

#include <algorithm>
#include <mutex>

namespace kelvo {

namespace {

struct THandlers {
  std::mutex mutex;
  std::vector<HWND> handles;
};

// Created on first use and never destroyed, so that windows unregistering
// during static destruction still find it.
THandlers& Handlers() {
  static THandlers* handlers = new THandlers();
  return *handlers;
}

}  // namespace

void THandlerList::Add(HWND wnd) {
  if (wnd == 0) return;
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (std::find(h.handles.begin(), h.handles.end(), wnd) == h.handles.end()) {
    h.handles.push_back(wnd);
  }
}

void THandlerList::Remove(HWND wnd) {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.handles.erase(std::remove(h.handles.begin(), h.handles.end(), wnd), h.handles.end());
}

bool THandlerList::Contains(HWND wnd) {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  return std::find(h.handles.begin(), h.handles.end(), wnd) != h.handles.end();
}

std::size_t THandlerList::Count() {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  return h.handles.size();
}

std::vector<HWND> THandlerList::Handles() {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  return h.handles;
}

std::size_t THandlerList::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  std::size_t posted = 0;
  for (HWND wnd : h.handles) {
    if (PostMessage(wnd, msg, wParam, lParam)) ++posted;
  }
  return posted;
}

void THandlerList::Clear() {
  THandlers& h = Handlers();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.handles.clear();
}

}  // namespace kelvo
