#include "bookmarks/UrlFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/AtomicFile.h"

namespace kelvo {

namespace {

// One line of the file: its bytes without the ending, and the ending itself
// ("\r\n", "\n", "\r", or "" for a last line without one).
struct TLine {
  std::string_view content;
  std::string_view eol;
};

std::vector<TLine> SplitLines(std::string_view text) {
  std::vector<TLine> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back({text.substr(start), {}});
      break;
    }
    std::size_t eolLength = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    lines.push_back({text.substr(start, end - start), text.substr(end, eolLength)});
    start = end + eolLength;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// A section header's name, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  std::size_t close = line.find(']');
  return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// Splits a key line into key and value (both trimmed); false without "=".
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

// A value as one line: CR and LF would start a new key.
std::string OneLine(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
  bool inSection = false;
  for (const TLine& line : SplitLines(text)) {
    if (auto name = SectionName(line.content)) {
      inSection = SameIgnoringCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    std::string_view k;
    std::string_view v;
    if (KeyValue(line.content, k, v) && SameIgnoringCase(k, key)) return std::string(v);
  }
  return std::nullopt;
}

std::string UrlFromUrlFileText(std::string_view text) {
  if (auto url = ReadIniValue(text, kUrlFileSection, kUrlFileURLKey)) return *url;
  // No such key: the rest of the first line holding "URL=" with something
  // after it, as older versions of the agent read every file.
  static constexpr std::string_view kMarker = "URL=";
  for (const TLine& line : SplitLines(text)) {
    std::size_t at = line.content.find(kMarker);
    if (at == std::string_view::npos) continue;
    std::string_view rest = line.content.substr(at + kMarker.size());
    if (!rest.empty()) return std::string(rest);
  }
  return std::string();
}

std::string SetUrlFileKeys(std::string_view text, std::string_view url, std::string_view feedURL) {
  std::vector<TLine> lines = SplitLines(text);
  std::string_view newEol = "\r\n";
  for (const TLine& line : lines) {
    if (!line.eol.empty()) {
      newEol = line.eol;
      break;
    }
  }

  // Replacement texts by line index, and lines to insert after an index.
  std::vector<std::optional<std::string>> replaced(lines.size());
  std::vector<std::string> appended;  // after the section's last key line
  std::size_t sectionStart = lines.size();
  std::size_t sectionEnd = lines.size();  // one past its last line
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].content);
    if (!name) continue;
    if (sectionStart == lines.size()) {
      if (SameIgnoringCase(*name, kUrlFileSection)) sectionStart = i;
    } else {
      sectionEnd = i;
      break;
    }
  }

  struct TKeyToSet {
    std::string_view key;
    std::string value;
  };
  std::vector<TKeyToSet> keys{{kUrlFileURLKey, OneLine(url)}};
  if (!feedURL.empty()) keys.push_back({kUrlFileFeedURLKey, OneLine(feedURL)});

  std::size_t lastContent = sectionStart;  // insertion point: after this line
  for (const TKeyToSet& entry : keys) {
    bool found = false;
    if (sectionStart < lines.size()) {
      for (std::size_t i = sectionStart + 1; i < sectionEnd; ++i) {
        std::string_view k;
        std::string_view v;
        if (!KeyValue(lines[i].content, k, v) || !SameIgnoringCase(k, entry.key)) continue;
        std::string_view content = lines[i].content;
        std::size_t indent = 0;
        while (indent < content.size() && IsBlank(content[indent])) ++indent;
        replaced[i] = std::string(content.substr(0, indent)) + std::string(entry.key) + "=" + entry.value;
        found = true;
        break;
      }
    }
    if (!found) appended.push_back(std::string(entry.key) + "=" + entry.value);
  }
  if (sectionStart < lines.size()) {
    for (std::size_t i = sectionStart + 1; i < sectionEnd; ++i) {
      if (!Trim(lines[i].content).empty()) lastContent = i;
    }
  }

  std::string out;
  out.reserve(text.size() + 64 + url.size() + feedURL.size());
  auto addNew = [&](const std::string& line) {
    out += line;
    out += newEol;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += replaced[i] ? std::string_view(*replaced[i]) : lines[i].content;
    bool insertHere = sectionStart < lines.size() && i == lastContent && !appended.empty();
    // A line that gains a successor needs an ending of its own.
    out += (lines[i].eol.empty() && insertHere) ? newEol : lines[i].eol;
    if (insertHere) {
      for (const std::string& line : appended) addNew(line);
    }
  }
  if (sectionStart == lines.size()) {
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += newEol;
    addNew("[" + std::string(kUrlFileSection) + "]");
    for (const std::string& line : appended) addNew(line);
  }
  return out;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxSize, std::string* reason) {
  auto fail = [&](const char* why) -> std::optional<std::string> {
    if (reason != nullptr) *reason = why;
    return std::nullopt;
  };
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return fail("cannot be opened");
  std::string bytes;
  std::size_t chunk = 4096;
  bool failed = false;
  for (;;) {
    std::size_t old = bytes.size();
    bytes.resize(old + chunk);
    std::size_t got = std::fread(bytes.data() + old, 1, chunk, file);
    bytes.resize(old + got);
    if (got < chunk) {
      failed = std::ferror(file) != 0;
      break;
    }
    if (bytes.size() > maxSize) break;
    if (chunk < 65536) chunk *= 2;
  }
  std::fclose(file);
  if (failed) return fail("cannot be read");
  if (bytes.size() > maxSize) return fail("is too large");
  return bytes;
}

void WriteUrlFile(const std::string& path, std::string_view url, std::string_view feedURL) {
  std::string existing;
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    std::string reason;
    auto bytes = ReadSmallFile(path, kUrlFileMaxSize, &reason);
    // Rewriting a file we could not read would drop its other sections.
    if (!bytes) throw TIEToolsException("Error writing bookmark file:" + path + " " + reason);
    existing = std::move(*bytes);
  }
  try {
    WriteFileAtomic(path, SetUrlFileKeys(existing, url, feedURL));
  } catch (const TKException& e) {
    throw TIEToolsException("Error writing bookmark file:" + e.FullMessage());
  }
}

}  // namespace kelvo
