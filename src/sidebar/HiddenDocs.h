#pragma once
// The four hidden service documents of the sidebar code, loaded into page
// documents of the agent: the server-request document ("IEAjaxDoc.html"),
// the services document ("js/services/hiddenIFrame.html"), the event-manager
// document ("emDoc.html") and the memo-manager document ("memoDoc.html"),
// all in the sidebar code folder. They hold what every sidebar window shares
// (the services object, the event and memo managers) and carry the sidebar
// code's server requests.
//
// Each document's completion runs once: it keeps the document's window and
// adds its application-state flag (asAjaxDocOK, asSbManagers1OK after
// loadServices answered, asSbManagers2OK for the memo document; none for the
// event document). The bridge reaches into them through the operations
// below, which raise (TPageHostException, TScriptException) when the
// document they need is not there or its script fails.
//
// One per process (Instance); main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pagehost/PageHost.h"
#include "platform/Window.h"

namespace kelvo {

class THiddenDocuments {
 public:
  // Posted by the page host to the documents' window when a load completes
  // (wParam = the document's id).
  static constexpr UINT KM_HIDDEN_DOC_COMPLETE = WM_USER + 400;

  enum TKind { kAjaxDoc = 0, kServicesDoc = 1, kEventMgrDoc = 2, kMemoMgrDoc = 3 };

  // The services document's window.external: the scripting bridge with its
  // own services object, made at the document's first request and then
  // kept. Until the bridge is set, the document gets a logging object with
  // the bridge's logError and logDebug.
  using TBridgeFactory = std::function<TScriptValue(TPageDocument& document)>;

  THiddenDocuments();
  ~THiddenDocuments();
  THiddenDocuments(const THiddenDocuments&) = delete;
  THiddenDocuments& operator=(const THiddenDocuments&) = delete;

  static THiddenDocuments& Instance();
  // Shutdown and tests: frees the documents and what they keep.
  static void FreeInstance();
  static bool HasInstance();

  void SetBridgeFactory(TBridgeFactory factory) { bridgeFactory_ = std::move(factory); }

  // Start the loads. A missing folder or file is logged as an error with
  // the line of its kind ("InitIEAjaxDoc:IE Ajax doc not found:" + file...)
  // and answers false: the readiness chain stops there. A document already
  // started is not loaded again (true).
  bool LoadAjaxDoc();
  bool LoadServicesDoc();
  // The event document, then the memo document.
  bool StartEventAndMemoDocs();

  // The document's file (sidebar code folder + name).
  static std::string DocumentPath(TKind kind);
  bool Started(TKind kind) const { return docs_[kind].started; }
  // The document's window once its load completed (undefined before).
  TScriptValue Window(TKind kind) const { return docs_[kind].window; }
  TPageDocument* Document(TKind kind) const { return docs_[kind].document.get(); }

  // --- What the bridge reaches -------------------------------------------
  // The services object (undefined before the services document loaded).
  TScriptValue GetGlobalObject() const { return services_; }
  // getEventMgr of the event document, asked anew at every call.
  TScriptValue GetEventMgr();
  // First call: getMemoMgr(login, password) of the memo document, kept as
  // the memo manager; later calls: its init(login, password, null). The
  // account values are the stored ones at each call.
  TScriptValue GetMemoMgr();
  // doAjaxRequest(method, params) of the server-request document.
  TScriptValue AjaxRequest(const TScriptValue& method, const TScriptValue& params);
  // doKelvoAjaxRequest with the first eight arguments in order; missing
  // ones are passed as undefined, further ones dropped.
  void KelvoAjaxRequest(const std::vector<TScriptValue>& args);
  // The window of the services document's frame with that element id, or
  // null when there is none.
  TScriptValue GetKServicesIFrameWindowById(const std::string& id);
  // The agent is closing: notifyObservers("app.quit", "") on the services
  // object's observer. Nothing without a services object.
  void NotifyAppQuit();

  HWND Handle() const { return wnd_; }

 private:
  struct TDoc {
    std::unique_ptr<TPageDocument> document;
    bool started = false;
    TScriptValue window;
  };

  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool Load(TKind kind, const std::string& folder, const std::string& folderMissing,
            const std::string& fileMissing);
  void OnDocumentComplete(std::uint32_t id);
  void Complete(TKind kind);
  TScriptValue MakeExternal(TKind kind, TPageDocument& document);
  const TScriptValue& RequireWindow(TKind kind) const;

  HWND wnd_ = 0;
  TDoc docs_[4];
  TScriptValue services_;
  TScriptValue memoMgr_;
  bool memoMgrMade_ = false;
  TScriptValue bridge_;
  TBridgeFactory bridgeFactory_;
};

}  // namespace kelvo
