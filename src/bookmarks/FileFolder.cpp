#include "bookmarks/FileFolder.h"

#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/Hashing.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

// Characters (code points) of a UTF-8 name; stray bytes count one each.
std::size_t CharacterCount(const std::string& name) {
  std::size_t count = 0;
  for (unsigned char c : name) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsUrlFileName(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot != 4) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = AsciiLower(c);
  return ext == ".url";
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Replaces every occurrence of what (ASCII letters without case when
// ignoreCase) by with; false when there was none.
bool ReplaceAll(std::string& text, const std::string& what, const std::string& with, bool ignoreCase) {
  std::string lowered = text;
  std::string needle = what;
  if (ignoreCase) {
    for (char& c : lowered) c = AsciiLower(c);
    for (char& c : needle) c = AsciiLower(c);
  }
  std::string out;
  std::size_t start = 0;
  bool found = false;
  for (std::size_t at = lowered.find(needle); at != std::string::npos; at = lowered.find(needle, start)) {
    out.append(text, start, at - start);
    out += with;
    start = at + needle.size();
    found = true;
  }
  if (!found) return false;
  out.append(text, start, std::string::npos);
  text = std::move(out);
  return true;
}

struct TRepair {
  std::string name;
  std::string logText;  // empty: no repair
};

TRepair RepairName(const std::string& fileName) {
  TRepair repair{fileName, {}};
  const std::size_t n = fileName.size();
  if (CharacterCount(fileName) >= 5 && n >= 5 && fileName[n - 5] == ' ') {
    // "\s*\.url$" -> "_.url"; a name ending otherwise ("x .URL") has nothing
    // to replace and is left alone.
    if (fileName.compare(n - 4, 4, ".url") == 0) {
      std::size_t end = n - 4;
      while (end > 0 && IsSpace(fileName[end - 1])) --end;
      repair.name = fileName.substr(0, end) + "_.url";
      repair.logText = "Found favorites filename with space at the end:renamed it:";
    }
  } else if (ReplaceAll(repair.name, "&amp;#39;", "'", true)) {
    repair.logText = "Found favorites filename with \"&amp;#39;\":renamed it:";
  } else if (ReplaceAll(repair.name, "&#39;", "'", false)) {
    repair.logText = "Found favorites filename with \"&#39;\":renamed it:";
  }
  if (repair.logText.empty()) repair.name = fileName;
  return repair;
}

struct TEntry {
  std::string name;
  bool isDirectory = false;
  bool isSymlink = false;
};

// The entries of a directory in the file system's order, "." and ".."
// excluded. Raises TFileFolderException when it cannot be listed.
std::vector<TEntry> ListEntries(const std::string& directory) {
  std::vector<TEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) throw TFileFolderException("Cannot read directory:" + directory + " " + ec.message());
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    TEntry entry;
    entry.name = it->path().filename().string();
    std::error_code typeEc;
    entry.isSymlink = it->is_symlink(typeEc);
    entry.isDirectory = it->is_directory(typeEc);
    entries.push_back(std::move(entry));
  }
  if (ec) {
    TLog::Warning("TFileFolder.ReadDirectory:listing stopped:" + directory + " " + ec.message());
  }
  return entries;
}

bool SkippedEntry(const TEntry& entry) {
  return !entry.isDirectory && CharacterCount(entry.name) < 5;
}

// The name a folder's directory gets on disk: trailing dots go, as the
// Windows file system drops them (and as the bookmark paths inside lose
// them), except for a name made only of dots.
std::string FolderDirectoryName(const std::string& name) {
  std::string out = FileNameOfNode(name);
  if (out.find_first_not_of('.') == std::string::npos) return out;
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

}  // namespace

std::string FavoritesFolderDirectoryName(const std::string& name) { return FolderDirectoryName(name); }

std::string RepairedFavoritesFileName(const std::string& fileName) { return RepairName(fileName).name; }

void ReadFavoritesDirectory(IFolder& folder, const std::string& directory) {
  const std::string dir = WithTrailingSlash(directory);
  for (TEntry& entry : ListEntries(dir)) {
    if (SkippedEntry(entry)) continue;
    try {
      if (entry.isDirectory) {
        if (entry.isSymlink) {
          TLog::Warning("TFileFolder.ReadDirectory:symbolic link to a folder not followed:" + dir + entry.name);
          continue;
        }
        folder.Add(std::make_shared<TFileFolder>(dir, true, entry.name));
        continue;
      }
      TRepair repair = RepairName(entry.name);
      if (!repair.logText.empty()) {
        try {
          TFileTools::RenameFile(dir + entry.name, dir + repair.name);
          entry.name = repair.name;
          TLog::Info(repair.logText + repair.name);
        } catch (const TKFileException&) {
          // Read under the damaged name.
        }
      }
      if (IsUrlFileName(entry.name)) folder.Add(std::make_shared<TFileBookmark>(dir, entry.name));
    } catch (const TKException& e) {
      TLog::LogException(e, "TFileFolder.ReadDirectory:" + dir + entry.name);
    } catch (const std::exception& e) {
      TLog::LogException(e, "TFileFolder.ReadDirectory:" + dir + entry.name);
    }
  }
}

bool SaveFavoritesChildren(const IFolder& folder, const std::string& directory, std::uint32_t mask) {
  bool result = true;
  const int count = folder.Count();
  for (int i = 0; i < count; ++i) {
    auto savable = std::dynamic_pointer_cast<IFileSavable>(folder.Get(i));
    if (!savable) continue;
    result = savable->SaveToDisk(directory, mask);
    if (!result) break;
  }
  return result;
}

void RemoveOldFavoritesFiles(const IFolder& folder, const std::string& directory, bool isTree) {
  const std::string dir = WithTrailingSlash(directory);
  std::map<std::string, IFileFolderPtr> folders;
  std::set<std::string> bookmarks;
  const int count = folder.Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = folder.Get(i);
    if (auto childFolder = std::dynamic_pointer_cast<IFileFolder>(child)) {
      folders.emplace(FolderDirectoryName(childFolder->GetName()), childFolder);
    } else if (child && dynamic_cast<const IBookmark*>(child.get()) != nullptr) {
      bookmarks.insert(FileNameOfNode(child->GetName()));
    }
  }
  for (const TEntry& entry : ListEntries(dir)) {
    if (SkippedEntry(entry)) continue;
    try {
      if (entry.isDirectory) {
        // A link may lead anywhere: it is neither entered nor deleted.
        if (entry.isSymlink) continue;
        auto match = folders.find(entry.name);
        if (match != folders.end()) {
          match->second->RemoveOldFiles(dir, entry.name);
        } else {
          TFileTools::DeleteFolder(dir + entry.name);
        }
      } else if (IsUrlFileName(entry.name)) {
        if (bookmarks.count(entry.name.substr(0, entry.name.size() - 4)) == 0) {
          TFileTools::DeleteFile(dir + entry.name);
        }
      }
    } catch (const TKException& e) {
      if (isTree) {
        TLog::LogException(e, "TFileTree.RemoveOldFiles");
      } else {
        TLog::Error("TFileFolder.RemoveOldFiles:Could not delete:" + dir + entry.name);
      }
    }
  }
}

TFileFolder::TFileFolder(const std::string& parentDirectory, bool recurse, const std::string& name)
    : TDefaultKFolder(name, false, -1) {
  const std::string links = LinksFolderName(false);
  isLinksFolder_ = !links.empty() && links == name;
  if (recurse) ReadFavoritesDirectory(*this, WithTrailingSlash(parentDirectory) + name + "/");
  // What was just read is what is on disk.
  flags_ = 0;
}

TFileFolder::TFileFolder(const IFolder& source)
    : TDefaultKFolder(FileNameOfNode(FileSafeName(source.GetName(), nmFolder)), false, -1) {
  const int count = source.Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = source.Get(i);
    if (!child) continue;
    if (const auto* bookmark = dynamic_cast<const IBookmark*>(child.get())) {
      Add(std::make_shared<TFileBookmark>(*bookmark));
    } else if (const auto* folder = dynamic_cast<const IFolder*>(child.get())) {
      Add(std::make_shared<TFileFolder>(*folder));
    }
  }
}

std::string TFileFolder::GetRelativePath() const {
  std::string parentPath = "/";
  if (const auto* parent = dynamic_cast<const IFileFolder*>(GetParent())) parentPath = parent->GetRelativePath();
  // The names as they are on disk, so that the path names the real directory.
  return parentPath + FolderDirectoryName(GetName()) + "/";
}

void TFileFolder::RemoveOldFiles(const std::string& directory, const std::string& name) {
  RemoveOldFavoritesFiles(*this, WithTrailingSlash(directory) + name + "/", false);
}

bool TFileFolder::SaveToDisk(const std::string& directory, std::uint32_t mask) {
  const std::string parent = WithTrailingSlash(directory);
  const std::string folderDirectory = StripTrailingDots(parent) + FolderDirectoryName(GetName()) + "/";
  try {
    TFileTools::CreateFolder(folderDirectory);
    SaveFavoritesChildren(*this, folderDirectory, mask);
    return true;
  } catch (const TKException& e) {
    TLog::LogException(e, "TFileFolder.SaveToDisk");
    TLog::Error("Error saving folder:" + folderDirectory);
    return false;
  }
}

}  // namespace kelvo
