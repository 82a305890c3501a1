#pragma once
// File-system operations shared by the archive, the bookmarks controller,
// the live refresh and the main agent. Every operation that can fail raises
// TKFileException with a fixed message prefix and the path(s), chained to
// the underlying error; the others answer false, an empty value or a list of
// failures as stated. Paths use "/". Any thread; no state of their own.
//
// Read-only files: a regular file whose write permission bits are all
// cleared counts as read-only (the Windows read-only attribute). Deleting or
// overwriting it is refused, also for root, who could otherwise write it;
// only the tree deletions reset the permission first, as they did the
// attribute.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/DateUtils.h"
#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TKFileException, TKException);

// What a search lists.
enum class TFindKinds { Files, Folders, FilesAndFolders };

struct TFindOptions {
  // Also search every subfolder (the mask applies to names at each level;
  // folders reached through symbolic links are not entered).
  bool recurse = false;
  TFindKinds kinds = TFindKinds::Files;
  // Extensions with their dot (".html"), compared without letter case; empty
  // lists everything the mask matches.
  std::vector<std::string> extensions;
  // More results than this raise "Too many files in search"; 0 is no limit.
  int maximum = 0;
};

struct TFileSearchResult {
  // Full paths (folder + "/" + name), each folder's entries in name order,
  // its subfolders' entries after them.
  std::vector<std::string> paths;
  // Folders that could not be read ("path: reason"); the search goes on.
  std::vector<std::string> errors;
  // Latest last-write time of the files found (folders do not count).
  std::optional<TDateTime> newest;
};

struct TNewestFile {
  std::string path;
  TDateTime time;
};

class TFileTools {
 public:
  TFileTools() = delete;

  // Existence checks that never raise (an unreadable path is "not there").
  static bool FileExists(const std::string& path);
  static bool FolderExists(const std::string& path);

  // Creates the folder with all missing parents; an existing folder is fine.
  // "Error creating directory " + path.
  static void CreateFolder(const std::string& path);
  // "Error deleting file " + path: missing, a folder, read-only or not
  // removable.
  static void DeleteFile(const std::string& path);
  // Removes a folder (or file) with everything below it, read-only files
  // included. "Error deleting directory " + path, also when it is missing.
  static void DeleteFolder(const std::string& path);
  // Renames or moves a file or folder; never replaces an existing target.
  // "Error renaming file " + oldPath.
  static void RenameFile(const std::string& oldPath, const std::string& newPath);
  // Moves a file or folder, also to another file system. False when it did
  // not move (source missing, target exists, not permitted); raises
  // "Error moving " + from + " to " + to when a move across file systems
  // fails half way (the partial copy is removed, the source kept).
  static bool Move(const std::string& from, const std::string& to);
  // Copies one file with its last-write time. "Error copying " + from +
  // " to " + to: source missing, target exists and failIfExists, target
  // read-only, or the copy fails.
  static void CopyFile(const std::string& from, const std::string& to, bool failIfExists);
  // Copies every entry of the folder `from` (files and subfolders, with
  // their last-write times) into the folder `to`, created when missing;
  // existing files are overwritten. False when anything could not be copied
  // (the rest is still copied), when `from` is not a folder or when `to`
  // lies inside it. Nothing is ever asked, so `silent` changes nothing here.
  static bool CopyFolder(const std::string& from, const std::string& to, bool silent);
  // Deletes the folder with everything below it, first making each file
  // writable; a file whose permissions cannot be reset is logged and left.
  // Answers the number of entries deleted (files, subfolders and the folder
  // itself); 0 for a missing folder.
  static int DeleteTree(const std::string& folder);
  // Deletes the files the search finds (read-only ones refused), then the
  // folders it finds, deepest first, when they are empty. Answers the
  // failures as messages ("Error deleting file " + path, "Error deleting
  // directory " + path); nothing is raised.
  static std::vector<std::string> DeleteMatchingFiles(const std::string& folder,
                                                      const std::string& mask, bool recurse);

  // Replaces the file's content as a whole: written to a temporary file
  // beside it, flushed to the disk and renamed over it, so that a crash
  // leaves the old content or the new, never half of it. An existing file
  // keeps its permission bits; a read-only one is refused. "Error writing
  // file " + path.
  static void WriteFileAtomically(const std::string& path, std::string_view data);
  // The agent's text-file form: UTF-8 with byte-order mark, each line of the
  // text (ended by CR LF, LF or CR, or by the end) followed by CR LF. Written
  // with WriteFileAtomically; an empty text leaves just the mark.
  static void WriteUtf8Text(const std::string& path, std::string_view text);

  // Searches the folder for names matching the mask (see MatchesMask); "."
  // and ".." never appear. A missing folder gives an empty result. Raises
  // TKFileException "Too many files in search" beyond options.maximum.
  static TFileSearchResult FindFiles(const std::string& folder, const std::string& mask,
                                     const TFindOptions& options = {});
  // The matching file (no recursion) with the latest last-write time, local
  // time; nullopt when none matches.
  static std::optional<TNewestFile> NewestFile(const std::string& folder,
                                               const std::string& mask);
  // Last-write time as a local date-time; nullopt for folders and missing
  // files.
  static std::optional<TDateTime> FileTime(const std::string& path);
  // Sets a file's last-write time from a local date-time; false for folders,
  // missing files and invalid dates.
  static bool SetFileTime(const std::string& path, const TDateTime& time);
  // The extension (text from the last "." of the name) is ".xbel", any case.
  static bool IsXbel(const std::string& path);
  // The extension of the last path component including its dot ("" when
  // the name has none): "a/b.c.XBEL" gives ".XBEL", "a/.xbel" gives ".xbel".
  static std::string ExtractFileExt(const std::string& path);

  // MD5 of the file's bytes as 32 lowercase hex digits; a file that cannot
  // be read gives the digest of empty input.
  static std::string FileMD5(const std::string& path);
  // MD5 of the bytes of a text, same form.
  static std::string TextMD5(std::string_view text);

  // Looks through the files of the cookie folder and its subfolders whose
  // names match "*" + site + "*.*": the first whose first line is the
  // cookie's name gives its second line. Empty when no file holds it.
  static std::string CookieValue(const std::string& cookieFolder, const std::string& site,
                                 const std::string& name);

  // Splits a "/"-rooted relative path ("/News/Sport/", as relative Favorites
  // paths are written here) into its names ("News", "Sport"). Empty names
  // (the trailing "/" of a folder path, doubled "/") are skipped; an empty
  // path or one not starting with "/" gives no names.
  static std::vector<std::string> SplitPath(const std::string& path);

  // Wildcard match as the file search does it: "*" any run of characters,
  // "?" one character, ASCII letters without case, everything else
  // literal. A mask ending in ".*" also matches names without that dot, so
  // "*.*" matches every name and "Archive*.*" matches "Archive1".
  static bool MatchesMask(std::string_view name, std::string_view mask);

  // A regular file whose write permission bits are all cleared.
  static bool IsReadOnly(const std::string& path);
};

// Progress of a background delete, shared by the worker and whoever
// started it; counters may be read from any thread at any time.
class TFileDeleteProgress {
 public:
  // Files found below the folders before deleting started.
  std::int64_t Total() const { return total_.load(); }
  std::int64_t Deleted() const { return deleted_.load(); }
  std::int64_t Failed() const { return failed_.load(); }
  // Sum of the sizes of the files deleted.
  std::int64_t DeletedBytes() const { return bytes_.load(); }
  bool Finished() const;
  // Waits until the worker finished: its completion hook has returned and
  // it left the thread registry. False when the timeout passed first.
  bool WaitFinished(std::chrono::milliseconds timeout) const;

 private:
  friend class TFileDeleteThread;
  void MarkFinished();

  std::atomic<std::int64_t> total_{0};
  std::atomic<std::int64_t> deleted_{0};
  std::atomic<std::int64_t> failed_{0};
  std::atomic<std::int64_t> bytes_{0};
  mutable std::mutex lock_;
  mutable std::condition_variable finishedCv_;
  bool finished_ = false;
};

// A self-freeing worker that deletes the listed folders with everything in
// them (making files writable first), counting files and bytes. Errors are
// swallowed: what cannot be deleted is counted as failed and left. Counted
// in the thread registry as "TFileDeleteThread" while it runs.
class TFileDeleteThread {
 public:
  static constexpr const char* kClassName = "TFileDeleteThread";
  // Called once on the worker thread when everything is done (the thread
  // still counts as live meanwhile); post a message from here to reach the
  // main thread. An exception from the hook is swallowed.
  using TDoneHook = std::function<void(const TFileDeleteProgress&)>;

  TFileDeleteThread() = delete;

  // Starts the worker and answers its progress; the worker frees itself.
  // When no thread can be started the work is done on the calling thread.
  static std::shared_ptr<const TFileDeleteProgress> Start(std::vector<std::string> folders,
                                                          TDoneHook onDone = {});

 private:
  static void Run(const std::vector<std::string>& folders,
                  const std::shared_ptr<TFileDeleteProgress>& progress, const TDoneHook& onDone);
};

}  // namespace kelvo
