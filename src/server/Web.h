#pragma once
// The calling side of the server transport: every request to the link
// server, the REST counters, the code table and the download site. Each
// request runs on a worker thread of its own over libcurl; when the exchange
// ends the answer reaches the requesting window through
// TAjaxRequestExtIf::QueryCallback as the requested message, wParam a key of
// TPostedText (take the text with TPostedText::Take), lParam 1 when the
// server answered with an HTTP 2xx status and 0 otherwise (the body of a
// non-2xx answer is still delivered).
//
// An exchange that fails (bad address, name not resolved, connection
// refused, time-out, transfer error, answer larger than kMaxAnswerBytes)
// answers, with lParam 0, the document
//   <?xml version="1.0" encoding="utf-8"?><error reason="R">text</error>
// where R is "timeout", "refused", "resolve", "address", "too-large" or
// "failed", and the text is libcurl's description of the failure.
//
// The whole exchange is limited by the setting "http-timeout" of the agent
// key, in seconds (30 when missing, not a number or not positive). Nothing
// is matched but by window and message: several requests may be
// outstanding at once, each answer with its own text.
//
// Requests are made on the main thread; Shutdown ends every outstanding
// request (their answers are not delivered) and waits for its worker.

#include <cstddef>
#include <string>

#include "platform/Window.h"

namespace kelvo {

inline constexpr int kDefaultHttpTimeoutSeconds = 30;

class TWeb {
 public:
  TWeb() = delete;

  static constexpr std::size_t kMaxAnswerBytes = 64u << 20;

  // POSTs content as the value of the form parameter parameterName
  // (application/x-www-form-urlencoded: the UTF-8 bytes of name and value,
  // percent-encoded once).
  static void doPost(const std::string& address, const std::string& parameterName,
                     const std::string& content, HWND window, UINT message);
  static void doGet(const std::string& address, HWND window, UINT message);

  // "http-timeout" as used for the next request.
  static int GetHttpTimeoutSeconds();
  // The form encoding of one name or value: letters, digits and "-._~" as
  // they are, every other byte as "%" + two upper-case hexadecimal digits.
  static std::string FormEncode(const std::string& text);
  // The document answered for a failed exchange.
  static std::string ErrorDocument(const std::string& reason, const std::string& text);

  // Requests whose worker has not ended yet.
  static std::size_t Outstanding();
  // Cancels every outstanding request and waits for the workers (at most
  // about a second each: libcurl looks at the cancel flag that often while
  // idle). Later requests work again.
  static void Shutdown();
};

}  // namespace kelvo
