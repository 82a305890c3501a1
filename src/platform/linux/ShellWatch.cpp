// Folder-tree watch over inotify: one watch per folder, added as folders
// appear. inotify reports a rename as a MOVED_FROM / MOVED_TO pair sharing a
// cookie; a pair becomes one rename event, half a pair a creation (moved in)
// or a deletion (moved out).

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ShellWatch.h"
#include "platform/Window.h"

namespace kelvo {

namespace {

constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_ATTRIB | IN_DONT_FOLLOW |
                                      IN_ONLYDIR | IN_EXCL_UNLINK;

// How long a MOVED_FROM left at the end of a read waits for its MOVED_TO:
// the kernel queues the pair within one rename call, so this only matters
// when a read falls between the two halves.
constexpr int kMovePairWaitMs = 2;

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

bool IsUnder(const std::string& path, const std::string& dir) {
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         path[dir.size()] == '/';
}

class TInotifyShellWatch : public IShellWatch {
 public:
  TInotifyShellWatch(std::string root, std::uint32_t mask, TShellEventHandler handler)
      : root_(std::move(root)), mask_(mask), handler_(std::move(handler)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "inotify_init1");
    int wd = inotify_add_watch(fd_, root_.c_str(), kFolderMask);
    if (wd < 0) {
      int err = errno;
      close(fd_);
      throw std::system_error(err, std::generic_category(), "inotify_add_watch " + root_);
    }
    Remember(wd, "");
    AddChildren("", nullptr);
    AddFdWatch(fd_, [this](int) { ReadEvents(); });
  }

  ~TInotifyShellWatch() override {
    RemoveFdWatch(fd_);
    close(fd_);
  }

  const std::string& Root() const override { return root_; }
  std::size_t WatchedFolders() const override { return dirOfWd_.size(); }

 private:
  struct TMoveFrom {
    std::uint32_t cookie;
    std::string rel;
    bool isDir;
  };
  struct TFound {
    std::string rel;
    bool isDir;
  };

  void Remember(int wd, const std::string& rel) {
    auto old = dirOfWd_.find(wd);
    if (old != dirOfWd_.end()) wdOfDir_.erase(old->second);
    dirOfWd_[wd] = rel;
    wdOfDir_[rel] = wd;
  }

  // Watches the folder at rel and everything below it; with `found`, also
  // lists what is already inside (items created before the watch existed).
  void AddTree(const std::string& rel, std::vector<TFound>* found) {
    int wd = inotify_add_watch(fd_, Abs(rel).c_str(), kFolderMask);
    if (wd < 0) return;  // gone again, or out of watches: nothing to report on
    Remember(wd, rel);
    AddChildren(rel, found);
  }

  void AddChildren(const std::string& rel, std::vector<TFound>* found) {
    DIR* dir = opendir(Abs(rel).c_str());
    if (!dir) return;
    std::vector<std::string> subdirs;
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string childRel = Join(rel, name);
      bool isDir = false;
      if (entry->d_type == DT_DIR) {
        isDir = true;
      } else if (entry->d_type == DT_UNKNOWN) {
        struct stat st {};
        isDir = lstat(Abs(childRel).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      items_.insert(childRel);
      if (found) found->push_back({childRel, isDir});
      if (isDir) subdirs.push_back(childRel);
    }
    closedir(dir);
    for (const auto& sub : subdirs) AddTree(sub, found);
  }

  void Forget(const std::string& rel) {
    for (auto it = wdOfDir_.lower_bound(rel); it != wdOfDir_.end();) {
      if (it->first != rel && !IsUnder(it->first, rel)) break;
      inotify_rm_watch(fd_, it->second);
      dirOfWd_.erase(it->second);
      it = wdOfDir_.erase(it);
    }
  }

  // Forgets the item and everything below it.
  void DropItems(const std::string& rel) {
    for (auto it = items_.lower_bound(rel); it != items_.end();) {
      if (*it != rel && !IsUnder(*it, rel)) break;
      it = items_.erase(it);
    }
  }

  void MoveItems(const std::string& fromRel, const std::string& toRel) {
    std::vector<std::string> moved;
    for (auto it = items_.lower_bound(fromRel); it != items_.end();) {
      if (*it != fromRel && !IsUnder(*it, fromRel)) break;
      moved.push_back(toRel + it->substr(fromRel.size()));
      it = items_.erase(it);
    }
    items_.insert(moved.begin(), moved.end());
  }

  void Moved(const std::string& fromRel, const std::string& toRel) {
    std::vector<std::pair<std::string, int>> moved;
    for (auto it = wdOfDir_.lower_bound(fromRel); it != wdOfDir_.end();) {
      if (it->first != fromRel && !IsUnder(it->first, fromRel)) break;
      moved.emplace_back(toRel + it->first.substr(fromRel.size()), it->second);
      it = wdOfDir_.erase(it);
    }
    for (const auto& [rel, wd] : moved) {
      dirOfWd_[wd] = rel;
      wdOfDir_[rel] = wd;
    }
  }

  std::string Abs(const std::string& rel) const { return root_ + rel; }

  void Emit(std::vector<TShellEvent>& out, std::uint32_t event, std::string path1,
            std::string path2 = {}) {
    if ((mask_ & event) == 0) return;
    out.push_back({event, std::move(path1), std::move(path2)});
  }

  void MovedOut(std::vector<TShellEvent>& out, const TMoveFrom& from) {
    if (from.isDir) Forget(from.rel);
    DropItems(from.rel);
    Emit(out, from.isDir ? SHCNE_RMDIR : SHCNE_DELETE, Abs(from.rel));
  }

  void Handle(const inotify_event& ev, std::vector<TShellEvent>& out) {
    if (ev.mask & IN_Q_OVERFLOW) {
      // Changes were lost: pick up the folders that appeared meanwhile and
      // report the whole tree as changed.
      items_.clear();
      AddChildren("", nullptr);
      Emit(out, SHCNE_UPDATEDIR, root_);
      return;
    }
    auto dirIt = dirOfWd_.find(ev.wd);
    if (dirIt == dirOfWd_.end()) return;  // a folder no longer watched
    if (ev.mask & IN_IGNORED) {
      wdOfDir_.erase(dirIt->second);
      dirOfWd_.erase(dirIt);
      return;
    }
    if (ev.len == 0 || ev.name[0] == '\0') return;  // events on the folder itself
    const std::string rel = Join(dirIt->second, ev.name);
    const bool isDir = (ev.mask & IN_ISDIR) != 0;

    if (moveFrom_ && !((ev.mask & IN_MOVED_TO) && ev.cookie == moveFrom_->cookie)) {
      TMoveFrom from = std::move(*moveFrom_);
      moveFrom_.reset();
      MovedOut(out, from);
    }

    if (ev.mask & IN_CREATE) {
      items_.insert(rel);
      if (isDir) {
        Emit(out, SHCNE_MKDIR, Abs(rel));
        std::vector<TFound> found;
        AddTree(rel, &found);
        for (const auto& item : found)
          Emit(out, item.isDir ? SHCNE_MKDIR : SHCNE_CREATE, Abs(item.rel));
      } else {
        Emit(out, SHCNE_CREATE, Abs(rel));
      }
    } else if (ev.mask & IN_DELETE) {
      DropItems(rel);
      Emit(out, isDir ? SHCNE_RMDIR : SHCNE_DELETE, Abs(rel));
    } else if (ev.mask & IN_MOVED_FROM) {
      moveFrom_ = TMoveFrom{ev.cookie, rel, isDir};
    } else if (ev.mask & IN_MOVED_TO) {
      if (moveFrom_) {
        TMoveFrom from = std::move(*moveFrom_);
        moveFrom_.reset();
        // The kernel says nothing of an item the rename replaced; the list
        // of known items does.
        const bool replaced = from.rel != rel && items_.count(rel) != 0;
        if (isDir) {
          // Only an empty folder can be replaced: it is gone.
          if (replaced) Emit(out, SHCNE_RMDIR, Abs(rel));
          DropItems(rel);
          Moved(from.rel, rel);
          MoveItems(from.rel, rel);
          Emit(out, SHCNE_RENAMEFOLDER, Abs(rel), Abs(from.rel));
        } else if (replaced) {
          // A file renamed over another one (how editors save): the target
          // keeps its name with new content, the source is gone.
          items_.erase(from.rel);
          Emit(out, SHCNE_DELETE, Abs(from.rel));
          Emit(out, SHCNE_UPDATEITEM, Abs(rel));
        } else {
          MoveItems(from.rel, rel);
          Emit(out, SHCNE_RENAMEITEM, Abs(rel), Abs(from.rel));
        }
      } else if (isDir) {
        items_.insert(rel);
        // Moved in from outside: the folder arrives with everything inside,
        // which is new to the tree as well.
        Emit(out, SHCNE_MKDIR, Abs(rel));
        std::vector<TFound> found;
        AddTree(rel, &found);
        for (const auto& item : found)
          Emit(out, item.isDir ? SHCNE_MKDIR : SHCNE_CREATE, Abs(item.rel));
      } else {
        items_.insert(rel);
        Emit(out, SHCNE_CREATE, Abs(rel));
      }
    } else if (ev.mask & IN_CLOSE_WRITE) {
      if (!isDir) Emit(out, SHCNE_UPDATEITEM, Abs(rel));
    } else if (ev.mask & IN_ATTRIB) {
      if (isDir) Emit(out, SHCNE_UPDATEDIR, Abs(rel));
    }
  }

  // Reads everything pending; answers false when nothing was there.
  bool ReadOnce(std::vector<TShellEvent>& out) {
    alignas(inotify_event) char buf[16384];
    bool any = false;
    for (;;) {
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      any = true;
      for (ssize_t off = 0; off < n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
        Handle(*ev, out);
        off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
    }
    return any;
  }

  void ReadEvents() {
    std::vector<TShellEvent> out;
    ReadOnce(out);
    while (moveFrom_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, kMovePairWaitMs) <= 0 || !ReadOnce(out)) {
        TMoveFrom from = std::move(*moveFrom_);
        moveFrom_.reset();
        MovedOut(out, from);
      }
    }
    for (const auto& event : out) handler_(event);
  }

  std::string root_;
  std::uint32_t mask_;
  TShellEventHandler handler_;
  int fd_ = -1;
  std::unordered_map<int, std::string> dirOfWd_;
  std::map<std::string, int> wdOfDir_;
  std::optional<TMoveFrom> moveFrom_;
  // Relative paths of every item in the tree (not the root), to tell a
  // rename that replaces an item from one that does not.
  std::set<std::string> items_;
};

}  // namespace

std::unique_ptr<IShellWatch> CreateShellWatch(const std::string& folder, std::uint32_t eventMask,
                                              TShellEventHandler handler) {
  if (folder.empty()) throw std::system_error(std::make_error_code(std::errc::invalid_argument));
  std::string root = folder;
  if (root.back() != '/') root += '/';
  return std::make_unique<TInotifyShellWatch>(std::move(root), eventMask, std::move(handler));
}

}  // namespace kelvo
