// The controller's side of the sync dialog's choices: merge with the
// server's tree, and import of it.

#include "bookmarks/ServerLinks.h"
#include "foundation/Log.h"
#include "server/SrvActnLinks.h"
#include "sync/BNodeDifference.h"
#include "sync/BookmarksCtrl.h"
#include "sync/TreeMerge.h"

namespace kelvo {

namespace {

// The pairing-field mark of a bookmark kept for upload by an import.
constexpr TNodeTag kMarkUpload = 16;

// Bookmarks directly in folders carrying the upload flag that the overlay
// left unpaired: kept (marked) and collected for the server.
void CollectUploads(IFolder& folder, TNodeList& uploads) {
  const bool upload = (folder.GetFlags() & kFlagUpload) != 0;
  const int count = folder.Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = folder.Get(i);
    if (!child) continue;
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      CollectUploads(*sub, uploads);
    } else if (upload && child->GetTag() == 0) {
      child->SetTag(kMarkUpload);
      child->SetFlags(child->GetFlags() | kFlagUnpairedUpload);
      uploads.push_back(child);
    }
  }
}

}  // namespace

void TBookmarksCtrl::MergeWithServer(const IFolderPtr& serverTree, const TXmlNodeList& xlinks,
                                     ISrvScript& /*script*/) {
  if (!serverTree) throw TBookmarksCtrlException("TBookmarksCtrl.MergeWithServer:no server tree");
  TFileTreePtr tree = Tree(true);
  if (!tree) throw TBookmarksCtrlException("TBookmarksCtrl.MergeWithServer:no Favorites tree");
  StartWatcher(false);
  try {
    const TNodeList refNodes = CollectNodesWithRef(*serverTree);
    metas_->RebuildFromServer(xlinks, &refNodes, serverTree.get());
    ClearMarks(*tree);
    TTreeMerge merge(tree, favoritesPath_, metas_.get());
    merge.MergeFrom(*serverTree);
    IntegrateMeta();
    if (!tree->SaveToDisk(favoritesPath_, kWriteChanged)) {
      TLog::Error("TBookmarksCtrl.MergeWithServer:Favorites not fully written:" + favoritesPath_);
    }
    TSrvScript send;
    send.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
    send.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree)));
    SendScript(send);
  } catch (...) {
    StartWatcher(true);
    throw;
  }
  StartWatcher(true);
}

void TBookmarksCtrl::ImportServerTree(const IFolderPtr& serverTree, const TXmlNodeList& xlinks,
                                      ISrvScript& script) {
  if (!serverTree) throw TBookmarksCtrlException("TBookmarksCtrl.ImportServerTree:no server tree");
  TFileTreePtr tree = Tree(true);
  if (!tree) throw TBookmarksCtrlException("TBookmarksCtrl.ImportServerTree:no Favorites tree");
  StartWatcher(false);
  try {
    ClearMarks(*tree);
    const TNodeList refNodes = CollectNodesWithRef(*serverTree);
    metas_->RebuildFromServer(xlinks, &refNodes, serverTree.get());
    {
      TTreeUpdateBracket bracket(tree.get());
      TTreeMerge merge(tree, favoritesPath_, metas_.get());
      merge.OverlayTree(*serverTree, *tree, false);
      TNodeList uploads;
      CollectUploads(*tree, uploads);
      if (!uploads.empty()) script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd, uploads));
      if (!merge.RemoveUntouchedNodes(*tree)) {
        TLog::Warning("TBookmarksCtrl.ImportServerTree:not every untouched node could be deleted");
      }
      bracket.End();
    }
    IntegrateMeta();
    if (!tree->SaveToDisk(favoritesPath_, kWriteChanged)) {
      TLog::Error("TBookmarksCtrl.ImportServerTree:Favorites not fully written:" + favoritesPath_);
    }
  } catch (...) {
    StartWatcher(true);
    throw;
  }
  StartWatcher(true);
}

}  // namespace kelvo
