#include "sync/BookmarksShellNotifier.h"

#include <utility>

#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/KException.h"
#include "foundation/Log.h"
#include "sync/SHChangeNotify.h"

namespace kelvo {

namespace {

constexpr std::uintptr_t kBatchTimerId = 1;

struct TEventMapping {
  std::uint32_t event;
  TShellChangeKind kind;
  bool isFolder;
};

constexpr TEventMapping kEventMappings[] = {
    {SHCNE_CREATE, TShellChangeKind::Create, false},
    {SHCNE_MKDIR, TShellChangeKind::Create, true},
    {SHCNE_DELETE, TShellChangeKind::Delete, false},
    {SHCNE_RMDIR, TShellChangeKind::Delete, true},
    {SHCNE_RENAMEITEM, TShellChangeKind::Rename, false},
    {SHCNE_RENAMEFOLDER, TShellChangeKind::Rename, true},
    {SHCNE_UPDATEITEM, TShellChangeKind::Change, false},
    {SHCNE_UPDATEDIR, TShellChangeKind::Change, true},
};

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

const char* ShellChangeKindName(TShellChangeKind kind) {
  switch (kind) {
    case TShellChangeKind::Create:
      return "CREATE";
    case TShellChangeKind::Delete:
      return "DELETE";
    case TShellChangeKind::Rename:
      return "RENAME";
    case TShellChangeKind::Change:
      return "CHANGE";
  }
  return "?";
}

TShellChange::TShellChange(TShellChangeKind kind, bool isFolder, std::string newPath,
                           std::string oldPath)
    : kind_(kind), isFolder_(isFolder), newPath_(std::move(newPath)), oldPath_(std::move(oldPath)) {}

bool TShellChange::Equals(const IShellChange& other) const {
  return kind_ == other.Kind() && isFolder_ == other.IsFolder() && newPath_ == other.NewPath() &&
         oldPath_ == other.OldPath();
}

std::string TShellChange::Text() const {
  std::string text = std::string("Type:") + ShellChangeKindName(kind_);
  if (isFolder_) text += " (folder)";
  return text + " " + newPath_ + " " + oldPath_;
}

std::string RelativeShellPath(const std::string& folder, const std::string& absolutePath) {
  if (folder.empty() || absolutePath.size() < folder.size() ||
      absolutePath.compare(0, folder.size(), folder) != 0)
    return {};
  // Keep the folder's trailing "/" as the leading one of the relative path.
  return absolutePath.substr(folder.size() - 1);
}

TBookmarksShellNotifier::TBookmarksShellNotifier(std::string folderPath)
    : folderPath_(WithTrailingSlash(std::move(folderPath))) {
  window_ = CreateWindowObject("TBookmarksShellNotifier",
                               [this](HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
                                 return WndProc(wnd, msg, wParam, lParam);
                               });
  THandlerList::Add(window_);
}

TBookmarksShellNotifier::~TBookmarksShellNotifier() {
  Stop();
  THandlerList::Remove(window_);
  HWND wnd = window_;
  window_ = 0;
  DestroyWindowObject(wnd);
}

void TBookmarksShellNotifier::Start() {
  if (stopped_ || TConfig::HasState(asClosing) || active_) return;
  auto notify = std::make_unique<TSHChangeNotify>(window_, folderPath_);
  if (notify->MessageNo() == TSHChangeNotify::kDefaultMessageNo)
    notify->SetMessageNo(kNotifyMessageNo);
  for (const auto& mapping : kEventMappings) {
    const TShellChangeKind kind = mapping.kind;
    const bool isFolder = mapping.isFolder;
    if (kind == TShellChangeKind::Rename) {
      notify->SetHandler(mapping.event, TSHChangeNotify::TTwoPathHandler(
                                            [this, kind, isFolder](const std::string& newPath,
                                                                   const std::string& oldPath) {
                                              Inform(kind, isFolder, oldPath, newPath);
                                            }));
    } else {
      notify->SetHandler(mapping.event,
                         TSHChangeNotify::TOnePathHandler([this, kind, isFolder](
                                                              const std::string& path) {
                           Inform(kind, isFolder, "", path);
                         }));
    }
  }
  notify->Register();  // throws when the folder cannot be watched; stays inactive
  notify_ = std::move(notify);
  active_ = true;
  TLog::Debug("TBookmarksShellNotifier.Start:" + folderPath_);
}

void TBookmarksShellNotifier::Stop() {
  active_ = false;
  notify_.reset();
}

void TBookmarksShellNotifier::Inform(TShellChangeKind kind, bool isFolder,
                                     const std::string& oldPath, const std::string& newPath) {
  try {
    if (stopped_ || TConfig::HasState(asClosing) || !active_) return;
    std::string relNew = RelativeShellPath(folderPath_, newPath);
    std::string relOld = RelativeShellPath(folderPath_, oldPath);
    if (relNew.empty() && relOld.empty()) return;
    TLog::Debug(std::string(ShellChangeKindName(kind)) + ":old=" + oldPath + ",new=" + newPath);
    if (kind == TShellChangeKind::Rename && (relNew.empty() || relOld.empty())) {
      // Half of a rename lies outside the folder: for the Favorites the item
      // arrived (moved in) or left (moved out).
      if (relOld.empty()) {
        kind = TShellChangeKind::Create;
      } else {
        kind = TShellChangeKind::Delete;
        relNew = std::move(relOld);
      }
      relOld.clear();
    }
    auto change = std::make_shared<TShellChange>(kind, isFolder, relNew, relOld);
    if (!pending_.empty() && pending_.back()->Equals(*change)) return;
    if (pending_.empty()) firstRecord_ = std::chrono::steady_clock::now();
    pending_.push_back(std::move(change));
    KillTimer(window_, kBatchTimerId);
    SetTimer(window_, kBatchTimerId, kBatchDelayMs);
  } catch (const TKException& e) {
    TLog::LogException(e, "TBookmarksShellNotifier.Inform:" + newPath + "," + oldPath);
  }
}

void TBookmarksShellNotifier::DelayFinished() {
  KillTimer(window_, kBatchTimerId);
  // A nested loop inside the owner's callback: the batch under way goes
  // first, the new records follow when it is done.
  if (delivering_) return;
  TLog::Debug("TBookmarksShellNotifier:DelayFinished");
  if (pending_.empty()) return;
  int duplicates = 0;
  for (std::size_t i = pending_.size() - 1; i >= 1; --i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (pending_[j]->Equals(*pending_[i])) {
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
        ++duplicates;
        break;
      }
    }
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - firstRecord_)
                .count();
  std::string texts;
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    if (i) texts += "\r\n";
    texts += pending_[i]->Text();
  }
  TLog::Info("Unduplicated changes(" + std::to_string(ms) + "ms) " + std::to_string(duplicates) +
             " duplicates " + texts);
  batch_ = std::move(pending_);
  pending_.clear();
  if (onChanges_) {
    delivering_ = true;
    try {
      onChanges_(*this);
    } catch (const std::exception& e) {
      TLog::LogException(e, "TBookmarksShellNotifier.DelayFinished");
    }
    delivering_ = false;
  }
  batch_.clear();
  // Records taken while the owner worked (it may pump messages) make the
  // next batch.
  if (!pending_.empty()) {
    firstRecord_ = std::chrono::steady_clock::now();
    SetTimer(window_, kBatchTimerId, kBatchDelayMs);
  }
}

LRESULT TBookmarksShellNotifier::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (notify_) {
      LRESULT result = 0;
      if (notify_->HandleMessage(msg, wParam, lParam, result)) return result;
    }
    switch (msg) {
      case WM_TIMER:
        if (wParam == kBatchTimerId) {
          DelayFinished();
          return 0;
        }
        break;
      case KM_APP_STATE_CHANGED:
        // Removing the flag is announced the same way; only its presence stops.
        if ((static_cast<TAppState>(wParam) & asClosing) && TConfig::HasState(asClosing)) {
          stopped_ = true;
          Stop();
          return 1;
        }
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBookmarksShellNotifier.WndProc");
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

}  // namespace kelvo
