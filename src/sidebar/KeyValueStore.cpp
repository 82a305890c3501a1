#include "sidebar/KeyValueStore.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "platform/SystemInfo.h"
#include "sidebar/lkJSON.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexName = "keys.txt";

struct TIndexState {
  std::mutex lock;
  bool loaded = false;
  std::vector<std::string> lines;
  // How many index lines hold each hexadecimal form; a form held anywhere
  // may not name a new value file.
  std::unordered_map<std::uint32_t, int> blocked;
};

TIndexState& State() {
  static TIndexState state;
  return state;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Every number whose form (upper-case hexadecimal, at least four digits,
// longer ones without leading zero) occurs in the line. Lines are joined
// with CR LF, which is no hex digit, so no form spans two lines.
std::unordered_set<std::uint32_t> FormsIn(std::string_view line) {
  std::unordered_set<std::uint32_t> forms;
  std::size_t i = 0;
  while (i < line.size()) {
    if (!IsUpperHex(line[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < line.size() && IsUpperHex(line[end])) ++end;
    for (std::size_t start = i; start + 4 <= end; ++start) {
      for (std::size_t length = 4; length <= 8 && start + length <= end; ++length) {
        if (length > 4 && line[start] == '0') break;
        forms.insert(static_cast<std::uint32_t>(
            std::stoul(std::string(line.substr(start, length)), nullptr, 16)));
      }
    }
    i = end;
  }
  return forms;
}

void Block(TIndexState& s, const std::string& line, int delta) {
  for (std::uint32_t form : FormsIn(line)) {
    int& count = s.blocked[form];
    count += delta;
    if (count <= 0) s.blocked.erase(form);
  }
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

// A damaged index must not name a file outside the store's folder.
bool IsBareFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Index of the key's usable entry; lines without "=" or with a file name
// that is not a bare name are never matched.
int FindEntry(const TIndexState& s, const std::string& key, std::string* fileName) {
  for (std::size_t i = 0; i < s.lines.size(); ++i) {
    const std::string& line = s.lines[i];
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string_view name(line.data(), eq);
    std::string_view file(line.data() + eq + 1, line.size() - eq - 1);
    if (!SameKey(name, key) || !IsBareFileName(file)) continue;
    if (fileName) *fileName = std::string(file);
    return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::optional<std::string> ReadBytes(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad() || fs::is_directory(path, ec)) {
    throw TKFileException("Error reading file " + path);
  }
  return bytes.str();
}

void SaveIndex(const TIndexState& s) {
  std::string text;
  for (const auto& line : s.lines) {
    text += line;
    text += "\r\n";
  }
  TFileTools::WriteFileAtomically(TKeyValueStore::Folder() + kIndexName, text);
}

void LoadIfNeeded(TIndexState& s) {
  if (s.loaded) return;
  const std::string folder = TKeyValueStore::Folder();
  std::vector<std::string> lines;
  if (auto bytes = ReadBytes(folder + kIndexName)) lines = SplitLines(DecodeBomText(*bytes));
  s.lines = std::move(lines);
  s.blocked.clear();
  for (const auto& line : s.lines) Block(s, line, 1);
  s.loaded = true;
}

// A key holding "=" could never be found again (the first "=" of a line
// ends the key), and a line end would split the index line in two, the
// second naming another key's file.
void CheckNewKey(const std::string& key) {
  if (key.find_first_of(std::string("=\r\n\0", 4)) != std::string::npos) {
    throw TKeyValueException("Key-value store: invalid key \"" + key + "\"");
  }
}

std::optional<std::string> FindValueFileLocked(TIndexState& s, const std::string& key,
                                               bool create) {
  LoadIfNeeded(s);
  const std::string folder = TKeyValueStore::Folder();
  std::string fileName;
  if (FindEntry(s, key, &fileName) >= 0) return folder + fileName;
  if (!create) return std::nullopt;
  CheckNewKey(key);

  std::uint64_t n = 0;
  while (s.blocked.count(static_cast<std::uint32_t>(n)) != 0) ++n;
  char form[32];
  std::snprintf(form, sizeof form, "%04llX", static_cast<unsigned long long>(n));
  fileName = std::string("val") + form + ".cfg";
  std::string line = key + "=" + fileName;
  s.lines.push_back(line);
  Block(s, line, 1);
  try {
    SaveIndex(s);
  } catch (...) {
    // Memory keeps matching the file on disk.
    s.lines.pop_back();
    Block(s, line, -1);
    throw;
  }
  return folder + fileName;
}

std::string CountryCode() {
  std::string country = GetUserLocale().country;
  if (country.empty()) return "US";
  return Utf8Cut(country, 2);
}

std::string GetLocked(TIndexState& s, const std::string& key) {
  if (key == "sidebarCountryCode") return CountryCode();
  if (key == "sidebarMivaAuthToken") return "TRW4MZPX8";
  if (key == "sidebarIpAddress") return TKeyValueStore::kIpAddress;

  auto path = FindValueFileLocked(s, key, false);
  if (!path) return std::string();
  auto bytes = ReadBytes(*path);
  if (!bytes) return std::string();
  std::string text = DecodeBomText(*bytes);
  const std::size_t length = Utf8Length(text);
  if (length > TKeyValueStore::kMaxValueLength) {
    TLog::Warning("GetKeyValue(" + key + ") Filename=" + *path + " size=" +
                  std::to_string(length) + " returning empty (content too big)");
    return std::string();
  }
  return TrimBlanks(text);
}

}  // namespace

std::string TKeyValueStore::Folder() {
  const std::string data = TConfig::AppDataPath();
  if (data.empty()) throw TKeyValueException("Key-value store: the data folder is not set");
  return data + "keyvalues/";
}

void TKeyValueStore::Open() {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  TFileTools::CreateFolder(Folder());
  LoadIfNeeded(s);
}

std::optional<std::string> TKeyValueStore::FindValueFile(const std::string& key, bool create) {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (create) TFileTools::CreateFolder(Folder());
  return FindValueFileLocked(s, key, create);
}

std::string TKeyValueStore::Get(const std::string& key) {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return GetLocked(s, key);
}

bool TKeyValueStore::Set(const std::string& key, const std::string& value) {
  std::string path;
  {
    TIndexState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    TFileTools::CreateFolder(Folder());
    path = *FindValueFileLocked(s, key, true);
    try {
      TFileTools::WriteUtf8Text(path, value);
    } catch (const TKException& e) {
      TLog::Warning("TKeyValueStore.Set:" + key + ":" + e.FullMessage());
      return false;
    }
  }
  if (key == "skin") TConfig::SetSkin(value);
  return true;
}

bool TKeyValueStore::Delete(const std::string& key) {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  try {
    LoadIfNeeded(s);
    std::string fileName;
    const int entry = FindEntry(s, key, &fileName);
    if (entry < 0) return true;
    const std::string path = Folder() + fileName;
    // An entry whose file is gone already is still removed, so that a
    // damaged store can be cleaned up from script.
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
      TFileTools::DeleteFile(path);
    }
    const std::string line = s.lines[static_cast<std::size_t>(entry)];
    s.lines.erase(s.lines.begin() + entry);
    Block(s, line, -1);
    try {
      SaveIndex(s);
    } catch (...) {
      s.lines.insert(s.lines.begin() + entry, line);
      Block(s, line, 1);
      throw;
    }
    return true;
  } catch (const std::exception& e) {
    TLog::LogException(e, "TKeyValueStore.Delete:" + key);
    return false;
  }
}

std::string TKeyValueStore::List(const std::string& prefix) {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  LoadIfNeeded(s);
  TlkJSONobject object;
  if (!prefix.empty()) {
    const std::vector<std::string> lines = s.lines;
    for (const auto& line : lines) {
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      std::string value;
      try {
        value = GetLocked(s, key);
      } catch (const TKException& e) {
        // One unreadable value file does not hide the others.
        TLog::LogException(e, "TKeyValueStore.List:" + key);
      }
      object.Add(key, value);
    }
  }
  return TlkJSON::GenerateText(object);
}

void TKeyValueStore::ResetForTesting() {
  TIndexState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.loaded = false;
  s.lines.clear();
  s.blocked.clear();
}

// --- Text helpers ---------------------------------------------------------------

std::string DecodeBomText(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  const bool little = starts("\xFF\xFE");
  const bool big = starts("\xFE\xFF");
  if (!little && !big) return std::string(bytes);

  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t at) -> char32_t {
    const auto lo = static_cast<unsigned char>(bytes[at + (little ? 0 : 1)]);
    const auto hi = static_cast<unsigned char>(bytes[at + (little ? 1 : 0)]);
    return static_cast<char32_t>(hi << 8 | lo);
  };
  std::size_t i = 2;
  while (i + 1 < bytes.size()) {
    char32_t code = unit(i);
    i += 2;
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < bytes.size()) {
      const char32_t low = unit(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, code);  // a surrogate left alone is written as U+FFFD
  }
  return out;
}

std::string TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace kelvo
