#pragma once
// Shell change notifications for one folder tree, delivered as window
// messages to an owner window and dispatched from there to one handler per
// shell event. The owner's window procedure hands every message to
// HandleMessage first (our windows cannot be subclassed, so the owner calls
// the component instead of the component hooking the owner). Main thread.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "foundation/KException.h"
#include "platform/ShellWatch.h"
#include "platform/Window.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TSHChangeNotifyException, TKException);

class TSHChangeNotify {
 public:
  static constexpr UINT kDefaultMessageNo = WM_USER;

  // For renames (new path, old path); for the other events the item's path.
  using TOnePathHandler = std::function<void(const std::string& path)>;
  using TTwoPathHandler =
      std::function<void(const std::string& newPath, const std::string& oldPath)>;

  // Watches the folder tree at path once registered; an empty path is
  // refused at registration (watching every drive has no meaning here).
  TSHChangeNotify(HWND owner, std::string path);
  ~TSHChangeNotify();
  TSHChangeNotify(const TSHChangeNotify&) = delete;
  TSHChangeNotify& operator=(const TSHChangeNotify&) = delete;

  HWND Owner() const { return owner_; }
  const std::string& Path() const { return path_; }
  UINT MessageNo() const { return messageNo_; }
  // Throws TSHChangeNotifyException "MessageNo must be greater than or
  // equal to 1024" for smaller numbers.
  void SetMessageNo(UINT messageNo);
  // 0 keeps the paths as they are, 1 upper-cases and 2 lower-cases them
  // (ASCII letters only).
  int TextCase() const { return textCase_; }
  void SetTextCase(int textCase) { textCase_ = textCase; }

  // One handler per event; setting one replaces the earlier one. Renames
  // (SHCNE_RENAMEITEM, SHCNE_RENAMEFOLDER, SHCNE_ASSOCCHANGED) take the
  // two-path kind, the others the one-path kind. Set them before Register.
  void SetHandler(std::uint32_t event, TOnePathHandler handler);
  void SetHandler(std::uint32_t event, TTwoPathHandler handler);
  // The union of the events that have a handler.
  std::uint32_t EventMask() const;

  // Starts the notifications; throws TSHChangeNotifyException "Could not
  // register SHChangeNotify" (deregistered again) when the folder cannot be
  // watched. Registering again first deregisters.
  void Register();
  // Stops them; nothing already queued is delivered afterwards.
  void Deregister();
  bool IsRegistered() const { return watch_ != nullptr; }

  // The owner's procedure calls this with every message. Answers true for
  // the messages the component takes (its message number, and
  // WM_QUERYENDSESSION, on which it deregisters and answers 1), with the
  // answer in `result`; the owner then returns it. Other messages: false.
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  struct TQueued {
    std::uint64_t serial;
    TShellEvent event;
  };

  void OnShellEvent(const TShellEvent& event);
  void Dispatch(TShellEvent event);
  std::string ApplyCase(std::string path) const;

  HWND owner_;
  std::string path_;
  UINT messageNo_ = kDefaultMessageNo;
  int textCase_ = 0;
  std::map<std::uint32_t, TOnePathHandler> onePath_;
  std::map<std::uint32_t, TTwoPathHandler> twoPath_;
  std::unique_ptr<IShellWatch> watch_;
  // Events read from the watch and posted to the owner, not yet dispatched.
  std::deque<TQueued> queued_;
  // The previous notification of the current burst, for the repeat filter.
  bool hasLast_ = false;
  TShellEvent last_;
};

}  // namespace kelvo
