#pragma once
// Change notifications for one folder tree, shaped after the shell's change
// events: every folder below the root is watched (folders that appear later
// too), and each change comes as one shell event with absolute paths. A
// rename or a move inside the tree is one event carrying both paths; a move
// into the tree from outside is a creation (for a folder, followed by one
// for each item inside it, outer first), a move out of it a deletion. A
// folder filled before its watch could be added reports its items the same
// way. A rename that replaces a file (how editors save) is the deletion of
// the source and an update of the target; one that replaces an empty folder
// is that folder's removal followed by the rename.
//
// Events are read by the message loop and handed to the handler on the main
// thread; the watch belongs to the main thread. Destroying the watch stops
// it at once: nothing pending is delivered afterwards.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kelvo {

// Shell event codes (the numbers callers and logs know them by).
constexpr std::uint32_t SHCNE_RENAMEITEM = 0x00000001;
constexpr std::uint32_t SHCNE_CREATE = 0x00000002;
constexpr std::uint32_t SHCNE_DELETE = 0x00000004;
constexpr std::uint32_t SHCNE_MKDIR = 0x00000008;
constexpr std::uint32_t SHCNE_RMDIR = 0x00000010;
constexpr std::uint32_t SHCNE_UPDATEDIR = 0x00001000;
constexpr std::uint32_t SHCNE_UPDATEITEM = 0x00002000;
constexpr std::uint32_t SHCNE_RENAMEFOLDER = 0x00020000;
constexpr std::uint32_t SHCNE_ASSOCCHANGED = 0x08000000;

// One change. For renames path1 is the new path and path2 the old one; the
// other events carry only path1. Folder paths have no trailing "/", except
// the root itself, which is reported as given (with its trailing "/") when
// the watch cannot tell what changed (the kernel queue overflowed) so that
// the whole tree should be taken as changed.
struct TShellEvent {
  std::uint32_t event = 0;
  std::string path1;
  std::string path2;
};

using TShellEventHandler = std::function<void(const TShellEvent& event)>;

class IShellWatch {
 public:
  virtual ~IShellWatch() = default;
  // The root as given, with a trailing "/".
  virtual const std::string& Root() const = 0;
  // How many folders are watched now (the root included).
  virtual std::size_t WatchedFolders() const = 0;
};

// Starts watching the folder (a trailing "/" is added when missing) for the
// events of the mask (a union of the codes above; others are never
// reported). Symbolic links are reported as items and never followed.
// Throws std::system_error when the folder cannot be watched (missing, not
// a folder, no more watches allowed).
std::unique_ptr<IShellWatch> CreateShellWatch(const std::string& folder, std::uint32_t eventMask,
                                              TShellEventHandler handler);

}  // namespace kelvo
