// Feeds the name and URL functions random input, biased towards the
// characters their rules react to, and checks what must hold for any input:
// nothing crashes, valid UTF-8 stays valid, the 150-character cut holds and
// bytes that are not UTF-8 are neither dropped nor split.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bookmarks/Hashing.h"
#include "foundation/Utf8.h"

namespace kelvo {
namespace {

constexpr std::uint32_t kSeed = 20261211;

// Pieces that trigger the rules: entities, URL parts, drop-set characters.
const std::vector<std::string> kPieces = {
    "&",      ";",       " ",         ".",      "/",       "#",      "x",      "X",       "&amp;",
    "&#39;",  "&#x41;",  "&hellip;",  "&nbsp;", "&shy;",   "&#",     "&#x",    "&quot;",  "&frasl;",
    "\"",     "*",       ":",         "<",      ">",       "?",      "\\",     "|",       "\xC2\xA0",
    "http://", "https://", "HTTP:",   "www.",   "WWW.",    ":80",    ":443",   "/../",    "/./",
    "//",     "..",      "index.html", "/default.asp", "A",  "z",      "0",      "9",       "\t",
    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE9", "\xC3", "\xE2\x82", "\xFF", "\x80", "\x01",
};

class TGenerator {
 public:
  TGenerator() : rng_(kSeed) {}

  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  // Any bytes at all.
  std::string RandomBytes(std::size_t length) {
    std::string s;
    for (std::size_t i = 0; i < length; ++i) s += static_cast<char>(Below(256));
    return s;
  }

  // Valid UTF-8 mixing rule pieces and code points from every length class.
  std::string ValidText(std::size_t pieces) {
    std::string s;
    for (std::size_t i = 0; i < pieces; ++i) {
      switch (Below(4)) {
        case 0: {
          const std::string& p = kPieces[Below(kPieces.size())];
          if (IsValidUtf8(p)) s += p;
          break;
        }
        case 1:
          s += static_cast<char>(32 + Below(95));
          break;
        default:
          AppendUtf8(s, RandomCodePoint());
          break;
      }
    }
    return s;
  }

  // Rule pieces and raw bytes together: usually not valid UTF-8.
  std::string MixedText(std::size_t pieces) {
    std::string s;
    for (std::size_t i = 0; i < pieces; ++i) {
      if (Below(3) == 0) {
        s += static_cast<char>(Below(256));
      } else {
        s += kPieces[Below(kPieces.size())];
      }
    }
    return s;
  }

 private:
  char32_t RandomCodePoint() {
    static constexpr char32_t kLimits[] = {0x80, 0x800, 0x10000, 0x110000};
    const char32_t limit = kLimits[Below(4)];
    for (;;) {
      const char32_t c = static_cast<char32_t>(Below(limit));
      if (c < 0xD800 || c > 0xDFFF) return c;
    }
  }

  std::mt19937 rng_;
};

bool HasDroppedOrSlash(std::string_view s) { return s.find_first_of("\"*:<>?\\|/") != std::string_view::npos; }

void CheckName(const std::string& input) {
  const bool valid = IsValidUtf8(input);
  for (TNameMode mode : {nmBookmark, nmFolder}) {
    for (const std::string& out : {NormalizeName(input, mode), FileSafeName(input, mode)}) {
      ASSERT_LE(Utf8Length(out), kNameCutLength);
      if (valid) {
        ASSERT_TRUE(IsValidUtf8(out));
      }
      // Drop-set characters and '/' never survive, whatever the bytes around them.
      ASSERT_FALSE(HasDroppedOrSlash(out));
      // Folder names lose their leading spaces and dots (the cut comes after).
      if (mode == nmFolder && !out.empty()) {
        ASSERT_NE(out.front(), ' ');
        ASSERT_NE(out.front(), '.');
      }
    }
  }
}

void CheckURL(const std::string& input) {
  const std::string out = CanonicalizeURL(input);
  ASSERT_LE(Utf8Length(out), kCanonicalURLBufferLength);
  if (IsValidUtf8(input)) {
    ASSERT_TRUE(IsValidUtf8(out));
  }
  if (out.empty()) return;
  ASSERT_TRUE(out.rfind("http:", 0) == 0 || out.rfind("https:", 0) == 0) << out;
  ASSERT_EQ(out.find('#'), std::string::npos);
  for (char c : out) ASSERT_FALSE(c >= 'A' && c <= 'Z') << out;
  ASSERT_GT(static_cast<unsigned char>(out.back()), 32u);
}

TEST(HashingFuzz, RandomInputNeverBreaksTheRules) {
  TGenerator gen;
  for (int i = 0; i < 3000; ++i) {
    const std::size_t length = 1 + gen.Below(i % 10 == 0 ? 400 : 60);
    std::string input;
    switch (i % 3) {
      case 0: input = gen.RandomBytes(length); break;
      case 1: input = gen.ValidText(length); break;
      default: input = gen.MixedText(length); break;
    }
    SCOPED_TRACE(::testing::Message() << "iteration " << i);
    CheckName(input);
    CheckURL(input);
    // The same text as a URL, so the scheme is accepted and the later rules run.
    CheckURL((i % 2 ? "http://" : "HTTPS://www.") + input);
    ASSERT_NO_FATAL_FAILURE(PathHash({input, input + "x", input}, i % 2 == 0));
    StringChecksum(input);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(HashingFuzz, LongInputsAreCutAndStayWhole) {
  TGenerator gen;
  for (int i = 0; i < 12; ++i) {
    const std::size_t pieces = 10000 + gen.Below(20000);
    const std::string input = (i % 2 == 0) ? gen.ValidText(pieces) : gen.MixedText(pieces);
    ASSERT_GE(Utf8Length(input), 10000u);
    SCOPED_TRACE(::testing::Message() << "iteration " << i);
    CheckName(input);
    CheckURL(input);
    CheckURL("http://h/" + input);
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Long runs the rules walk through in one go.
  const std::string dots = "http://h/" + std::string(20000, '.') + "/x";
  EXPECT_EQ(CanonicalizeURL(dots), "http:h/" + std::string(201 - 9, '.'));
  EXPECT_EQ(NormalizeName(std::string(20000, '&'), nmBookmark), "");
  EXPECT_EQ(NormalizeName(std::string(20000, '.') + "a", nmFolder), "a");
  EXPECT_EQ(Utf8Length(NormalizeName(std::string(20000, '\xA0'), nmBookmark)), kNameCutLength);
}

TEST(HashingFuzz, BytesThatAreNotUtf8PassThroughWhole) {
  // Bytes 0x80-0xFF without 0xC2 and 0xA0, so no no-break space can form:
  // nothing in such a name is special, so both forms are the input cut to
  // 150 characters, every invalid byte kept and counted as one character.
  TGenerator gen;
  for (int i = 0; i < 2000; ++i) {
    std::string input;
    const std::size_t length = 1 + gen.Below(i % 10 == 0 ? 600 : 200);
    while (input.size() < length) {
      const char b = static_cast<char>(0x80 + gen.Below(128));
      if (b != '\xC2' && b != '\xA0') input += b;
    }
    const std::string expected = Utf8Cut(input, kNameCutLength);
    ASSERT_EQ(NormalizeName(input, nmBookmark), expected);
    ASSERT_EQ(NormalizeName(input, nmFolder), expected);
    ASSERT_EQ(FileSafeName(input, nmBookmark), expected);
    ASSERT_EQ(CanonicalizeURL("http://h/" + input), "http:h/" + Utf8Cut(input, 201 - 9));
  }
}

}  // namespace
}  // namespace kelvo
