#include "bookmarks/ServerTree.h"

#include <charconv>
#include <utility>

#include "bookmarks/ServerBookmark.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace kelvo {

namespace {

// The server's rank text as an integer, -1 when it is not one.
std::int32_t ParseRank(const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  std::int32_t value = -1;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end) return -1;
  return value;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = AsciiToLower(c);
  return text;
}

}  // namespace

TServerTree::TServerTree(const std::string& treeName) : TDefaultSimpleTree(treeName) {}

TServerTree::TServerTree(const TXmlNodeList& links, const std::string& treeName)
    : TDefaultSimpleTree(treeName) {
  Load(links, std::string());
}

std::shared_ptr<TServerTree> TServerTree::Create(const std::string& treeName) {
  return std::make_shared<TServerTree>(treeName);
}

std::shared_ptr<TServerTree> TServerTree::Create(const TXmlNodeList& links,
                                                 const std::string& treeName) {
  return std::make_shared<TServerTree>(links, treeName);
}

IServerFolderPtr TServerTree::FindOrCreatePath(const TStringList& names, std::size_t index) {
  return FindOrCreateServerPath(*this, names, index, true);
}

void TServerTree::RemoveAllChildren() {
  for (int i = Count() - 1; i >= 0; --i) {
    const IBNodePtr child = Get(i);
    Delete(i);
    if (child && child->GetParent() == static_cast<const IBNode*>(this)) child->SetParent(nullptr);
  }
}

void TServerTree::Load(const TXmlNodeList& links, const std::string& rootPathIn) {
  TTreeUpdateBracket bracket(this);
  RemoveAllChildren();

  std::string rootPath = rootPathIn;
  if (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
  const bool underRoot = !rootPath.empty() && rootPath != "/";

  // The folder the last bookmark went into, remembered by the names that
  // found it: consecutive links of one folder need no new search.
  // Folders stay owned by the tree for the whole load.
  IFolder* lastParent = nullptr;
  TStringList lastParentNames;
  std::string lastPath;

  std::size_t index = 0;
  for (const TXmlNode& link : links) {
    const std::size_t i = index++;
    if (!link.IsElement() || link.Name() != "link") continue;

    std::string path = GetAttr(link, "path");
    if (path.empty()) {
      TLog::Warning("TServerTree.Create:empty path - ignored for idx:" + std::to_string(i));
      continue;
    }
    if (path[0] != '/') {
      TLog::Warning("TServerTree.Create:path missing leading slash:" + path);
      path = "/" + path;
    }
    if (underRoot) {
      // Only what lies below the root path, and only as a whole first part
      // of the path: "/x/News/a" is not below "/News".
      if (path == rootPath) {
        path = "/";
      } else if (path.size() > rootPath.size() && path.starts_with(rootPath) &&
                 path[rootPath.size()] == '/') {
        path = path.substr(rootPath.size());
      } else {
        continue;
      }
    }

    const std::string title = GetAttr(link, "title");
    const std::string url = GetAttr(link, "url");
    const std::string id = GetAttr(link, "id");
    const std::string rank = GetAttr(link, "rank");
    path = ResolveLinksFolderSegment(path);

    TStringList names = SplitServerPath(path);
    if (!title.empty()) names.push_back(title);
    if (names.empty()) {
      if (rootPath.empty()) TLog::Warning("TServerTree.Create:no name tbl for idx:" + std::to_string(i));
      continue;
    }
    if (names.size() > kMaxServerPathDepth) {
      TLog::Warning("TServerTree.Create:path too deep - ignored for idx:" + std::to_string(i));
      continue;
    }

    if (!url.empty()) {
      // A bookmark link names its folder by its path and itself by its
      // title; one without a title takes the last segment of its path.
      std::string name = title;
      TStringList parentNames = std::move(names);
      if (parentNames.size() == 1) {
        parentNames.clear();
      } else {
        if (title.empty()) name = parentNames.back();
        parentNames.pop_back();
      }
      IFolder* parent = nullptr;
      if (parentNames.empty()) {
        parent = this;
      } else if (lastParent && parentNames == lastParentNames) {
        parent = lastParent;
      } else {
        parent = FindOrCreatePath(parentNames, 0).get();
      }
      if (!parent) {
        TLog::Error("TServerTree.Init:no LastParent found:path=" + path + ":LastPath=" + lastPath +
                    ":Url=" + url);
        continue;
      }
      parent->Add(NewServerBookmark(name, url, id));
      lastParent = parent;
      lastParentNames = std::move(parentNames);
      lastPath = path;
    } else if (!id.empty()) {
      IServerFolderPtr folder = FindOrCreatePath(names, 0);
      folder->SetRef(id);
      if (!rank.empty()) folder->SetRank(ParseRank(rank));
      lastParent = folder.get();
      lastParentNames = std::move(names);
      lastPath = path;
    } else if (AsciiLower(GetAttr(link, "private")) == "client") {
      IServerFolderPtr folder = FindOrCreatePath(names, 0);
      folder->SetPrivate(true);
      lastParent = folder.get();
      lastParentNames = std::move(names);
      lastPath = path;
    }
  }
  bracket.End();
}

}  // namespace kelvo
