#include "foundation/RegistryTools.h"

namespace kelvo {

bool DeleteRegKey(TRegRoot root, const std::string& key) {
  return Registry().DeleteKey(root, key);
}

bool DeleteRegValue(TRegRoot root, const std::string& key, const std::string& name) {
  return Registry().DeleteValue(root, key, name);
}

std::string ReadRegStringEx(TRegRoot root, const std::string& key, const std::string& name,
                            bool& exists) {
  std::optional<std::string> value = Registry().ReadString(root, key, name);
  exists = value.has_value();
  return value.value_or(std::string());
}

std::string ReadRegString(TRegRoot root, const std::string& key, const std::string& name,
                          const std::string& defaultValue) {
  return Registry().ReadString(root, key, name).value_or(defaultValue);
}

std::vector<std::string> ListRegStrings(TRegRoot root, const std::string& key) {
  std::vector<std::string> lines;
  for (auto& [name, value] : Registry().ListStrings(root, key)) lines.push_back(name + "=" + value);
  return lines;
}

bool WriteRegString(TRegRoot root, const std::string& key, const std::string& name,
                    const std::string& value) {
  return Registry().WriteString(root, key, name, value);
}

}  // namespace kelvo
