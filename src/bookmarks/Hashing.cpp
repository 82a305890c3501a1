#include "bookmarks/Hashing.h"

#include <algorithm>
#include <array>
#include <utility>

#include "foundation/Utf8.h"

namespace kelvo {

bool IsBookmarkHashKind(int kind) { return kind >= hkNameURL && kind <= hkPath; }

bool IsFolderHashKind(int kind) {
  return kind == hkNameURLId || (kind >= hkNameKind && kind <= hkContentSum);
}

namespace {

// ---------------------------------------------------------------------------
// Names

// Characters that cannot stand in a file name on the original platform; keys
// drop them so that a name and the file written for it compare equal.
bool IsDroppedChar(char32_t c) {
  switch (c) {
    case '"': case '*': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

// Codes are Windows-1252 positions (what the names stood for when keys were
// first defined); "shy" deliberately maps to 1, not to a soft hyphen.
struct TEntity {
  std::string_view name;
  unsigned char code;
};

constexpr std::array<std::string_view, 94> kLatin1Names = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",
    "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute",
    "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute",
    "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave",
    "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute",
    "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",    "ntilde",
    "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

constexpr std::array<TEntity, 30> kOtherEntities = {{
    {"shy", 1},        {"nbsp", 32},     {"amp", 38},     {"frasl", 47},   {"gt", 62},
    {"lt", 60},        {"quot", 34},     {"minus", 45},   {"circ", 94},    {"tilde", 126},
    {"fnof", 131},     {"hellip", 133},  {"dagger", 134}, {"Dagger", 135}, {"permil", 137},
    {"Scaron", 138},   {"lsaquo", 139},  {"OElig", 140},  {"lsquo", 145},  {"rsquo", 146},
    {"ldquo", 147},    {"rdquo", 148},   {"bull", 149},   {"ndash", 45},   {"mdash", 151},
    {"trade", 153},    {"scaron", 154},  {"rsaquo", 155}, {"oelig", 156},  {"Yuml", 159},
}};

// Case-sensitive; 32 (a space) for an unknown name.
unsigned char LookUpEntity(std::string_view name) {
  for (const TEntity& e : kOtherEntities) {
    if (e.name == name) return e.code;
  }
  for (std::size_t i = 0; i < kLatin1Names.size(); ++i) {
    if (kLatin1Names[i] == name) {
      const std::size_t code = 161 + i;  // 173 ("shy") is in the other table
      return static_cast<unsigned char>(code >= 173 ? code + 1 : code);
    }
  }
  return 32;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The whole of digits in the given base, or -1 when empty, malformed or
// beyond any code we accept.
long ParseNumber(std::string_view digits, int base) {
  if (digits.empty()) return -1;
  long value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0 || d >= base) return -1;
    value = value * base + d;
    if (value > 0xFFFF) return -1;  // long runs of digits cannot overflow
  }
  return value;
}

// Decodes the text between '&' and its terminator to one character code.
unsigned char DecodeEntity(std::string_view text) {
  std::string_view rest = text;
  if (!rest.empty() && rest.front() == '#') rest.remove_prefix(1);
  bool hex = false;
  if (!rest.empty() && (rest.front() == 'x' || rest.front() == 'X')) {
    hex = true;
    rest.remove_prefix(1);
  }
  const bool number = hex || (text.size() >= 2 && !rest.empty() && rest.front() >= '0' && rest.front() <= '9');
  if (!number) return LookUpEntity(rest);
  const long value = ParseNumber(rest, hex ? 16 : 10);
  return (value >= 32 && value <= 255) ? static_cast<unsigned char>(value) : 32;
}

struct TChar {
  std::size_t pos;
  TUtf8Char c;
};

bool IsSpaceOrDot(char c) { return c == ' ' || c == '.'; }

void Trim(std::string& out, TNameMode mode) {
  if (out.empty() || (!IsSpaceOrDot(out.front()) && !IsSpaceOrDot(out.back()))) return;
  if (std::all_of(out.begin(), out.end(), IsSpaceOrDot)) {
    out.clear();
    return;
  }
  if (mode == nmFolder) {
    const std::size_t first = out.find_first_not_of(" .");
    const std::size_t last = out.find_last_not_of(" .");
    out = out.substr(first, last - first + 1);
  } else {
    out.erase(out.find_last_not_of(' ') + 1);
  }
}

// ---------------------------------------------------------------------------
// URLs

enum class TURLState { scheme, host, path, query };

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Case-insensitive match of ASCII text at pos.
bool MatchesAt(std::string_view s, std::size_t pos, std::string_view lowerText) {
  if (pos > s.size() || s.size() - pos < lowerText.size()) return false;
  for (std::size_t i = 0; i < lowerText.size(); ++i) {
    if (AsciiToLower(s[pos + i]) != lowerText[i]) return false;
  }
  return true;
}

void RemoveDefaultPort(std::string& out, int defaultPort) {
  if (defaultPort == 80 && EndsWith(out, ":80")) {
    out.resize(out.size() - 3);
  } else if (defaultPort == 443 && EndsWith(out, ":443")) {
    out.resize(out.size() - 4);
  }
}

}  // namespace

std::string NormalizeNameWith(std::string_view name, TNameMode mode, TNameSwitches switches) {
  // Entity rules speak of character positions, so decode once up front.
  std::vector<TChar> chars;
  chars.reserve(name.size());
  for (std::size_t pos = 0; pos < name.size();) {
    const TUtf8Char c = DecodeUtf8(name, pos);
    chars.push_back({pos, c});
    pos += c.length;
  }
  const std::size_t count = chars.size();
  const auto bytesOf = [&](std::size_t i) { return name.substr(chars[i].pos, chars[i].c.length); };
  const auto isTerminator = [&](std::size_t i) {
    return chars[i].c.valid && (chars[i].c.code == ' ' || chars[i].c.code == ';');
  };

  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < count;) {
    const TUtf8Char& c = chars[i].c;
    if (!c.valid) {  // passed through as it is
      out += bytesOf(i);
      ++i;
      continue;
    }
    char32_t code = c.code;
    if (IsDroppedChar(code)) {
      ++i;
      continue;
    }
    if (code == '/') {
      out += '-';
      ++i;
      continue;
    }
    if (code == 0xA0) {
      out += ' ';
      ++i;
      continue;
    }
    if (code == '&' && switches.decodeEntities) {
      std::size_t end = i + 1;
      while (end < count && !isTerminator(end)) ++end;
      const std::size_t next = end < count ? end + 1 : count;
      // Empty text, or an '&' among the last three characters: nothing is
      // written. (1-based q = i + 1; q >= count - 2.)
      if (end == i + 1 || i + 3 >= count) {
        i = next;
        continue;
      }
      const std::size_t textBegin = chars[i + 1].pos;
      const std::size_t textEnd = end < count ? chars[end].pos : name.size();
      const unsigned char decoded = DecodeEntity(name.substr(textBegin, textEnd - textBegin));
      if (decoded == '/') {
        out += '-';
      } else if (!IsDroppedChar(decoded)) {
        AppendUtf8(out, Windows1252ToUnicode(decoded));
      }
      i = next;
      continue;
    }
    if (switches.lowerCase && code < 0x80) {
      out += AsciiToLower(static_cast<char>(code));
    } else {
      out += bytesOf(i);
    }
    ++i;
  }
  if (switches.trim) Trim(out, mode);
  if (switches.cut) out.resize(Utf8PrefixBytes(out, kNameCutLength));
  return out;
}

std::string NormalizeName(std::string_view name, TNameMode mode) {
  return NormalizeNameWith(name, mode, {.lowerCase = true, .decodeEntities = true, .trim = true, .cut = true});
}

std::string FileSafeName(std::string_view name, TNameMode mode) {
  return NormalizeNameWith(name, mode, {.trim = true, .cut = true});
}

// Only the first kCanonicalURLBufferLength characters take part: the rest of
// a longer URL is ignored, which keeps every canonical URL within the
// 254-character cut that the canonical-URL lookups apply to their argument.
std::string CanonicalizeURL(std::string_view url) {
  if (url.empty()) return std::string(url);
  const std::string_view buf = url.substr(0, Utf8PrefixBytes(url, kCanonicalURLBufferLength));
  const std::size_t n = buf.size();
  std::size_t r = 0;
  while (r < n && static_cast<unsigned char>(buf[r]) <= 32) ++r;
  if (r == n) return {};

  std::string out;
  out.reserve(n);
  TURLState state = TURLState::scheme;
  int defaultPort = 0;
  std::size_t schemeChars = 0;
  std::size_t pathStart = 0;  // where the path's first '/' stands in out

  while (r < n) {
    // Every rule is about ASCII; other characters are copied whole, so that
    // counts stay in characters and no sequence is split.
    const std::size_t length = DecodeUtf8(buf, r).length;
    const char c = length == 1 ? buf[r] : '\x80';
    if (state == TURLState::host && c == '/') {
      state = TURLState::path;
      RemoveDefaultPort(out, defaultPort);
      pathStart = out.size();
    } else if (state == TURLState::path && c == '/') {
      std::size_t dots = 0;
      while (out.size() > pathStart && out.back() == '.') {
        out.pop_back();
        ++dots;
      }
      if (dots > 0) {
        // Each '/' met going back is one level up. The scan stops at the
        // path's first '/', so too many ".." end at the root of the path and
        // never eat into the host.
        std::size_t cut = pathStart;
        for (std::size_t i = out.size(); i > pathStart && dots > 0;) {
          --i;
          if (out[i] == '/') {
            --dots;
            cut = i;
          }
        }
        out.resize(cut);
      }
    }
    if (c == '#') break;
    if (state == TURLState::path && c == '/' && !out.empty() && out.back() == '/') {
      ++r;
      continue;
    }
    if (state == TURLState::path && c == '?') state = TURLState::query;
    if (length == 1) {
      out += AsciiToLower(c);
    } else {
      out += buf.substr(r, length);
    }
    r += length;

    if (state == TURLState::scheme && ++schemeChars == 6) {
      if (out.compare(0, 4, "http") != 0) return {};
      bool hostStartsInOutput = false;
      if (out[4] == ':') {
        defaultPort = 80;
        if (out[5] == '/') {
          out.pop_back();
        } else {
          hostStartsInOutput = true;
        }
      } else if (out[4] == 's' && out[5] == ':') {
        defaultPort = 443;
      } else {
        return {};
      }
      // Slashes are skipped only while the host has not begun: "http:h/x"
      // must not lose the slash that ends its one-letter host.
      if (!hostStartsInOutput) {
        while (r < n && buf[r] == '/') ++r;
      }
      if (r == n) return {};
      if (hostStartsInOutput) {
        if (out[5] == 'w' && MatchesAt(buf, r, "ww.")) {
          out.pop_back();
          r += 3;
        }
      } else if (MatchesAt(buf, r, "www.")) {
        r += 4;
      }
      state = TURLState::host;
    }
  }

  if (state == TURLState::scheme) return {};
  while (!out.empty() && static_cast<unsigned char>(out.back()) <= 32) out.pop_back();
  if (state == TURLState::path) {
    const std::size_t last = out.find_last_of("./");
    if (last != std::string::npos && out[last] == '.') {
      const std::string_view before = std::string_view(out).substr(0, last);
      if (EndsWith(before, "/index")) {
        out.resize(last - 5);
      } else if (EndsWith(before, "/default")) {
        out.resize(last - 7);
      }
    }
  } else if (state == TURLState::host) {
    RemoveDefaultPort(out, defaultPort);
    if (out.empty() || out.back() != '/') out += '/';
  }
  return out;
}

std::uint32_t StringChecksum(std::string_view s) {
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  for (char x : s) {
    a += static_cast<unsigned char>(x);
    b += a;
  }
  return ((b % 65521u) << 16) | (a % 65521u);
}

std::string PathHash(const std::vector<std::string>& names, bool isFolder) {
  if (names.empty()) return {};
  const TNameMode mode = isFolder ? nmFolder : nmBookmark;
  // The names above the node are folders: they take the folder form and an
  // empty one adds no segment, exactly as the keys of a tree walk are built;
  // otherwise a lookup by this key would miss the node it names.
  std::string parentPath;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    const std::string folderName = NormalizeName(names[i], nmFolder);
    if (folderName.empty()) continue;
    parentPath += '/';
    parentPath += folderName;
  }
  return parentPath + "/" + NormalizeName(names.back(), mode) + (isFolder ? "F" : "B");
}

std::string KeyURL(std::string_view url) { return Utf8Cut(url, kKeyURLLength); }

}  // namespace kelvo
