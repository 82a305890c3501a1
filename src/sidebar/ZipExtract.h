#pragma once
// Unpacking a zip archive into a folder with libzip: every entry with the
// folder names stored in the archive, existing files overwritten. An entry
// whose name would land outside the target folder (an absolute name, a ".."
// step, a path through a symbolic link that leads elsewhere) is refused and
// reported, and the rest is still extracted. Any thread; no state.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TZipException, TKException);

struct TZipExtractResult {
  // Files written (folders not counted).
  int files = 0;
  // Entry names refused because they would land outside the target.
  std::vector<std::string> refused;
  // Entries that could not be read or written ("name: reason").
  std::vector<std::string> errors;
  // Every entry was extracted or refused; nothing failed on the way.
  bool Succeeded() const { return errors.empty(); }
};

// Total progress of an extraction, 0 to 100 (bytes of the entries written
// so far against the whole uncompressed size).
using TZipProgress = std::function<void(int percent)>;

// Extracts the archive into the folder (created when missing). Raises
// TZipException "Cannot open zip file " + path when the archive cannot be
// opened at all; a damaged entry is an error of that entry only.
TZipExtractResult ExtractZip(const std::string& zipPath, const std::string& targetFolder,
                             const TZipProgress& progress = {});

// The relative path an entry name stands for below the target, with "/"
// separators ("\" counts as one, as archives made on Windows may use it), or
// "" when the name must be refused (absolute, a drive letter, a ".." step,
// or nothing left). A name ending in "/" keeps it (a folder entry).
std::string SafeZipEntryPath(const std::string& entryName);

}  // namespace kelvo
