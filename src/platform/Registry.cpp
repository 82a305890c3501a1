#include "platform/Registry.h"

#include <mutex>
#include <stdexcept>

namespace kelvo {

namespace {
std::mutex gRegistryMutex;
std::shared_ptr<IRegistry> gRegistry;
}  // namespace

IRegistry& Registry() {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  if (!gRegistry) throw std::logic_error("registry used before SetRegistry");
  return *gRegistry;
}

void SetRegistry(std::shared_ptr<IRegistry> registry) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  gRegistry = std::move(registry);
}

const char* RegRootName(TRegRoot root) {
  switch (root) {
    case TRegRoot::HKCU: return "HKCU";
    case TRegRoot::HKLM: return "HKLM";
    case TRegRoot::None: break;
  }
  return "";
}

std::string NormalizeRegistryPath(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\') {
      if (!out.empty() && out.back() != '\\') out += c;
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string RegistryFold(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace kelvo
