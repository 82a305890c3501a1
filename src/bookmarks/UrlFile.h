#pragma once
// Internet-shortcut (.url) files: reading a bookmark's URL from the file's
// bytes and writing the URL back without disturbing anything else in it.
//
// The files are INI text written by many programs: any line ending, any
// byte encoding (cp1251 and other non-UTF-8 bytes are common), sections of
// other programs, indented lines. Everything here works on bytes: what is
// not the "URL" or "FeedURL" key of the "InternetShortcut" section passes
// through unchanged. Pure functions except WriteUrlFile; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/KException.h"

namespace kelvo {

// Failure of the shortcut-file writer.
KELVO_DECLARE_EXCEPTION(TIEToolsException, TKException);

// Files larger than this are not shortcut files; readers skip them.
inline constexpr std::size_t kUrlFileMaxSize = 1024 * 1024;

// The section and keys the agent reads and writes.
inline constexpr std::string_view kUrlFileSection = "InternetShortcut";
inline constexpr std::string_view kUrlFileURLKey = "URL";
inline constexpr std::string_view kUrlFileFeedURLKey = "FeedURL";

// The value of key in section as Windows INI reading finds it: section and
// key names compared without ASCII letter case, blanks around names and
// values removed, lines ended by CR LF, LF or CR; the first such key of the
// section wins. nullopt when the file has no such key.
std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// The bookmark URL of a shortcut file's text: the "URL" key of the
// "InternetShortcut" section (also when it is empty). Only a file without
// that key falls back to the old line rule: the rest of the first line that
// holds "URL=" with something after it, so a "[DEFAULT]" BASEURL does not
// replace the shortcut's own target. "" when neither finds one.
std::string UrlFromUrlFileText(std::string_view text);

// The text with the "URL" key (and, when feedURL is not empty, the
// "FeedURL" key) of the first "InternetShortcut" section set. An existing
// key line is replaced in place (its indentation kept), a missing key goes
// after the section's last non-blank line, a missing section is appended at
// the end. New lines take the file's first line ending (CR LF for a file
// without one). CR and LF inside a value are written as %0D and %0A, so a
// value can never add lines. Every other byte of the text is kept.
std::string SetUrlFileKeys(std::string_view text, std::string_view url, std::string_view feedURL);

// Merges the keys into the file's current content (an absent file counts as
// empty) and replaces the file atomically. Raises TIEToolsException "Error
// writing bookmark file:" + the reason when the old file cannot be read
// (it is then left alone) or the new one cannot be written.
void WriteUrlFile(const std::string& path, std::string_view url, std::string_view feedURL);

// Reads a whole file of at most maxSize bytes. nullopt when it cannot be
// opened or read, is not a regular file, or is larger; reason says which.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxSize,
                                         std::string* reason = nullptr);

}  // namespace kelvo
