#include "agent/ConnectStep.h"

#include <memory>
#include <mutex>
#include <string>

#include "agent/Messages.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/FileTree.h"
#include "foundation/Config.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "foundation/SyncMode.h"
#include "server/ClientActn.h"
#include "server/PostedText.h"
#include "server/ServerResponseHandlers.h"
#include "server/ServerUrls.h"
#include "server/SrvActnLinks.h"
#include "server/SrvScript.h"
#include "server/Web.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo {

static_assert(TBookmarksCtrl::kConnectMessage == KM_CONNECT, "the controller posts KM_CONNECT");
static_assert(TBookmarksCtrl::kSyncResponseMessage == KM_SYNC_RESPONSE,
              "the controller hears KM_SYNC_RESPONSE");

namespace {

std::mutex& BackupLock() {
  static std::mutex lock;
  return lock;
}
TSilentBackup& Backup() {
  static TSilentBackup backup;
  return backup;
}

std::unique_ptr<TBookmarksCtrl>& Ctrl() {
  static std::unique_ptr<TBookmarksCtrl> ctrl;
  return ctrl;
}

// The stored identity for the log, its password masked.
std::string IdentityForLog() {
  std::string text = TIdentification::GetNickname();
  if (!TIdentification::GetPassword().empty()) text += ":***";
  return text;
}

}  // namespace

void SetSilentBackup(TSilentBackup backup) {
  std::lock_guard<std::mutex> guard(BackupLock());
  Backup() = std::move(backup);
}

void InitServerClient() {
  TClientSingletons::SetClientActionQueue(std::make_shared<TClientActionQueue>());
}

void ShutdownServerClient() {
  TWeb::Shutdown();
  TPostedText::Clear();
  TClientSingletons::FreeSingletons();
}

TBookmarksCtrl* CreateBookmarksCtrl(HWND mainForm) {
  if (!Ctrl()) Ctrl() = std::make_unique<TBookmarksCtrl>(FavoritesDirectory(), MetaFilePath(), mainForm);
  return Ctrl().get();
}

TBookmarksCtrl* BookmarksCtrl() { return Ctrl().get(); }

void FreeBookmarksCtrl() {
  std::unique_ptr<TBookmarksCtrl> ctrl = std::move(Ctrl());
  if (!ctrl) return;
  ctrl->Shutdown();
  ctrl.reset();
}

void ConnectStep(HWND mainForm) {
  if (SyncModeFromName(TConfig::GetSyncMode()) != TSyncMode::NoSync) {
    TSilentBackup backup;
    {
      std::lock_guard<std::mutex> guard(BackupLock());
      backup = Backup();
    }
    try {
      if (backup) backup();
    } catch (const std::exception& e) {
      TLog::Error("Error making backup of bookmarks");
      TLog::LogException(e, "TKelvoFrm.Connect");
    }
    TConfig::AddState(asSynchronizable);
  }
  if (!TIdentification::GetNickname().empty() && !TIdentification::GetPassword().empty()) {
    // The context first: it names the account the connect is for.
    TSrvScript script;
    script.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
    script.AddAction(std::make_shared<TSrvActnConnect>(nullptr));
    TWeb::doPost(TServerUrls::GetLinkServerAddress(), "script", script.Text(), mainForm,
                 KM_CONNECT_RESPONSE);
  } else {
    TLog::Info("No username + password:" + IdentityForLog());
  }
  TConfig::AddState(asIdEstablished);
}

void HandleConnectResponse(WPARAM wParam, LPARAM /*lParam*/) {
  const std::string text = TPostedText::Take(wParam);
  TLog::Debug("TEST rx:" + text);
  TXmlDocument answer = ParseServerAnswer(text, "TKelvoFrm.KM_CONNECT_RESPONSE");
  if (!answer) return;
  ApplyContextAnswer(answer);
  ApplyRequestSync(answer);
}

}  // namespace kelvo
