#include "sync/BookmarksCtrl.h"

#include <charconv>
#include <mutex>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/ReadBookmarksThread.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "foundation/SyncMode.h"
#include "server/ClientActn.h"
#include "server/PostedText.h"
#include "server/ServerUrls.h"
#include "server/SrvActnLinks.h"
#include "server/Web.h"

namespace kelvo {

namespace {

std::mutex& StarterLock() {
  static std::mutex lock;
  return lock;
}
TSafetyBackupStarter& Starter() {
  static TSafetyBackupStarter starter;
  return starter;
}

// A path list as one line of comma-separated names, quoted where a name
// holds a blank, a comma or a quote.
std::string CommaText(const TStringList& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& name = names[i];
    if (name.find_first_of(" ,\"") == std::string::npos && !name.empty()) {
      text += name;
      continue;
    }
    text += '"';
    for (char c : name) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

// The whole text as a decimal integer, else 0.
std::int64_t IntegerOrZero(const std::string& text) {
  std::int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || text.empty()) return 0;
  return value;
}

}  // namespace

void SetSafetyBackupStarter(TSafetyBackupStarter starter) {
  std::lock_guard<std::mutex> guard(StarterLock());
  Starter() = std::move(starter);
}

// --- Creation and shutdown ---------------------------------------------------

TBookmarksCtrl::TBookmarksCtrl(std::string favoritesPath, std::string metaFileName, HWND mainForm)
    : favoritesPath_(WithTrailingSlash(favoritesPath)), mainForm_(mainForm) {
  window_ = CreateWindowObject(kWindowClass, [this](HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return WndProc(wnd, msg, wParam, lParam);
  });
  if (window_ == 0) throw TBookmarksCtrlException("TBookmarksCtrl.Create:no message window");
  THandlerList::Add(window_);
  metas_ = std::make_unique<TBNodeMetas>(std::move(metaFileName));
  TConfig::SetExternalBksChanged(false);
  // The server layer asks us for the sync-id text and for the public links;
  // both are read on the main thread, where scripts are written.
  SetSyncIdTextSource([this] { return shutDown_ ? std::string() : CalculateSyncId(); });
  SetXLinksWriter([this](const TXmlElement& element) { metas_->WriteXLinks(element); });

  if (SyncOff() && !TIdentification::GetNickname().empty()) {
    PostMessage(mainForm_, kConnectMessage, 0, 0);
    ready_ = true;
    return;
  }
  ReadBookmarks();
}

TBookmarksCtrl::~TBookmarksCtrl() {
  try {
    if (!shutDown_) Shutdown();
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBookmarksCtrl.Destroy");
  }
  SetSyncIdTextSource(nullptr);
  SetXLinksWriter(nullptr);
  metas_.reset();
  THandlerList::Remove(window_);
  TPostedText::DropWindow(window_);
  DestroyWindowObject(window_);
  watcher_.reset();
}

void TBookmarksCtrl::Shutdown() {
  if (watcher_) watcher_->Stop();
  ready_ = false;
  shutDown_ = true;
  if (tree_) tree_->NotifyTerminated();
  tree_.reset();
  SetCurrentFavoritesTree(nullptr);
}

bool TBookmarksCtrl::SyncOff() const {
  return SyncModeFromName(TConfig::GetSyncMode()) == TSyncMode::NoSync;
}

// --- Reading and integration ------------------------------------------------

void TBookmarksCtrl::ReadBookmarks() {
  TLog::Debug("TBookmarksCtrl.ReadBookmarks:starting read thread");
  reader_ = TReadBookmarksThread::Start(favoritesPath_, window_, kReadFinishedMessage);
}

void TBookmarksCtrl::OnReadFinished() {
  std::shared_ptr<TReadBookmarksThread> reader = std::move(reader_);
  if (shutDown_ || !reader) return;
  TFileTreePtr tree = reader->Tree();
  if (!tree) {
    // Without a tree there is nothing to compare with the server: stay
    // offline rather than let a sync treat the Favorites as empty.
    TLog::Error("TBookmarksCtrl.ReadBookmarks:could not read the Favorites:" + favoritesPath_);
    return;
  }
  TakeTree(tree);
  Integrate();
}

void TBookmarksCtrl::TakeTree(const TFileTreePtr& tree) {
  tree_ = tree;
  SetCurrentFavoritesTree(tree);
}

TFileTreePtr TBookmarksCtrl::Tree(bool readIfMissing) {
  if (!tree_ && readIfMissing && !shutDown_) ReadSynchronously();
  return tree_;
}

void TBookmarksCtrl::ReadSynchronously() {
  TFileTreePtr tree = TReadBookmarksThread::ReadTree(favoritesPath_);
  TakeTree(tree);
  // A read started earlier on the reader thread is superseded.
  reader_.reset();
  Integrate();
}

void TBookmarksCtrl::Integrate() {
  IntegrateMeta();
  StartWatcher(true);
  // Only the first read of a run can show what happened while the agent
  // was off; a later one (a restore) reads the agent's own writes.
  if (!integrated_) DetectExternalChanges();
  if (!ready_) {
    PostMessage(mainForm_, kConnectMessage, 0, 0);
    ready_ = true;
  }
  if (!integrated_) {
    integrated_ = true;
    if (!TConfig::GetSafetyBackupDone()) {
      TSafetyBackupStarter starter;
      {
        std::lock_guard<std::mutex> guard(StarterLock());
        starter = Starter();
      }
      if (starter) {
        try {
          starter(favoritesPath_);
        } catch (const std::exception& e) {
          TLog::LogException(e, "TBookmarksCtrl.SafetyBackup");
        }
      } else {
        TLog::Debug("TBookmarksCtrl.SafetyBackup:no install backup copier");
      }
    }
  }
}

void TBookmarksCtrl::IntegrateMeta() {
  if (!tree_) return;
  TLog::Debug("TBookmarksCtrl.Integrate meta");
  // Looked up first, so that a batch that leaves the records as they are
  // does not pay for a second rebuild of the tree's keys.
  struct TFolderUpdate {
    std::shared_ptr<IFolderEx> folder;
    IBNodeMetaPtr record;
  };
  std::vector<TFolderUpdate> updates;
  TNameTbls orphans;
  const TBNodeMetaList records = metas_->Items();
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const IBNodeMetaPtr& record = *it;
    if (record->GetIsFolder()) {
      IFolderPtr folder = tree_->FindFolder(record->GetPathHash());
      if (!folder) {
        orphans.push_back(record->GetPath());
        continue;
      }
      auto folderEx = std::dynamic_pointer_cast<IFolderEx>(folder);
      if (!folderEx) continue;
      if (record->GetIsPrivate()) {
        // Inside a private folder it is private already; the integration
        // after a move out sets its own flag.
        if (!folderEx->IsPrivate()) updates.push_back({folderEx, record});
      } else if (record->GetId() == -1) {
        TLog::Warning("TBookmarksCtrl.Initialize:no id for meta:" + CommaText(record->GetPath()));
      } else if (folderEx->GetId() != record->GetId() || folderEx->GetPublic() != record->GetIsPublic()) {
        updates.push_back({folderEx, record});
      }
    } else if (!tree_->FindNode(record->GetPathHash())) {
      // A bookmark's record stays as long as its bookmark does: it holds the
      // public link the server knows it by.
      orphans.push_back(record->GetPath());
    }
  }
  if (!orphans.empty() && metas_->RemoveUnderPaths(orphans, nullptr)) metas_->Save();
  if (updates.empty()) return;
  TTreeUpdateBracket bracket(tree_.get());
  for (const TFolderUpdate& update : updates) {
    if (update.record->GetIsPrivate()) {
      update.folder->SetPrivate(true);
    } else {
      update.folder->SetId(update.record->GetId());
      update.folder->SetPublic(update.record->GetIsPublic());
    }
  }
  bracket.End();
}

void TBookmarksCtrl::DetectExternalChanges() {
  const std::string lastId = TConfig::GetSyncBookmarks();
  const int lastCount = TConfig::GetBookmarkCount();
  const int thisCount = tree_ ? tree_->BookmarkCount() : 0;
  const std::string thisId = CalculateSyncId();
  // Nothing stored yet means no earlier run to compare with.
  if (!lastId.empty() && thisId != lastId && thisCount != lastCount) {
    TLog::Info("Local bookmarks changed (undetected by kelvo):this=" + thisId + ",last=" + lastId +
               "thisCnt=" + std::to_string(thisCount) + ",lastCnt=" + std::to_string(lastCount));
    TConfig::SetExternalBksChanged(true);
  } else {
    TConfig::SetExternalBksChanged(false);
  }
}

std::string TBookmarksCtrl::CalculateSyncId() {
  if (!tree_) return std::string();
  std::string id = tree_->GetHash(hkContentSum);
  const std::int32_t checksum = metas_->PublicChecksum();
  if (checksum != 0) id = std::to_string(static_cast<std::int64_t>(checksum) + IntegerOrZero(id));
  TConfig::SetSyncBookmarks(id);
  TConfig::SetBookmarkCount(tree_->BookmarkCount());
  return id;
}

// --- The watcher -------------------------------------------------------------

void TBookmarksCtrl::StartWatcher(bool start) {
  if (!start) {
    if (watcher_) watcher_->Stop();
    return;
  }
  if (shutDown_) return;
  try {
    if (!watcher_) {
      watcher_ = std::make_unique<TBookmarksShellNotifier>(favoritesPath_);
      watcher_->SetOnChanges([this](TBookmarksShellNotifier& notifier) { OnShellChanges(notifier); });
    }
    watcher_->Start();
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBookmarksCtrl.StartWatcher");
  }
}

void TBookmarksCtrl::WithFolderWrite(const std::function<void(TFileTree& tree)>& write) {
  TFileTreePtr tree = Tree(true);
  if (!tree) throw TBookmarksCtrlException("TBookmarksCtrl.WithFolderWrite:no Favorites tree");
  const bool wasActive = watcher_ && watcher_->IsActive();
  StartWatcher(false);
  try {
    TTreeUpdateBracket bracket(tree.get());
    write(*tree);
    bracket.End();
  } catch (...) {
    if (wasActive || !watcher_) StartWatcher(true);
    throw;
  }
  if (wasActive || !watcher_) StartWatcher(true);
}

// --- Messages ----------------------------------------------------------------

LRESULT TBookmarksCtrl::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    switch (msg) {
      case WM_TIMER:
        if (wParam == kRecheckTimerId) OnRecheckTimer();
        return 0;
      case kReadFinishedMessage:
        OnReadFinished();
        return 0;
      case kSyncResponseMessage:
        OnSyncResponse(wParam, lParam);
        return 0;
      case WM_QUERYENDSESSION: {
        TLog::Debug(std::string(kClassName) + "KMessageRx:WM_QUERYENDSESSION");
        LRESULT result = DefWindowProc(wnd, msg, wParam, lParam);
        TLog::Debug(std::string(kClassName) + "KMessageRx:WM_QUERYENDSESSION...returning " +
                    std::to_string(result));
        return result;
      }
      case WM_ENDSESSION:
        TLog::Debug(std::string(kClassName) + "KMessageRx:WM_ENDSESSION");
        return DefWindowProc(wnd, msg, wParam, lParam);
      default:
        break;
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, std::string(kClassName) + ".KMessageRx");
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

void TBookmarksCtrl::OnSyncResponse(WPARAM wParam, LPARAM /*lParam*/) {
  const std::string text = TPostedText::Take(wParam);
  if (shutDown_) return;
  TXmlDocument answer = ParseServerAnswer(text, "TBookmarksCtrl.KM_SYNC_RESPONSE");
  if (!answer) return;
  ApplyRequestSync(answer);
}

void TBookmarksCtrl::SendScript(ISrvScript& script) {
  TXmlDocument document;
  script.Write(document);
  const std::string text = XmlText(document);
  if (scriptObserver_) scriptObserver_(text);
  TWeb::doPost(TServerUrls::GetLinkServerAddress(), "script", text, window_, kSyncResponseMessage);
}

}  // namespace kelvo
