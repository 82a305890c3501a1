#include "archive/Archive.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/XBEL.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "foundation/Translate.h"
#include "server/ServerResponseHandlers.h"

namespace kelvo {

namespace {

constexpr std::int64_t kMsPerHour = 3600000;

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

TArchiveMessageSink& Sink() {
  static TArchiveMessageSink sink;
  return sink;
}

void EnsureArchiveFolder(const std::string& folder) {
  try {
    TFileTools::CreateFolder(folder);
  } catch (const TKException& e) {
    throw TArchiveException("Invalid path for archive:" + folder, e);
  }
}

// printf-style "%s" substitution of the message catalogue's texts, so that
// a translated text keeps its own word order.
std::string FormatTwo(const std::string& pattern, const std::string& first, const std::string& second) {
  std::string out;
  int used = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && used < 2) {
      out += used == 0 ? first : second;
      ++used;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

void SetArchiveMessageSink(TArchiveMessageSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

void ShowArchiveMessage(const std::string& text) {
  TArchiveMessageSink sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = Sink();
  }
  if (sink) {
    sink(text);
  } else {
    TLog::Warning(text);
  }
}

std::string ArchiveFileName(const std::string& folder, const TDateTime& time, int linkCount) {
  return WithTrailingSlash(folder) + "Archive " + FormatDateTime(kArchiveNameDateFormat, time) + " (" +
         std::to_string(linkCount) + ").xbel";
}

TArchiveOutcome ArchiveTree(const IFolderPtr& tree, const std::string& favoritesFolder,
                            const std::string& archiveFolder, bool forced) {
  return ArchiveTree(tree, favoritesFolder, archiveFolder, forced, Now());
}

TArchiveOutcome ArchiveTree(const IFolderPtr& tree, const std::string& favoritesFolder,
                            const std::string& archiveFolder, bool forced, const TDateTime& now) {
  TLog::Debug("TBookmarksCtrl.Archive");
  TArchiveOutcome outcome;
  if (!TFileTools::FolderExists(favoritesFolder)) return outcome;
  const std::string folder = WithTrailingSlash(archiveFolder);
  EnsureArchiveFolder(folder);
  if (!tree) return outcome;

  const int linkCount = tree->BookmarkCount();
  const std::optional<TNewestFile> newest = TFileTools::NewestFile(folder, "*.xbel");
  if (newest && !forced) {
    const int lastCount = LinkCountFromFileName(newest->path);
    const std::int64_t hours = (WallClockMs(now) - WallClockMs(newest->time)) / kMsPerHour;
    if (linkCount < lastCount + kArchiveMinNewLinks && hours <= kArchiveMaxAgeHours) {
      TLog::Debug("TBookmarksCtrl.Archive:no backup needed, links=" + std::to_string(linkCount) +
                  ",last=" + std::to_string(lastCount) + ",hours=" + std::to_string(hours));
      return outcome;
    }
  }

  // Two backups within the same millisecond must not share a name: the
  // second would replace the first.
  TDateTime stamp = now;
  std::string fileName = ArchiveFileName(folder, stamp, linkCount);
  std::error_code ec;
  while (std::filesystem::exists(fileName, ec)) {
    stamp = AddMilliseconds(stamp, 1);
    fileName = ArchiveFileName(folder, stamp, linkCount);
  }
  SaveTreeAsXBEL(tree, fileName);
  outcome.fileName = fileName;
  if (!TFileTools::SetFileTime(fileName, stamp)) {
    TLog::Warning("TBookmarksCtrl.Archive:could not set the time of " + fileName);
  }
  outcome.written = true;

  if (newest && TFileTools::FileMD5(fileName) == TFileTools::FileMD5(newest->path)) {
    outcome.identical = true;
    try {
      TFileTools::DeleteFile(fileName);
      outcome.written = false;
    } catch (const TKFileException& e) {
      TLog::LogException(e, "TBookmarksCtrl.Archive");
      ShowArchiveMessage(FormatTwo(Translate("Error backing up favorites from %s to %s"), favoritesFolder,
                                   fileName));
    }
  }
  return outcome;
}

// --- TArchive ------------------------------------------------------------------

TArchive::TArchive(const std::string& folder) : folder_(WithTrailingSlash(folder)) {
  EnsureArchiveFolder(folder_);
  Refresh();
}

void TArchive::Refresh() {
  TFindOptions options;
  options.extensions = {".html", ".xbel"};
  TFileSearchResult found = TFileTools::FindFiles(folder_, "Archive*.*", options);
  errors_ = found.errors;
  struct TSortable {
    std::string key;
    TDateTime time;
    TArchivedItemPtr item;
  };
  std::vector<TSortable> list;
  list.reserve(found.paths.size());
  for (auto& path : found.paths) {
    auto item = std::make_shared<TArchivedItem>(path);
    std::string key = item->DateText("yyyymmdd hh:mm");
    // The key holds only digits, a blank and a colon: case folding would
    // change nothing.
    list.push_back({std::move(key), TFileTools::FileTime(path).value_or(TDateTime{}), std::move(item)});
  }
  std::stable_sort(list.begin(), list.end(), [](const TSortable& a, const TSortable& b) {
    if (a.key != b.key) return a.key > b.key;
    if (a.time != b.time) return a.time > b.time;
    return a.item->FileName() > b.item->FileName();
  });
  items_.clear();
  items_.reserve(list.size());
  for (auto& entry : list) items_.push_back(std::move(entry.item));
  if (!errors_.empty()) {
    for (const auto& error : errors_) TLog::Warning("TArchive.Refresh:" + error);
    ShowArchiveMessage(Translate("Errors reading archive"));
  }
}

TArchivedItemPtr TArchive::Item(int index) const {
  if (index < 0 || index >= Count()) throw TArchiveException("Invalid index:" + std::to_string(index));
  return items_[static_cast<std::size_t>(index)];
}

// --- Singleton -------------------------------------------------------------------

namespace {

enum class TSingletonState { None, Ready, Freed };

struct TSingleton {
  std::mutex mutex;
  TSingletonState state = TSingletonState::None;
  TArchivePtr archive;
};

TSingleton& Single() {
  static TSingleton single;
  return single;
}

}  // namespace

TArchivePtr TArchiveSingleton::Get() {
  TSingleton& s = Single();
  std::lock_guard<std::mutex> lock(s.mutex);
  switch (s.state) {
    case TSingletonState::Ready:
      return s.archive;
    case TSingletonState::Freed:
      throw TArchiveException("Client.Archive:freed");
    case TSingletonState::None:
      break;
  }
  try {
    s.archive = std::make_shared<TArchive>(TConfig::ArchivePath());
  } catch (const TKException& e) {
    TLog::LogException(e, "Client.Archive");
    throw TArchiveException("Archive:not assigned", e);
  }
  s.state = TSingletonState::Ready;
  TClientSingletons::SetArchiveTerminator([] { TArchiveSingleton::Free(); });
  return s.archive;
}

TArchivePtr TArchiveSingleton::Peek() {
  TSingleton& s = Single();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.archive;
}

void TArchiveSingleton::Free() {
  TSingleton& s = Single();
  TArchivePtr archive;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    archive = std::move(s.archive);
    s.archive.reset();
    s.state = TSingletonState::Freed;
  }
}

void TArchiveSingleton::ResetForTesting() {
  TSingleton& s = Single();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.archive.reset();
  s.state = TSingletonState::None;
}

}  // namespace kelvo
