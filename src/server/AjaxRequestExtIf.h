#pragma once
// The callback side of the server transport: whoever performs an HTTP
// exchange for a requester (the libcurl workers of TWeb, later the pages'
// own requests) hands the answer to QueryCallback, which turns it into the
// message the requester asked for.
//
// The message carries wParam = a key of TPostedText (the receiver calls
// TPostedText::Take(wParam) exactly once to get the answer text) and
// lParam = the status (1 for an exchange that completed with an HTTP 2xx
// answer, 0 otherwise). Stateless; any thread may call it.

#include <cstdint>
#include <string>

#include "platform/Window.h"

namespace kelvo {

class TAjaxRequestExtIf {
 public:
  // The automation results of the interface.
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);

  // Keeps the content for the receiver, posts callbackMsg to callbackHandle
  // and answers kOk. A window that no longer exists cannot receive the
  // answer: its text is dropped at once (a warning is logged) and the call
  // still answers kOk, as the sender has nothing better to do with it. Any
  // failure is logged and answers kFail, never an exception.
  std::int32_t QueryCallback(const std::string& content, HWND callbackHandle, UINT callbackMsg,
                             std::int32_t status);
};

}  // namespace kelvo
