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

}  // namespace kelvo
