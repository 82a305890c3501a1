#include "sidebar/HiddenDocs.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "foundation/FileTools.h"
#include "foundation/Config.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "server/AjaxRequestExtIf.h"

namespace kelvo {

namespace {

constexpr const char* kWindowClass = "THiddenDocsWindow";

const char* const kFileNames[] = {"IEAjaxDoc.html", "js/services/hiddenIFrame.html", "emDoc.html",
                                  "memoDoc.html"};
const char* const kCompleteContexts[] = {
    "TKelvoFrm.IEAjaxDocWBDocumentComplete", "TKelvoFrm.KServicesDocWBDocumentComplete",
    "TKelvoFrm.EventMgrDocWBDocumentComplete", "TKelvoFrm.MemoMgrDocWBDocumentComplete"};
const char* const kLoadContexts[] = {"TKelvoFrm.InitIEAjaxDoc", "TKelvoFrm.InitKServicesDoc",
                                     "TKelvoFrm.InitEventMgrDoc", "TKelvoFrm.InitMemoMgrDoc"};

std::unique_ptr<THiddenDocuments>& InstanceSlot() {
  static std::unique_ptr<THiddenDocuments> instance;
  return instance;
}

std::string TextArg(const TScriptCall& call, std::size_t i) {
  TScriptValue v = call.Arg(i);
  return v.IsEmpty() ? "" : v.ToString();
}

// The event and memo documents' window.external: their log lines and a
// key-value setter that has no effect.
TScriptValue MakeEventMgrExtIf(TPageDocument& document) {
  return THostObject()
      .Method("logError",
              [](TScriptCall& call) {
                TLog::Error(TextArg(call, 0));
                return TScriptValue();
              })
      .Method("logWarning",
              [](TScriptCall& call) {
                TLog::Debug(TextArg(call, 0));
                return TScriptValue();
              })
      .Method("logDebug",
              [](TScriptCall& call) {
                TLog::Debug(TextArg(call, 0));
                return TScriptValue();
              })
      .Method("logInfo",
              [](TScriptCall& call) {
                TLog::Debug(TextArg(call, 0));
                return TScriptValue();
              })
      .Method("setKeyValue", [](TScriptCall&) { return TScriptValue(); })
      .Make(document);
}

// The server-request document's window.external: the transport callback.
TScriptValue MakeAjaxRequestExtIf(TPageDocument& document) {
  return THostObject()
      .Method("QueryCallback",
              [](TScriptCall& call) {
                TAjaxRequestExtIf callback;
                std::int32_t result = callback.QueryCallback(
                    TextArg(call, 0), static_cast<HWND>(call.Arg(1).ToInt32()),
                    static_cast<UINT>(call.Arg(2).ToInt32()), call.Arg(3).ToInt32());
                if (result != TAjaxRequestExtIf::kOk) {
                  throw TPageHostException("QueryCallback failed");
                }
                return TScriptValue();
              })
      .Make(document);
}

// What the services document has for a bridge until the scripting bridge
// is set: its two log operations, with the bridge's "kelvo.sb:" lines.
TScriptValue MakeLoggingBridge(TPageDocument& document) {
  return THostObject()
      .Method("logError",
              [](TScriptCall& call) {
                TLog::Error("kelvo.sb:" + TextArg(call, 0));
                return TScriptValue::String("");
              })
      .Method("logDebug",
              [](TScriptCall& call) {
                TLog::Debug("kelvo.sb:" + TextArg(call, 0));
                return TScriptValue::String("");
              })
      .Make(document);
}

}  // namespace

THiddenDocuments::THiddenDocuments() {
  wnd_ = CreateWindowObject(kWindowClass, [this](HWND h, UINT m, WPARAM w, LPARAM l) {
    return WndProc(h, m, w, l);
  });
}

THiddenDocuments::~THiddenDocuments() {
  // Kept script values first, then the documents, then their window.
  services_ = TScriptValue();
  memoMgr_ = TScriptValue();
  bridge_ = TScriptValue();
  for (auto& doc : docs_) {
    doc.window = TScriptValue();
    doc.document.reset();
  }
  if (wnd_ != 0) DestroyWindowObject(wnd_);
}

THiddenDocuments& THiddenDocuments::Instance() {
  auto& slot = InstanceSlot();
  if (!slot) slot = std::make_unique<THiddenDocuments>();
  return *slot;
}

void THiddenDocuments::FreeInstance() { InstanceSlot().reset(); }
bool THiddenDocuments::HasInstance() { return InstanceSlot() != nullptr; }

std::string THiddenDocuments::DocumentPath(TKind kind) {
  return TConfig::SBPath() + kFileNames[kind];
}

TScriptValue THiddenDocuments::MakeExternal(TKind kind, TPageDocument& document) {
  switch (kind) {
    case kAjaxDoc:
      return MakeAjaxRequestExtIf(document);
    case kServicesDoc:
      if (bridge_.IsUndefined()) {
        bridge_ = bridgeFactory_ ? bridgeFactory_(document) : MakeLoggingBridge(document);
      }
      return bridge_;
    case kEventMgrDoc:
    case kMemoMgrDoc:
      return MakeEventMgrExtIf(document);
  }
  return TScriptValue();
}

bool THiddenDocuments::Load(TKind kind, const std::string& folder,
                            const std::string& folderMissing, const std::string& fileMissing) {
  TDoc& doc = docs_[kind];
  if (doc.started) return true;
  const std::string file = DocumentPath(kind);
  if (!TFileTools::FolderExists(folder)) {
    TLog::Error(folderMissing + folder);
    return false;
  }
  if (!TFileTools::FileExists(file)) {
    TLog::Error(fileMissing + file);
    return false;
  }
  doc.started = true;
  try {
    doc.document = std::make_unique<TPageDocument>();
    doc.document->SetExternalProvider(
        [this, kind](TPageDocument& d) { return MakeExternal(kind, d); });
    doc.document->Load(file, wnd_, KM_HIDDEN_DOC_COMPLETE);
    return true;
  } catch (const std::exception& e) {
    TLog::LogException(e, kLoadContexts[kind]);
    return false;
  }
}

bool THiddenDocuments::LoadAjaxDoc() {
  return Load(kAjaxDoc, TConfig::SBPath(), "InitIEAjaxDoc:IE Ajax directory not found:",
              "InitIEAjaxDoc:IE Ajax doc not found:");
}

bool THiddenDocuments::LoadServicesDoc() {
  return Load(kServicesDoc, TConfig::SBPath() + "js/services/",
              "InitKServicesDoc:KServices directory not found:",
              "InitKServicesDoc:Global object doc not found:");
}

bool THiddenDocuments::StartEventAndMemoDocs() {
  bool eventOk = Load(kEventMgrDoc, TConfig::SBPath(), "InitEventMgrDoc:Sidebar directory not found:",
                      "InitEventMgrDoc:Event Mgr doc not found:");
  bool memoOk = Load(kMemoMgrDoc, TConfig::SBPath(), "InitMemoMgrDoc:Sidebar directory not found:",
                     "InitMemoMgrDoc:Memo Mgr doc not found:");
  return eventOk && memoOk;
}

void THiddenDocuments::OnDocumentComplete(std::uint32_t id) {
  for (int kind = 0; kind < 4; ++kind) {
    if (docs_[kind].document && docs_[kind].document->Id() == id) {
      Complete(static_cast<TKind>(kind));
      return;
    }
  }
}

void THiddenDocuments::Complete(TKind kind) {
  TDoc& doc = docs_[kind];
  // Once per document: a later completion finds the window kept.
  if (!doc.window.IsUndefined()) return;
  try {
    doc.window = doc.document->Window();
    switch (kind) {
      case kAjaxDoc:
        TConfig::AddState(asAjaxDocOK);
        break;
      case kServicesDoc:
        services_ = doc.window.CallMethod("loadServices", {});
        TConfig::AddState(asSbManagers1OK);
        break;
      case kEventMgrDoc:
        break;
      case kMemoMgrDoc:
        TConfig::AddState(asSbManagers2OK);
        break;
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, kCompleteContexts[kind]);
  }
}

LRESULT THiddenDocuments::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == KM_HIDDEN_DOC_COMPLETE) {
    try {
      OnDocumentComplete(static_cast<std::uint32_t>(wParam));
    } catch (const std::exception& e) {
      TLog::LogException(e, "THiddenDocuments.DocumentComplete");
    }
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

const TScriptValue& THiddenDocuments::RequireWindow(TKind kind) const {
  const TScriptValue& window = docs_[kind].window;
  if (window.IsUndefined()) {
    throw TPageHostException(std::string("Hidden document not loaded: ") + kFileNames[kind]);
  }
  return window;
}

TScriptValue THiddenDocuments::GetEventMgr() {
  return RequireWindow(kEventMgrDoc).CallMethod("getEventMgr", {});
}

TScriptValue THiddenDocuments::GetMemoMgr() {
  const TScriptValue login = TScriptValue::String(TIdentification::GetNickname());
  const TScriptValue password = TScriptValue::String(TIdentification::GetPassword());
  if (!memoMgrMade_) {
    memoMgr_ = RequireWindow(kMemoMgrDoc).CallMethod("getMemoMgr", {login, password});
    memoMgrMade_ = true;
  } else {
    memoMgr_.CallMethod("init", {login, password, TScriptValue::Null()});
  }
  return memoMgr_;
}

TScriptValue THiddenDocuments::AjaxRequest(const TScriptValue& method,
                                           const TScriptValue& params) {
  return RequireWindow(kAjaxDoc).CallMethod("doAjaxRequest", {method, params});
}

void THiddenDocuments::KelvoAjaxRequest(const std::vector<TScriptValue>& args) {
  std::vector<TScriptValue> eight(8);
  for (std::size_t i = 0; i < eight.size() && i < args.size(); ++i) eight[i] = args[i];
  RequireWindow(kAjaxDoc).CallMethod("doKelvoAjaxRequest", eight);
}

TScriptValue THiddenDocuments::GetKServicesIFrameWindowById(const std::string& id) {
  TPageDocument* services = docs_[kServicesDoc].document.get();
  if (!services || docs_[kServicesDoc].window.IsUndefined()) return TScriptValue::Null();
  TPageDocument* frame = services->FrameById(id);
  return frame ? frame->Window() : TScriptValue::Null();
}

void THiddenDocuments::NotifyAppQuit() {
  if (services_.IsEmpty()) return;
  services_.Get("observer").CallMethod("notifyObservers",
                                       {TScriptValue::String("app.quit"), TScriptValue::String("")});
}

}  // namespace kelvo
