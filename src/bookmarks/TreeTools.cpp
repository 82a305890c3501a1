#include "bookmarks/TreeTools.h"

#include "bookmarks/TreeWalk.h"

#include <algorithm>
#include <exception>
#include <unordered_map>
#include <utility>

#include "bookmarks/FolderEx.h"
#include "bookmarks/HashableTree.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/TreeChangeNotifier.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

std::atomic<std::int32_t> gDuplicateCount{0};

bool IsTreeRoot(const IBNode* node) { return dynamic_cast<const ISimpleTree*>(node) != nullptr; }

bool IsFolderNode(const IBNode* node) { return dynamic_cast<const IFolder*>(node) != nullptr; }

// Server path with display names, unescaped: "/" for a root (or no folder),
// else "/" + the names from the top-level folder down to folder.
std::string UnescapedPath(const IBNode* folder) {
  TStringList names;
  for (const IBNode* p = folder; p != nullptr && !IsTreeRoot(p); p = p->GetParent()) {
    names.push_back(p->GetName());
  }
  if (names.empty()) return "/";
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
  return path;
}

}  // namespace

IFolderPtr GetParentFolder(const IBNode* node) {
  if (!node) return nullptr;
  try {
    IBNode* parent = node->GetParent();
    if (!parent) return nullptr;
    return std::dynamic_pointer_cast<IFolder>(parent->weak_from_this().lock());
  } catch (const std::exception& e) {
    TLog::Error(std::string("GetParentFolder:") + e.what());
    return nullptr;
  }
}

TStringList NamePath(const IBNode* node) {
  TStringList names;
  if (!node || IsTreeRoot(node)) return names;
  const bool isFolder = IsFolderNode(node);
  for (const IBNode* p = isFolder ? node : node->GetParent(); p != nullptr && !IsTreeRoot(p);
       p = p->GetParent()) {
    names.push_back(p->GetNormalizedName());
  }
  // A bookmark directly under the root has no folder path at all.
  if (names.empty()) return names;
  std::reverse(names.begin(), names.end());
  if (!isFolder) names.push_back(node->GetNormalizedName());
  return names;
}

TNameTbls NameTables(const TNodeList& nodes) {
  TNameTbls tables;
  for (const IBNodePtr& node : nodes) {
    TStringList path = NamePath(node);
    if (!path.empty()) tables.push_back(std::move(path));
  }
  return tables;
}

TNodeList Ancestors(const IBNode* node) {
  TNodeList ancestors;
  if (!node) return ancestors;
  for (IBNode* p = node->GetParent(); p != nullptr; p = p->GetParent()) {
    if (IBNodePtr held = p->weak_from_this().lock()) ancestors.push_back(std::move(held));
  }
  std::reverse(ancestors.begin(), ancestors.end());
  return ancestors;
}

void CollectFoldersWithFlags(const IFolder& folder, std::uint32_t mask, TNodeList& list) {
  WalkBelow(folder, [&](const IBNodePtr& node) {
    const auto* ex = dynamic_cast<const IFolderEx*>(node.get());
    if (ex && !ex->IsPrivate() && (node->GetFlags() & mask) != 0) list.push_back(node);
  });
}

void FlagPrivateFolders(const IFolder& folder, std::uint32_t flags) {
  WalkBelow(folder, [&](const IBNodePtr& node) {
    const auto* ex = dynamic_cast<const IFolderEx*>(node.get());
    if (ex && ex->IsPrivate()) node->SetFlags(flags);
  });
}

void CollectBookmarksWithFlags(const IFolder& folder, std::uint32_t mask, TNodeList& list) {
  WalkBelow(folder, [&](const IBNodePtr& node) {
    if (!dynamic_cast<const IBookmark*>(node.get())) return;
    const std::uint32_t flags = node->GetFlags();
    if ((flags & mask) != 0 || flags == mask) list.push_back(node);
  });
}

std::string Describe(const IBNode* node) {
  if (!node) return std::string();
  if (const auto* bookmark = dynamic_cast<const IBookmark*>(node)) {
    return "B>" + UnescapedPath(node->GetParent()) + ":" + node->GetName() + ":" + bookmark->GetURL();
  }
  if (IsFolderNode(node)) return "F>" + UnescapedPath(node);
  return std::string();
}

std::int32_t GetServerId(const IBNode* node) {
  if (!node) return -1;
  if (const auto* ex = dynamic_cast<const IFolderEx*>(node)) return ex->GetId();
  if (const auto* server = dynamic_cast<const IServerFolder*>(node)) {
    return ServerIdFromRef(server->GetRef());
  }
  if (const auto* bookmark = dynamic_cast<const IBookmark*>(node)) {
    // A server bookmark keeps its id only in its reference.
    const std::int32_t id = bookmark->GetId();
    return id != -1 ? id : ServerIdFromRef(bookmark->GetRef());
  }
  return -1;
}

bool HasFeedURL(const IBookmark& bookmark) { return !bookmark.GetFeedURL().empty(); }

bool IsPrivateNode(const IBNode* node, int kind) {
  if (!node) return false;
  const auto* ex = dynamic_cast<const IFolderEx*>(node);
  if (kind == kPrivateKindPrivate) {
    if (IsFolderNode(node)) return ex && ex->IsPrivate();
    const auto* parentEx = dynamic_cast<const IFolderEx*>(node->GetParent());
    return parentEx && parentEx->IsPrivate();
  }
  if (kind == kPrivateKindPublic) return ex && ex->GetPublic();
  return false;
}

void ClearServerIds(IBNode& node) {
  const auto clear = [](IBNode& n) {
    if (auto* bookmark = dynamic_cast<IBookmark*>(&n)) bookmark->SetId(-1);
    if (auto* ex = dynamic_cast<IFolderEx*>(&n)) {
      ex->SetPublic(false);
      ex->SetPrivate(false);
      ex->SetId(-1);
    }
  };
  clear(node);
  if (const auto* folder = dynamic_cast<const IFolder*>(&node)) {
    WalkBelow(*folder, [&](const IBNodePtr& n) { clear(*n); });
  }
}

void MarkDuplicates(IFolder& tree) {
  const auto* hashable = dynamic_cast<const IHashableTree*>(&tree);
  // A folder without indexes is counted here instead.
  std::unordered_map<std::string, std::int32_t> localCounts;
  if (!hashable) {
    WalkBelow(tree, [&](const IBNodePtr& node) {
      if (dynamic_cast<const IBookmark*>(node.get())) ++localCounts[node->GetHash(hkURL)];
    });
  }
  gDuplicateCount.store(0);
  WalkBelow(tree, [&](const IBNodePtr& node) {
    auto* bookmark = dynamic_cast<IBookmark*>(node.get());
    if (!bookmark) return;
    const std::string key = node->GetHash(hkURL);
    const std::int32_t count = hashable ? hashable->CountByURL(key) : localCounts[key];
    if (count > 1) {
      gDuplicateCount.fetch_add(1);
      bookmark->SetDuplicate(true);
    } else {
      bookmark->SetDuplicate(false);
    }
  });
}

std::int32_t DuplicateCount() { return gDuplicateCount.load(); }

namespace {

// The bookmarks removed so far, with the rule that keeps one entry per
// place: an entry of the same kind-5 key and the same kind-4 key is never
// added twice, and a bookmark without a server id replaces the latest
// entry of its kind-5 key when their kind-4 keys differ.
class TRemovedList {
 public:
  void Put(const IBNodePtr& node) {
    std::string path = node->GetHash(hkPath);
    std::string pathURLId = node->GetHash(hkPathURLId);
    std::vector<std::size_t>& samePath = byPath_[std::move(path)];
    if (!samePath.empty()) {
      if (GetServerId(node) == -1) {
        TEntry& latest = entries_[samePath.back()];
        if (latest.pathURLId == pathURLId) return;
        latest.alive = false;
        samePath.pop_back();
      } else {
        for (auto it = samePath.rbegin(); it != samePath.rend(); ++it) {
          if (entries_[*it].pathURLId == pathURLId) return;
        }
      }
    }
    samePath.push_back(entries_.size());
    entries_.push_back({node, std::move(pathURLId), true});
  }

  TNodeList Take() {
    TNodeList nodes;
    for (TEntry& entry : entries_) {
      if (entry.alive) nodes.push_back(std::move(entry.node));
    }
    entries_.clear();
    byPath_.clear();
    return nodes;
  }

 private:
  struct TEntry {
    IBNodePtr node;
    std::string pathURLId;
    bool alive;
  };
  std::vector<TEntry> entries_;
  // Entry positions by kind-5 key, in list order, live entries only.
  std::unordered_map<std::string, std::vector<std::size_t>> byPath_;
};

// One child of the folder being deduplicated, with the keys the pass
// compares. Positions never shift for the children still to be handled,
// because the pass only ever deletes the child at or after its position.
struct TSibling {
  IBNodePtr node;
  std::string urlKey;   // kind 2
  std::string kindKey;  // kind 3
  std::string name;     // normalized, filled on first comparison
  bool hasName = false;

  const std::string& Name() {
    if (!hasName) {
      name = node->GetNormalizedName();
      hasName = true;
    }
    return name;
  }
};

using TPositions = std::unordered_map<std::string, std::vector<int>>;

void DropFrom(std::vector<int>& positions, int p) {
  while (!positions.empty() && positions.back() >= p) positions.pop_back();
}

// Steps 1 and 2 of the pass on one folder. Every later child is compared
// with its earlier siblings that share its URL key or its name key; rather
// than scanning all earlier siblings, the pass keeps per key the positions
// of the siblings not yet handled, latest last. Siblings found on the way
// are flagged for removal and can never match again, so they are dropped
// from those lists as they are met, and the work stays linear in the
// number of children however many of them collide.
void DeduplicateSiblings(IFolder& folder, TRemovedList& removed) {
  const int count = folder.Count();
  std::vector<TSibling> siblings(static_cast<std::size_t>(std::max(count, 0)));
  TPositions byURL;       // bookmark candidates by kind-2 key
  TPositions byKind;      // bookmark candidates by kind-3 key
  TPositions allByKind;   // every child by kind-3 key, for folder merging
  for (int i = 0; i < count; ++i) {
    TSibling& s = siblings[static_cast<std::size_t>(i)];
    s.node = folder.Get(i);
    if (!s.node) continue;
    s.urlKey = s.node->GetHash(hkURL);
    s.kindKey = s.node->GetHash(hkNameKind);
    if (!s.urlKey.empty()) byURL[s.urlKey].push_back(i);
    if (!s.kindKey.empty()) {
      byKind[s.kindKey].push_back(i);
      allByKind[s.kindKey].push_back(i);
    }
  }

  bool marked = false;
  std::vector<int> noPositions;
  for (int p = count - 1; p >= 0; --p) {
    TSibling& current = siblings[static_cast<std::size_t>(p)];
    const IBNodePtr node = current.node;  // held: Delete may drop the last reference
    if (!node || !node->IsValid()) continue;

    if (auto merged = std::dynamic_pointer_cast<IFolder>(node)) {
      // A later folder of the same normalized name is merged into the
      // latest earlier one.
      auto it = allByKind.find(current.kindKey);
      if (it == allByKind.end()) continue;
      DropFrom(it->second, p);
      if (it->second.empty()) continue;
      auto target = std::dynamic_pointer_cast<IFolder>(siblings[static_cast<std::size_t>(it->second.back())].node);
      if (!target) continue;
      TNodeList moving;
      for (int i = 0, n = merged->Count(); i < n; ++i) {
        if (IBNodePtr child = merged->Get(i)) moving.push_back(std::move(child));
      }
      for (const IBNodePtr& child : moving) target->Add(child);
      folder.Delete(p);
      continue;
    }

    if (!dynamic_cast<const IBookmark*>(node.get())) continue;
    auto urlIt = byURL.find(current.urlKey);
    auto kindIt = byKind.find(current.kindKey);
    std::vector<int>& byUrlPos = urlIt != byURL.end() ? urlIt->second : noPositions;
    std::vector<int>& byKindPos = kindIt != byKind.end() ? kindIt->second : noPositions;
    DropFrom(byUrlPos, p);
    DropFrom(byKindPos, p);

    // Walk the union of both lists from the latest sibling down.
    int a = static_cast<int>(byUrlPos.size()) - 1;
    int b = static_cast<int>(byKindPos.size()) - 1;
    bool drop = false;
    while (a >= 0 || b >= 0) {
      const int qa = a >= 0 ? byUrlPos[static_cast<std::size_t>(a)] : -1;
      const int qb = b >= 0 ? byKindPos[static_cast<std::size_t>(b)] : -1;
      const int q = std::max(qa, qb);
      TSibling& other = siblings[static_cast<std::size_t>(q)];
      if (other.node->GetFlags() != kFlagsUnduplicate) {
        if (current.Name().compare(other.Name()) > 0) {
          drop = true;
          break;  // q stays listed: it is not flagged
        }
        other.node->SetFlags(kFlagsUnduplicate);
        marked = true;
      }
      if (qa == q) --a;
      if (qb == q) --b;
    }
    // Everything above the positions reached is flagged now.
    byUrlPos.resize(static_cast<std::size_t>(a + 1));
    byKindPos.resize(static_cast<std::size_t>(b + 1));
    if (drop) {
      removed.Put(node);
      folder.Delete(p);
    }
  }

  if (!marked) return;
  for (int i = folder.Count() - 1; i >= 0; --i) {
    IBNodePtr child = folder.Get(i);
    if (child && child->GetFlags() == kFlagsUnduplicate) {
      removed.Put(child);
      folder.Delete(i);
    }
  }
}

}  // namespace

TNodeList Unduplicate(IFolder& tree) {
  TRemovedList removed;
  auto* notifier = dynamic_cast<ITreeChangeNotifier*>(&tree);
  if (notifier) notifier->BeginUpdate();
  try {
    // Each folder is handled before the folders inside it, in child order;
    // the folders merged into it are handled with it.
    DeduplicateSiblings(tree, removed);
    std::vector<IFolderPtr> pending;
    const auto pushChildFolders = [&pending](const IFolder& folder) {
      const std::size_t first = pending.size();
      for (int i = 0, n = folder.Count(); i < n; ++i) {
        if (auto sub = std::dynamic_pointer_cast<IFolder>(folder.Get(i))) pending.push_back(std::move(sub));
      }
      std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
    };
    pushChildFolders(tree);
    while (!pending.empty()) {
      IFolderPtr folder = std::move(pending.back());
      pending.pop_back();
      DeduplicateSiblings(*folder, removed);
      pushChildFolders(*folder);
    }
  } catch (...) {
    if (notifier) notifier->EndUpdate();
    throw;
  }
  if (notifier) notifier->EndUpdate();
  return removed.Take();
}

}  // namespace kelvo
