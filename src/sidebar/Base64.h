#pragma once
// Encoding tools that the sidebar bridge offers to script: Base64 (RFC 4648
// alphabet, no line breaks) with a lenient decoder, and MD5 digests
// (RFC 1321) in hexadecimal and in Base64. Texts are UTF-8, and digests run
// over their bytes. Stateless; any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TEncodingException, TKException);

using TMD5Digest = std::array<std::uint8_t, 16>;

std::string Base64Encode(std::string_view bytes);
// Lenient: a length that is not a multiple of 4 raises TEncodingException
// "Base64: Incorrect string format"; every character outside "A-Za-z0-9+"
// counts as 63, and only a "=" in the third or fourth place of the last
// group shortens the output.
std::string Base64Decode(std::string_view text);

TMD5Digest MD5(std::string_view bytes);
// 32 lower-case hexadecimal digits.
std::string MD5Hex(const TMD5Digest& digest);

// The bridge's operations over plain texts.
std::string B64Encode(std::string_view text);
std::string B64Decode(std::string_view text);
// Hexadecimal MD5 of the text's bytes.
std::string CalcUTF8MD5(std::string_view text);
// Base64 of the 16-byte MD5 digest (24 characters ending in "==").
std::string B64MD5(std::string_view text);
// Not offered by this agent: always empty.
std::string HMACSha1();

}  // namespace kelvo
