#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "bookmarks/Hashing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/Utf8.h"

namespace kelvo {
namespace {

struct TNameCase {
  const char* name;
  TNameMode mode;
  const char* expected;
};

TEST(NormalizeName, ComparisonForms) {
  const TNameCase cases[] = {
      {"Tom & Jerry", nmBookmark, "tom jerry"},
      {"AT&T", nmBookmark, "at"},
      {"Rock &amp; Roll", nmBookmark, "rock & roll"},
      {"l&#39;\xC3\xA9t\xC3\xA9", nmBookmark, "l'\xC3\xA9t\xC3\xA9"},  // l'été, letters kept
      {"a/b: c?", nmBookmark, "a-b c"},
      {"  ..Tips..  ", nmFolder, "tips"},
      {"  ..Tips..  ", nmBookmark, "  ..tips.."},
      // Drop set, including where an entity produces it.
      {"\"*:<>?\\|x", nmBookmark, "x"},
      {"a&quot;b&lt;c&gt;d", nmBookmark, "abcd"},
      {"a&frasl;b&#47;c", nmBookmark, "a-b-c"},
      // Only a space or ';' ends an entity; the terminator is consumed.
      {"Rock &amp Roll", nmBookmark, "rock &roll"},
      {"x& y", nmBookmark, "xy"},
      {"x&;y", nmBookmark, "xy"},
      {"abc&", nmBookmark, "abc"},
      {"a&bc", nmBookmark, "a"},
      // Unknown names and out-of-range numbers become a space.
      {"a&bogus;b", nmBookmark, "a b"},
      {"a&AMP;b", nmBookmark, "a b"},
      {"a&#31;b", nmBookmark, "a b"},
      {"a&#256;b", nmBookmark, "a b"},
      {"a&#99999999999999999999;b", nmBookmark, "a b"},
      {"a&#4x;b", nmBookmark, "a b"},
      // Hexadecimal, either case of x, with or without '#'.
      {"a&#x41;b", nmBookmark, "aAb"},
      {"a&#X4a;b", nmBookmark, "aJb"},
      {"a&x41;b", nmBookmark, "aAb"},
      // Decoded letters are not lower-cased; Windows-1252 codes become Unicode.
      {"A&Eacute;B", nmBookmark, "a\xC3\x89" "b"},
      {"wait&hellip;ok", nmBookmark, "wait\xE2\x80\xA6ok"},
      {"a&#133;b", nmBookmark, "a\xE2\x80\xA6" "b"},
      {"a&#128;b", nmBookmark, "a\xE2\x82\xAC" "b"},
      {"x&trade;y", nmBookmark, "x\xE2\x84\xA2y"},
      {"x&mdash;y&ndash;z", nmBookmark, "x\xE2\x80\x94y-z"},
      {"x&yuml;y&Yuml;z", nmBookmark, "x\xC3\xBFy\xC5\xB8z"},
      {"x&nbsp;y", nmBookmark, "x y"},
      {"x&shy;y", nmBookmark, "x\x01y"},
      // No-break space becomes a space, and then trims like one.
      {"News\xC2\xA0", nmBookmark, "news"},
      {"\xC2\xA0" "News", nmFolder, "news"},
      // Case folding is ASCII only.
      {"\xC3\x89T\xC3\xA9", nmBookmark, "\xC3\x89t\xC3\xA9"},
      // Trimming.
      {" . ", nmBookmark, ""},
      {"...", nmFolder, ""},
      {".hidden", nmBookmark, ".hidden"},
      {".hidden", nmFolder, "hidden"},
      {"", nmBookmark, ""},
  };
  for (const TNameCase& c : cases) {
    EXPECT_EQ(NormalizeName(c.name, c.mode), c.expected) << "name: " << c.name << " mode " << c.mode;
  }
}

TEST(NormalizeName, EveryEntityOfTheTableDecodes) {
  // The 94 Latin-1 names cover 161-255 except 173, in order.
  const char* latin1[] = {
      "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf", "laquo",
      "not", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para", "middot",
      "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute",
      "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute", "Ecirc", "Euml",
      "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc", "Otilde",
      "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig",
      "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave", "eacute",
      "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve", "oacute",
      "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute",
      "thorn", "yuml"};
  ASSERT_EQ(std::size(latin1), 94u);
  char32_t code = 161;
  for (const char* entity : latin1) {
    if (code == 173) ++code;
    std::string expected = "x";
    AppendUtf8(expected, code);
    expected += "y";
    EXPECT_EQ(NormalizeName(std::string("x&") + entity + ";y", nmBookmark), expected) << entity;
    // The numeric form gives the same character.
    EXPECT_EQ(NormalizeName("x&#" + std::to_string(code) + ";y", nmBookmark), expected) << static_cast<unsigned>(code);
    ++code;
  }

  struct TOther {
    const char* name;
    const char* decoded;
  };
  const TOther others[] = {
      {"amp", "&"},          {"minus", "-"},         {"circ", "^"},          {"tilde", "~"},
      {"fnof", "\xC6\x92"},  {"dagger", "\xE2\x80\xA0"}, {"Dagger", "\xE2\x80\xA1"},
      {"permil", "\xE2\x80\xB0"}, {"Scaron", "\xC5\xA0"}, {"lsaquo", "\xE2\x80\xB9"},
      {"OElig", "\xC5\x92"}, {"lsquo", "\xE2\x80\x98"}, {"rsquo", "\xE2\x80\x99"},
      {"ldquo", "\xE2\x80\x9C"}, {"rdquo", "\xE2\x80\x9D"}, {"bull", "\xE2\x80\xA2"},
      {"scaron", "\xC5\xA1"}, {"rsaquo", "\xE2\x80\xBA"}, {"oelig", "\xC5\x93"},
  };
  for (const TOther& o : others) {
    EXPECT_EQ(NormalizeName(std::string("x&") + o.name + ";y", nmBookmark), std::string("x") + o.decoded + "y")
        << o.name;
  }
}

TEST(NormalizeName, CutsTo150CharactersWithoutSplittingASequence) {
  EXPECT_EQ(NormalizeName(std::string(200, 'a'), nmBookmark), std::string(150, 'a'));
  EXPECT_EQ(NormalizeName(std::string(200, 'A'), nmFolder), std::string(150, 'a'));

  std::string accented;
  for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
  const std::string key = NormalizeName(accented, nmBookmark);
  EXPECT_EQ(Utf8Length(key), 150u);
  EXPECT_EQ(key.size(), 300u);
  EXPECT_TRUE(IsValidUtf8(key));

  // The cut comes after trimming and after dropping.
  EXPECT_EQ(NormalizeName("   " + std::string(100, ':') + std::string(150, 'b') + "   ", nmFolder),
            std::string(150, 'b'));
}

TEST(NormalizeName, InvalidBytesPassThroughAndCountAsOneCharacterEach) {
  // A Latin-1 file name on Linux: é as the single byte 0xE9.
  EXPECT_EQ(NormalizeName("Caf\xE9 Bar", nmBookmark), "caf\xE9 bar");
  // A lone 0xA0 byte is not a no-break space and is kept.
  EXPECT_EQ(NormalizeName("a\xA0", nmBookmark), "a\xA0");
  // A truncated sequence keeps its bytes.
  EXPECT_EQ(NormalizeName("x\xE2\x82", nmBookmark), "x\xE2\x82");
  EXPECT_EQ(NormalizeName(std::string(200, '\xFF'), nmBookmark), std::string(150, '\xFF'));
  // An invalid byte is one character for the "last three characters" rule.
  EXPECT_EQ(NormalizeName("a&b\xFF", nmBookmark), "a");
}

TEST(FileSafeName, KeepsCaseAndEntitiesAndStillTrimsAndCuts) {
  EXPECT_EQ(FileSafeName("Rock &amp; Roll", nmBookmark), "Rock &amp; Roll");
  EXPECT_EQ(FileSafeName("AT&T", nmBookmark), "AT&T");
  EXPECT_EQ(FileSafeName("a/b: c?", nmBookmark), "a-b c");
  EXPECT_EQ(FileSafeName("  ..Tips..  ", nmFolder), "Tips");
  EXPECT_EQ(FileSafeName("  ..Tips..  ", nmBookmark), "  ..Tips..");
  EXPECT_EQ(FileSafeName("Nbsp\xC2\xA0", nmBookmark), "Nbsp");
  EXPECT_EQ(FileSafeName(std::string(200, 'Z'), nmBookmark), std::string(150, 'Z'));
  // The switches of the shared routine act independently.
  EXPECT_EQ(NormalizeNameWith("  A&amp;B  ", nmFolder, {.lowerCase = true}), "  a&amp;b  ");
  EXPECT_EQ(NormalizeNameWith("  A&amp;B  ", nmFolder, {.decodeEntities = true}), "  A&B  ");
  EXPECT_EQ(NormalizeNameWith(std::string(200, 'q'), nmFolder, {}), std::string(200, 'q'));
}

struct TURLCase {
  const char* url;
  const char* expected;
};

TEST(CanonicalizeURL, Rules) {
  const TURLCase cases[] = {
      {"http://www.Host/", "http:host/"},
      {"http://Host", "http:host/"},
      {"HTTPS://www.h:443/A/./b/../Index.html#top", "https:h/a/"},
      {"http://h:80/x//y/?Q=A//B", "http:h/x/y/?q=a//b"},
      {"http://h/a/b/c/../../d", "http:h/a/d"},
      {"http://h/a/default.aspx", "http:h/a/"},
      {"ftp://h/", ""},
      {"http://", ""},
      // Empty and blank input.
      {"", ""},
      {" \t\r\n", ""},
      {"  http://h/x  ", "http:h/x"},
      // Scheme checks.
      {"http:", ""},
      {"https://", ""},
      {"https:/", ""},
      {"httpx://h/", ""},
      {"http", ""},
      {"file:///etc/passwd", ""},
      {"http#x", ""},
      // Slashes after the colon are optional; "www." may follow the colon.
      {"http:h/x", "http:h/x"},
      {"http:/h/x", "http:h/x"},
      {"http:www.h/x", "http:h/x"},
      {"http:///h/x", "http:h/x"},
      {"http:h", ""},
      {"http:hh", "http:hh/"},
      {"HTTP://WWW.H/", "http:h/"},
      // Ports: only the scheme's default one goes.
      {"http://h:443/", "http:h:443/"},
      {"https://h:80/", "https:h:80/"},
      {"http://h:80", "http:h/"},
      {"https://h:443", "https:h/"},
      {"http://h:8080/", "http:h:8080/"},
      // Fragments go, in any state.
      {"http://h#x", "http:h/"},
      {"http://h/a#b/c", "http:h/a"},
      {"http://h/a?b#c", "http:h/a?b"},
      // Index and default documents.
      {"http://h/index.html", "http:h/"},
      {"http://h/a/Default.asp", "http:h/a/"},
      {"http://h/a/index", "http:h/a/index"},
      {"http://h/myindex.html", "http:h/myindex.html"},
      {"http://h/index.html?x=1", "http:h/index.html?x=1"},
      // Dot segments; too many ".." stay at the root of the path.
      {"http://h/a/./b", "http:h/a/b"},
      {"http://h/../x", "http:h/x"},
      {"http://h/a/../../../x", "http:h/x"},
      {"http://other/../x", "http:other/x"},
      {"http://h/a/..", "http:h/a/.."},
      // The query keeps slashes and dots.
      {"http://h/?a=../b//c", "http:h/?a=../b//c"},
      // Trailing control characters and spaces go.
      {"http://h/x \t", "http:h/x"},
      // Non-ASCII characters are copied whole; ASCII-only case folding.
      {"http://h/\xC3\x89t\xC3\xA9", "http:h/\xC3\x89t\xC3\xA9"},
      {"http:\xC3\xA9//x", "http:\xC3\xA9/x"},
      {"http\xC3\xA9://x", ""},
      {"http://h/\xFF\xFE", "http:h/\xFF\xFE"},
  };
  for (const TURLCase& c : cases) {
    EXPECT_EQ(CanonicalizeURL(c.url), c.expected) << "url: " << c.url;
  }
}

TEST(CanonicalizeURL, VariantsOfOneAddressShareTheCanonicalFormButNotTheURLKey) {
  const char* variants[] = {
      "http://example.com/news/",
      "http://www.example.com/news/",
      "HTTP://Example.COM/News/",
      "http://example.com:80/news/",
      "http://example.com/news/#top",
      "http://example.com/news/index.html",
      "http://www.EXAMPLE.com:80/news/Index.HTML#x",
  };
  for (const char* v : variants) {
    EXPECT_EQ(CanonicalizeURL(v), "http:example.com/news/") << v;
    EXPECT_NE(KeyURL(v), KeyURL(variants[0] == v ? variants[1] : variants[0]));
  }
}

TEST(CanonicalizeURL, OnlyTheFirst201CharactersTakePart) {
  const std::string base = "http://h/";
  const std::string path(201 - base.size(), 'p');
  const std::string expected = "http:h/" + path;
  EXPECT_EQ(CanonicalizeURL(base + path), expected);
  EXPECT_EQ(CanonicalizeURL(base + path + "/more/and/more"), expected);
  EXPECT_EQ(CanonicalizeURL(base + path + "#frag"), expected);

  // Characters, not bytes: 192 two-byte characters fit and the cut is clean.
  std::string wide;
  for (std::size_t i = 0; i < 201 - base.size(); ++i) wide += "\xC3\xA9";
  const std::string canonical = CanonicalizeURL(base + wide + "\xC3\xA9zzz");
  EXPECT_EQ(canonical, "http:h/" + wide);
  EXPECT_TRUE(IsValidUtf8(canonical));

  // Leading blanks take room in the buffer.
  EXPECT_EQ(CanonicalizeURL(std::string(201, ' ') + "http://h/"), "");
}

TEST(StringChecksum, KnownValues) {
  EXPECT_EQ(StringChecksum("abc"), 38404390u);
  EXPECT_EQ(StringChecksum(""), 0u);
  EXPECT_EQ(StringChecksum("a"), (97u << 16) | 97u);
  // Bytes above 127 count as unsigned, over the UTF-8 form.
  EXPECT_EQ(StringChecksum("\xC3\xA9"), ((0xC3u + 0xC3u + 0xA9u) << 16) | (0xC3u + 0xA9u));
  // The modulus is applied once at the end, after 32-bit wrapping.
  const std::string big(100000, '\xFF');
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  for (int i = 0; i < 100000; ++i) {
    a += 255;
    b += a;
  }
  EXPECT_EQ(StringChecksum(big), ((b % 65521u) << 16) | (a % 65521u));
}

TEST(PathHash, BuildsTheKindFiveKey) {
  EXPECT_EQ(PathHash({}, false), "");
  EXPECT_EQ(PathHash({"News"}, true), "/newsF");
  EXPECT_EQ(PathHash({"News", "Daily"}, false), "/news/dailyB");
  EXPECT_EQ(PathHash({"News", "World", "Daily &amp; Co"}, false), "/news/world/daily & coB");
  EXPECT_EQ(PathHash({" Sub.", "Deep."}, true), "/sub/deepF");
  // The folders above a bookmark take the folder form; an empty folder name
  // adds no segment.
  EXPECT_EQ(PathHash({" Sub.", "Deep."}, false), "/sub/deep.B");
  EXPECT_EQ(PathHash({"a", "", "b"}, true), "/a/bF");
  EXPECT_EQ(PathHash({"...", "b"}, false), "/bB");
}

// A key given by names must be the key the tree walk computes for the node,
// or lookups by path miss it.
TEST(PathHash, MatchesTheKeysOfATreeWalk) {
  const std::vector<std::string> folderNames[] = {
      {"News"}, {" Sub.", "Deep. "}, {"a", "...", "b"}, {"Tom & Jerry", "x/y"}};
  for (const auto& names : folderNames) {
    auto top = std::make_shared<TDefaultKFolder>(names.front());
    std::shared_ptr<TDefaultKFolder> inner = top;
    for (std::size_t i = 1; i < names.size(); ++i) {
      auto next = std::make_shared<TDefaultKFolder>(names[i]);
      inner->Add(next);
      inner = next;
    }
    auto mark = std::make_shared<TDefaultKBookmark>(" Daily.. ", "http://h/");
    inner->Add(mark);
    top->InitHashes("");
    std::vector<std::string> path = names;
    EXPECT_EQ(PathHash(path, true), inner->GetHash(hkPath)) << names.back();
    path.push_back(" Daily.. ");
    EXPECT_EQ(PathHash(path, false), mark->GetHash(hkPath)) << names.back();
  }
}

TEST(HashKinds, ValidityPerNodeKind) {
  for (int kind = -2; kind < 10; ++kind) {
    EXPECT_EQ(IsBookmarkHashKind(kind), kind >= 0 && kind <= 5) << kind;
    EXPECT_EQ(IsFolderHashKind(kind), kind == 1 || (kind >= 3 && kind <= 7)) << kind;
  }
  EXPECT_EQ(hkNameURL, 0);
  EXPECT_EQ(hkContentSum, 7);
  EXPECT_EQ(kHashKindCount, 8);
}

TEST(KeyURL, CutsTo254Characters) {
  const std::string url = "http://h/" + std::string(300, 'x');
  EXPECT_EQ(KeyURL(url), url.substr(0, 254));
  std::string wide = "http://h/";
  for (int i = 0; i < 300; ++i) wide += "\xE2\x82\xAC";
  EXPECT_EQ(Utf8Length(KeyURL(wide)), 254u);
  EXPECT_TRUE(IsValidUtf8(KeyURL(wide)));
  EXPECT_EQ(KeyURL("short"), "short");
}

TEST(Utf8, DecodingPassesInvalidBytesOneByOne) {
  struct TCase {
    const char* text;
    std::size_t length;
    bool valid;
  };
  const TCase cases[] = {
      {"", 0, true},
      {"abc", 3, true},
      {"\xC3\xA9", 1, true},
      {"\xE2\x82\xAC", 1, true},
      {"\xF0\x9F\x98\x80", 1, true},
      {"\xC0\xAF", 2, false},          // overlong '/'
      {"\xE0\x80\xAF", 3, false},      // overlong
      {"\xED\xA0\x80", 3, false},      // surrogate
      {"\xF4\x90\x80\x80", 4, false},  // above U+10FFFF
      {"\xE2\x82", 2, false},          // truncated
      {"\x80\xBF", 2, false},          // stray continuations
      {"\xC3" "a", 2, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Utf8Length(c.text), c.length) << c.text;
    EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
  }
  EXPECT_EQ(Utf8Cut("a\xE2\x82\xAC" "b", 2), "a\xE2\x82\xAC");
  EXPECT_EQ(Utf8Cut("a\xE2\x82", 2), "a\xE2");
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode(0x85)), 0x2026u);
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode(0x80)), 0x20ACu);
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode(0x9F)), 0x0178u);
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode(0x81)), 0x0081u);
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode(0xE9)), 0x00E9u);
  EXPECT_EQ(static_cast<std::uint32_t>(Windows1252ToUnicode('A')), 0x41u);
}

}  // namespace
}  // namespace kelvo
