#pragma once
// Dated XBEL backups of the Favorites in the archive folder: writing one
// (with the rule that skips a backup when little changed), listing the
// backups newest first, and the process-wide archive of the agent's archive
// folder. Backups are written atomically (temporary file, flush, rename),
// so an interrupted backup never leaves a truncated ".xbel" to be offered
// for restore. Main thread, except where a function says otherwise.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchivedItem.h"
#include "bookmarks/Folder.h"
#include "foundation/DateUtils.h"
#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TArchiveException, TKException);

// "Archive 2009-03-07 14.05.09.045 (12).xbel": the time to the millisecond.
inline constexpr const char* kArchiveNameDateFormat = "yyyy-mm-dd hh.mm.ss.zzzz";
// A backup is skipped unless this many links were added since the newest
// one, or it is older than kArchiveMaxAgeHours whole hours.
inline constexpr int kArchiveMinNewLinks = 10;
inline constexpr int kArchiveMaxAgeHours = 24;

// Where the archive's messages to the user go ("Errors reading archive",
// "Error backing up favorites from %s to %s"). Until the message boxes are
// installed the text is logged as a warning. Any thread.
using TArchiveMessageSink = std::function<void(const std::string& text)>;
void SetArchiveMessageSink(TArchiveMessageSink sink);
void ShowArchiveMessage(const std::string& text);

// "Archive " + time + " (" + linkCount + ").xbel" inside folder (which ends
// in "/").
std::string ArchiveFileName(const std::string& folder, const TDateTime& time, int linkCount);

// What a backup run did.
struct TArchiveOutcome {
  // A new backup file was written and kept.
  bool written = false;
  // The new file was identical to the newest earlier backup and went again.
  bool identical = false;
  // Path of the file written (also set when it was deleted again).
  std::string fileName;
};

// The backup itself: writes tree as XBEL into archiveFolder unless forced
// is false and the newest "*.xbel" there is at most 24 whole hours old and
// the tree has fewer than its link count + 10 links. Nothing is done when
// the Favorites folder does not exist or there is no tree. A file with the
// same name (same millisecond) is never replaced: the time moves on by a
// millisecond until the name is free. The new file's last-write time is
// `now`; when it has the MD5 of the newest earlier backup it is deleted
// again. Raises TArchiveException "Invalid path for archive:" + folder
// when the folder cannot be created, TKFileException when the file cannot
// be written (nothing is left behind then).
TArchiveOutcome ArchiveTree(const IFolderPtr& tree, const std::string& favoritesFolder,
                            const std::string& archiveFolder, bool forced, const TDateTime& now);
// As above at the current time.
TArchiveOutcome ArchiveTree(const IFolderPtr& tree, const std::string& favoritesFolder,
                            const std::string& archiveFolder, bool forced);

// The backups of one folder, newest first.
class TArchive {
 public:
  // folder gets a trailing "/" and is created when missing; raises
  // TArchiveException "Invalid path for archive:" + folder when it cannot
  // be. Lists the folder (see Refresh).
  explicit TArchive(const std::string& folder);

  // Lists again: every file of the folder matching "Archive*.*" whose
  // extension is ".html" or ".xbel" (any case), sorted by the date text
  // "yyyymmdd hh:mm" newest first; within the same minute by the exact
  // time, then by name, newest first. Folders that could not be read show
  // "Errors reading archive" once.
  void Refresh();

  const std::string& Folder() const { return folder_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises TArchiveException "Invalid index:" + index outside 0..Count()-1.
  TArchivedItemPtr Item(int index) const;
  const std::vector<TArchivedItemPtr>& Items() const { return items_; }
  // The search errors of the last listing.
  const std::vector<std::string>& Errors() const { return errors_; }

 private:
  std::string folder_;
  std::vector<TArchivedItemPtr> items_;
  std::vector<std::string> errors_;
};
using TArchivePtr = std::shared_ptr<TArchive>;

// The process-wide archive of the agent's archive folder, created on first
// use (a failure is logged and raised again as "Archive:not assigned"; the
// next call tries again) and freed by the client singletons at shutdown,
// after which asking raises "Client.Archive:freed". Any thread.
class TArchiveSingleton {
 public:
  TArchiveSingleton() = delete;
  // Raises TArchiveException as above.
  static TArchivePtr Get();
  // The archive when it exists (none before first use or after Free).
  static TArchivePtr Peek();
  static void Free();
  // Tests: back to the state at process start.
  static void ResetForTesting();
};

}  // namespace kelvo
