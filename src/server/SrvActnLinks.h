#pragma once
// The link and xlink actions a server script carries: reading the user's
// links, replacing or adding them, single changes (moves, renames, edits,
// id changes, deletions), publishing and unpublishing public links
// ("xlinks"), connecting and changing the account password. Each writes
// its own element; the link records inside go through the link writers of
// the server-tree module, so they follow the same path and Links-folder
// rules as everywhere else.
//
// Built and written on the main thread, one script at a time; the nodes
// they refer to are read when the script is written.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bookmarks/BNode.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "server/SrvActn.h"
#include "server/SrvScript.h"

namespace kelvo {

// The "mode" of "save-all-links" and "save-all-xlinks".
enum TSaveMode : std::uint8_t { smReplace = 0, smAdd = 1 };
// "REPLACE" or "ADD".
std::string SaveModeName(TSaveMode mode);

// Public links whose path is one of these are roots of the server's public
// areas: removing one would remove a whole area.
inline constexpr const char* kReservedXLinkRoots[] = {"/$net/", "/$news/", "/$pub/", "/$feed/",
                                                      "/$user-feed/"};

class TSrvActnConnect : public TSrvActn {
 public:
  explicit TSrvActnConnect(IClientAreaTagPtr tag) : TSrvActn(std::move(tag)) {}
  std::string GetName() const override { return "connect"; }
  // "sync-id" when the current sync id is not empty; the sync id, empty or
  // not, becomes the last sync id sent.
  void Write(const TXmlElement& parent, TXmlElement& element) override;
};

class TSrvActnLoadAllLinks : public TSrvActn {
 public:
  // mode: "" or "MERGE" for a merge.
  TSrvActnLoadAllLinks(IClientAreaTagPtr tag, std::string mode)
      : TSrvActn(std::move(tag)), mode_(std::move(mode)) {}
  std::string GetName() const override { return "load-all-links"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  std::string mode_;
};

class TSrvActnLoadAllXLinks : public TSrvActn {
 public:
  TSrvActnLoadAllXLinks(IClientAreaTagPtr tag, std::string path)
      : TSrvActn(std::move(tag)), path_(std::move(path)) {}
  std::string GetName() const override { return "load-all-xlinks"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  std::string path_;
};

class TSrvActnSaveAllLinks : public TSrvActn {
 public:
  // The nodes in order: folders and trees with everything below them,
  // bookmarks one link each. This form writes no "client-area".
  TSrvActnSaveAllLinks(IClientAreaTagPtr tag, TSaveMode mode, TNodeList nodes);
  TSrvActnSaveAllLinks(IClientAreaTagPtr tag, TSaveMode mode, const IFolderPtr& tree);
  // No nodes, mode "ADD": "client-area" and "mode" only.
  explicit TSrvActnSaveAllLinks(IClientAreaTagPtr tag);

  std::string GetName() const override { return "save-all-links"; }
  // A listed bookmark whose link cannot be written (empty title, URL or
  // path) is logged and left out; the others are still sent.
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  TSaveMode mode_ = smAdd;
  std::optional<TNodeList> nodes_;
};

// Appends the public-link records of the metadata store to an element.
using TXLinksWriter = std::function<void(const TXmlElement& element)>;
// The writer used by "save-all-xlinks" actions made without one: the
// bookmarks controller registers its store's WriteXLinks. Empty restores
// the default, which writes nothing.
void SetXLinksWriter(TXLinksWriter writer);

class TSrvActnSaveAllXLinks : public TSrvActn {
 public:
  // Without a writer the registered one is used when the action is written.
  TSrvActnSaveAllXLinks(IClientAreaTagPtr tag, TSaveMode mode, TXLinksWriter writer = nullptr)
      : TSrvActn(std::move(tag)), mode_(mode), writer_(std::move(writer)) {}
  std::string GetName() const override { return "save-all-xlinks"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  TSaveMode mode_;
  TXLinksWriter writer_;
};

// A single change, told by an "old-link" and a "new-link" record; the
// server works the change out from the two.
class TSrvActnUpdateLink : public TSrvActn {
 public:
  static constexpr const char* kMoveBookmark = "movebookmark";
  static constexpr const char* kRenameFolder = "renamefolder";
  static constexpr const char* kChangeBookmark = "changebookmark";
  static constexpr const char* kAddLocalId = "addlocalid";
  static constexpr const char* kRemoveLocalId = "removelocalid";

  // The bookmark moved away from previousPath (a server path).
  static std::shared_ptr<TSrvActnUpdateLink> MoveBookmark(IClientAreaTagPtr tag,
                                                          const std::string& previousPath,
                                                          IBookmarkPtr bookmark);
  // The folder was at previousPath; shared goes into both folder records.
  static std::shared_ptr<TSrvActnUpdateLink> RenameFolder(IClientAreaTagPtr tag, bool shared,
                                                          const std::string& previousPath,
                                                          IFolderPtr folder);
  static std::shared_ptr<TSrvActnUpdateLink> ChangeBookmark(IClientAreaTagPtr tag,
                                                            const std::string& previousURL,
                                                            const std::string& previousTitle,
                                                            IBookmarkPtr bookmark);
  // The node got its server id.
  static std::shared_ptr<TSrvActnUpdateLink> AddLocalId(IClientAreaTagPtr tag, IBNodePtr node);
  // The node lost removedId.
  static std::shared_ptr<TSrvActnUpdateLink> RemoveLocalId(IClientAreaTagPtr tag, IBNodePtr node,
                                                           std::int32_t removedId);

  // Any kind text; one that is none of the five writes a bare element.
  TSrvActnUpdateLink(IClientAreaTagPtr tag, std::string kind);

  std::string GetName() const override { return "update-link"; }
  bool HasKind(int kind) const override { return kind == kActnKindChangesLinks; }
  const std::string& Kind() const { return kind_; }
  // A record that cannot be written (TServerLinkException) leaves nothing
  // in parent and propagates: the script logs it and leaves the action out.
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  void WriteRecords(const TXmlElement& element) const;

  std::string kind_;
  IBNodePtr node_;
  std::string previousPath_;
  std::string previousURL_;
  std::string previousTitle_;
  bool shared_ = false;
  std::int32_t removedId_ = -1;
};

class TSrvActnRemoveLink : public TSrvActn {
 public:
  TSrvActnRemoveLink(IClientAreaTagPtr tag, std::string title, std::string url, std::string path)
      : TSrvActn(std::move(tag)),
        title_(std::move(title)),
        url_(std::move(url)),
        path_(std::move(path)) {}
  std::string GetName() const override { return "remove-link"; }
  bool HasKind(int kind) const override { return kind == kActnKindChangesLinks; }
  // "path" with the Links-folder rule; "url" and "title" when not empty.
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  std::string title_;
  std::string url_;
  std::string path_;
};

class TSrvActnAddXLink : public TSrvActn {
 public:
  // The record writes its reference attributes when the script is written.
  TSrvActnAddXLink(IClientAreaTagPtr tag, int kind, IBNodeMetaPtr record)
      : TSrvActn(std::move(tag)), kind_(kind), record_(std::move(record)) {}
  std::string GetName() const override { return "add-xlink"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  int kind_;
  IBNodeMetaPtr record_;
};

class TSrvActnRemoveXLink : public TSrvActn {
 public:
  // A ref without ":" gets one in front.
  TSrvActnRemoveXLink(IClientAreaTagPtr tag, std::string path, std::string ref);
  std::string GetName() const override { return "remove-xlink"; }
  // A reserved root as path is written with "INVALID_PATH" appended (and a
  // warning logged), so the server refuses it instead of removing an area.
  void Write(const TXmlElement& parent, TXmlElement& element) override;
  const std::string& Ref() const { return ref_; }

 private:
  std::string path_;
  std::string ref_;
};

class TSrvActnChangeLoginPassword : public TSrvActn {
 public:
  // The server expects the new password in plain text.
  TSrvActnChangeLoginPassword(IClientAreaTagPtr tag, std::string password, std::string login)
      : TSrvActn(std::move(tag)), password_(std::move(password)), login_(std::move(login)) {}
  std::string GetName() const override { return "change-login-password"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  std::string password_;
  std::string login_;
};

// Whether a deleted node inside a private part must still be reported to
// the server.
using TMustReportTest = std::function<bool(const IBNodePtr& node)>;
// The default test: a topmost private folder is known to the server (by
// its private link), anything below it is not.
bool MustReportPrivateNode(const IBNodePtr& node);

// One "remove-link" action (no tag) per deleted node that the server
// knows: nodes inside a private folder are skipped unless mustReport says
// otherwise. A node whose server path cannot be made is logged and
// skipped. Answers whether an action was added.
bool AddRemoveLinkActions(const TNodeList& nodes, ISrvScript& script,
                          const TMustReportTest& mustReport = MustReportPrivateNode);

}  // namespace kelvo
