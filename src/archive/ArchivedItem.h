#pragma once
// One backup file of the archive folder, as the archive lists it: its path,
// its date (the file's last-write time, which the archive sets to the
// creation time) and the link count written into its name. Any thread; the
// item reads the file's time when asked, so it shows the file as it is now.

#include <memory>
#include <string>

#include "foundation/DateUtils.h"

namespace kelvo {

// The date form of captions: "Archive 07 Mar 2009 14:05".
inline constexpr const char* kArchiveCaptionDateFormat = "dd mmm yyyy hh:mm";

// The number between the first "(" of the file name (the last path
// component) and the next ")"; -1 when there is none or it is not a number.
int LinkCountFromFileName(const std::string& fileName);

class TArchivedItem {
 public:
  explicit TArchivedItem(std::string fileName);

  // "Archive " + DateText(kArchiveCaptionDateFormat).
  std::string Caption() const;
  // The file's last-write time (local) in the given pattern; empty when the
  // time cannot be read (the file went away).
  std::string DateText(const std::string& format) const;
  // The link count of the name as text ("-1" when the name holds none).
  const std::string& LinkCount() const { return linkCount_; }
  int LinkCountValue() const { return linkCountValue_; }
  // Full path of the backup file.
  const std::string& FileName() const { return fileName_; }
  // Removes the file; TKFileException "Error deleting file " + path.
  void Delete() const;

 private:
  std::string fileName_;
  int linkCountValue_;
  std::string linkCount_;
};
using TArchivedItemPtr = std::shared_ptr<TArchivedItem>;

}  // namespace kelvo
