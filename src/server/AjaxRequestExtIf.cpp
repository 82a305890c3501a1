#include "server/AjaxRequestExtIf.h"

#include <exception>

#include "foundation/Log.h"
#include "server/PostedText.h"

namespace kelvo {

std::int32_t TAjaxRequestExtIf::QueryCallback(const std::string& content, HWND callbackHandle,
                                              UINT callbackMsg, std::int32_t status) {
  try {
    const WPARAM key = TPostedText::Put(callbackHandle, content);
    if (!PostMessage(callbackHandle, callbackMsg, key, static_cast<LPARAM>(status))) {
      TPostedText::Drop(key);
      TLog::Warning("TAjaxRequestExtIf.QueryCallback:no window " + std::to_string(callbackHandle) +
                    " for message " + std::to_string(callbackMsg));
    }
    return kOk;
  } catch (const std::exception& e) {
    TLog::LogException(e, "TAjaxRequestExtIf.QueryCallback");
  } catch (...) {
    TLog::Error("TAjaxRequestExtIf.QueryCallback:unknown exception");
  }
  return kFail;
}

}  // namespace kelvo
