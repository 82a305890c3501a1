#pragma once
// Pure functions that produce the identity keys of bookmark nodes: the two
// normal forms of a name, the canonical form of a URL, the string checksum
// and the path key of a node given by its names. Deterministic, stateless,
// safe from any thread.
//
// Strings are UTF-8. The rules work on characters (code points); bytes that
// are not part of a valid UTF-8 sequence pass through unchanged and count as
// one character each, so that any Linux file name gives a key and nothing is
// lost or split.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// The eight per-node key kinds; the value is the slot of a node's key array.
enum THashKind : int {
  hkNameURL = 0,
  hkNameURLId = 1,
  hkURL = 2,
  hkNameKind = 3,
  hkPathURLId = 4,
  hkPath = 5,
  hkTreeSum = 6,
  hkContentSum = 7,
};

inline constexpr int kHashKindCount = 8;

// Bookmarks have kinds 0-5; folders (tree roots included) 1, 3, 4, 5, 6, 7.
// Any other value (negative, 8 and up) is valid for neither.
bool IsBookmarkHashKind(int kind);
bool IsFolderHashKind(int kind);

// Which node a name belongs to: trimming differs between the two.
enum TNameMode : int {
  nmBookmark = 0,
  nmFolder = 1,
};

// Names are cut to this many characters when Cut is set.
inline constexpr std::size_t kNameCutLength = 150;
// The canonicalizer looks at this many leading characters of a URL only.
inline constexpr std::size_t kCanonicalURLBufferLength = 201;
// Keys hold the URL cut to this many characters.
inline constexpr std::size_t kKeyURLLength = 254;

// Switches of the name normalization routine.
struct TNameSwitches {
  bool lowerCase = false;
  bool decodeEntities = false;
  bool trim = false;
  bool cut = false;
};

// The one routine behind NormalizeName and FileSafeName.
std::string NormalizeNameWith(std::string_view name, TNameMode mode, TNameSwitches switches);

// Comparison form of a name: every switch set.
std::string NormalizeName(std::string_view name, TNameMode mode);

// Form used as a file or directory name: Trim and Cut only (case and
// entities are kept as written).
std::string FileSafeName(std::string_view name, TNameMode mode);

// Canonical URL: scheme http or https only (anything else gives ""), "www.",
// default port, fragment, dot segments, double slashes and a trailing
// index/default document removed, letters lower-cased.
std::string CanonicalizeURL(std::string_view url);

// Adler-32 variant over the bytes of s: a starts at 0 and the modulus is
// applied once at the end. "abc" gives 38404390, "" gives 0.
std::uint32_t StringChecksum(std::string_view s);

// The hkPath key of a node given by its names from the top-level folder down
// to the node itself; "" for an empty list.
std::string PathHash(const std::vector<std::string>& names, bool isFolder);

// URL cut to kKeyURLLength characters, as the keys hold it.
std::string KeyURL(std::string_view url);

}  // namespace kelvo
