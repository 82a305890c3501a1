#include "bookmarks/Folder.h"

#include <algorithm>
#include <utility>

#include "bookmarks/Bookmark.h"
#include "bookmarks/Hashing.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace kelvo {

namespace {

// Case-insensitive order of names, folding only the ASCII letters and
// comparing everything else by unsigned byte (code point order in UTF-8).
bool NameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiToLower(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiToLower(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

}  // namespace

TFolder::TFolder(const std::string& name) : name_(name), token_(std::make_shared<const char>('\0')) {}

// The token goes first (members die in reverse order), so a child that
// outlives this folder already sees no parent.
TFolder::~TFolder() = default;

std::string TFolder::GetNormalizedName() const {
  if (normalizedName_.empty()) normalizedName_ = NormalizeName(name_, nmFolder);
  return normalizedName_;
}

void TFolder::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  normalizedName_.clear();
  MarkModified();
}

IBNode* TFolder::GetParent() const { return parent_.Get(); }

void TFolder::SetParent(IBNode* parent) {
  IBNode* old = parent_.Get();
  if (parent == old) return;
  if (old != nullptr) MarkModified();
  parent_.Set(parent);
}

bool TFolder::IsValid(std::uint8_t& reason) const {
  reason = 0;
  return !name_.empty() && ValidBookmarkCount() >= 1;
}

void TFolder::SetFlagsDeep(std::uint32_t flags) {
  flags_ = flags;
  for (const IBNodePtr& child : Children()) child->SetFlagsDeep(flags);
}

void TFolder::SetTagDeep(TNodeTag tag) {
  tag_ = tag;
  for (const IBNodePtr& child : Children()) child->SetTagDeep(tag);
}

TNodeList TFolder::Children() const {
  std::lock_guard<std::mutex> guard(lock_);
  return children_;
}

int TFolder::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(children_.size());
}

IBNodePtr TFolder::Get(int index) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) return nullptr;
  return children_[static_cast<std::size_t>(index)];
}

void TFolder::Delete(int index) {
  IBNodePtr dropped;  // released outside the lock
  std::lock_guard<std::mutex> guard(lock_);
  if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) return;
  dropped = std::move(children_[static_cast<std::size_t>(index)]);
  children_.erase(children_.begin() + index);
}

int TFolder::Remove(const IBNodePtr& node) {
  if (!node) return -1;
  int index = -1;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = std::find(children_.begin(), children_.end(), node);
    if (it == children_.end()) return -1;
    index = static_cast<int>(it - children_.begin());
    children_.erase(it);
  }
  // A node that was added elsewhere since keeps its newer parent.
  if (node->GetParent() == static_cast<const IBNode*>(this)) node->SetParent(nullptr);
  return index;
}

bool TFolder::IsSelfOrAncestor(const IBNode* node) const {
  for (const IBNode* p = this; p != nullptr; p = p->GetParent()) {
    if (p == node) return true;
  }
  return false;
}

int TFolder::Add(const IBNodePtr& node) {
  if (!node) {
    TLog::Error("Cannot set parent");
    return -1;
  }
  // A folder inside itself would make every walk endless and the tree
  // immortal (the counted references would form a cycle).
  if (IsSelfOrAncestor(node.get())) {
    TLog::Error("TFolder.Add:a folder cannot hold itself or its own ancestor:" + node->GetName());
    return -1;
  }
  node->SetParent(this);
  int index = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    children_.push_back(node);
    index = static_cast<int>(children_.size()) - 1;
  }
  MarkModified();
  return index;
}

void TFolder::EnsureCounts() const {
  if (nodeCount_ != -1) return;
  std::int32_t nodes = 0;
  std::int32_t bookmarks = 0;
  std::int32_t validBookmarks = 0;
  std::int32_t folders = 0;
  std::int32_t validFolders = 0;
  const TNodeList children = Children();
  nodes = static_cast<std::int32_t>(children.size());
  for (const IBNodePtr& child : children) {
    if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      nodes += folder->NodeCount();
      bookmarks += folder->BookmarkCount();
      folders += folder->FolderCount() + 1;
      if (child->IsValid()) {
        validBookmarks += folder->ValidBookmarkCount();
        validFolders += folder->ValidFolderCount() + 1;
      }
    } else {
      bookmarks += 1;
      if (child->IsValid()) validBookmarks += 1;
    }
  }
  bookmarkCount_ = bookmarks;
  validBookmarkCount_ = validBookmarks;
  folderCount_ = folders;
  validFolderCount_ = validFolders;
  nodeCount_ = nodes;
}

std::int32_t TFolder::BookmarkCount() const {
  EnsureCounts();
  return bookmarkCount_;
}

std::int32_t TFolder::ValidBookmarkCount() const {
  EnsureCounts();
  return validBookmarkCount_;
}

std::int32_t TFolder::FolderCount() const {
  EnsureCounts();
  return folderCount_;
}

std::int32_t TFolder::ValidFolderCount() const {
  EnsureCounts();
  return validFolderCount_;
}

std::int32_t TFolder::NodeCount() const {
  EnsureCounts();
  return nodeCount_;
}

void TFolder::ResetCounts() {
  nodeCount_ = -1;
  for (const IBNodePtr& child : Children()) {
    if (auto* folder = dynamic_cast<IFolder*>(child.get())) folder->ResetCounts();
  }
}

void TFolder::Sort() {
  struct TEntry {
    bool isFolder;
    std::string name;
    IBNodePtr node;
  };
  std::vector<TEntry> entries;
  {
    std::lock_guard<std::mutex> guard(lock_);
    entries.reserve(children_.size());
    for (IBNodePtr& child : children_) {
      const bool isFolder = dynamic_cast<IFolder*>(child.get()) != nullptr;
      entries.push_back({isFolder, child->GetName(), std::move(child)});
    }
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
      if (a.isFolder != b.isFolder) return a.isFolder;
      return NameLess(a.name, b.name);
    });
    for (std::size_t i = 0; i < entries.size(); ++i) children_[i] = entries[i].node;
  }
  for (const TEntry& entry : entries) {
    if (entry.isFolder) dynamic_cast<IFolder&>(*entry.node).Sort();
  }
}

void TFolder::IndexFolders(INodeMap& map) const {
  for (const IBNodePtr& child : Children()) {
    if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      map.Put(child->GetHash(hkPath), child);
      folder->IndexFolders(map);
    }
  }
}

void TFolder::IndexBookmarksByURL(INodeMap& map) const {
  for (const IBNodePtr& child : Children()) {
    if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      folder->IndexBookmarksByURL(map);
    } else if (dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
      map.Put(child->GetHash(hkURL), child);
    }
  }
}

void TFolder::IndexBookmarksByCanonicalURL(INodeMap& map) const {
  for (const IBNodePtr& child : Children()) {
    if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      folder->IndexBookmarksByCanonicalURL(map);
    } else if (const auto* bookmark = dynamic_cast<const IBookmark*>(child.get())) {
      map.Put(bookmark->GetCanonicalURL(), child);
    }
  }
}

void TFolder::IndexNodes(std::uint8_t kind, INodeMap& map) const {
  for (const IBNodePtr& child : Children()) {
    map.Put(child->GetHash(kind), child);
    if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) folder->IndexNodes(kind, map);
  }
}

// TDefaultKFolder

TDefaultKFolder::TDefaultKFolder(const std::string& name, bool isLinksFolder, std::int32_t id)
    : TFolder(name), id_(id), isLinksFolder_(isLinksFolder) {}

bool TDefaultKFolder::IsValid(std::uint8_t& reason) const {
  reason = IsPrivateRoot() ? 1 : 0;
  std::uint8_t folderReason = 0;
  return !IsPrivate() && TFolder::IsValid(folderReason);
}

void TDefaultKFolder::SetPublic(bool isPublic) {
  if (isPublic == public_) return;
  public_ = isPublic;
  MarkModified();
}

void TDefaultKFolder::SetPublicCount(std::int32_t count) {
  if (count == publicCount_) return;
  publicCount_ = count;
  MarkModified();
}

bool TDefaultKFolder::IsPrivate() const {
  if (private_) return true;
  const auto* parent = dynamic_cast<const IFolderEx*>(GetParent());
  return parent != nullptr && parent->IsPrivate();
}

void TDefaultKFolder::SetPrivate(bool isPrivate) {
  if (isPrivate == private_) return;
  private_ = isPrivate;
  MarkModified();
}

bool TDefaultKFolder::IsPrivateRoot() const {
  if (!private_) return false;
  const auto* parent = dynamic_cast<const IFolderEx*>(GetParent());
  return parent == nullptr || !parent->IsPrivate();
}

void TDefaultKFolder::SetId(std::int32_t id) {
  if (id == id_) return;
  id_ = id;
  MarkModified();
}

void TDefaultKFolder::AddStats(TBookmarkStats& stats) const {
  stats.Folders += 1;
  const bool isPrivate = IsPrivate();
  for (const IBNodePtr& child : Children()) {
    if (dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
      stats.Bookmarks += 1;
      if (isPrivate) stats.PrivateBookmarks += 1;
    } else if (const auto* folder = dynamic_cast<const IFolderEx*>(child.get())) {
      folder->AddStats(stats);
    }
  }
}

bool TDefaultKFolder::PruneToPrivate() {
  bool result = IsPrivate();
  if (result) return true;
  for (int i = Count() - 1; i >= 0; --i) {
    const auto folder = std::dynamic_pointer_cast<IFolderEx>(Get(i));
    if (folder && folder->PruneToPrivate()) {
      result = true;
    } else {
      Delete(i);
    }
  }
  return result;
}

std::string TDefaultKFolder::HashIdText() const {
  return id_ == -1 ? std::string() : std::to_string(id_);
}

}  // namespace kelvo
