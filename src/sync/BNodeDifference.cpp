#include "sync/BNodeDifference.h"

#include <unordered_map>
#include <utility>

#include "bookmarks/Bookmark.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/TreeWalk.h"

namespace kelvo {

namespace {

constexpr const char* kCrLf = "\r\n";

bool IsLocalPrivateFolder(const IBNode& node) {
  const auto* ex = dynamic_cast<const IFolderEx*>(&node);
  return ex != nullptr && ex->IsPrivate();
}

// Private on either side: the user's flag on a local folder (own or
// inherited), the server's on a server folder, or, for a bookmark, that of
// the folder holding it.
bool IsPrivateAnywhere(const IBNode& node) {
  const IBNode* folder = &node;
  if (dynamic_cast<const IBookmark*>(&node) != nullptr) folder = node.GetParent();
  for (const IBNode* at = folder; at != nullptr; at = at->GetParent()) {
    if (IsLocalPrivateFolder(*at)) return true;
    if (const auto* server = dynamic_cast<const IServerFolder*>(at)) {
      if (server->GetPrivate()) return true;
    } else if (dynamic_cast<const IFolderEx*>(at) != nullptr) {
      // IsPrivate already looked at every IFolderEx above.
      return false;
    }
  }
  return false;
}

// What CompareNodes looks at, computed once per node.
struct TNodeFacts {
  IBNodePtr node;
  bool isBookmark = false;
  bool isFolder = false;
  // False for nodes that can relate to nothing (see CompareNodes).
  bool relatable = false;
  std::string name;        // comparison form
  std::string url;         // bookmarks
  std::string path;        // comparison form of the folder path (bookmarks)
  std::string contentSum;  // folders
};

std::string JoinNames(const TStringList& names, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    out += '/';
    out += names[i];
  }
  return out;
}

// The folder checksum of the identity keys, taken over names and URLs only:
// the server's copy carries server ids that the Favorites folder cannot
// keep, so its own content checksum never equals the local one.
std::uint32_t ContentSumWithoutIds(const IFolder& folder) {
  // Unsigned: the sum wraps.
  std::uint32_t total = 0;
  const int count = folder.Count();
  for (int i = 0; i < count; ++i) {
    const IBNodePtr child = folder.Get(i);
    if (!child || !child->IsValid()) continue;
    if (dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
      total += StringChecksum(child->GetHash(hkNameURL));
    } else if (const auto* sub = dynamic_cast<const IFolder*>(child.get())) {
      total += StringChecksum(child->GetHash(hkNameKind));
      total += ContentSumWithoutIds(*sub);
    }
  }
  return total;
}

TNodeFacts MakeFacts(const IBNodePtr& holder, const IBNode& node) {
  TNodeFacts facts;
  facts.node = holder;
  if (const auto* bookmark = dynamic_cast<const IBookmark*>(&node)) {
    facts.isBookmark = true;
    facts.name = node.GetNormalizedName();
    facts.url = bookmark->GetURL();
    const TStringList names = NamePath(&node);
    facts.path = JoinNames(names, names.empty() ? 0 : names.size() - 1);
    facts.relatable = !IsPrivateAnywhere(node);
  } else if (const auto* folder = dynamic_cast<const IFolder*>(&node)) {
    facts.isFolder = true;
    facts.name = node.GetNormalizedName();
    // A folder without valid content has the checksum of every other such
    // folder; that says nothing about whether they are one folder.
    facts.relatable = !IsPrivateAnywhere(node) && folder->ValidBookmarkCount() > 0;
    if (facts.relatable) facts.contentSum = std::to_string(ContentSumWithoutIds(*folder));
  }
  return facts;
}

TBNodeDiffKind CompareFacts(const TNodeFacts& a, const TNodeFacts& b) {
  if (!a.relatable || !b.relatable) return DiffNone;
  if (a.isBookmark && b.isBookmark) {
    const bool sameName = a.name == b.name;
    const bool sameURL = a.url == b.url;
    if (a.path == b.path) {
      if (!sameName && sameURL) return DiffCaptionChanged;
      if (sameName && !sameURL) return DiffUrlChanged;
      return DiffNone;
    }
    return sameName && sameURL ? DiffMoved : DiffNone;
  }
  if (a.isFolder && b.isFolder) {
    if (a.contentSum != b.contentSum) return DiffNone;
    return a.name == b.name ? DiffMoved : DiffCaptionChanged;
  }
  return DiffNone;
}

// One child of a server folder waiting to be paired.
struct TCandidate {
  IBNode* node;
  bool isBookmark;
};

// Positions of a server folder's children by pairing key, in child order;
// next says how many of a key's positions were used up.
struct TKeyQueue {
  std::vector<IBNode*> nodes;
  std::size_t next = 0;
};

void PairFolders(IFolder& localRoot, IFolder& serverRoot) {
  std::vector<std::pair<IFolder*, IFolder*>> pending;
  pending.emplace_back(&localRoot, &serverRoot);
  std::unordered_map<std::string, TKeyQueue> bookmarks;
  std::unordered_map<std::string, TKeyQueue> folders;
  while (!pending.empty()) {
    auto [local, server] = pending.back();
    pending.pop_back();
    bookmarks.clear();
    folders.clear();
    const int serverCount = server->Count();
    for (int i = 0; i < serverCount; ++i) {
      const IBNodePtr child = server->Get(i);
      if (!child) continue;
      if (dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
        bookmarks[child->GetHash(hkNameURL)].nodes.push_back(child.get());
      } else if (dynamic_cast<const IFolder*>(child.get()) != nullptr) {
        folders[child->GetHash(hkNameKind)].nodes.push_back(child.get());
      }
    }
    const int localCount = local->Count();
    for (int i = 0; i < localCount; ++i) {
      const IBNodePtr child = local->Get(i);
      if (!child) continue;
      const bool isBookmark = dynamic_cast<const IBookmark*>(child.get()) != nullptr;
      auto* childFolder = isBookmark ? nullptr : dynamic_cast<IFolder*>(child.get());
      if (!isBookmark && (childFolder == nullptr || IsLocalPrivateFolder(*child))) continue;
      auto& map = isBookmark ? bookmarks : folders;
      const auto found = map.find(child->GetHash(isBookmark ? hkNameURL : hkNameKind));
      if (found == map.end()) continue;
      TKeyQueue& queue = found->second;
      // Only this pass pairs the children of this server folder, so the
      // first unused position is the first unpaired node of that key.
      while (queue.next < queue.nodes.size() && queue.nodes[queue.next]->GetTag() != 0) ++queue.next;
      if (queue.next == queue.nodes.size()) continue;
      IBNode* partner = queue.nodes[queue.next++];
      SetPair(*child, *partner);
      if (isBookmark) {
        child->SetFlags(child->GetFlags() | kFlagTouched);
        partner->SetFlags(partner->GetFlags() | kFlagTouched);
      } else {
        pending.emplace_back(childFolder, dynamic_cast<IFolder*>(partner));
      }
    }
  }
}

}  // namespace

const char* DiffKindName(TBNodeDiffKind kind) {
  switch (kind) {
    case DiffMoved:
      return "DiffMoved";
    case DiffCaptionChanged:
      return "DiffCaptionChanged";
    case DiffUrlChanged:
      return "DiffUrlChanged";
    case DiffDeleted:
      return "DiffDeleted";
    case DiffAdded:
      return "DiffAdded";
    case DiffNone:
      return "DiffNone";
  }
  return "";
}

IBNode* PairedNode(const IBNode& node) {
  const TNodeTag tag = node.GetTag();
  if (tag < kMarkLimit) return nullptr;
  return reinterpret_cast<IBNode*>(tag);
}

bool HasMark(const IBNode& node, TNodeTag mark) { return mark != 0 && node.GetTag() == mark; }

void SetPair(IBNode& a, IBNode& b) {
  a.SetTag(reinterpret_cast<TNodeTag>(&b));
  b.SetTag(reinterpret_cast<TNodeTag>(&a));
}

void ClearMarks(IBNode& tree) {
  auto clear = [](IBNode& node) {
    node.SetTag(0);
    node.SetFlags(node.GetFlags() & ~kEngineFlags);
  };
  clear(tree);
  if (const auto* folder = dynamic_cast<const IFolder*>(&tree)) {
    WalkBelow(*folder, [&](const IBNodePtr& node) { clear(*node); });
  }
}

TBNodeDifference::TBNodeDifference(TBNodeDiffKind kind, IBNodePtr localNode, IBNodePtr serverNode)
    : kind_(kind), localNode_(std::move(localNode)), serverNode_(std::move(serverNode)) {}

std::string TBNodeDifference::GetText() const {
  std::string text = "Type:";
  text += DiffKindName(kind_);
  if (localNode_) {
    text += kCrLf;
    text += Describe(localNode_);
  }
  if (serverNode_) {
    text += kCrLf;
    text += Describe(serverNode_);
  }
  return text;
}

void PairTrees(IFolder& localTree, IFolder& serverTree) {
  ClearMarks(localTree);
  ClearMarks(serverTree);
  PairFolders(localTree, serverTree);
}

void PairNodes(IBNode& local, IBNode& server) {
  SetPair(local, server);
  auto* localFolder = dynamic_cast<IFolder*>(&local);
  auto* serverFolder = dynamic_cast<IFolder*>(&server);
  if (localFolder != nullptr && serverFolder != nullptr) PairFolders(*localFolder, *serverFolder);
}

TNodeList CollectUnpaired(const IFolder& tree) {
  TNodeList list;
  // Iterative pre-order: a deep tree cannot exhaust the stack.
  struct TFrame {
    const IFolder* folder;
    int next;
  };
  std::vector<TFrame> stack;
  stack.push_back({&tree, 0});
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.next >= top.folder->Count()) {
      stack.pop_back();
      continue;
    }
    const IBNodePtr child = top.folder->Get(top.next++);
    if (!child) continue;
    if (!IsPaired(*child)) {
      list.push_back(child);
    } else if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      // The tree keeps every folder on the way alive while we walk it.
      stack.push_back({folder, 0});
    }
  }
  return list;
}

TBNodeDifferenceList ComputeDifferences(const IFolder& localTree, const IFolder& serverTree) {
  const TNodeList localNodes = CollectUnpaired(localTree);
  const TNodeList serverNodes = CollectUnpaired(serverTree);
  std::vector<TNodeFacts> serverFacts;
  serverFacts.reserve(serverNodes.size());
  for (const IBNodePtr& node : serverNodes) serverFacts.push_back(MakeFacts(node, *node));
  std::vector<bool> used(serverFacts.size(), false);
  std::size_t firstUnused = 0;

  TBNodeDifferenceList result;
  result.reserve(localNodes.size() + serverNodes.size());
  for (auto it = localNodes.rbegin(); it != localNodes.rend(); ++it) {
    const TNodeFacts local = MakeFacts(*it, **it);
    while (firstUnused < used.size() && used[firstUnused]) ++firstUnused;
    TBNodeDiffKind kind = DiffNone;
    std::size_t match = 0;
    if (local.relatable) {
      for (std::size_t i = firstUnused; i < serverFacts.size(); ++i) {
        if (used[i]) continue;
        kind = CompareFacts(local, serverFacts[i]);
        if (kind != DiffNone) {
          match = i;
          break;
        }
      }
    }
    if (kind != DiffNone) {
      used[match] = true;
      result.push_back(std::make_shared<TBNodeDifference>(kind, *it, serverNodes[match]));
    } else {
      result.push_back(std::make_shared<TBNodeDifference>(DiffDeleted, *it, nullptr));
    }
  }
  for (std::size_t i = serverNodes.size(); i-- > 0;) {
    if (!used[i]) result.push_back(std::make_shared<TBNodeDifference>(DiffAdded, nullptr, serverNodes[i]));
  }
  return result;
}

std::string DifferencesText(const TBNodeDifferenceList& list) {
  std::string text;
  for (const IBNodeDifferencePtr& difference : list) {
    if (!difference) continue;
    text += kCrLf;
    text += difference->GetText();
  }
  return text;
}

TBNodeDiffKind CompareNodes(const IBNode& a, const IBNode& b) {
  return CompareFacts(MakeFacts(nullptr, a), MakeFacts(nullptr, b));
}

}  // namespace kelvo
