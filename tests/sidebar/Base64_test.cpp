#include <gtest/gtest.h>

#include <string>

#include "sidebar/Base64.h"

namespace kelvo {
namespace {

struct TVector {
  const char* plain;
  const char* encoded;
};

// RFC 4648, section 10.
const TVector kRfc4648[] = {{"", ""},
                            {"f", "Zg=="},
                            {"fo", "Zm8="},
                            {"foo", "Zm9v"},
                            {"foob", "Zm9vYg=="},
                            {"fooba", "Zm9vYmE="},
                            {"foobar", "Zm9vYmFy"}};

TEST(Base64Test, EncodesAndDecodesTheRfc4648Vectors) {
  for (const auto& v : kRfc4648) {
    EXPECT_EQ(B64Encode(v.plain), v.encoded) << v.plain;
    EXPECT_EQ(B64Decode(v.encoded), v.plain) << v.encoded;
  }
}

TEST(Base64Test, EncodesEveryByteValueWithoutLineBreaks) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string text = Base64Encode(all);
  EXPECT_EQ(text.size(), (all.size() + 2) / 3 * 4);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(0, 8), "AAECAwQF");
  EXPECT_EQ(text.substr(text.size() - 8), "/P3+/w==");
  EXPECT_EQ(Base64Decode(text), all);
}

TEST(Base64Test, DecodingIsLenient) {
  struct TCase {
    std::string text;
    std::string bytes;
  };
  const TCase cases[] = {
      // Characters outside the alphabet count as 63, like "/".
      {"!!!!", "\xFF\xFF\xFF"},
      {"////", "\xFF\xFF\xFF"},
      {"\xC3\xA9\xC3\xA9", "\xFF\xFF\xFF"},
      // Padding only counts in the last group.
      {"Zg==Zm8=", std::string("f\x0F\xFF") + "fo"},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      // A "=" as third character wins over the fourth.
      {"Zm=v", "f"},
      // A "=" in the first two places decodes as 63.
      {"=g==", "\xFE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(B64Decode(c.text), c.bytes) << c.text;
  }
}

TEST(Base64Test, RejectsLengthsThatAreNotMultiplesOfFour) {
  for (const char* text : {"Zm9", "Z", "Zm9vY", "Zm9vYmF"}) {
    try {
      B64Decode(text);
      ADD_FAILURE() << text << " decoded";
    } catch (const TEncodingException& e) {
      EXPECT_EQ(e.Message(), "Base64: Incorrect string format");
    }
  }
}

// RFC 1321, appendix A.5.
TEST(MD5Test, MatchesTheRfc1321Suite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : suite) {
    EXPECT_EQ(CalcUTF8MD5(text), hex) << text;
    EXPECT_EQ(MD5Hex(MD5(text)), hex) << text;
  }
}

TEST(MD5Test, Base64FormIsTheWholeDigest) {
  EXPECT_EQ(B64MD5(""), "1B2M2Y8AsgTpgAmY7PhCfg==");
  EXPECT_EQ(B64MD5("abc"), "kAFQmDzST7DWlj99KOF/cg==");
  // Digests run over the UTF-8 bytes of the text.
  EXPECT_EQ(CalcUTF8MD5("\xC3\xA9"), MD5Hex(MD5(std::string("\xC3\xA9"))));
  EXPECT_NE(CalcUTF8MD5("\xC3\xA9"), CalcUTF8MD5("\xE9"));
}

TEST(MD5Test, HmacIsNotOffered) { EXPECT_EQ(HMACSha1(), ""); }

}  // namespace
}  // namespace kelvo
