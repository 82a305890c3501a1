#include "sidebar/SBListings.h"

#include <charconv>

#include "bookmarks/Bookmark.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "sidebar/KeyValueStore.h"
#include "sidebar/lkJSON.h"

namespace kelvo {

namespace {

bool NeedsQuotes(const std::string& entry) {
  for (char c : entry) {
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
  }
  return false;
}

std::vector<std::string> SplitPositions(const std::string& path) {
  std::vector<std::string> parts;
  if (TrimBlanks(path).empty()) return parts;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = path.find(',', start);
    parts.push_back(TrimBlanks(std::string_view(path).substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

int ParsePosition(const std::string& text) {
  int value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last) {
    throw TSBServicesException("'" + text + "' is not a valid integer value");
  }
  return value;
}

}  // namespace

std::string CommaText(const std::vector<std::string>& entries) {
  if (entries.size() == 1 && entries[0].empty()) return "\"\"";
  std::string out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& entry = entries[i];
    if (!NeedsQuotes(entry)) {
      out += entry;
      continue;
    }
    out += '"';
    for (char c : entry) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::string GetBookmarksJSON(const IFolderPtr& root, const std::string& path) {
  if (!root) return std::string();
  IFolderPtr current = root;
  for (const std::string& text : SplitPositions(path)) {
    const int position = ParsePosition(text);
    if (position < 0 || position >= current->Count()) {
      TLog::Error("TSBServices.GetBookmarks_:badindex:" + text);
      continue;
    }
    auto folder = std::dynamic_pointer_cast<IFolder>(current->Get(position));
    if (!folder) {
      throw TSBServicesException("TSBServices.GetBookmarks_:not a folder:" + text);
    }
    current = std::move(folder);
  }

  const std::string folderPath = ServerPath(current.get());
  TlkJSONobject listing;
  const int count = current->Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = current->Get(i);
    auto entry = std::make_unique<TlkJSONobject>();
    if (auto folder = std::dynamic_pointer_cast<IFolder>(child)) {
      entry->Add("title", folder->GetName());
      entry->Add("path", folderPath);
      entry->Add("bkCount", std::to_string(folder->BookmarkCount()));
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(child)) {
      entry->Add("url", bookmark->GetURL());
      entry->Add("title", bookmark->GetName());
      entry->Add("path", folderPath);
    } else {
      continue;
    }
    listing.Add(std::to_string(i), std::move(entry));
  }
  listing.Add("length", std::to_string(count));
  return TlkJSON::GenerateText(listing);
}

std::string FindKeldgetManifests(const std::string& sidebarFolder) {
  TFindOptions options;
  options.recurse = true;
  options.kinds = TFindKinds::Files;
  std::vector<std::string> found;
  try {
    found = TFileTools::FindFiles(sidebarFolder, kKeldgetManifestName, options).paths;
  } catch (const std::exception& e) {
    TLog::Debug(std::string("FindKeldgetManifests:") + e.what());
  }
  return CommaText(found);
}

}  // namespace kelvo
