#pragma once
// The process-wide list of handler windows: the windows that hear about
// application-wide events (state changes, forms opening and closing). Any
// thread may add, remove or post; posting holds the list's lock, so a window
// removed by another thread never receives a message after Remove returns.

#include <cstddef>
#include <vector>

#include "platform/Window.h"

namespace kelvo {

class THandlerList {
 public:
  THandlerList() = delete;

  // A handle already in the list is not added twice (it would hear every
  // event twice); a zero handle is ignored.
  static void Add(HWND wnd);
  static void Remove(HWND wnd);
  static bool Contains(HWND wnd);
  static std::size_t Count();
  // A copy of the handles in list order.
  static std::vector<HWND> Handles();

  // Posts the message once to each handle, in list order; answers how many
  // posts succeeded. A window that is gone is skipped.
  static std::size_t Post(UINT msg, WPARAM wParam, LPARAM lParam);

  // Empties the list (process shutdown, tests).
  static void Clear();
};

}  // namespace kelvo
