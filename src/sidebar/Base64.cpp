#include "sidebar/Base64.h"

#include <openssl/evp.h>

#include "foundation/FileTools.h"

namespace kelvo {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Nothing is rejected: whatever is not a letter, a digit or "+" reads as 63.
std::uint32_t SixBits(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint32_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<std::uint32_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0' + 52);
  if (c == '+') return 62;
  return 63;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<std::uint8_t>(bytes[i]) << 16) |
                            (static_cast<std::uint8_t>(bytes[i + 1]) << 8) |
                            static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
    if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) throw TEncodingException("Base64: Incorrect string format");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::uint32_t v = (SixBits(text[i]) << 18) | (SixBits(text[i + 1]) << 12) |
                            (SixBits(text[i + 2]) << 6) | SixBits(text[i + 3]);
    std::size_t count = 3;
    if (i + 4 == text.size()) {
      if (text[i + 2] == '=') {
        count = 1;
      } else if (text[i + 3] == '=') {
        count = 2;
      }
    }
    out += static_cast<char>((v >> 16) & 0xFF);
    if (count > 1) out += static_cast<char>((v >> 8) & 0xFF);
    if (count > 2) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

TMD5Digest MD5(std::string_view bytes) {
  TMD5Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 ||
      length != digest.size()) {
    throw TEncodingException("MD5: digest failed");
  }
  return digest;
}

std::string MD5Hex(const TMD5Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(32);
  for (std::uint8_t b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string B64Encode(std::string_view text) { return Base64Encode(text); }

std::string B64Decode(std::string_view text) { return Base64Decode(text); }

std::string CalcUTF8MD5(std::string_view text) { return TFileTools::TextMD5(text); }

std::string B64MD5(std::string_view text) {
  const TMD5Digest digest = MD5(text);
  return Base64Encode(
      std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

std::string HMACSha1() { return std::string(); }

}  // namespace kelvo
