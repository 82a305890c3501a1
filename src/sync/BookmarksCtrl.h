#pragma once
// The bookmarks controller: the single owner of the local Favorites tree and
// of the node metadata store for the life of the agent. It reads the
// Favorites folder on the reader thread, folds the stored metadata into the
// tree, notices edits made while the agent was not running, tells the main
// form it may connect (KM_CONNECT), runs the change watcher and turns each
// batch of watched changes into one server script sent to the link server.
// It carries out the merge and the import chosen in the sync dialog, and
// handles the server's "request-sync" answers.
//
// Main thread only: the reader thread hands its tree over through a message
// to the controller's window, and nothing else touches the tree elsewhere.
// Every write into the Favorites folder runs with the watcher stopped and
// inside a tree update bracket (WithFolderWrite), so the controller never
// hears its own writes back as user changes.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bookmarks/BNodeMeta.h"
#include "bookmarks/FileTree.h"
#include "foundation/KException.h"
#include "foundation/XmlTools.h"
#include "platform/Window.h"
#include "server/SrvScript.h"
#include "sync/BookmarksShellNotifier.h"

namespace kelvo {

class TReadBookmarksThread;

KELVO_DECLARE_EXCEPTION(TBookmarksCtrlException, TKException);

// Starts the copy of the Favorites folder into the install-backup folder
// (the backups module sets it; it must not block, and records
// "safety-backup-done" itself when the copy succeeds). Main thread.
using TSafetyBackupStarter = std::function<void(const std::string& favoritesPath)>;
void SetSafetyBackupStarter(TSafetyBackupStarter starter);

class TBookmarksCtrl {
 public:
  static constexpr const char* kClassName = "TBookmarksCtrl";
  static constexpr const char* kWindowClass = "TBookmarksCtrlWindow";
  // The agent's message numbers this class speaks (KM_SYNC_RESPONSE,
  // KM_CONNECT), spelled here because the sync engine sits below the agent.
  static constexpr UINT kSyncResponseMessage = WM_USER + 35;
  static constexpr UINT kConnectMessage = WM_USER + 180;
  // The reader thread's end, posted to the controller's own window.
  static constexpr UINT kReadFinishedMessage = WM_USER + 181;
  // Masks of the Favorites writer: new and changed nodes, every node.
  static constexpr std::uint32_t kWriteChanged = 3;
  static constexpr std::uint32_t kWriteAll = 0x0FFFFFFF;
  // A .url file caught half-written is read again after this delay, a few
  // times at most.
  static constexpr std::uintptr_t kRecheckTimerId = 1;
  static constexpr std::uint32_t kRecheckDelayMs = 50;
  static constexpr int kRecheckTries = 5;

  // Creates the message window (registered as a handler window), opens the
  // metadata store and clears "external-bks-changed"; then, with the sync
  // mode "no-sync" and a stored nickname, posts KM_CONNECT to mainForm at
  // once (the Favorites are read when a tree is first asked for); otherwise
  // starts the reader thread. favoritesPath gets a trailing "/".
  TBookmarksCtrl(std::string favoritesPath, std::string metaFileName, HWND mainForm);
  // Shuts down if that was not done; unregisters and destroys the window.
  ~TBookmarksCtrl();
  TBookmarksCtrl(const TBookmarksCtrl&) = delete;
  TBookmarksCtrl& operator=(const TBookmarksCtrl&) = delete;

  // Stops the watcher, clears the ready flag and releases the tree. Later
  // changes and answers are ignored.
  void Shutdown();

  // The current tree; with readIfMissing and no tree yet, the Favorites
  // folder is read in this thread first (and integrated). May be null.
  TFileTreePtr Tree(bool readIfMissing);
  TBNodeMetas& Metas() { return *metas_; }
  const std::string& FavoritesPath() const { return favoritesPath_; }
  HWND Window() const { return window_; }
  // KM_CONNECT posted and not shut down.
  bool Ready() const { return ready_; }
  TBookmarksShellNotifier* Watcher() const { return watcher_.get(); }

  // The sync-id text of the Favorites: the root's content checksum, plus
  // the metadata store's public checksum when that is not zero (decimal).
  // Also stores it as "bookmarks" and the link count as "bookmark-count".
  // "" without a tree.
  std::string CalculateSyncId();

  // Reads the folder in this thread and integrates the result (restore).
  // Raises what reading raises.
  void ReadSynchronously();

  // Starts or stops the change watcher. Starting creates it on first use; a
  // folder that cannot be watched is logged.
  void StartWatcher(bool start);

  // Runs write with the watcher stopped, inside an update bracket of the
  // tree, then closes the bracket and restarts the watcher (also when
  // write raises; the exception goes on to the caller).
  void WithFolderWrite(const std::function<void(TFileTree& tree)>& write);

  // The merge of the sync dialog's "merge": the differences against the
  // server tree applied to the local tree, the folder rewritten, the whole
  // tree sent back with "save-all-links". xlinks are the server's public
  // links (they rebuild the metadata store).
  void MergeWithServer(const IFolderPtr& serverTree, const TXmlNodeList& xlinks, ISrvScript& script);
  // The import of the sync dialog's "import": the server tree laid over the
  // local tree, untouched local nodes removed from disk and tree, the
  // folder rewritten. Local bookmarks of uploaded folders go into script.
  void ImportServerTree(const IFolderPtr& serverTree, const TXmlNodeList& xlinks, ISrvScript& script);

  // The script's text posted to the link server, answered to this window
  // as KM_SYNC_RESPONSE.
  void SendScript(ISrvScript& script);

  // Applies a batch of watched changes to the tree and sends the server
  // script they make (what the watcher's callback does).
  void ApplyShellChanges(const std::vector<TShellChangePtr>& changes);

  // Sees the text of every script handed to the transport, before it goes
  // (tests and the latency benchmark).
  using TScriptObserver = std::function<void(const std::string& text)>;
  void SetScriptObserver(TScriptObserver observer) { scriptObserver_ = std::move(observer); }

 private:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void ReadBookmarks();
  void OnReadFinished();
  void TakeTree(const TFileTreePtr& tree);
  void Integrate();
  void IntegrateMeta();
  void DetectExternalChanges();
  void OnSyncResponse(WPARAM wParam, LPARAM lParam);
  void OnShellChanges(TBookmarksShellNotifier& notifier);
  void ApplyShellChange(const IShellChange& change, ISrvScript& script);
  void ApplyCreate(const std::string& path, bool isFolder, ISrvScript& script);
  void ApplyDelete(const std::string& path, bool isFolder, ISrvScript& script);
  void ApplyRename(const std::string& oldPath, const std::string& newPath, bool isFolder,
                   ISrvScript& script);
  void ApplyChange(const std::string& path, bool isFolder, ISrvScript& script);
  void RenameNode(const IBNodePtr& node, const std::string& newName, ISrvScript& script);
  void MoveNodes(const TNodeList& nodes, const IFolderPtr& newParent, ISrvScript& script);
  // Nodes by the names of their place below the Favorites folder (file
  // names for bookmarks); the tree's key indexes would not show the nodes
  // added earlier in the same batch.
  IFolderPtr FolderForNames(const TStringList& names, bool create);
  IBNodePtr NodeForNames(const TStringList& names, bool isFolder);
  IFolderPtr ChildFolder(const IFolderPtr& parent, const std::string& name) const;
  IBNodePtr ChildBookmarkByFileName(const IFolderPtr& parent, const std::string& fileName) const;
  std::string AbsolutePath(const std::string& relativePath) const;
  // The directory holding the last of the names.
  std::string DirectoryOf(const TStringList& names) const;
  // Records of a node and everything below it follow it to its new path.
  void RepathRecords(const TStringList& oldPath, const TStringList& newPath);
  // A .url file read without its URL is read again a little later.
  void RecheckLater(const std::string& path);
  void OnRecheckTimer();
  bool SyncOff() const;

  std::string favoritesPath_;
  HWND mainForm_ = 0;
  HWND window_ = 0;
  std::unique_ptr<TBNodeMetas> metas_;
  TFileTreePtr tree_;
  std::shared_ptr<TReadBookmarksThread> reader_;
  std::unique_ptr<TBookmarksShellNotifier> watcher_;
  bool ready_ = false;
  bool shutDown_ = false;
  bool moving_ = false;
  bool integrated_ = false;
  // Relative paths to read again, with the reads tried so far.
  std::map<std::string, int> recheck_;
  std::map<std::string, int> carriedTries_;
  TScriptObserver scriptObserver_;
};

}  // namespace kelvo
