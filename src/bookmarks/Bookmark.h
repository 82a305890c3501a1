#pragma once
// Bookmark nodes: a titled URL. TBookmark is the plain node of the XBEL and
// server stores; TDefaultKBookmark adds the live server id, duplicate flag
// and feed URL used by the Favorites store.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/BNode.h"

namespace kelvo {

class IBookmark : public virtual IBNode {
 public:
  virtual std::string GetURL() const = 0;
  virtual void SetURL(const std::string& url) = 0;
  // Canonical form of the URL; empty before InitHashes.
  virtual std::string GetCanonicalURL() const = 0;
  // Server id, -1 = none.
  virtual std::int32_t GetId() const = 0;
  virtual void SetId(std::int32_t id) = 0;
  // Another bookmark of the same tree has the same URL.
  virtual bool GetDuplicate() const = 0;
  virtual void SetDuplicate(bool duplicate) = 0;
  virtual std::string GetFeedURL() const = 0;
  virtual void SetFeedURL(const std::string& feedURL) = 0;
  // Server reference ("...:<id>"), only server bookmarks keep one.
  virtual std::string GetRef() const = 0;
  virtual void SetRef(const std::string& ref) = 0;
};
using IBookmarkPtr = std::shared_ptr<IBookmark>;

// Plain bookmark: id, duplicate flag, feed URL and reference are read-only
// defaults (-1, false, FeedURL as set by a descendant, empty). Every
// bookmark writes itself as XBEL (the writer lives with the XBEL store).
class TBookmark : public virtual IBookmark, public virtual IXBELWritable {
 public:
  TBookmark(const std::string& name, const std::string& url);
  ~TBookmark() override;

  // IBNode
  std::uint8_t GetNodeType() const override { return kNodeTypeBookmark; }
  std::string GetName() const override { return name_; }
  std::string GetNormalizedName() const override;
  void SetName(const std::string& name) override;
  IBNode* GetParent() const override;
  void SetParent(IBNode* parent) override;
  using IBNode::IsValid;
  bool IsValid(std::uint8_t& reason) const override;
  std::uint32_t GetFlags() const override { return flags_; }
  void SetFlags(std::uint32_t flags) override { flags_ = flags; }
  void SetFlagsDeep(std::uint32_t flags) override { flags_ = flags; }
  TNodeTag GetTag() const override { return tag_; }
  void SetTag(TNodeTag tag) override { tag_ = tag; }
  void SetTagDeep(TNodeTag tag) override { tag_ = tag; }
  void InitHashes(const std::string& parentPath) override;
  std::string GetHash(std::uint8_t kind) const override;
  void DumpHashes(std::uint8_t kind, TStringList& list) const override;

  // IBookmark
  std::string GetURL() const override { return url_; }
  void SetURL(const std::string& url) override;
  std::string GetCanonicalURL() const override { return canonicalURL_; }
  std::int32_t GetId() const override { return -1; }
  void SetId(std::int32_t) override {}
  bool GetDuplicate() const override { return false; }
  void SetDuplicate(bool) override {}
  std::string GetFeedURL() const override { return feedURL_; }
  void SetFeedURL(const std::string&) override {}
  std::string GetRef() const override { return std::string(); }
  void SetRef(const std::string&) override {}

  // IXBELWritable: a "bookmark" element with "href" (when the URL is not
  // empty) and a "title"; the feed address is not written.
  void WriteXBEL(_xmlNode* parentElement, bool flag, _xmlNode*& element) override;

 protected:
  // The id text I of the identity keys: empty here; the classes with a
  // server id answer it (decimal Id, or the id part of a server reference).
  virtual std::string HashIdText() const { return std::string(); }
  void MarkModified() { flags_ |= nfModified; }

  std::string name_;
  mutable std::string normalizedName_;  // empty = not computed
  std::string url_;
  std::string canonicalURL_;
  std::array<std::string, kHashKindCount> hashes_;
  TNodeTag tag_ = 0;
  std::uint32_t flags_ = 0;
  TParentLink parent_;
  std::string feedURL_;
  std::int32_t id_ = -1;
  bool duplicate_ = false;
};

// Bookmark with a live server id, duplicate flag and feed URL.
class TDefaultKBookmark : public TBookmark {
 public:
  // A non-empty feedURL also becomes the bookmark's URL.
  TDefaultKBookmark(const std::string& name, const std::string& url,
                    const std::string& feedURL = std::string(), std::int32_t id = -1);
  // Copy of any bookmark: a server bookmark gives its id from the reference
  // and its feed URL only when set; any other gives no id.
  explicit TDefaultKBookmark(const IBookmark& source);

  std::int32_t GetId() const override { return id_; }
  void SetId(std::int32_t id) override;
  bool GetDuplicate() const override { return duplicate_; }
  void SetDuplicate(bool duplicate) override;
  void SetFeedURL(const std::string& feedURL) override;

 protected:
  std::string HashIdText() const override;
};

// The server id in a server reference: the integer after its last ":",
// -1 when there is no ":" or the rest is not an integer.
std::int32_t ServerIdFromRef(const std::string& ref);
// The text after the last ":" of a server reference, empty without ":".
std::string ServerIdTextFromRef(const std::string& ref);

}  // namespace kelvo
