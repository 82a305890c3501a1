#pragma once
// The agent's window-message vocabulary: the fixed WM_USER-based codes used
// inside the process and the registered messages shared with the browser
// add-on and the sidebar windows, registered once at process start.

#include <string>

#include "foundation/Config.h"  // KM_APP_STATE_CHANGED
#include "platform/Window.h"

namespace kelvo {

// Fixed codes.
constexpr UINT KM_FORM_CREATED = WM_USER + 21;
constexpr UINT KM_FORM_CLOSED = WM_USER + 22;
constexpr UINT KM_QUERY_BUSY = WM_USER + 23;
constexpr UINT KM_CLOSE_MAIN = WM_USER + 26;
constexpr UINT KM_SERVER_STATUS = WM_USER + 30;
constexpr UINT KM_SYNC_RESPONSE = WM_USER + 35;
constexpr UINT KM_UPDATE_INFO = WM_USER + 116;
constexpr UINT KM_COUNTER_RESPONSE = WM_USER + 167;
constexpr UINT KM_CONNECT = WM_USER + 180;
constexpr UINT KM_STATS_SENT = WM_USER + 260;
constexpr UINT KM_STATS_SCRIPT_DONE = WM_USER + 261;
constexpr UINT KM_STATS_ERROR_SENT = WM_USER + 262;
constexpr UINT KM_CONNECT_RESPONSE = WM_USER + 270;

// Registration strings of the messages shared across processes.
inline constexpr const char* kKLiveQuitMsg = "KLive_QuitMsg";
inline constexpr const char* kKLiveOptionsChangeMsg = "KLive_OptionsChangeMsg";
inline constexpr const char* kKLiveAppliStateChangeMsg = "KLive_AppliStateChangeMsg";
inline constexpr const char* kKLiveTBCallAutoupdate = "KLive_TBCallAutoupdate";
inline constexpr const char* kKLiveTBShowDlg = "KLive_TBShowDlg";
inline constexpr const char* kKLiveTbEbarcommand = "KLive_TbEbarcommand";
inline constexpr const char* kKLiveSbSidebarShow = "KLive_SbSidebarShow";
inline constexpr const char* kKLiveLiveModuleSwitch = "KLive_LiveModuleSwitch";
inline constexpr const char* kKLiveIEBeforeNavigate = "KLive_IE_BeforeNavigate";
inline constexpr const char* kKLiveIEDocumentComplete = "KLive_IE_DocumentComplete";
inline constexpr const char* kKLiveIETabClosed = "KLive_IE_TabClosed";
inline constexpr const char* kKLiveIETabSwitching = "KLive_IE_TabSwitching";
inline constexpr const char* kKLiveSbCreateEBar = "KLive_Sb_CreateEBar";
inline constexpr const char* kKLiveSbEBarCreated = "KLive_Sb_EBarCreated";
inline constexpr const char* kKLiveSbResizeFrm = "KLive_Sb_ResizeFrm";
inline constexpr const char* kKLiveSbCloseEBarFrm = "KLive_Sb_CloseEBarFrm";
inline constexpr const char* kKLiveSbSetThin = "KLive_Sb_SetThin";
inline constexpr const char* kKLiveSbPingAgent = "KLive_Sb_PingAgent";

// The numbers of the registered messages in this process.
struct TRegisteredMessages {
  UINT quit;                     // KLive_QuitMsg
  UINT optionsChange;            // KLive_OptionsChangeMsg
  UINT appliStateChange;         // KLive_AppliStateChangeMsg
  UINT tbCallAutoupdate;         // KLive_TBCallAutoupdate
  UINT tbShowDlg;                // KLive_TBShowDlg
  UINT tbEbarcommand;            // KLive_TbEbarcommand
  UINT KMX_SB_SIDEBAR_SHOW;      // KLive_SbSidebarShow
  UINT liveModuleSwitch;         // KLive_LiveModuleSwitch
  UINT KMX_IE_BEFORENAVIGATE;    // KLive_IE_BeforeNavigate
  UINT KMX_IE_DOCUMENTCOMPLETE;  // KLive_IE_DocumentComplete
  UINT KMX_IE_TABCLOSED;         // KLive_IE_TabClosed
  UINT KMX_IE_TABSWITCHING;      // KLive_IE_TabSwitching
  UINT sbCreateEBar;             // KLive_Sb_CreateEBar
  UINT sbEBarCreated;            // KLive_Sb_EBarCreated
  UINT sbResizeFrm;              // KLive_Sb_ResizeFrm
  UINT sbCloseEBarFrm;           // KLive_Sb_CloseEBarFrm
  UINT sbSetThin;                // KLive_Sb_SetThin
  UINT KMX_SB_PING_AGENT;        // KLive_Sb_PingAgent
};

// Registers every message on first use (thread-safe) and answers their
// numbers; process initialisation calls it before anything else.
const TRegisteredMessages& RegisteredMessages();

}  // namespace kelvo
