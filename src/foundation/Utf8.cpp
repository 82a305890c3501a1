#include "foundation/Utf8.h"

namespace kelvo {

namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

TUtf8Char DecodeUtf8(std::string_view s, std::size_t pos) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byteAt(pos);
  const TUtf8Char invalid{lead, 1, false};
  if (lead < 0x80) return {lead, 1, true};

  std::size_t length = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return invalid;  // a stray continuation byte, C0/C1 or F5-FF
  }
  if (s.size() - pos < length) return invalid;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byteAt(pos + i);
    if (!IsContinuation(b)) return invalid;
    code = (code << 6) | (b & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return invalid;
  return {code, length, true};
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < s.size(); pos += DecodeUtf8(s, pos).length) ++count;
  return count;
}

std::size_t Utf8PrefixBytes(std::string_view s, std::size_t maxChars) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < maxChars && pos < s.size(); ++n) pos += DecodeUtf8(s, pos).length;
  return pos;
}

std::string Utf8Cut(std::string_view s, std::size_t maxChars) {
  return std::string(s.substr(0, Utf8PrefixBytes(s, maxChars)));
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t pos = 0; pos < s.size();) {
    const TUtf8Char c = DecodeUtf8(s, pos);
    if (!c.valid) return false;
    pos += c.length;
  }
  return true;
}

char32_t Windows1252ToUnicode(unsigned char code) {
  // 0x80-0x9F; 0 marks the undefined positions.
  static constexpr char32_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
  };
  if (code < 0x80 || code >= 0xA0) return code;
  const char32_t mapped = kHigh[code - 0x80];
  return mapped != 0 ? mapped : code;
}

}  // namespace kelvo
