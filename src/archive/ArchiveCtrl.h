#pragma once
// The bookmarks controller's archive operations: backing up its Favorites
// tree into an archive folder, and restoring the Favorites from an archived
// tree or from the install backup, after which all links are sent to the
// link server again. Main thread, like the controller.

#include <string>

#include "archive/Archive.h"
#include "bookmarks/Folder.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo {

// Archive (folder, forced) of the controller's current tree (see
// ArchiveTree). A forced (user) backup reads the Favorites first when the
// controller has not read them yet; a silent one backs up only what is
// already read.
TArchiveOutcome ArchiveFavorites(TBookmarksCtrl& ctrl, const std::string& folder, bool forced);

// Replaces the Favorites with the archived tree: the archived tree laid
// over the local one without server data, names and URLs of the matched
// bookmarks taken from the archive, the tree written, and only then the
// local nodes the archive does not hold deleted from disk (a bookmark is
// never deleted before its replacement is on disk). The folder is then
// read again and a script with "context", "save-all-links" (the whole
// tree) and "save-all-xlinks" sent to the link server. Private folders are
// left as they are. Every failure is logged; a file that cannot be written
// or deleted raises TArchiveException "RestoreFromArchive error", with the
// controller's tree read again from what is on disk.
void RestoreFromArchive(TBookmarksCtrl& ctrl, const std::string& fileName, const IFolderPtr& archivedTree);

// The archived tree read from an XBEL backup file, then RestoreFromArchive.
// Only ".xbel" files can be opened; a file that is not there (any more) is
// refused rather than taken for an empty archive, which would empty the
// Favorites. Both raise "RestoreFromArchive error" with nothing changed; a
// file that does not parse raises TXBELException "Invalid xml file:".
void RestoreFromArchiveFile(TBookmarksCtrl& ctrl, const std::string& fileName);

// Restore of the install backup: the Favorites folder emptied and the
// install-backup folder copied back, then read and sent as above. Refused
// with "RestoreFromArchive error" (nothing deleted) while no complete
// install backup exists.
void RestoreFromInstallBackup(TBookmarksCtrl& ctrl);

}  // namespace kelvo
