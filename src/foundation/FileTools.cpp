#include "foundation/FileTools.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"
#include "platform/FileSystem.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kWriteBits =
    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

// The chained cause of a file exception: the system's text for the error.
std::system_error Cause(const std::error_code& ec) { return std::system_error(ec); }

[[noreturn]] void Raise(const std::string& message, const std::error_code& ec) {
  throw TKFileException(message, Cause(ec));
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool IsRealFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(p, ec));
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Code points of UTF-8 text, so that "?" stands for one character; a stray
// byte counts as a character of its own. ASCII letters are lower-cased.
std::vector<char32_t> Characters(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = (c & 0xF8) == 0xF0 ? 3 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xE0) == 0xC0 ? 1 : 0;
    bool whole = extra > 0 && i + extra < text.size();
    for (int k = 1; whole && k <= extra; ++k) {
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (!whole) {
      out.push_back(static_cast<char32_t>(static_cast<unsigned char>(LowerAscii(text[i]))));
      ++i;
      continue;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

bool MatchCharacters(const std::vector<char32_t>& name, const std::vector<char32_t>& mask) {
  std::size_t n = 0, m = 0;
  std::size_t starMask = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == U'*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == U'?' || mask[m] == name[n])) {
      ++m;
      ++n;
    } else if (starMask != std::string::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

std::string Hex(const unsigned char* digest, unsigned int length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out += kDigits[digest[i] >> 4];
    out += kDigits[digest[i] & 0x0F];
  }
  return out;
}

std::string Md5Hex(const void* data, std::size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  static const unsigned char kNothing = 0;
  if (EVP_Digest(size ? data : &kNothing, size, digest, &length, EVP_md5(), nullptr) != 1) {
    // Only a broken crypto library gets here; an empty digest is the
    // honest answer rather than a made-up one.
    return std::string();
  }
  return Hex(digest, length);
}

// The names in a folder in name order, so that searches do not depend on
// the order the file system keeps them in.
struct TEntry {
  std::string name;
  bool folder;
};

bool ListFolder(const fs::path& folder, std::vector<TEntry>& entries, std::error_code& ec) {
  entries.clear();
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    std::error_code typeEc;
    bool isFolder = it->is_directory(typeEc) && !it->is_symlink(typeEc);
    entries.push_back({it->path().filename().string(), isFolder});
  }
  if (ec) return false;
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& a, const TEntry& b) { return a.name < b.name; });
  return true;
}

bool HasExtension(const std::string& name, const std::vector<std::string>& extensions) {
  if (extensions.empty()) return true;
  std::string ext = TFileTools::ExtractFileExt(name);
  for (const auto& wanted : extensions) {
    if (!wanted.empty() && wanted[0] != '.' ? EqualsNoCase(ext, "." + wanted)
                                            : EqualsNoCase(ext, wanted)) {
      return true;
    }
  }
  return false;
}

void Search(const std::string& folder, const std::vector<char32_t>& mask, bool maskDotStar,
            const TFindOptions& options, TFileSearchResult& result) {
  std::vector<TEntry> entries;
  std::error_code ec;
  if (!ListFolder(folder, entries, ec)) {
    if (ec != std::errc::no_such_file_or_directory) {
      result.errors.push_back(folder + ": " + ec.message());
    }
    return;
  }
  for (const auto& entry : entries) {
    bool wanted = entry.folder ? options.kinds != TFindKinds::Files
                               : options.kinds != TFindKinds::Folders;
    if (!wanted) continue;
    auto name = Characters(entry.name);
    bool matches = MatchCharacters(name, mask);
    if (!matches && maskDotStar) {
      matches = MatchCharacters(name, std::vector<char32_t>(mask.begin(), mask.end() - 2));
    }
    if (!matches || !HasExtension(entry.name, options.extensions)) continue;
    if (options.maximum > 0 && result.paths.size() >= static_cast<std::size_t>(options.maximum)) {
      throw TKFileException("Too many files in search");
    }
    std::string path = Join(folder, entry.name);
    if (!entry.folder) {
      std::error_code timeEc;
      auto written = fs::last_write_time(path, timeEc);
      if (!timeEc) {
        TDateTime local = FileTimeToDateTime(written);
        if (!result.newest || *result.newest < local) result.newest = local;
      }
    }
    result.paths.push_back(std::move(path));
  }
  if (!options.recurse) return;
  for (const auto& entry : entries) {
    if (entry.folder) Search(Join(folder, entry.name), mask, maskDotStar, options, result);
  }
}

// Gives the owner write access (and for folders also read and search
// access, which deleting their entries needs), as resetting the Windows
// attributes did.
bool MakeWritable(const fs::path& p, bool folder, std::error_code& ec) {
  fs::perms add = fs::perms::owner_write;
  if (folder) add |= fs::perms::owner_read | fs::perms::owner_exec;
  fs::permissions(p, add, fs::perm_options::add, ec);
  return !ec;
}

// The recursive delete behind DeleteTree: counts what it removed; logs and
// skips files it cannot make writable; other failures leave the entry.
int DelTree(const fs::path& folder) {
  int count = 0;
  std::error_code ec;
  MakeWritable(folder, true, ec);
  std::vector<TEntry> entries;
  ListFolder(folder, entries, ec);
  for (const auto& entry : entries) {
    fs::path child = folder / entry.name;
    if (entry.folder) {
      count += DelTree(child);
      continue;
    }
    std::error_code linkEc;
    bool isLink = fs::is_symlink(fs::symlink_status(child, linkEc));
    // A link's own permissions cannot be changed and do not matter.
    if (!isLink && !MakeWritable(child, false, ec)) {
      TLog::Warning("DelTreeEx:Could not SetFileAttribute on " + child.string());
      continue;
    }
    if (fs::remove(child, ec)) ++count;
  }
  if (fs::remove(folder, ec)) ++count;
  return count;
}

// Copies a file with its last-write time; overwrite decides about an
// existing target.
bool CopyOneFile(const fs::path& from, const fs::path& to, bool overwrite, std::error_code& ec) {
  auto options = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none;
  if (!fs::copy_file(from, to, options, ec)) {
    if (!ec) ec = std::make_error_code(std::errc::file_exists);
    return false;
  }
  auto written = fs::last_write_time(from, ec);
  if (!ec) fs::last_write_time(to, written, ec);
  // The copy itself succeeded; a time that cannot be carried over is no
  // reason to call it failed.
  ec.clear();
  return true;
}

// Copies the entries of `from` into the existing folder `to`; answers
// whether everything was copied, and goes on after a failure.
bool CopyEntries(const fs::path& from, const fs::path& to) {
  std::vector<TEntry> entries;
  std::error_code ec;
  if (!ListFolder(from, entries, ec)) return false;
  bool all = true;
  for (const auto& entry : entries) {
    fs::path source = from / entry.name;
    fs::path target = to / entry.name;
    if (entry.folder) {
      fs::create_directory(target, ec);
      if (ec || !IsRealFolder(target)) {
        all = false;
        continue;
      }
      if (!CopyEntries(source, target)) all = false;
      auto written = fs::last_write_time(source, ec);
      if (!ec) fs::last_write_time(target, written, ec);
      continue;
    }
    if (fs::is_symlink(fs::symlink_status(source, ec))) {
      if (Exists(target)) fs::remove(target, ec);
      fs::copy_symlink(source, target, ec);
      if (ec) all = false;
      continue;
    }
    if (TFileTools::IsReadOnly(target.string()) || !CopyOneFile(source, target, true, ec)) {
      all = false;
    }
  }
  return all;
}

// Whether `inner` is `outer` or lies below it (either may not exist yet).
bool IsInside(const fs::path& inner, const fs::path& outer) {
  auto normal = [](const fs::path& p, std::error_code& ec) {
    std::string s = fs::weakly_canonical(fs::absolute(p, ec), ec).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  std::error_code ec;
  std::string a = normal(inner, ec);
  std::string b = normal(outer, ec);
  if (ec) return false;
  return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 &&
                    (b == "/" || a[b.size()] == '/'));
}

}  // namespace

// ---------------------------------------------------------------------------
// Single operations

bool TFileTools::FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

bool TFileTools::FolderExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

void TFileTools::CreateFolder(const std::string& path) {
  const std::string message = "Error creating directory " + path;
  if (path.empty()) Raise(message, std::make_error_code(std::errc::invalid_argument));
  std::error_code ec;
  fs::create_directories(path, ec);
  if (fs::is_directory(path)) return;
  Raise(message, ec ? ec : std::make_error_code(std::errc::not_a_directory));
}

void TFileTools::DeleteFile(const std::string& path) {
  const std::string message = "Error deleting file " + path;
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (!fs::exists(status)) {
    Raise(message, std::make_error_code(std::errc::no_such_file_or_directory));
  }
  if (fs::is_directory(status)) Raise(message, std::make_error_code(std::errc::is_a_directory));
  if (IsReadOnly(path)) Raise(message, std::make_error_code(std::errc::permission_denied));
  if (!fs::remove(path, ec)) Raise(message, ec ? ec : std::make_error_code(std::errc::io_error));
}

void TFileTools::DeleteFolder(const std::string& path) {
  const std::string message = "Error deleting directory " + path;
  if (!Exists(path)) Raise(message, std::make_error_code(std::errc::no_such_file_or_directory));
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec && IsRealFolder(path)) {
    // Folders without write or search access stop remove_all; the shell
    // deleted those as well, so open them up and try once more.
    DelTree(path);
    ec.clear();
  }
  if (Exists(path)) Raise(message, ec ? ec : std::make_error_code(std::errc::permission_denied));
}

void TFileTools::RenameFile(const std::string& oldPath, const std::string& newPath) {
  std::error_code ec;
  if (!RenameNoReplace(oldPath, newPath, ec)) Raise("Error renaming file " + oldPath, ec);
}

bool TFileTools::Move(const std::string& from, const std::string& to) {
  if (!Exists(from) || Exists(to)) return false;
  std::error_code ec;
  if (RenameNoReplace(from, to, ec)) return true;
  if (ec != std::errc::cross_device_link) return false;
  // Another file system: copy, then remove the source. A copy that fails
  // half way is undone so that nothing exists twice.
  const std::string message = "Error moving " + from + " to " + to;
  bool copied;
  if (IsRealFolder(from)) {
    fs::create_directory(to, ec);
    copied = !ec && CopyEntries(from, to);
  } else if (fs::is_symlink(fs::symlink_status(from, ec))) {
    fs::copy_symlink(from, to, ec);
    copied = !ec;
  } else {
    copied = CopyOneFile(from, to, false, ec);
  }
  if (!copied) {
    std::error_code cleanup;
    fs::remove_all(to, cleanup);
    Raise(message, ec ? ec : std::make_error_code(std::errc::io_error));
  }
  fs::remove_all(from, ec);
  if (ec) Raise(message, ec);
  return true;
}

void TFileTools::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  const std::string message = "Error copying " + from + " to " + to;
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) {
    Raise(message, ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory));
  }
  if (Exists(to)) {
    if (failIfExists) Raise(message, std::make_error_code(std::errc::file_exists));
    if (IsReadOnly(to)) Raise(message, std::make_error_code(std::errc::permission_denied));
  }
  if (!CopyOneFile(from, to, !failIfExists, ec)) Raise(message, ec);
}

bool TFileTools::CopyFolder(const std::string& from, const std::string& to, bool /*silent*/) {
  if (!IsRealFolder(from) || IsInside(to, from)) return false;
  std::error_code ec;
  fs::create_directories(to, ec);
  if (!IsRealFolder(to)) return false;
  return CopyEntries(from, to);
}

int TFileTools::DeleteTree(const std::string& folder) {
  if (!IsRealFolder(folder)) return 0;
  return DelTree(folder);
}

std::vector<std::string> TFileTools::DeleteMatchingFiles(const std::string& folder,
                                                         const std::string& mask, bool recurse) {
  std::vector<std::string> failures;
  TFileSearchResult found;
  TFindOptions options;
  options.recurse = recurse;
  options.kinds = TFindKinds::FilesAndFolders;
  found = FindFiles(folder, mask, options);
  for (const auto& error : found.errors) failures.push_back(error);
  std::vector<std::string> folders;
  for (const auto& path : found.paths) {
    if (IsRealFolder(path)) {
      folders.push_back(path);
      continue;
    }
    try {
      DeleteFile(path);
    } catch (const TKFileException& e) {
      failures.push_back(e.Message());
    }
  }
  // Deepest first, so that a parent is empty by the time its turn comes.
  std::stable_sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
  });
  for (const auto& path : folders) {
    std::error_code ec;
    if (!fs::remove(path, ec) || ec) failures.push_back("Error deleting directory " + path);
  }
  return failures;
}

void TFileTools::WriteFileAtomically(const std::string& path, std::string_view data) {
  const std::string message = "Error writing file " + path;
  if (IsReadOnly(path)) Raise(message, std::make_error_code(std::errc::permission_denied));
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (fs::is_directory(status)) Raise(message, std::make_error_code(std::errc::is_a_directory));
  bool existed = fs::exists(status);

  // Unique per process and call, so that concurrent writers never share one.
  static const unsigned token = std::random_device{}();
  static std::atomic<unsigned> serial{0};
  std::string temp;
  for (int attempt = 0; attempt < 10; ++attempt) {
    temp = path + ".tmp" + std::to_string(token) + "-" + std::to_string(++serial);
    if (WriteNewFileDurably(temp, data, 0666, ec)) break;
    if (ec != std::errc::file_exists) Raise(message, ec);
  }
  if (ec) Raise(message, ec);
  if (existed) fs::permissions(temp, status.permissions(), ec);
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code cleanup;
    fs::remove(temp, cleanup);
    Raise(message, ec);
  }
}

void TFileTools::WriteUtf8Text(const std::string& path, std::string_view text) {
  std::string data = "\xEF\xBB\xBF";
  data.reserve(text.size() + text.size() / 16 + 8);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    data.append(text.substr(start, end - start));
    data += "\r\n";
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  WriteFileAtomically(path, data);
}

// ---------------------------------------------------------------------------
// Searching and file facts

TFileSearchResult TFileTools::FindFiles(const std::string& folder, const std::string& mask,
                                        const TFindOptions& options) {
  TFileSearchResult result;
  auto maskChars = Characters(mask);
  bool dotStar = maskChars.size() >= 2 && maskChars[maskChars.size() - 2] == U'.' &&
                 maskChars.back() == U'*';
  Search(folder, maskChars, dotStar, options, result);
  return result;
}

std::optional<TNewestFile> TFileTools::NewestFile(const std::string& folder,
                                                  const std::string& mask) {
  std::optional<TNewestFile> newest;
  for (const auto& path : FindFiles(folder, mask).paths) {
    auto time = FileTime(path);
    if (time && (!newest || newest->time < *time)) newest = TNewestFile{path, *time};
  }
  return newest;
}

std::optional<TDateTime> TFileTools::FileTime(const std::string& path) {
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (ec || !fs::exists(status) || fs::is_directory(status)) return std::nullopt;
  auto written = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return FileTimeToDateTime(written);
}

bool TFileTools::SetFileTime(const std::string& path, const TDateTime& time) {
  if (!IsValidDateTime(time)) return false;
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (ec || !fs::exists(status) || fs::is_directory(status)) return false;
  fs::last_write_time(path, DateTimeToFileTime(time), ec);
  return !ec;
}

std::string TFileTools::ExtractFileExt(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return path.substr(dot);
}

bool TFileTools::IsXbel(const std::string& path) {
  return EqualsNoCase(ExtractFileExt(path), ".xbel");
}

bool TFileTools::IsReadOnly(const std::string& path) {
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return false;
  return (status.permissions() & kWriteBits) == fs::perms::none;
}

std::string TFileTools::FileMD5(const std::string& path) {
  TReadOnlyFileMapping mapping(path);
  return Md5Hex(mapping.Data(), mapping.Size());
}

std::string TFileTools::TextMD5(std::string_view text) { return Md5Hex(text.data(), text.size()); }

std::string TFileTools::CookieValue(const std::string& cookieFolder, const std::string& site,
                                    const std::string& name) {
  TFindOptions options;
  options.recurse = true;
  auto files = FindFiles(cookieFolder, "*" + site + "*.*", options).paths;
  std::string examined;
  std::string value;
  for (const auto& file : files) {
    examined += (examined.empty() ? "" : ",") + file;
    std::ifstream in(file, std::ios::binary);
    std::string first, second;
    if (!std::getline(in, first)) continue;
    if (!first.empty() && first.back() == '\r') first.pop_back();
    if (first != name) continue;
    if (std::getline(in, second) && !second.empty() && second.back() == '\r') second.pop_back();
    value = second;
    break;
  }
  TLog::Debug("TFileTools.CookieValue:" + site + ":" + name + ":files:" + examined);
  return value;
}

std::vector<std::string> TFileTools::SplitPath(const std::string& path) {
  std::vector<std::string> names;
  if (path.empty() || path[0] != '/') return names;
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool TFileTools::MatchesMask(std::string_view name, std::string_view mask) {
  auto nameChars = Characters(name);
  auto maskChars = Characters(mask);
  if (MatchCharacters(nameChars, maskChars)) return true;
  std::size_t n = maskChars.size();
  return n >= 2 && maskChars[n - 2] == U'.' && maskChars[n - 1] == U'*' &&
         MatchCharacters(nameChars, std::vector<char32_t>(maskChars.begin(), maskChars.end() - 2));
}

// ---------------------------------------------------------------------------
// Background delete

bool TFileDeleteProgress::Finished() const {
  std::lock_guard<std::mutex> guard(lock_);
  return finished_;
}

bool TFileDeleteProgress::WaitFinished(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(lock_);
  return finishedCv_.wait_for(guard, timeout, [this] { return finished_; });
}

void TFileDeleteProgress::MarkFinished() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
  }
  finishedCv_.notify_all();
}

namespace {

std::int64_t CountFiles(const fs::path& folder) {
  std::int64_t count = 0;
  std::vector<TEntry> entries;
  std::error_code ec;
  if (!ListFolder(folder, entries, ec)) return 0;
  for (const auto& entry : entries) {
    count += entry.folder ? CountFiles(folder / entry.name) : 1;
  }
  return count;
}

using TCounter = std::atomic<std::int64_t>;

void DeleteCounted(const fs::path& folder, TCounter& deleted, TCounter& failed, TCounter& bytes) {
  std::error_code ec;
  MakeWritable(folder, true, ec);
  std::vector<TEntry> entries;
  ListFolder(folder, entries, ec);
  for (const auto& entry : entries) {
    fs::path child = folder / entry.name;
    if (entry.folder) {
      DeleteCounted(child, deleted, failed, bytes);
      continue;
    }
    auto status = fs::symlink_status(child, ec);
    std::uintmax_t size = 0;
    if (fs::is_regular_file(status)) {
      size = fs::file_size(child, ec);
      if (ec) size = 0;
      MakeWritable(child, false, ec);
    }
    if (fs::remove(child, ec)) {
      ++deleted;
      bytes += static_cast<std::int64_t>(size);
    } else {
      ++failed;
    }
  }
  fs::remove(folder, ec);
}

}  // namespace

std::shared_ptr<const TFileDeleteProgress> TFileDeleteThread::Start(
    std::vector<std::string> folders, TDoneHook onDone) {
  auto progress = std::make_shared<TFileDeleteProgress>();
  // Counted from here, so that a shutdown check right after the start
  // already sees the worker.
  TThreadRegistry::Increment(kClassName);
  try {
    std::thread worker([folders, progress, onDone]() { Run(folders, progress, onDone); });
    worker.detach();
  } catch (const std::system_error&) {
    Run(folders, progress, onDone);
  }
  return progress;
}

void TFileDeleteThread::Run(const std::vector<std::string>& folders,
                            const std::shared_ptr<TFileDeleteProgress>& progress,
                            const TDoneHook& onDone) {
  try {
    for (const auto& folder : folders) {
      if (IsRealFolder(folder)) progress->total_ += CountFiles(folder);
    }
    for (const auto& folder : folders) {
      if (!IsRealFolder(folder)) continue;
      DeleteCounted(folder, progress->deleted_, progress->failed_, progress->bytes_);
    }
  } catch (...) {
    // Deleting in the background is best effort; nobody is there to tell.
  }
  if (onDone) {
    try {
      onDone(*progress);
    } catch (...) {
    }
  }
  TThreadRegistry::Decrement(kClassName);
  progress->MarkFinished();
}

}  // namespace kelvo
