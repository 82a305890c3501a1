#include "bookmarks/FileTree.h"

#include <filesystem>
#include <mutex>
#include <system_error>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/Hashing.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "foundation/RegistryTools.h"
#include "platform/SpecialFolders.h"

namespace kelvo {

namespace {

constexpr const char* kUndefined = "undefined";

std::mutex& LinksLock() {
  static std::mutex lock;
  return lock;
}
std::string& LinksCache() {
  static std::string cache = kUndefined;
  return cache;
}

std::mutex& OverrideLock() {
  static std::mutex lock;
  return lock;
}
std::string& OverridePath() {
  static std::string path;
  return path;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace

TFileTree::TFileTree(const std::string& directory, const std::string& treeName) : TDefaultSimpleTree(treeName) {
  std::error_code ec;
  if (!std::filesystem::exists(directory, ec)) {
    TLog::Info("TFileTree:no favorites directory:" + directory);
  } else {
    ReadFavoritesDirectory(*this, directory);
  }
  SetFlags(0);
}

void TFileTree::CollectStats(TBookmarkStats& stats) const {
  for (const IBNodePtr& child : Children()) {
    if (dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
      stats.Bookmarks += 1;
    } else if (const auto* folder = dynamic_cast<const IFolderEx*>(child.get())) {
      folder->AddStats(stats);
    }
  }
}

void TFileTree::RemoveOldFiles(const std::string& directory, const std::string& name) {
  try {
    RemoveOldFavoritesFiles(*this, directory + name, true);
  } catch (const TKException& e) {
    // The directory itself could not be listed.
    TLog::LogException(e, "TFileTree.RemoveOldFiles");
  }
}

bool TFileTree::SaveToDisk(const std::string& directory, std::uint32_t mask) {
  try {
    TFileTools::CreateFolder(directory);
    return SaveFavoritesChildren(*this, directory, mask);
  } catch (const TKException& e) {
    TLog::LogException(e, "TFileTree.SaveToDisk");
    TLog::Error("Could not save tree:" + directory);
    return false;
  }
}

std::string NodeFilePath(const std::string& rootDirectory, const IBNode& node) {
  const auto* parent = dynamic_cast<const IFileFolder*>(node.GetParent());
  if (parent == nullptr) return std::string();
  std::string root = rootDirectory;
  while (!root.empty() && root.back() == '/') root.pop_back();
  if (dynamic_cast<const IBookmark*>(&node) != nullptr) {
    return root + parent->GetRelativePath() + FileNameOfNode(node.GetName()) + ".url";
  }
  return root + parent->GetRelativePath() + FavoritesFolderDirectoryName(node.GetName());
}

IBNodePtr FindNodeByFilePath(const std::shared_ptr<TFileTree>& tree, const std::string& rootDirectory,
                             const std::string& filePath, bool isFolder) {
  if (!tree) return nullptr;
  std::string root = rootDirectory;
  while (!root.empty() && root.back() == '/') root.pop_back();
  // The path must be the root itself or lie below it.
  if (filePath.compare(0, root.size(), root) != 0) return nullptr;
  std::string relative = filePath.substr(root.size());
  if (!relative.empty() && relative[0] != '/') return nullptr;
  if (!isFolder && relative.size() >= 4) relative.resize(relative.size() - 4);
  const std::vector<std::string> names = TFileTools::SplitPath(relative);
  if (names.empty()) return tree;
  return tree->FindNode(PathHash(names, isFolder));
}

std::string LinksFolderName(bool useDefault) {
  std::string name;
  {
    std::lock_guard<std::mutex> guard(LinksLock());
    std::string& cache = LinksCache();
    if (cache == kUndefined) {
      std::string version;
      try {
        cache = ReadRegString(TRegRoot::HKCU, "Software\\Microsoft\\Internet Explorer\\Toolbar\\", "LinksFolderName");
        version = ReadRegString(TRegRoot::HKLM, "SOFTWARE\\Microsoft\\Internet Explorer", "Version");
      } catch (const std::exception& e) {
        // Without a settings store (the offline tools) there is no Links
        // folder; reading the Favorites must not fail for it.
        cache.clear();
        TLog::Warning(std::string("LinksFolderName:settings not readable:") + e.what());
      }
      TLog::Info("IE version=" + version);
      TLog::Info("Links folder name:" + cache + ":");
    }
    name = cache;
  }
  if (useDefault && name.empty()) return "Links";
  return name;
}

void ResetLinksFolderNameForTests() {
  std::lock_guard<std::mutex> guard(LinksLock());
  LinksCache() = kUndefined;
}

std::string FavoritesDirectory() {
  std::string path;
  {
    std::lock_guard<std::mutex> guard(OverrideLock());
    path = OverridePath();
  }
  if (path.empty()) {
    path = FavoritesFolder();
    if (path.find("LocalService") != std::string::npos) {
      const std::string location = TConfig::GetBrowserLocation();
      if (!location.empty() && IsDirectory(location)) path = location;
    }
  }
  return WithTrailingSlash(path);
}

void SetFavoritesDirectoryOverride(const std::string& directory) {
  std::lock_guard<std::mutex> guard(OverrideLock());
  OverridePath() = directory;
}

}  // namespace kelvo
