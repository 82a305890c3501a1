#pragma once
// What the page host's parts share and nobody else needs: the context
// group, string conversion, the guarded entry into script and the state of
// a document.

#include <JavaScriptCore/JavaScript.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pagehost/PageHost.h"

namespace kelvo {

// Links host functions to the document they were made for; the document
// clears it when it goes, so a function kept by another document afterwards
// finds no document instead of a dangling one.
struct TDocLink {
  TPageDocument* document = nullptr;
};

struct TScriptEngine {
  JSContextGroupRef group = nullptr;
  // The host's own context: protect/unprotect and values that belong to no page.
  JSGlobalContextRef hostContext = nullptr;
  JSClassRef functionClass = nullptr;
  // Nesting of entries into script; the limit counts from the outermost.
  int depth = 0;
  bool struck = false;
  unsigned strikes = 0;
  double limitSeconds = 0;
  double overrideSeconds = 0;
  bool settingsRead = false;
  bool rearmed = false;
  static constexpr double kRearmSeconds = 0.02;

  // Created at the first use, never destroyed (values may outlive anything).
  static TScriptEngine& Get();
  void ApplyTimeLimit();
  // After a strike inside a host method: stops the rest of the entry soon.
  void RearmAfterStrike();
};

// Marks one entry into script for the time limit: the outermost entry
// clears what an earlier strike left.
class TScriptEntry {
 public:
  TScriptEntry();
  ~TScriptEntry();
  TScriptEntry(const TScriptEntry&) = delete;
  TScriptEntry& operator=(const TScriptEntry&) = delete;
};

JSStringRef MakeJsString(const std::string& utf8);
std::string JsStringToUtf8(JSStringRef s);
// The text of any value by the script's ToString; "" when that throws.
std::string ValueText(JSContextRef ctx, JSValueRef value);

// Raises the exception that matches a script exception value (or a strike
// of the time limit) with context text in front of its description.
[[noreturn]] void ThrowScriptError(JSContextRef ctx, JSValueRef exception, const std::string& context);
// The description of a script exception: "URL:line: message" when it
// carries a place.
std::string DescribeScriptError(JSContextRef ctx, JSValueRef exception);
// A script Error object for the message.
JSValueRef MakeScriptError(JSContextRef ctx, const std::string& message);

struct TXhrJob;

// Posted to a document's window when a request's worker is done (wParam: its id).
constexpr UINT kRequestDoneMsg = WM_USER + 1;

struct TPageDocumentState {
  struct TTimer {
    TScriptValue callback;  // a function, or code text
    std::vector<TScriptValue> args;
    bool repeat = false;
  };

  TPageDocument* self = nullptr;
  std::uint32_t id = 0;
  TPageDocument* parent = nullptr;
  std::string frameId;

  JSGlobalContextRef context = nullptr;
  std::shared_ptr<TDocLink> link;
  // Counts loads; the environment's functions of an earlier load do nothing.
  std::uint64_t generation = 0;
  std::string path;
  std::string url = "about:blank";
  bool loaded = false;
  bool loading = false;
  std::vector<std::string> errors;

  TScriptValue external;
  bool externalFixed = false;
  bool externalResolved = false;
  TPageDocument::TExternalProvider provider;

  // The window environment's own functions (element table, load event).
  TScriptValue api;
  std::vector<std::unique_ptr<TPageDocument>> frames;

  HWND window = 0;
  std::map<std::uintptr_t, TTimer> timers;
  std::uintptr_t nextTimer = 1;
  struct TPendingRequest {
    std::shared_ptr<TXhrJob> job;
    TScriptValue callback;  // kept here: the worker must never touch script values
  };
  std::map<std::uint32_t, TPendingRequest> requests;

  // Ends the current load: timers, requests, frames, context.
  void Unload();
  void RecordError(const std::string& text);
  // Runs code in the document, recording a script error instead of throwing.
  void RunScript(const std::string& code, const std::string& sourceUrl, int line);
  void CallRecorded(const TScriptValue& fn, const std::vector<TScriptValue>& args,
                    const std::string& what);
  TPageDocument* Top();
  TScriptValue ResolveExternal();
  void EnsureWindow();
  static TPageDocumentState* FromContext(JSContextRef ctx);
};

// The native side of the window environment, given to the environment
// script of every new context.
TScriptValue MakeEnvironmentNatives(TPageDocument& document);
// The environment script (a function of the global and the natives that
// answers the environment's api object).
const char* EnvironmentScript();

// Requests of XMLHttpRequest (PageRequest.cpp).
TScriptValue StartRequest(TPageDocument& document, TScriptCall& call);
void DeliverRequest(TPageDocumentState& state, std::uint32_t jobId);
void CancelRequest(const std::shared_ptr<TXhrJob>& job);
void ShutdownRequests();

// File URLs of the page host.
std::string FileUrlOf(const std::string& path);
// The path of a "file:" URL (percent-decoded, query and fragment dropped);
// "" for any other URL.
std::string PathOfFileUrl(const std::string& url);
// A reference (src, href, XMLHttpRequest URL) resolved against a base URL.
std::string ResolveUrl(const std::string& base, const std::string& ref);

}  // namespace kelvo
