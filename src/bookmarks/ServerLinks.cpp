#include "bookmarks/ServerLinks.h"

#include "bookmarks/TreeWalk.h"

#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "bookmarks/Bookmark.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace kelvo {

namespace {

constexpr std::size_t kMaxTitleChars = 255;
constexpr std::size_t kMaxURLChars = 5120;
constexpr const char* kDefaultLinksFolderName = "Links";

std::mutex gLinksSourceLock;
TLinksFolderNameSource gLinksSource;  // empty = the default

// Both directions use the name with its default, so that what is read as
// the Links folder is written back as it, also when the settings hold no
// name.
std::string DefaultLinksFolderName() { return LinksFolderName(true); }

bool IsTreeRoot(const IBNode* node) { return dynamic_cast<const ISimpleTree*>(node) != nullptr; }

bool IsFolderNode(const IBNode* node) { return dynamic_cast<const IFolder*>(node) != nullptr; }

// "/" + the names from the top-level folder down to the node's folder.
std::string PathOf(const IBNode* node, bool escaped, const char* operation) {
  if (node == nullptr) return "/";
  const IBNode* folder = IsFolderNode(node) ? node : node->GetParent();
  TStringList names;
  std::unordered_set<const IBNode*> seen;
  for (const IBNode* p = folder; p != nullptr && !IsTreeRoot(p); p = p->GetParent()) {
    if (!IsFolderNode(p)) {
      throw TServerLinkException(std::string(operation) +
                                 ":broken parent chain, parent is not a folder:" + p->GetName());
    }
    if (!seen.insert(p).second) {
      throw TServerLinkException(std::string(operation) + ":broken parent chain, loop at:" +
                                 p->GetName());
    }
    names.push_back(escaped ? EscapeServerName(p->GetName()) : p->GetName());
  }
  if (names.empty()) return "/";
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += '/';
    path += *it;
  }
  return path;
}

bool IsLinkElement(const TXmlNode& node) { return node.IsElement() && node.Name() == "link"; }

// Valid, or the topmost private folder of a branch (reported to the server
// as a private link while its content stays on the client).
bool IsTopmostPrivate(const IBNode& node) {
  std::uint8_t reason = 0;
  return !node.IsValid(reason) && reason != 0;
}

}  // namespace

// ---- Paths

std::string ServerPath(const IBNode* node) { return PathOf(node, true, "ServerPath"); }

std::string GetPathUnescaped(const IBNode* node) { return PathOf(node, false, "GetPathUnescaped"); }

std::string EscapeServerName(const std::string& name) {
  if (name.find_first_of("/\\") == std::string::npos) return name;
  std::string out;
  out.reserve(name.size() + 4);
  for (const char c : name) {
    if (c == '/' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

TStringList SplitServerPath(const std::string& path) {
  TStringList segments;
  if (path.empty() || path[0] != '/') return segments;
  std::string segment;
  for (std::size_t i = 1; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '\\') {
      if (i + 1 < path.size()) segment += path[++i];
    } else if (c == '/') {
      if (!segment.empty()) segments.push_back(std::move(segment));
      segment.clear();
    } else {
      segment += c;
    }
  }
  if (!segment.empty()) segments.push_back(std::move(segment));
  return segments;
}

// ---- The Links folder

void SetLinksFolderNameSource(TLinksFolderNameSource source) {
  std::lock_guard<std::mutex> guard(gLinksSourceLock);
  gLinksSource = std::move(source);
}

std::string CurrentLinksFolderName() {
  TLinksFolderNameSource source;
  {
    std::lock_guard<std::mutex> guard(gLinksSourceLock);
    source = gLinksSource;
  }
  return source ? source() : DefaultLinksFolderName();
}

std::string ApplyLinksFolderRule(const std::string& path) {
  const std::string name = CurrentLinksFolderName();
  if (name.empty()) return path;
  // Only the whole first segment: a folder "LinksArchive" is not the Links
  // folder.
  const std::string prefix = "/" + EscapeServerName(name);
  if (!path.starts_with(prefix)) return path;
  if (path.size() != prefix.size() && path[prefix.size()] != '/') return path;
  return std::string("/") + kServerLinksFolderSegment + path.substr(prefix.size());
}

std::string ResolveLinksFolderSegment(const std::string& path) {
  const std::string marker = kServerLinksFolderSegment;
  // Segment boundaries are the "/" that are not escaped.
  std::size_t start = 0;
  std::size_t i = 0;
  while (i <= path.size()) {
    if (i == path.size() || path[i] == '/') {
      if (i - start == marker.size() && path.compare(start, marker.size(), marker) == 0 &&
          start > 0 && path[start - 1] == '/') {
        std::string name = CurrentLinksFolderName();
        if (name.empty()) name = kDefaultLinksFolderName;
        return path.substr(0, start) + EscapeServerName(name) + path.substr(i);
      }
      start = i + 1;
      ++i;
    } else if (path[i] == '\\') {
      i += 2;
    } else {
      ++i;
    }
  }
  return path;
}

// ---- Writers

TXmlElement WriteBookmarkLinkEx(const TXmlElement& parent, const std::string& elementName,
                                const std::string& path, bool isLive, std::int32_t id,
                                const std::string& url, const std::string& title) {
  const std::string linkPath = ApplyLinksFolderRule(path);
  std::string linkTitle = isLive ? title + ".LIV" : title;
  if (Utf8Length(linkTitle) > kMaxTitleChars) linkTitle = Utf8Cut(linkTitle, kMaxTitleChars);
  const std::string linkURL = Utf8Length(url) > kMaxURLChars ? Utf8Cut(url, kMaxURLChars) : url;
  if (linkPath.empty() || linkURL.empty() || linkTitle.empty()) {
    throw TServerLinkException("WriteBookmarkLinkEx: bad path, url, caption:" + linkPath + ":" +
                               linkTitle + ":" + linkURL);
  }
  const TXmlElement element = AddElement(parent.OwnerDocument(), parent, elementName);
  SetAttr(element, "path", linkPath);
  SetAttr(element, "url", linkURL);
  SetAttr(element, "title", linkTitle);
  if (id != -1) SetAttr(element, "id", std::to_string(id));
  return element;
}

TXmlElement WriteFolderLinkEx(const TXmlElement& parent, const std::string& elementName,
                              const std::string& path, bool isPrivate, std::int32_t id) {
  if (path.empty()) throw TServerLinkException("WriteFolderLinkEx: empty path");
  const TXmlElement element = AddElement(parent.OwnerDocument(), parent, elementName);
  SetAttr(element, "path", ApplyLinksFolderRule(path));
  if (id != -1) SetAttr(element, "id", std::to_string(id));
  if (isPrivate) SetAttr(element, "private", "CLIENT");
  return element;
}

void WriteTreeLinks(const IFolder& folder, const TXmlElement& parent) {
  // A folder's content stays on the client when it is the topmost private
  // folder: the server hears only that it exists.
  if (IsTopmostPrivate(folder)) {
    WriteFolderLinkEx(parent, "link", ServerPath(&folder), true, -1);
    return;
  }
  struct TFrame {
    const IFolder* folder;
    IFolderPtr hold;
    std::string path;
    int next;
  };
  std::vector<TFrame> stack;
  stack.push_back({&folder, nullptr, ServerPath(&folder), 0});
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.next >= top.folder->Count()) {
      stack.pop_back();
      continue;
    }
    const IBNodePtr child = top.folder->Get(top.next++);
    if (!child) continue;
    std::uint8_t reason = 0;
    if (!child->IsValid(reason) && reason == 0) continue;
    top.path = ApplyLinksFolderRule(top.path);
    try {
      if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(child)) {
        // GetServerId also gives a server bookmark's id, kept in its reference.
        WriteBookmarkLinkEx(parent, "link", top.path.empty() ? "/" : top.path,
                            HasFeedURL(*bookmark), GetServerId(child), bookmark->GetURL(),
                            bookmark->GetName());
      } else if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
        std::string path = (top.path == "/" ? std::string() : top.path) + "/" +
                           EscapeServerName(sub->GetName());
        const std::int32_t id = GetServerId(child);
        if (id != -1) WriteFolderLinkEx(parent, "link", path, false, id);
        if (IsTopmostPrivate(*sub)) {
          WriteFolderLinkEx(parent, "link", path, true, -1);
        } else {
          const IFolder* raw = sub.get();
          stack.push_back({raw, std::move(sub), std::move(path), 0});
        }
      }
    } catch (const TServerLinkException& e) {
      TLog::LogException(e, "WriteTreeLinks:" + Describe(child));
    }
  }
}

// ---- Server references

void SetServerRef(IBNode& node, std::int32_t id) {
  const std::string ref = id == -1 ? std::string() : ":" + std::to_string(id);
  if (auto* folder = dynamic_cast<IServerFolder*>(&node)) {
    folder->SetRef(ref);
  } else if (auto* bookmark = dynamic_cast<IBookmark*>(&node)) {
    bookmark->SetRef(ref);
  }
}

std::string GetServerRef(const IBNode& node) {
  if (const auto* folder = dynamic_cast<const IServerFolder*>(&node)) return folder->GetRef();
  if (const auto* bookmark = dynamic_cast<const IBookmark*>(&node)) return bookmark->GetRef();
  return std::string();
}

TNodeList CollectNodesWithRef(const IFolder& tree) {
  TNodeList nodes;
  WalkBelow(tree, [&](const IBNodePtr& node) {
    if (!GetServerRef(*node).empty()) nodes.push_back(node);
  });
  return nodes;
}

TNodeList CollectPrivateFolders(const IFolder& tree) {
  TNodeList nodes;
  WalkBelow(tree, [&](const IBNodePtr& node) {
    const auto* folder = dynamic_cast<const IServerFolder*>(node.get());
    if (folder && folder->GetPrivate()) nodes.push_back(node);
  });
  return nodes;
}

IBNodePtr FindNodeByRef(const TNodeList& nodes, const std::string& ref) {
  for (const IBNodePtr& node : nodes) {
    if (node && GetServerRef(*node) == ref) return node;
  }
  return nullptr;
}

IBNodePtr FindNodeById(const TNodeList& nodes, const std::string& id) {
  const std::string needle = ":" + id + "-";
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    if (*it && (GetServerRef(**it) + "-").find(needle) != std::string::npos) return *it;
  }
  return nullptr;
}

IBNodePtr FindNodeById(const TNodeList& nodes, std::int32_t id) {
  return FindNodeById(nodes, std::to_string(id));
}

void ReconcileRefs(const TNodeList& nodes, const TXmlNodeList& links, std::int32_t& orphanNodes,
                   std::int32_t& danglingLinks) {
  orphanNodes = 0;
  danglingLinks = 0;
  std::unordered_set<std::string> named;
  for (const TXmlNode& link : links) {
    if (!IsLinkElement(link)) continue;
    const std::string path = GetAttr(link, "path");
    if (path.find("/$news/") == std::string::npos && path.find("/$pub/") == std::string::npos) {
      continue;
    }
    const std::string ref = GetAttr(link, "ref");
    if (ref.empty()) {
      ++danglingLinks;
    } else if (!FindNodeByRef(nodes, ref)) {
      SetAttr(link, "ref", "");
      ++danglingLinks;
    } else {
      named.insert(ref);
    }
  }
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    if (!*it || named.contains(GetServerRef(**it))) continue;
    ++orphanNodes;
    SetServerRef(**it, -1);
  }
}

bool HasDuplicatePaths(const TXmlNodeList& links) {
  std::unordered_set<std::string> paths;
  for (const TXmlNode& link : links) {
    if (!IsLinkElement(link)) continue;
    if (!paths.insert(GetAttr(link, "path")).second) return true;
  }
  return false;
}

}  // namespace kelvo
