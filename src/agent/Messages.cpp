#include "agent/Messages.h"

namespace kelvo {

const TRegisteredMessages& RegisteredMessages() {
  static const TRegisteredMessages messages{
      RegisterWindowMessage(kKLiveQuitMsg),
      RegisterWindowMessage(kKLiveOptionsChangeMsg),
      RegisterWindowMessage(kKLiveAppliStateChangeMsg),
      RegisterWindowMessage(kKLiveTBCallAutoupdate),
      RegisterWindowMessage(kKLiveTBShowDlg),
      RegisterWindowMessage(kKLiveTbEbarcommand),
      RegisterWindowMessage(kKLiveSbSidebarShow),
      RegisterWindowMessage(kKLiveLiveModuleSwitch),
      RegisterWindowMessage(kKLiveIEBeforeNavigate),
      RegisterWindowMessage(kKLiveIEDocumentComplete),
      RegisterWindowMessage(kKLiveIETabClosed),
      RegisterWindowMessage(kKLiveIETabSwitching),
      RegisterWindowMessage(kKLiveSbCreateEBar),
      RegisterWindowMessage(kKLiveSbEBarCreated),
      RegisterWindowMessage(kKLiveSbResizeFrm),
      RegisterWindowMessage(kKLiveSbCloseEBarFrm),
      RegisterWindowMessage(kKLiveSbSetThin),
      RegisterWindowMessage(kKLiveSbPingAgent),
  };
  return messages;
}

}  // namespace kelvo
