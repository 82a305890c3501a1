#pragma once
// Script file access: reading the sidebar code's own files by relative
// path, and one open text file at a time (the slot) that script reads line
// by line or writes to. The slot is shared by all sidebar windows, and
// every handle script receives is the same number, denoting the file opened
// last. Paths use "/"; a "\" written by script for the open and rename
// operations is taken as "/". Main thread only.
//
// Failures raise TKFileException (the bridge logs them with its contexts
// and answers Null, 0 or nothing).

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/FileTools.h"

namespace kelvo {

class TScriptFileAccess {
 public:
  TScriptFileAccess() = delete;

  // The handle of the slot's file.
  static constexpr std::int32_t kFileHandle = 1;

  // The bytes of sidebarFolder + path when that file exists; otherwise a
  // warning "readFile:file does not exist:" + full path and nullopt.
  static std::optional<std::string> ReadFile(const std::string& sidebarFolder,
                                             const std::string& path);
  // Full paths of all files in sidebarFolder + path and its subfolders, in
  // search order, as a comma-separated list; "" for a missing folder.
  static std::string ReadDir(const std::string& sidebarFolder, const std::string& path);

  // Opens path for reading (mode "read") or creates or empties it for
  // writing (any other mode), creating missing folders first. The file
  // the slot held before is closed. Raises when the file cannot be opened
  // (the slot is then empty).
  static std::int32_t FileOpen(const std::string& path, const std::string& mode);
  // Writes the text at the current position, without a line end, and
  // flushes.
  static void FileWriteString(std::int32_t handle, const std::string& text);
  // The next line without its end (CR LF, LF or CR); nullopt at end of file.
  static std::optional<std::string> FileReadLine(std::int32_t handle);
  // Up to count lines, each followed by "\n"; nullopt when none was read.
  static std::optional<std::string> FileReadLines(std::int32_t handle, int count);
  // Closes the file and empties the slot.
  static void FileClose1(std::int32_t handle);

  // A regular file (not a folder) exists at the path, used unchanged.
  static bool FileExists(const std::string& path);
  // Moves the file into its own folder under newName; a failure is only
  // logged at debug level.
  static void FileRename(const std::string& path, const std::string& newName);

  // Test support: close and forget the slot.
  static void ResetForTesting();
};

}  // namespace kelvo
