#include "sidebar/FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "foundation/Log.h"
#include "sidebar/SBListings.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The slot's record: the file's path and its open stream in one direction.
struct TTextFile {
  std::string path;
  bool reading = false;
  std::unique_ptr<std::FILE, TFileCloser> file;
};

std::unique_ptr<TTextFile>& Slot() {
  static std::unique_ptr<TTextFile> slot;
  return slot;
}

std::string NativePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

TTextFile& OpenFile(std::int32_t handle, const char* operation) {
  auto& slot = Slot();
  if (handle != TScriptFileAccess::kFileHandle || !slot) {
    throw TKFileException(std::string(operation) + ": no open file for handle " +
                          std::to_string(handle));
  }
  return *slot;
}

TTextFile& ReadingFile(std::int32_t handle, const char* operation) {
  TTextFile& file = OpenFile(handle, operation);
  if (!file.reading) throw TKFileException("File not open for input " + file.path);
  return file;
}

// One line as the text-file reader splits them; false at end of file.
bool ReadLine(TTextFile& file, std::string& line) {
  line.clear();
  std::FILE* f = file.file.get();
  int c = std::fgetc(f);
  if (c == EOF) {
    if (std::ferror(f)) throw TKFileException("Error reading file " + file.path);
    return false;
  }
  while (c != EOF && c != '\n' && c != '\r') {
    line += static_cast<char>(c);
    c = std::fgetc(f);
  }
  if (c == '\r') {
    int next = std::fgetc(f);
    if (next != '\n' && next != EOF) std::ungetc(next, f);
  }
  if (std::ferror(f)) throw TKFileException("Error reading file " + file.path);
  return true;
}

}  // namespace

std::optional<std::string> TScriptFileAccess::ReadFile(const std::string& sidebarFolder,
                                                       const std::string& path) {
  const std::string full = sidebarFolder + path;
  if (!FileExists(full)) {
    TLog::Warning("readFile:file does not exist:" + full);
    return std::nullopt;
  }
  std::ifstream in(full, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) throw TKFileException("Error reading file " + full);
  return bytes.str();
}

std::string TScriptFileAccess::ReadDir(const std::string& sidebarFolder, const std::string& path) {
  TFindOptions options;
  options.recurse = true;
  options.kinds = TFindKinds::Files;
  return CommaText(TFileTools::FindFiles(sidebarFolder + path, "*", options).paths);
}

std::int32_t TScriptFileAccess::FileOpen(const std::string& path, const std::string& mode) {
  auto& slot = Slot();
  slot.reset();  // the earlier file is closed, never left open behind the slot
  auto record = std::make_unique<TTextFile>();
  record->path = NativePath(path);
  const std::string folder = fs::path(record->path).parent_path().string();
  if (!folder.empty()) TFileTools::CreateFolder(folder);
  record->reading = mode == "read";
  std::error_code ec;
  if (fs::is_directory(record->path, ec)) {
    throw TKFileException("Error opening file " + record->path);
  }
  record->file.reset(std::fopen(record->path.c_str(), record->reading ? "rb" : "wb"));
  if (!record->file) {
    throw TKFileException("Error opening file " + record->path,
                          std::system_error(errno, std::generic_category()));
  }
  slot = std::move(record);
  return kFileHandle;
}

void TScriptFileAccess::FileWriteString(std::int32_t handle, const std::string& text) {
  TTextFile& file = OpenFile(handle, "fileWriteString");
  if (file.reading) throw TKFileException("File not open for output " + file.path);
  std::FILE* f = file.file.get();
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fflush(f) != 0) {
    throw TKFileException("Error writing file " + file.path);
  }
}

std::optional<std::string> TScriptFileAccess::FileReadLine(std::int32_t handle) {
  TTextFile& file = ReadingFile(handle, "fileReadLine");
  std::string line;
  if (!ReadLine(file, line)) return std::nullopt;
  return line;
}

std::optional<std::string> TScriptFileAccess::FileReadLines(std::int32_t handle, int count) {
  TTextFile& file = ReadingFile(handle, "fileReadLines");
  std::string text;
  std::string line;
  bool any = false;
  for (int i = 0; i < count && ReadLine(file, line); ++i) {
    text += line;
    text += '\n';
    any = true;
  }
  if (!any) return std::nullopt;
  return text;
}

void TScriptFileAccess::FileClose1(std::int32_t handle) {
  OpenFile(handle, "fileClose1");
  auto& slot = Slot();
  std::FILE* f = slot->file.release();
  const std::string path = slot->path;
  slot.reset();
  if (std::fclose(f) != 0) throw TKFileException("Error closing file " + path);
}

bool TScriptFileAccess::FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

void TScriptFileAccess::FileRename(const std::string& path, const std::string& newName) {
  const std::string from = NativePath(path);
  std::string folder = fs::path(from).parent_path().string();
  if (!folder.empty()) folder += '/';
  const std::string to = folder + NativePath(newName);
  try {
    TFileTools::RenameFile(from, to);
  } catch (const std::exception& e) {
    TLog::Debug(std::string("fileRename:") + e.what());
  }
}

void TScriptFileAccess::ResetForTesting() { Slot().reset(); }

}  // namespace kelvo
