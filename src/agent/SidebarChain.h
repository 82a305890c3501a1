#pragma once
// The main form's side of the sidebar code: the sidebar-code check with the
// live refresh, the hidden service documents loaded one after the other as
// the application-state flags arrive, the first-run counter request, the
// "app.quit" notice to the services object at close, and the command-line
// options for running without a browser. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace kelvo {

// Options of a run on a machine without the browser add-on.
struct TAgentOptions {
  // --stay: the IE-closed timer stays off for this run, so the agent does
  // not close for want of a browser frame.
  bool stay = false;
  // --favorites DIR: the Favorites folder for this run.
  std::optional<std::string> favorites;
  // Set when the command line could not be understood.
  std::string error;
};

// Reads --stay and --favorites DIR (also --favorites=DIR) from the command
// line (program name first); other arguments are left to the run mode.
TAgentOptions ParseAgentOptions(const std::vector<std::string>& commandLine);
void SetAgentOptions(const TAgentOptions& options);
const TAgentOptions& AgentOptions();

// The IE-closed timer may run: neither the setting "testnoclose" nor --stay.
bool IEClosedTimerAllowed();

// Start-up: a Favorites folder given on the command line becomes the
// user-set location for this run (logged "Favorites location user set:")
// and replaces resolved.
void ApplyFavoritesOption(std::string& resolved);

// The sidebar-code check: sidebar-code-ok when the unpacked code is the most
// recent, otherwise the live refresh, which runs the check again with the
// show-documents flag when it ends. With the flag, when the services
// document has loaded already, the event and memo documents start at once.
void SidebarCodeCheck(bool showDocuments);
bool ShowDocuments();

// State reactions: sidebar-code-ok loads the server-request document;
// asAjaxDocOK the services document; asSbManagers1OK starts the event and
// memo documents (with the show-documents flag) and, on the first run after
// installation, asks the counters for "install" (answered to mainForm as
// KM_COUNTER_RESPONSE).
void LoadServerRequestDocument();
void LoadServicesDocument();
void OnServicesDocumentReady(HWND mainForm);

// Close: the services object's observer hears "app.quit" (a script error is
// logged with "TKelvoFrm.FormClose").
void NotifyServicesOfQuit();
// Destroy: frees the hidden documents and the live refresh.
void FreeSidebarChain();

}  // namespace kelvo
