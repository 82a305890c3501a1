#include "sync/SHChangeNotify.h"

#include <atomic>
#include <system_error>
#include <utility>

#include "foundation/Log.h"

namespace kelvo {

namespace {

// Serials of posted notifications, unique in the process, so that a
// message posted for an earlier registration is never taken for a later one.
std::atomic<std::uint64_t> gNextSerial{1};

bool IsTwoPathEvent(std::uint32_t event) {
  return event == SHCNE_RENAMEITEM || event == SHCNE_RENAMEFOLDER || event == SHCNE_ASSOCCHANGED;
}

// A path ends at its first NUL. Paths are not cut to a length: Linux paths
// may be far longer than 260 characters, and a cut path names another item.
std::string CutPath(std::string path) {
  auto nul = path.find('\0');
  if (nul != std::string::npos) path.resize(nul);
  return path;
}

}  // namespace

TSHChangeNotify::TSHChangeNotify(HWND owner, std::string path)
    : owner_(owner), path_(std::move(path)) {}

TSHChangeNotify::~TSHChangeNotify() { Deregister(); }

void TSHChangeNotify::SetMessageNo(UINT messageNo) {
  if (messageNo < WM_USER)
    throw TSHChangeNotifyException("MessageNo must be greater than or equal to " +
                                   std::to_string(WM_USER));
  messageNo_ = messageNo;
}

void TSHChangeNotify::SetHandler(std::uint32_t event, TOnePathHandler handler) {
  if (handler)
    onePath_[event] = std::move(handler);
  else
    onePath_.erase(event);
}

void TSHChangeNotify::SetHandler(std::uint32_t event, TTwoPathHandler handler) {
  if (handler)
    twoPath_[event] = std::move(handler);
  else
    twoPath_.erase(event);
}

std::uint32_t TSHChangeNotify::EventMask() const {
  std::uint32_t mask = 0;
  for (const auto& [event, handler] : onePath_) mask |= event;
  for (const auto& [event, handler] : twoPath_) mask |= event;
  return mask;
}

void TSHChangeNotify::Register() {
  Deregister();
  try {
    if (path_.empty()) throw std::system_error(std::make_error_code(std::errc::invalid_argument));
    watch_ = CreateShellWatch(path_, EventMask(),
                              [this](const TShellEvent& event) { OnShellEvent(event); });
  } catch (const std::exception& e) {
    Deregister();
    TLog::Warning("TSHChangeNotify.Register:" + path_ + ":" + e.what());
    throw TSHChangeNotifyException("Could not register SHChangeNotify", e);
  }
}

void TSHChangeNotify::Deregister() {
  watch_.reset();
  queued_.clear();
  hasLast_ = false;
}

void TSHChangeNotify::OnShellEvent(const TShellEvent& event) {
  std::uint64_t serial = gNextSerial++;
  queued_.push_back({serial, event});
  if (!PostMessage(owner_, messageNo_, static_cast<WPARAM>(serial),
                   static_cast<LPARAM>(event.event))) {
    queued_.pop_back();  // no owner: nobody would take it
  }
}

std::string TSHChangeNotify::ApplyCase(std::string path) const {
  if (textCase_ == 1) {
    for (char& c : path)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  } else if (textCase_ == 2) {
    for (char& c : path)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}

bool TSHChangeNotify::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_QUERYENDSESSION) {
    Deregister();
    result = 1;
    return true;
  }
  if (msg != messageNo_) return false;
  result = 0;
  const auto serial = static_cast<std::uint64_t>(wParam);
  while (!queued_.empty() && queued_.front().serial < serial) queued_.pop_front();
  if (queued_.empty() || queued_.front().serial != serial) return true;  // stale
  TShellEvent event = std::move(queued_.front().event);
  queued_.pop_front();
  event.event = static_cast<std::uint32_t>(lParam) & 0x7FFFFFFFu;
  Dispatch(std::move(event));
  // A burst ends when everything read from the watch was dispatched; the
  // repeat filter works within a burst only, so a later edit of the same
  // item (same event, same path) is never taken for a repeat.
  if (queued_.empty()) hasLast_ = false;
  return true;
}

void TSHChangeNotify::Dispatch(TShellEvent event) {
  event.path1 = ApplyCase(CutPath(std::move(event.path1)));
  event.path2 = ApplyCase(CutPath(std::move(event.path2)));
  // Linux file names are case-sensitive: "a.url" and "A.url" are two items,
  // so paths compare exactly.
  if (hasLast_ && last_.event == event.event && last_.path1 == event.path1 &&
      last_.path2 == event.path2)
    return;
  hasLast_ = true;
  last_ = event;
  if (IsTwoPathEvent(event.event)) {
    auto it = twoPath_.find(event.event);
    if (it != twoPath_.end()) it->second(event.path1, event.path2);
  } else {
    auto it = onePath_.find(event.event);
    if (it != onePath_.end()) it->second(event.path1);
  }
}

}  // namespace kelvo
