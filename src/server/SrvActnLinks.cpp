#include "server/SrvActnLinks.h"

#include <mutex>
#include <utility>

#include "bookmarks/FolderEx.h"
#include "bookmarks/ServerLinks.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace kelvo {

namespace {

constexpr std::size_t kMaxTitleChars = 255;
constexpr std::size_t kMaxURLChars = 5120;

std::mutex& XLinksWriterMutex() {
  static std::mutex mutex;
  return mutex;
}

TXLinksWriter& RegisteredXLinksWriter() {
  static TXLinksWriter writer;
  return writer;
}

bool IsFolder(const IBNodePtr& node) { return std::dynamic_pointer_cast<IFolder>(node) != nullptr; }

bool IsTreeRoot(const IBNodePtr& node) {
  return std::dynamic_pointer_cast<ISimpleTree>(node) != nullptr;
}

void WriteBookmarkRecord(const TXmlElement& element, const char* name, const IBookmark& bookmark,
                         const std::string& path, std::int32_t id, const std::string& url,
                         const std::string& title) {
  WriteBookmarkLinkEx(element, name, path, HasFeedURL(bookmark), id, url, title);
}

}  // namespace

std::string SaveModeName(TSaveMode mode) { return mode == smReplace ? "REPLACE" : "ADD"; }

// ---- connect, load-all-links, load-all-xlinks

void TSrvActnConnect::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (!element) return;
  const std::string syncId = TSrvScript::asSynchronizable();
  if (!syncId.empty()) SetAttr(element, "sync-id", syncId);
  SetLastSyncIdSent(syncId);
}

void TSrvActnLoadAllLinks::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (element && !mode_.empty()) SetAttr(element, "mode", mode_);
}

void TSrvActnLoadAllXLinks::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (element && !path_.empty()) SetAttr(element, "path", path_);
}

// ---- save-all-links, save-all-xlinks

TSrvActnSaveAllLinks::TSrvActnSaveAllLinks(IClientAreaTagPtr tag, TSaveMode mode, TNodeList nodes)
    : TSrvActn(std::move(tag)), mode_(mode), nodes_(std::move(nodes)) {}

TSrvActnSaveAllLinks::TSrvActnSaveAllLinks(IClientAreaTagPtr tag, TSaveMode mode,
                                           const IFolderPtr& tree)
    : TSrvActn(std::move(tag)), mode_(mode), nodes_(TNodeList()) {
  if (tree) nodes_->push_back(tree);
}

TSrvActnSaveAllLinks::TSrvActnSaveAllLinks(IClientAreaTagPtr tag)
    : TSrvActn(std::move(tag)), mode_(smAdd) {}

void TSrvActnSaveAllLinks::Write(const TXmlElement& parent, TXmlElement& element) {
  if (!nodes_) {
    TSrvActn::Write(parent, element);
    if (element) SetAttr(element, "mode", SaveModeName(mode_));
    return;
  }
  element = AddElement(parent.OwnerDocument(), parent, GetName());
  SetAttr(element, "mode", SaveModeName(mode_));
  for (const IBNodePtr& node : *nodes_) {
    if (!node) continue;
    std::uint8_t reason = 0;
    if (!node->IsValid(reason) && reason == 0 && !IsTreeRoot(node)) continue;
    if (auto folder = std::dynamic_pointer_cast<IFolder>(node)) {
      WriteTreeLinks(*folder, element);
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(node)) {
      // One bad bookmark must not keep the whole list from the server.
      try {
        WriteBookmarkRecord(element, "link", *bookmark, ServerPath(node), GetServerId(node),
                            bookmark->GetURL(), bookmark->GetName());
      } catch (const TServerLinkException& e) {
        TLog::Warning("TSrvActnSaveAllLinks.Write:link left out:" + e.FullMessage());
      }
    }
  }
}

void SetXLinksWriter(TXLinksWriter writer) {
  std::lock_guard<std::mutex> lock(XLinksWriterMutex());
  RegisteredXLinksWriter() = std::move(writer);
}

void TSrvActnSaveAllXLinks::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (!element) return;
  SetAttr(element, "mode", SaveModeName(mode_));
  TXLinksWriter writer = writer_;
  if (!writer) {
    std::lock_guard<std::mutex> lock(XLinksWriterMutex());
    writer = RegisteredXLinksWriter();
  }
  if (writer) writer(element);
}

// ---- update-link

TSrvActnUpdateLink::TSrvActnUpdateLink(IClientAreaTagPtr tag, std::string kind)
    : TSrvActn(std::move(tag)), kind_(std::move(kind)) {}

std::shared_ptr<TSrvActnUpdateLink> TSrvActnUpdateLink::MoveBookmark(
    IClientAreaTagPtr tag, const std::string& previousPath, IBookmarkPtr bookmark) {
  auto action = std::make_shared<TSrvActnUpdateLink>(std::move(tag), kMoveBookmark);
  action->previousPath_ = previousPath;
  action->node_ = std::move(bookmark);
  return action;
}

std::shared_ptr<TSrvActnUpdateLink> TSrvActnUpdateLink::RenameFolder(
    IClientAreaTagPtr tag, bool shared, const std::string& previousPath, IFolderPtr folder) {
  auto action = std::make_shared<TSrvActnUpdateLink>(std::move(tag), kRenameFolder);
  action->shared_ = shared;
  action->previousPath_ = previousPath;
  action->node_ = std::move(folder);
  return action;
}

std::shared_ptr<TSrvActnUpdateLink> TSrvActnUpdateLink::ChangeBookmark(
    IClientAreaTagPtr tag, const std::string& previousURL, const std::string& previousTitle,
    IBookmarkPtr bookmark) {
  auto action = std::make_shared<TSrvActnUpdateLink>(std::move(tag), kChangeBookmark);
  action->previousURL_ = previousURL;
  action->previousTitle_ = previousTitle;
  action->node_ = std::move(bookmark);
  return action;
}

std::shared_ptr<TSrvActnUpdateLink> TSrvActnUpdateLink::AddLocalId(IClientAreaTagPtr tag,
                                                                   IBNodePtr node) {
  auto action = std::make_shared<TSrvActnUpdateLink>(std::move(tag), kAddLocalId);
  action->node_ = std::move(node);
  return action;
}

std::shared_ptr<TSrvActnUpdateLink> TSrvActnUpdateLink::RemoveLocalId(IClientAreaTagPtr tag,
                                                                      IBNodePtr node,
                                                                      std::int32_t removedId) {
  auto action = std::make_shared<TSrvActnUpdateLink>(std::move(tag), kRemoveLocalId);
  action->node_ = std::move(node);
  action->removedId_ = removedId;
  return action;
}

void TSrvActnUpdateLink::WriteRecords(const TXmlElement& element) const {
  if (!node_) throw TSrvActnException("TSrvActnUpdateLink.Write:no node for " + kind_);
  const auto bookmark = std::dynamic_pointer_cast<IBookmark>(node_);
  const std::string path = ServerPath(node_);
  if (kind_ == kMoveBookmark || kind_ == kChangeBookmark) {
    if (!bookmark) throw TSrvActnException("TSrvActnUpdateLink.Write:not a bookmark:" + kind_);
    const std::int32_t id = bookmark->GetId();
    if (kind_ == kMoveBookmark) {
      WriteBookmarkRecord(element, "old-link", *bookmark, previousPath_, id, bookmark->GetURL(),
                          bookmark->GetName());
    } else {
      WriteBookmarkRecord(element, "old-link", *bookmark, path, id, previousURL_, previousTitle_);
    }
    WriteBookmarkRecord(element, "new-link", *bookmark, path, id, bookmark->GetURL(),
                        bookmark->GetName());
    return;
  }
  if (kind_ == kRenameFolder) {
    if (!IsFolder(node_)) throw TSrvActnException("TSrvActnUpdateLink.Write:not a folder:" + kind_);
    const std::int32_t id = GetServerId(node_);
    WriteFolderLinkEx(element, "old-link", previousPath_, shared_, id);
    WriteFolderLinkEx(element, "new-link", path, shared_, id);
    return;
  }
  // addlocalid / removelocalid
  const std::int32_t oldId = kind_ == kAddLocalId ? -1 : removedId_;
  const std::int32_t newId = kind_ == kAddLocalId ? GetServerId(node_) : -1;
  if (bookmark) {
    WriteBookmarkRecord(element, "old-link", *bookmark, path, oldId, bookmark->GetURL(),
                        bookmark->GetName());
    WriteBookmarkRecord(element, "new-link", *bookmark, path, newId, bookmark->GetURL(),
                        bookmark->GetName());
  } else {
    WriteFolderLinkEx(element, "old-link", path, false, oldId);
    WriteFolderLinkEx(element, "new-link", path, false, newId);
  }
}

void TSrvActnUpdateLink::Write(const TXmlElement& parent, TXmlElement& element) {
  const bool known = kind_ == kMoveBookmark || kind_ == kRenameFolder ||
                     kind_ == kChangeBookmark || kind_ == kAddLocalId ||
                     kind_ == kRemoveLocalId;
  if (!known) {
    TSrvActn::Write(parent, element);
    return;
  }
  element = TXmlElement();
  // Appended only once both records are in, so a failing record leaves the
  // parent as it was.
  const TXmlElement built = AddElement(parent.OwnerDocument(), parent, GetName());
  try {
    WriteRecords(built);
  } catch (...) {
    TXmlNode owner = parent;
    owner.RemoveChild(built);
    throw;
  }
  element = built;
}

// ---- remove-link

void TSrvActnRemoveLink::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (!element) return;
  SetAttr(element, "path", ApplyLinksFolderRule(path_));
  if (!url_.empty()) SetAttr(element, "url", url_);
  if (!title_.empty()) SetAttr(element, "title", title_);
}

// ---- add-xlink, remove-xlink

void TSrvActnAddXLink::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (element && record_) record_->WriteRefAttributes(element, kind_);
}

TSrvActnRemoveXLink::TSrvActnRemoveXLink(IClientAreaTagPtr tag, std::string path, std::string ref)
    : TSrvActn(std::move(tag)), path_(std::move(path)), ref_(std::move(ref)) {
  if (ref_.find(':') == std::string::npos) ref_ = ":" + ref_;
}

void TSrvActnRemoveXLink::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (!element) return;
  SetAttr(element, "ref", ref_);
  for (const char* root : kReservedXLinkRoots) {
    if (path_ == root) {
      TLog::Warning("TSrvActnRemoveXLink.Write:trying to delete xlink path=" + path_);
      SetAttr(element, "path", path_ + "INVALID_PATH");
      return;
    }
  }
  SetAttr(element, "path", path_);
}

// ---- change-login-password

void TSrvActnChangeLoginPassword::Write(const TXmlElement& parent, TXmlElement& element) {
  TSrvActn::Write(parent, element);
  if (!element) return;
  SetAttr(element, "login", login_);
  SetAttr(element, "password", password_);
}

// ---- the script as the metadata store's action sink

void TSrvScript::AddXLink(const IBNodeMetaPtr& record, int kind) {
  AddAction(std::make_shared<TSrvActnAddXLink>(nullptr, kind, record));
}

void TSrvScript::RemoveXLink(const std::string& path, const std::string& ref) {
  AddAction(std::make_shared<TSrvActnRemoveXLink>(nullptr, path, ref));
}

// ---- deleted nodes

bool MustReportPrivateNode(const IBNodePtr& node) {
  const auto* ex = dynamic_cast<const IFolderEx*>(node.get());
  return ex != nullptr && IsFolder(node) && ex->IsPrivateRoot();
}

bool AddRemoveLinkActions(const TNodeList& nodes, ISrvScript& script,
                          const TMustReportTest& mustReport) {
  bool added = false;
  for (const IBNodePtr& node : nodes) {
    if (!node) continue;
    if (IsPrivateNode(node, kPrivateKindPrivate) && !(mustReport && mustReport(node))) continue;
    std::string path;
    try {
      path = ServerPath(node);
    } catch (const TKException& e) {
      TLog::Warning("AddRemoveLinkActions:no server path:" + e.FullMessage());
      continue;
    }
    std::string url;
    std::string title;
    if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(node)) {
      url = Utf8Cut(bookmark->GetURL(), kMaxURLChars);
      title = Utf8Cut(bookmark->GetName(), kMaxTitleChars);
    }
    script.AddAction(std::make_shared<TSrvActnRemoveLink>(nullptr, title, url, path));
    added = true;
  }
  return added;
}

}  // namespace kelvo
