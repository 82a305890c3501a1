#include "foundation/SyncMode.h"

namespace kelvo {

namespace {
const char* const kSyncModeNames[kSyncModeCount] = {"import", "import-add", "export", "merge",
                                                    "no-sync"};
}

std::string SyncModeName(TSyncMode mode) {
  int index = static_cast<int>(mode);
  if (index < 0 || index >= kSyncModeCount) index = static_cast<int>(TSyncMode::NoSync);
  return kSyncModeNames[index];
}

TSyncMode SyncModeFromName(const std::string& name) {
  for (int i = 0; i < kSyncModeCount; ++i) {
    if (name == kSyncModeNames[i]) return static_cast<TSyncMode>(i);
  }
  return TSyncMode::NoSync;
}

TSyncMode SyncModeFromIndex(long long index) {
  if (index < 0 || index >= kSyncModeCount) return TSyncMode::NoSync;
  return static_cast<TSyncMode>(index);
}

}  // namespace kelvo
