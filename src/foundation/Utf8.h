#pragma once
// UTF-8 helpers for rules that are stated over characters. The agent's
// strings are UTF-8, but names come from the file system and the network and
// may hold any bytes: a byte that does not begin a well-formed sequence is
// reported as a character of its own (invalid), so callers can pass it
// through unchanged instead of dropping it or crashing.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvo {

// One character of a UTF-8 string as found at some byte offset.
struct TUtf8Char {
  // The code point; for an invalid byte, the byte value (0x80-0xFF).
  char32_t code = 0;
  // Bytes it occupies (1-4); always 1 for an invalid byte.
  std::size_t length = 0;
  bool valid = false;
};

// Decodes the character starting at byte offset pos (< s.size()). Overlong
// forms, surrogates, values above U+10FFFF and truncated sequences are not
// well formed: their first byte comes back as one invalid character and
// decoding resumes at the next byte.
TUtf8Char DecodeUtf8(std::string_view s, std::size_t pos);

// Appends the UTF-8 form of a code point (a surrogate or a value above
// U+10FFFF is written as U+FFFD).
void AppendUtf8(std::string& out, char32_t code);

// Number of characters, each invalid byte counting as one.
std::size_t Utf8Length(std::string_view s);

// Byte length of the first maxChars characters of s (all of s if shorter).
std::size_t Utf8PrefixBytes(std::string_view s, std::size_t maxChars);

// The first maxChars characters of s; never splits a well-formed sequence.
std::string Utf8Cut(std::string_view s, std::size_t maxChars);

bool IsValidUtf8(std::string_view s);

// The Unicode character that a Windows-1252 code stands for (0x80 -> U+20AC,
// 0x85 -> U+2026...). Codes below 0x80 and 0xA0-0xFF map to themselves; the
// five undefined positions (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control
// character of the same value.
char32_t Windows1252ToUnicode(unsigned char code);

// ASCII-only case folding: only A-Z change.
inline char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace kelvo
