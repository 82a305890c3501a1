#pragma once
// The synchronization modes the user can choose, with their stored names and
// indexes (the index travels in window messages, the name in the settings).

#include <string>

namespace kelvo {

enum class TSyncMode { Import = 0, ImportAdd = 1, Export = 2, Merge = 3, NoSync = 4 };

constexpr int kSyncModeCount = 5;

// "import", "import-add", "export", "merge", "no-sync".
std::string SyncModeName(TSyncMode mode);
// Exact, case-sensitive comparison; empty or unknown text gives NoSync.
TSyncMode SyncModeFromName(const std::string& name);
// An index outside 0-4 gives NoSync.
TSyncMode SyncModeFromIndex(long long index);
// Shorthands for callers that carry the mode as text or index.
inline int SyncModeIndex(TSyncMode mode) { return static_cast<int>(mode); }
inline int SyncModeIndex(const std::string& name) { return SyncModeIndex(SyncModeFromName(name)); }
inline std::string SyncModeName(long long index) { return SyncModeName(SyncModeFromIndex(index)); }

}  // namespace kelvo
