#include "agent/Backups.h"

#include <mutex>
#include <utility>

#include "agent/ConnectStep.h"
#include "archive/ArchiveCtrl.h"
#include "archive/SafetyBackupThread.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "foundation/Translate.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo {

namespace {

struct TDialogs {
  std::mutex mutex;
  TBackupQuestion ask;
  TBackupMessage show;
};

TDialogs& Dialogs() {
  static TDialogs dialogs;
  return dialogs;
}

bool Ask(const std::string& text) {
  TBackupQuestion ask;
  {
    std::lock_guard<std::mutex> lock(Dialogs().mutex);
    ask = Dialogs().ask;
  }
  return ask ? ask(text) : true;
}

void Show(const std::string& text) {
  TBackupMessage show;
  {
    std::lock_guard<std::mutex> lock(Dialogs().mutex);
    show = Dialogs().show;
  }
  if (show) {
    show(text);
  } else {
    TLog::Info(text);
  }
}

// The backup of the controller's tree into the agent's archive folder.
TArchiveOutcome Backup(bool forced) {
  TBookmarksCtrl* ctrl = BookmarksCtrl();
  if (ctrl == nullptr) throw TArchiveException("TBookmarksCtrl:not created");
  return ArchiveFavorites(*ctrl, TConfig::ArchivePath(), forced);
}

}  // namespace

void InstallBackupHooks() {
  SetSafetyBackupStarter([](const std::string& favoritesPath) {
    TSafetyBackupThread::StartIfNeeded(favoritesPath);
  });
  SetSilentBackup([] { Backup(false); });
}

void SetBackupDialogs(TBackupQuestion ask, TBackupMessage show) {
  std::lock_guard<std::mutex> lock(Dialogs().mutex);
  Dialogs().ask = std::move(ask);
  Dialogs().show = std::move(show);
}

bool BackupFavorites(bool silent) {
  if (silent) {
    try {
      TArchiveOutcome outcome = Backup(false);
      return outcome.written || outcome.identical;
    } catch (const std::exception& e) {
      TLog::Error("Error making backup of bookmarks");
      TLog::LogException(e, "TKelvoFrm.Backup");
      return false;
    }
  }
  try {
    if (!Ask(Translate("Create a backup of your favorites ?"))) return false;
    TArchiveOutcome outcome = Backup(true);
    if (!outcome.written && !outcome.identical) {
      // No Favorites folder or no tree: saying "backed-up" would be untrue.
      throw TArchiveException("no favorites to back up in " + (BookmarksCtrl() ? BookmarksCtrl()->FavoritesPath() : std::string()));
    }
    Show(Translate("Your favorites have been backed-up.\nTo restore, click on the menu Actions/Restore..."));
    return true;
  } catch (const std::exception& e) {
    TLog::LogException(e, "TKelvoFrm.Backup");
    const auto* k = dynamic_cast<const TKException*>(&e);
    Show(Translate("Error making backup of bookmarks") + " (" + (k ? k->Message() : std::string(e.what())) + ")");
    return false;
  }
}

}  // namespace kelvo
