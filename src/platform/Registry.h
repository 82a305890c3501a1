#pragma once
// The settings store that stands in for the Windows registry: keys with
// typed values under two roots. Shared with other processes (the browser
// add-on writes its event records into it), so its on-disk schema is an
// external interface.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {

enum class TRegRoot { None, HKCU, HKLM };

// Value types as stored; only kRegSz reads as a string.
constexpr int kRegSz = 1;

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // Key paths are "\"-separated without a leading or trailing "\"; names and
  // paths compare case-insensitively (ASCII) and keep their case.
  virtual bool KeyExists(TRegRoot root, const std::string& path) = 0;
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
  virtual bool DeleteValue(TRegRoot root, const std::string& path, const std::string& name) = 0;
  // Deletes the key with all its subkeys and values.
  virtual bool DeleteKey(TRegRoot root, const std::string& path) = 0;
  // String values of the key, in stored order.
  virtual std::vector<std::pair<std::string, std::string>> ListStrings(
      TRegRoot root, const std::string& path) = 0;
  virtual std::vector<std::string> ListSubKeys(TRegRoot root, const std::string& path) = 0;
};

// The process-wide registry, set up by the composition root (or a test).
IRegistry& Registry();
void SetRegistry(std::shared_ptr<IRegistry> registry);

}  // namespace kelvo
