#include "bookmarks/FileBookmark.h"

#include <cstring>

#include "bookmarks/Hashing.h"
#include "bookmarks/UrlFile.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

std::string NameOfFile(const std::string& fileName) {
  std::size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::string ReadBookmarkURL(const std::string& path) {
  std::string reason;
  auto bytes = ReadSmallFile(path, kUrlFileMaxSize, &reason);
  // A NUL byte means a binary (or UTF-16) file, not a shortcut we can use.
  if (!bytes || std::memchr(bytes->data(), 0, bytes->size()) != nullptr) {
    throw TFileBookmarkException("Cannot open file:" + path);
  }
  return UrlFromUrlFileText(*bytes);
}

}  // namespace

std::string WithTrailingSlash(const std::string& directory) {
  std::string out = directory;
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string FileNameOfNode(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (out.empty() || out == "." || out == "..") out.insert(out.begin(), '_');
  return out;
}

std::string StripTrailingDots(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    bool last = end == std::string::npos;
    if (last) end = path.size();
    std::string_view name(path.data() + start, end - start);
    // Only a name followed by "/" is a directory part; the file name itself
    // ends in ".url" anyway.
    if (!last && name.find_first_not_of('.') != std::string_view::npos) {
      while (!name.empty() && name.back() == '.') name.remove_suffix(1);
    }
    out += name;
    if (last) break;
    out += '/';
    start = end + 1;
  }
  return out;
}

TFileBookmark::TFileBookmark(const std::string& directory, const std::string& fileName)
    : TDefaultKBookmark(NameOfFile(fileName), ReadBookmarkURL(WithTrailingSlash(directory) + fileName)) {}

TFileBookmark::TFileBookmark(const IBookmark& source) : TDefaultKBookmark(source) {
  name_ = FileNameOfNode(FileSafeName(name_, nmBookmark));
  normalizedName_.clear();
}

bool TFileBookmark::SaveToDisk(const std::string& directory, std::uint32_t mask) {
  if ((mask & GetFlags()) == 0) return true;
  std::string file = WithTrailingSlash(directory);
  file += FileNameOfNode(GetName());
  file += ".url";
  const std::string path = StripTrailingDots(file);
  try {
    WriteUrlFile(path, GetURL(), GetFeedURL());
    return true;
  } catch (const TKException& e) {
    TLog::LogException(e, "TFileBookmark.WriteFile");
    TLog::Error("TFileBookmark.WriteFile:Error saving:" + path);
    return false;
  }
}

}  // namespace kelvo
