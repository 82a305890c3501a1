#pragma once
// The persistent key-value store shared by all sidebar code and the agent:
// the folder D + "keyvalues/" holds the index "keys.txt" (one line
// key + "=" + file name per entry, CR LF) and one value file per key
// ("val" + hexadecimal + ".cfg", UTF-8 with byte-order mark). Keys compare
// without regard to ASCII letter case. The index lives in memory for the
// whole process and every change rewrites "keys.txt" at once; both the
// index and the value files are replaced atomically, so a crash leaves the
// old file or the new one. Process-wide; calls are serialised by a lock,
// though the agent uses the store from its main thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TKeyValueException, TKException);

class TKeyValueStore {
 public:
  TKeyValueStore() = delete;

  // Longer values (in characters) are answered as "".
  static constexpr std::size_t kMaxValueLength = 1000000;
  // Answered for "sidebarIpAddress".
  static constexpr const char* kIpAddress = "127.0.0.1";

  // D + "keyvalues/". Raises TKeyValueException when the data folders are
  // not known yet (the store never falls back to the working folder).
  static std::string Folder();

  // Creates the folder ("Error creating directory " + folder) and loads the
  // index from "keys.txt" unless it is loaded already. The other operations
  // load the index on first use as well, so that a change made before Open
  // never replaces an index it has not read.
  static void Open();

  // The value of the key, with surrounding blanks and control characters
  // removed; "" when the key has no value file. "sidebarCountryCode",
  // "sidebarMivaAuthToken" and "sidebarIpAddress" are answered by the agent.
  static std::string Get(const std::string& key);
  // Stores the value, allocating a value file for a new key. False (with a
  // warning) when the value file could not be written; the key's index
  // entry stays. Setting "skin" also changes the configured skin. A key
  // holding "=", a line end or a NUL raises TKeyValueException: the index
  // line could not hold it.
  static bool Set(const std::string& key, const std::string& value);
  // True also when the key did not exist; false when the value file or the
  // index could not be changed (the error is logged).
  static bool Delete(const std::string& key);
  // JSON object of key: value for every index line starting with the
  // (non-empty) prefix, in index order.
  static std::string List(const std::string& prefix);

  // The value file of the key; with create, a new key gets its file name
  // and index entry (saved at once). nullopt: no entry and not creating.
  static std::optional<std::string> FindValueFile(const std::string& key, bool create);

  // Test support: forget the loaded index, as in a new process.
  static void ResetForTesting();
};

// Text of a file's bytes honouring a byte-order mark: UTF-8, UTF-16 LE or
// BE are turned into UTF-8 (unpaired surrogates become U+FFFD, an odd last
// byte is dropped); without a mark the bytes are the text.
std::string DecodeBomText(std::string_view bytes);

// Removes leading and trailing characters up to the blank (control
// characters included).
std::string TrimBlanks(std::string_view text);

}  // namespace kelvo
