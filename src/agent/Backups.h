#pragma once
// The main agent's side of the Favorites backups: the hooks that let the
// bookmarks controller start the install backup and the connect step make
// its silent backup, and the backup entry of the agent (silent: the
// periodic run and the connect step; user: asked and confirmed through the
// message boxes). Main thread.

#include <functional>
#include <string>

namespace kelvo {

// Sets the controller's install-backup starter and the connect step's
// silent backup. Called once at start-up.
void InstallBackupHooks();

// How the user entry asks its question and shows its answer; until the
// message boxes are installed the question is answered yes and the text is
// logged.
using TBackupQuestion = std::function<bool(const std::string& text)>;
using TBackupMessage = std::function<void(const std::string& text)>;
void SetBackupDialogs(TBackupQuestion ask, TBackupMessage show);

// The backup entry. Silent: the Favorites into the archive folder when the
// rule says so; a failure is logged "Error making backup of bookmarks".
// User: asks "Create a backup of your favorites ?"; on yes a forced backup
// and "Your favorites have been backed-up.\nTo restore, click on the menu
// Actions/Restore..."; a failure shows "Error making backup of bookmarks" +
// " (" + message + ")". Answers whether a backup is now in the archive
// (made, or identical to the newest one). Never raises.
bool BackupFavorites(bool silent);

}  // namespace kelvo
