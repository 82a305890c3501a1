#include "agent/SidebarChain.h"

#include <exception>

#include "agent/Messages.h"
#include "bookmarks/FileTree.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "server/ServerUrls.h"
#include "server/Web.h"
#include "sidebar/HiddenDocs.h"
#include "sidebar/LiveRefresh.h"

namespace kelvo {

namespace {

TAgentOptions gOptions;
bool gShowDocuments = false;

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

void StartEventAndMemoDocuments() { THiddenDocuments::Instance().StartEventAndMemoDocs(); }

}  // namespace

TAgentOptions ParseAgentOptions(const std::vector<std::string>& commandLine) {
  TAgentOptions options;
  for (std::size_t i = 1; i < commandLine.size(); ++i) {
    const std::string& arg = commandLine[i];
    if (arg == "--stay") {
      options.stay = true;
    } else if (arg == "--favorites") {
      if (i + 1 >= commandLine.size() || commandLine[i + 1].empty()) {
        options.error = "--favorites needs a folder";
        return options;
      }
      options.favorites = commandLine[++i];
    } else if (arg.rfind("--favorites=", 0) == 0) {
      std::string dir = arg.substr(12);
      if (dir.empty()) {
        options.error = "--favorites needs a folder";
        return options;
      }
      options.favorites = dir;
    }
  }
  return options;
}

void SetAgentOptions(const TAgentOptions& options) { gOptions = options; }
const TAgentOptions& AgentOptions() { return gOptions; }

bool IEClosedTimerAllowed() { return !TConfig::IsTestNoClose() && !gOptions.stay; }

void ApplyFavoritesOption(std::string& resolved) {
  if (!gOptions.favorites) return;
  std::string dir = WithTrailingSlash(*gOptions.favorites);
  SetFavoritesDirectoryOverride(dir);
  TLog::Debug("Favorites location user set:" + dir);
  resolved = dir;
}

void SidebarCodeCheck(bool showDocuments) {
  gShowDocuments = showDocuments;
  TLiveRefresh& refresh = TLiveRefresh::Instance();
  if (refresh.CurrentSBIsLocallyMostRecent()) {
    TConfig::AddState(asSidebarCodeOK);
    if (showDocuments && TConfig::HasState(asSbManagers1OK)) StartEventAndMemoDocuments();
    return;
  }
  TLog::Debug("GetSBInitState:not TLiveRefresh.CurrentSBIsLocallyMostRecent");
  refresh.SetOnRefreshEnded([] { SidebarCodeCheck(true); });
  refresh.Start();
}

bool ShowDocuments() { return gShowDocuments; }

void LoadServerRequestDocument() { THiddenDocuments::Instance().LoadAjaxDoc(); }

void LoadServicesDocument() { THiddenDocuments::Instance().LoadServicesDoc(); }

void OnServicesDocumentReady(HWND mainForm) {
  if (gShowDocuments) StartEventAndMemoDocuments();
  if (TConfig::IsFirstRunAfterInstall()) {
    TWeb::doGet(TServerUrls::GetRestCountersBase() + "rest/counters/one/" + "install" + "/exe",
                mainForm, KM_COUNTER_RESPONSE);
  }
}

void NotifyServicesOfQuit() {
  if (!THiddenDocuments::HasInstance()) return;
  try {
    THiddenDocuments::Instance().NotifyAppQuit();
  } catch (const std::exception& e) {
    TLog::LogException(e, "TKelvoFrm.FormClose");
  }
}

void FreeSidebarChain() {
  THiddenDocuments::FreeInstance();
  // Requests the pages started end without an answer.
  TPageHost::Shutdown();
  TLiveRefresh::FreeInstance();
}

}  // namespace kelvo
