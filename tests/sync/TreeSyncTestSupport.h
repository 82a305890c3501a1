#pragma once
// Shared pieces of the tree difference and merge tests: a fixture with its
// own HOME, settings database and debug-level log, a real Favorites folder
// written from a list of entries, the server tree from link markup, and
// listings of a folder on disk and of a tree.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestHome.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/ServerLinks.h"
#include "bookmarks/ServerTree.h"
#include "bookmarks/UrlFile.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo::test {

namespace fs = std::filesystem;

class TreeSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    logFile_ = home_->Sub("kelvo-test.log");
    TLog::Init(5, logFile_, false, false);
    ResetLinksFolderNameForTests();
    SetLinksFolderNameSource([] { return std::string("Links"); });
    favorites_ = home_->Sub("Favorites");
    fs::create_directories(favorites_);
  }
  void TearDown() override {
    SetLinksFolderNameSource(nullptr);
    ResetLinksFolderNameForTests();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  std::string LogText() const { return ReadFileText(logFile_); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  // Entries relative to the Favorites folder: "a/b/" is a folder,
  // "a/x.url=http://..." a shortcut, "a/desktop.ini=text" any other file.
  void WriteFavorites(const std::vector<std::string>& entries) const {
    for (const std::string& entry : entries) {
      const auto eq = entry.find('=');
      const std::string rel = entry.substr(0, eq);
      const fs::path path = fs::path(favorites_) / rel;
      if (rel.back() == '/') {
        fs::create_directories(path);
        continue;
      }
      fs::create_directories(path.parent_path());
      const std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
      if (path.extension() == ".url") {
        WriteFileText(path, "[InternetShortcut]\r\nURL=" + value + "\r\n");
      } else {
        WriteFileText(path, value);
      }
    }
  }

  // The Favorites folder as a tree with its keys, as the reader leaves it.
  std::shared_ptr<TFileTree> ReadFavorites() const {
    auto tree = std::make_shared<TFileTree>(favorites_, "My Favorites");
    tree->InitHashes();
    return tree;
  }

  // Everything on disk below the Favorites folder, sorted, in the form of
  // WriteFavorites: folders end in "/", shortcuts show their URL.
  std::vector<std::string> DiskListing() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(favorites_)) {
      std::string rel = fs::relative(entry.path(), favorites_).generic_string();
      if (entry.is_directory()) {
        out.push_back(rel + "/");
      } else if (entry.path().extension() == ".url") {
        out.push_back(rel + "=" + UrlFromUrlFileText(ReadFileText(entry.path())));
      } else {
        out.push_back(rel + "=" + ReadFileText(entry.path()));
      }
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // Writes the tree back as the controller does after a merge or import:
  // what carries mask 3 is written, what the tree no longer holds removed.
  void WriteTree(TFileTree& tree, std::uint32_t mask = 3) const {
    tree.SaveToDisk(favorites_, mask);
    tree.RemoveOldFiles(favorites_, "");
  }

  std::unique_ptr<TTestHome> home_;
  std::string logFile_;
  std::string favorites_;
};

// The server tree of <links>markup</links>, keys computed.
inline TServerTreePtr ServerTreeOf(const std::string& markup) {
  const TXmlDocument doc = MakeFromString("<links>" + markup + "</links>");
  return TServerTree::Create(TXmlNodeList(doc.DocumentElement().ChildElements()), "Server");
}

// One line per node below folder, in tree order: "/a/b/" for a folder (with
// " private" when it is), "/a/name=url" for a bookmark, " id=" when set.
inline void TreeListingInto(const IFolder& folder, const std::string& prefix, std::vector<std::string>& out) {
  for (int i = 0; i < folder.Count(); ++i) {
    const IBNodePtr child = folder.Get(i);
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      std::string line = prefix + sub->GetName() + "/";
      if (auto ex = std::dynamic_pointer_cast<IFolderEx>(child)) {
        if (ex->IsPrivateRoot()) line += " private";
        if (ex->GetId() != -1) line += " id=" + std::to_string(ex->GetId());
      }
      out.push_back(line);
      TreeListingInto(*sub, prefix + sub->GetName() + "/", out);
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(child)) {
      std::string line = prefix + bookmark->GetName() + "=" + bookmark->GetURL();
      if (bookmark->GetId() != -1) line += " id=" + std::to_string(bookmark->GetId());
      out.push_back(line);
    }
  }
}

inline std::vector<std::string> TreeListing(const IFolder& folder) {
  std::vector<std::string> out;
  TreeListingInto(folder, "", out);
  return out;
}

}  // namespace kelvo::test
