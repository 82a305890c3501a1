#pragma once
// The settings store that stands in for the Windows registry: keys with
// typed values under two roots. Shared with other processes (the browser
// add-on writes its event records into it), so its on-disk schema is an
// external interface.
//
// Implementations are safe to call from any thread and never throw: a
// failure answers false, nullopt or an empty list.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

// None stands for "no root could be found": every operation on it fails.
enum class TRegRoot { None, HKCU, HKLM };

// Value types as stored; only kRegSz reads as a string.
constexpr int kRegSz = 1;

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // Key paths are "\"-separated; leading, trailing and doubled "\" are
  // ignored, so "Software\Kelvo\" and "Software\Kelvo" name the same key and
  // "" names the root itself. Names and paths compare case-insensitively
  // (ASCII) and keep the case they were created with.
  virtual bool KeyExists(TRegRoot root, const std::string& path) = 0;
  // Creates the key and its missing parents; true when it exists afterwards.
  virtual bool CreateKey(TRegRoot root, const std::string& path) = 0;
  // nullopt when the key or value is missing or the value is not a string.
  virtual std::optional<std::string> ReadString(TRegRoot root, const std::string& path,
                                                const std::string& name) = 0;
  // Creates the key (and its parents) when missing; false when it cannot.
  virtual bool WriteString(TRegRoot root, const std::string& path, const std::string& name,
                           const std::string& value) = 0;
  // Writes a value of any type (tests use it for non-string values).
  virtual bool WriteValue(TRegRoot root, const std::string& path, const std::string& name,
                          int type, const std::string& data) = 0;
  // False when the value did not exist (or the store failed).
  virtual bool DeleteValue(TRegRoot root, const std::string& path, const std::string& name) = 0;
  // Deletes the key with all its subkeys and values; false when the key did
  // not exist, when it is the root itself, or when the store failed.
  virtual bool DeleteKey(TRegRoot root, const std::string& path) = 0;
  // String values of the key, in the order they were first written.
  virtual std::vector<std::pair<std::string, std::string>> ListStrings(
      TRegRoot root, const std::string& path) = 0;
  // Names of the direct subkeys, sorted case-insensitively.
  virtual std::vector<std::string> ListSubKeys(TRegRoot root, const std::string& path) = 0;
};

// The process-wide registry, set up by the composition root (or a test).
// Registry() throws std::logic_error when none was set: a wiring fault.
IRegistry& Registry();
void SetRegistry(std::shared_ptr<IRegistry> registry);

// Helpers shared by the implementations.
// "HKCU", "HKLM", or "" for None: the root column of the database.
const char* RegRootName(TRegRoot root);
// The stored form of a key path: no leading, trailing or doubled "\".
std::string NormalizeRegistryPath(const std::string& path);
// ASCII-only case folding, as the store compares names and paths.
std::string RegistryFold(const std::string& text);

}  // namespace kelvo
