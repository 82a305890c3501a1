#pragma once
// The node metadata store: what the .url files cannot hold about a
// Favorites node (its public link on the server, server id and rank, the
// private flag of a folder), one record per such node, matched to tree
// nodes by name path and kept in "bookmarks-meta.xml" in the agent's data
// folder.
//
// Records (TBNodeMeta) are shared by reference and always held through
// std::shared_ptr (create them with std::make_shared): publishing a record
// hands a counted reference to the server action that writes it later. A
// record is not locked. The store (TBNodeMetas) locks each list operation
// and saves the file after every changing operation; whoever changes a
// record directly calls Save (or a saving operation) afterwards. Used on
// the agent's main thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bookmarks/BNode.h"
#include "bookmarks/TreeTools.h"
#include "foundation/KException.h"
#include "foundation/XmlTools.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TBNodeMetaException, TKException);

// File name of the store inside the agent's data folder.
inline constexpr const char* kMetaFileName = "bookmarks-meta.xml";
// Root element of the file.
inline constexpr const char* kMetaRootName = "bnode-meta";

// Kinds of GetIs / SetIs / WriteRefAttributes.
inline constexpr int kMetaKindPublic = 0;
inline constexpr int kMetaKindPrivate = 1;

class IBNodeMeta;
using IBNodeMetaPtr = std::shared_ptr<IBNodeMeta>;
using TBNodeMetaList = std::vector<IBNodeMetaPtr>;

// Where publishing and unpublishing a record put their server actions. The
// server script implements it with its add-xlink and remove-xlink actions;
// the actions are appended in the order the calls come.
class IMetaActionSink {
 public:
  virtual ~IMetaActionSink() = default;
  // A new add-xlink action for the record; the action writes the record's
  // reference attributes (WriteRefAttributes with kind) when the script is
  // written, so it keeps the record.
  virtual void AddXLink(const IBNodeMetaPtr& record, int kind) = 0;
  // A new remove-xlink action for the public link path ("/$pub/" + id) and
  // the reference (the decimal id; the action adds the ":").
  virtual void RemoveXLink(const std::string& path, const std::string& ref) = 0;
};

// One metadata record.
class IBNodeMeta : public std::enable_shared_from_this<IBNodeMeta> {
 public:
  virtual ~IBNodeMeta() = default;

  // Appends this record's "folder" or "bookmark" element to parentElement.
  // Raises TXmlException when the element cannot be made.
  virtual void WriteXml(const TXmlElement& parentElement) const = 0;
  virtual bool GetIsFolder() const = 0;
  virtual void SetIsFolder(bool isFolder) = 0;
  // Server id of the node's link, -1 = none.
  virtual std::int32_t GetId() const = 0;
  virtual void SetId(std::int32_t id) = 0;
  // kMetaKindPublic: IsPublic, kMetaKindPrivate: IsPrivate; any other kind
  // raises TBNodeMetaException "TBNodeMeta.GetIs:unknown type".
  virtual bool GetIs(int kind) const = 0;
  // kMetaKindPublic: SetIsPublic (value, actions); kMetaKindPrivate:
  // SetIsPrivate (value); other kinds do nothing.
  virtual void SetIs(int kind, bool value, IMetaActionSink* actions) = 0;
  // SetIsPublic (false, actions) when public.
  virtual void Unpublish(IMetaActionSink* actions) = 0;
  // Neither private nor public.
  virtual bool IsNormal() const = 0;
  virtual bool GetIsPrivate() const = 0;
  virtual void SetIsPrivate(bool isPrivate) = 0;
  virtual bool GetIsPublic() const = 0;
  // Only a change counts: it is stored and, with an action list, an
  // add-xlink (becoming public) or remove-xlink (no longer public) action
  // is appended to it.
  virtual void SetIsPublic(bool isPublic, IMetaActionSink* actions) = 0;
  // Rank of the public link on the server, -1 = none.
  virtual std::int32_t GetRank() const = 0;
  virtual void SetRank(std::int32_t rank) = 0;
  // Replaces the last name of the path; nothing for an empty or no path.
  virtual void SetTitle(const std::string& name) = 0;
  // Normalized names from the top-level folder down to the node; empty
  // when the record has no path.
  virtual const TStringList& GetPath() const = 0;
  // False for a record made without a path (the folder constructor): such
  // a record writes no "path" attribute.
  virtual bool HasPath() const = 0;
  virtual void SetPath(TStringList path) = 0;
  // The kind-5 key of the path, "" for an empty path.
  virtual std::string GetPathHash() const = 0;
  // "/$pub/" + Id when public, else ""; traced as "Meta>" + result while
  // the hash trace list exists.
  virtual std::string GetPublicPath() const = 0;
  virtual std::string GetURL() const = 0;
  virtual void SetURL(const std::string& url) = 0;
  // Description for the log.
  virtual std::string ToString() const = 0;
  virtual bool IsPublished() const = 0;
  // For kind 0 and a known id: "ref" = ":" + Id and "path" = "/$pub/" + Id.
  virtual void WriteRefAttributes(const TXmlElement& element, int kind) const = 0;
  // For a public record with an id: appends its "link" element (path,
  // rank when known, ref).
  virtual void WriteXLink(const TXmlElement& parentElement) const = 0;

 protected:
  IBNodeMeta() = default;
  IBNodeMeta(const IBNodeMeta&) = default;
  IBNodeMeta& operator=(const IBNodeMeta&) = default;
};

class TBNodeMeta : public IBNodeMeta {
 public:
  // Reads a "folder" or "bookmark" element of the metadata file. Raises
  // TBNodeMetaException ("TBNodeMeta.Create:...") for an element that does
  // not describe a valid record.
  explicit TBNodeMeta(const TXmlElement& element);
  // Id -1, Rank -1, no path.
  explicit TBNodeMeta(bool isFolder);
  // A record for a public link of the server: Id := id, Rank := rank as an
  // integer (-1 when it is not one), an empty path, public when publicPath
  // contains "/$pub/". userData is not kept.
  TBNodeMeta(const std::string& publicPath, const std::string& userData, std::int32_t id,
             const std::string& rank);

  void WriteXml(const TXmlElement& parentElement) const override;
  bool GetIsFolder() const override { return isFolder_; }
  void SetIsFolder(bool isFolder) override { isFolder_ = isFolder; }
  std::int32_t GetId() const override { return id_; }
  void SetId(std::int32_t id) override { id_ = id; }
  bool GetIs(int kind) const override;
  void SetIs(int kind, bool value, IMetaActionSink* actions) override;
  void Unpublish(IMetaActionSink* actions) override;
  bool IsNormal() const override { return !isPrivate_ && !isPublic_; }
  bool GetIsPrivate() const override { return isPrivate_; }
  void SetIsPrivate(bool isPrivate) override { isPrivate_ = isPrivate; }
  bool GetIsPublic() const override { return isPublic_; }
  void SetIsPublic(bool isPublic, IMetaActionSink* actions) override;
  std::int32_t GetRank() const override { return rank_; }
  void SetRank(std::int32_t rank) override { rank_ = rank; }
  void SetTitle(const std::string& name) override;
  const TStringList& GetPath() const override;
  bool HasPath() const override { return path_.has_value(); }
  void SetPath(TStringList path) override { path_ = std::move(path); }
  std::string GetPathHash() const override;
  std::string GetPublicPath() const override;
  std::string GetURL() const override { return url_; }
  void SetURL(const std::string& url) override { url_ = url; }
  std::string ToString() const override;
  bool IsPublished() const override { return isPublic_; }
  void WriteRefAttributes(const TXmlElement& element, int kind) const override;
  void WriteXLink(const TXmlElement& parentElement) const override;

 private:
  bool isFolder_ = false;
  std::int32_t id_ = -1;
  bool isPrivate_ = false;
  bool isPublic_ = false;
  std::int32_t rank_ = -1;
  std::optional<TStringList> path_;
  std::string url_;
};

// The file layout, shared with the tests and the tools.
//
// "type" value: "pub," when public, then "private," when private.
std::string MetaTypeText(bool isPublic, bool isPrivate);
// Whether the token counts as present in a "type" value: it occurs followed
// by a comma, by the end of the value, or by exactly one last character.
bool MetaTypeHas(const std::string& value, const std::string& token);
// "/" + name for every name, each "/" and "\" in a name preceded by "\".
std::string MetaPathText(const TStringList& names);
// Splits a "path" value: it must start with "/" (else the list is empty);
// "/" separates names, "\" makes the next character literal and is
// dropped, empty names are skipped; a non-empty title is appended last.
TStringList MetaPathNames(const std::string& value, const std::string& title = std::string());
// A decimal integer (optional sign) filling the whole text, else none.
std::optional<std::int32_t> MetaInt(const std::string& text);
inline std::int32_t MetaIntOr(const std::string& text, std::int32_t fallback) {
  return MetaInt(text).value_or(fallback);
}

// The store: an ordered list of records plus the file they live in.
class TBNodeMetas {
 public:
  // Loads fileName. A missing, unreadable or malformed file leaves the
  // store empty (a malformed one is first copied beside itself with the
  // suffix ".corrupt", since the next save replaces it). An element that
  // is not a valid record is logged and left out, and the file is then
  // rewritten without it.
  explicit TBNodeMetas(std::string fileName);
  TBNodeMetas(const TBNodeMetas&) = delete;
  TBNodeMetas& operator=(const TBNodeMetas&) = delete;

  const std::string& FileName() const { return fileName_; }
  std::size_t Count() const;
  // The i-th record, nullptr when out of range.
  IBNodeMetaPtr Item(std::size_t index) const;
  // A copy of the list.
  TBNodeMetaList Items() const;

  // Writes every record to fileName, or to the store's own file when it is
  // empty (atomically, creating missing folders). A failure is logged and
  // answers false; the records in memory stay as they are.
  bool Save(const std::string& fileName = std::string()) const;

  // First record with the same names (exact, case-sensitive).
  IBNodeMetaPtr FindByPath(const TStringList& path) const;
  // Every record whose path starts with the given names, the equal path
  // included, in list order.
  TBNodeMetaList FindUnderPath(const TStringList& path) const;
  // First record with that id; nullptr for -1.
  IBNodeMetaPtr FindById(std::int32_t id) const;
  // First record whose GetPathHash equals key; nullptr for "".
  IBNodeMetaPtr FindByPathHash(const std::string& key) const;

  // For each path, removes every record under it (last to first),
  // unpublishing those with an id into actions when given. An empty path
  // is skipped: it stands for no node, not for the whole tree. Saves when
  // something was removed; answers whether something was.
  bool RemoveUnderPaths(const TNameTbls& paths, IMetaActionSink* actions);
  // RemoveUnderPaths over the nodes' name paths (empty ones skipped).
  bool RemoveUnderNodes(const TNodeList& nodes, IMetaActionSink* actions);

  void Add(const IBNodeMetaPtr& record);
  // SetPath, saves.
  void SetRecordPath(const IBNodeMetaPtr& record, TStringList path);
  // A node moved from oldPath to newPath (both end in the node's own name):
  // every record under oldPath gets its first oldPath.size() - 1 names
  // replaced by the first newPath.size() - 1 names of newPath. Saves.
  void MovePaths(const TStringList& oldPath, const TStringList& newPath);
  // SetTitle, saves.
  void RenameRecord(const IBNodeMetaPtr& record, const std::string& name);
  // SetTitle and SetURL, saves.
  void RenameBookmarkRecord(const IBNodeMetaPtr& record, const std::string& name,
                            const std::string& url);

  // Replaces the list by the server's view: a record per public link
  // (xlinks, the server's "link" elements), matched to the node of
  // refNodes (the server tree's nodes that carry a reference; may be null)
  // with the same id for its name path, kind and URL; then a private folder
  // record for every private folder of serverTree (may be null) that has
  // none yet. Saves.
  void RebuildFromServer(const TXmlNodeList& xlinks, const TNodeList* refNodes,
                         const IFolder* serverTree);

  // WriteXLink of every record, in order.
  void WriteXLinks(const TXmlElement& parentElement) const;
  // Wrapping sum of StringChecksum (GetPublicPath) over the records that
  // are not private.
  std::int32_t PublicChecksum() const;

 private:
  void Load();
  // Saves to the own file, logging a failure.
  void SaveOwn() const;

  std::string fileName_;
  mutable std::recursive_mutex mutex_;
  TBNodeMetaList items_;
};

// The store's file in the agent's data folder.
std::string MetaFilePath();

}  // namespace kelvo
