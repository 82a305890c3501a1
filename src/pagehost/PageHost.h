#pragma once
// The page host: HTML pages with their scripts, run without a browser.
//
// One script engine context group stands for the browser process: every
// document (and every iframe inside one) is its own global context in that
// group, so a script object made by one document can be handed to another
// document and used there. Pages are parsed, not drawn: a document runs its
// scripts in document order, loads its frames, turns readyState "complete",
// runs its load handlers and then posts the document-complete message to its
// owner window. It gets the least window environment IE-era pages need:
// window/self/parent/top, document.parentWindow, document.getElementById
// (frames answer contentWindow), location, navigator/clientInformation,
// setTimeout/setInterval (code strings or functions, on the message loop's
// timers), alert and console (to the log), an XMLHttpRequest over libcurl
// and window.external, the host object the owner gives the document.
//
// Every entry into script runs under the time limit of the setting
// "script-time-limit" of the agent key, in seconds (10 when missing or not
// positive): a page that loops for ever is stopped, a warning line
// "TPageHost:script stopped by the time limit (N s) in URL" is logged and
// the call fails with TScriptTimeoutException; the agent goes on.
//
// Main thread only (the thread that runs the message loop), except where a
// comment says otherwise.
//
// Making a window.external object:
//
//   TPageDocument doc;
//   doc.SetExternalProvider([](TPageDocument& d) {
//     return THostObject()
//         .Method("QueryCallback", [](TScriptCall& call) {
//           std::string content = call.Arg(0).ToString();   // missing -> undefined
//           std::int32_t handle = call.Arg(1).ToInt32();
//           ...
//           return TScriptValue();                           // undefined
//         })
//         .Make(d);
//   });
//   doc.Load(folder + "/IEAjaxDoc.html", ownerWnd, kMyDocCompleteMsg);
//
// A method that throws fails towards the script: the script sees an Error
// whose message is the exception's full message (TKException) or what().
// Methods that take "Params" arrays pull their arguments with
// params.Shift() (the script's own shift, so the caller's array shrinks);
// Params.IsArray() uses Array.isArray, which also holds for arrays made by
// another document.
//
// Calling into a page:
//
//   TScriptValue services = doc.CallFunction("loadServices", {});
//   services.Get("observer").CallMethod("notifyObservers",
//                                       {TScriptValue::String("app.quit"),
//                                        TScriptValue::String("")});
//
// Script failures (a thrown error, a missing function, the time limit)
// come back as TScriptException.
//
// Values the host keeps (receivers, observers, the services object) are
// TScriptValue objects: each one keeps its script value alive (protected
// from the garbage collector) until the TScriptValue goes. A value stays
// valid after the document that made it has been unloaded or destroyed.

#include <JavaScriptCore/JSBase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/KException.h"
#include "platform/Window.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TPageHostException, TKException);
// A script error reaching the host: thrown error, syntax error, call of
// something that is not a function, or a value that is not what the host
// asked for (Shift on a non-array...).
KELVO_DECLARE_EXCEPTION(TScriptException, TPageHostException);
// The script was stopped by the time limit.
KELVO_DECLARE_EXCEPTION(TScriptTimeoutException, TScriptException);

class TPageDocument;
struct TScriptEngine;  // the context group; private to the page host

// A script value of any kind, kept alive while this handle exists. Copies
// share the value. A default-constructed handle is undefined. Conversions
// follow the script's own rules (ToString of an object calls its toString);
// a conversion that throws in script raises TScriptException.
class TScriptValue {
 public:
  TScriptValue();
  ~TScriptValue();
  TScriptValue(const TScriptValue& other);
  TScriptValue(TScriptValue&& other) noexcept;
  TScriptValue& operator=(const TScriptValue& other);
  TScriptValue& operator=(TScriptValue&& other) noexcept;

  static TScriptValue Undefined();
  static TScriptValue Null();
  static TScriptValue String(const std::string& utf8);
  static TScriptValue Number(double value);
  static TScriptValue Bool(bool value);
  // Parses JSON text; invalid text raises TScriptException. The objects
  // belong to the host's own context (use TPageDocument::ParseJson for
  // objects of a page).
  static TScriptValue FromJson(const std::string& json);

  bool IsUndefined() const;
  bool IsNull() const;
  // Undefined or null: "no value" for the bridge.
  bool IsEmpty() const { return IsUndefined() || IsNull(); }
  bool IsString() const;
  bool IsNumber() const;
  bool IsBool() const;
  bool IsObject() const;
  bool IsFunction() const;
  // Array.isArray: true also for arrays of another document.
  bool IsArray() const;

  std::string ToString() const;
  double ToNumber() const;
  // ToNumber cut to 32 bits as script does (NaN -> 0).
  std::int32_t ToInt32() const;
  bool ToBool() const;
  // JSON text of the value ("" for undefined and functions).
  std::string ToJson() const;

  // Object properties; Get of a missing property (or on a non-object)
  // answers undefined; Set on a non-object raises TScriptException.
  TScriptValue Get(const std::string& name) const;
  void Set(const std::string& name, const TScriptValue& value) const;
  TScriptValue At(unsigned index) const;
  // The value's "length" as a number (0 when none).
  unsigned Length() const;
  // The script's own shift of an array: removes and answers the first
  // element (undefined when empty). Raises TScriptException when the value
  // has no shift method.
  TScriptValue Shift() const;

  // Calls the value as a function with thisValue as this.
  TScriptValue Call(const std::vector<TScriptValue>& args,
                    const TScriptValue& thisValue = TScriptValue()) const;
  // Calls the method name of this object with this object as this.
  TScriptValue CallMethod(const std::string& name, const std::vector<TScriptValue>& args) const;

  // Identity of objects, equality of primitives (script ===).
  bool StrictEquals(const TScriptValue& other) const;

  // For code that must talk to the engine directly.
  JSValueRef Raw() const { return value_; }
  static TScriptValue FromRaw(JSValueRef value);

 private:
  explicit TScriptValue(JSValueRef value);
  void Keep();
  void Release();

  // Null for undefined (no engine needed for that).
  TScriptEngine* engine_ = nullptr;
  JSValueRef value_ = nullptr;
};

// What a host method receives.
class TScriptCall {
 public:
  TScriptCall(TPageDocument* document, TScriptValue thisValue, std::vector<TScriptValue> args)
      : document_(document), this_(std::move(thisValue)), args_(std::move(args)) {}

  // The document the host object was made for; null once it is gone.
  TPageDocument* Document() const { return document_; }
  const TScriptValue& This() const { return this_; }
  const std::vector<TScriptValue>& Args() const { return args_; }
  std::size_t Count() const { return args_.size(); }
  // Argument i, undefined when the caller passed fewer.
  TScriptValue Arg(std::size_t i) const { return i < args_.size() ? args_[i] : TScriptValue(); }

 private:
  TPageDocument* document_;
  TScriptValue this_;
  std::vector<TScriptValue> args_;
};

using THostMethod = std::function<TScriptValue(TScriptCall& call)>;

// Builds a script object whose methods are C++ callbacks (window.external,
// the native side of the window environment). Reusable: each Make gives a
// new object with the same methods.
class THostObject {
 public:
  THostObject& Method(const std::string& name, THostMethod method);
  // A plain data property, set at Make.
  THostObject& Property(const std::string& name, TScriptValue value);
  // The object, made in the document's context (its prototype is that
  // document's Object.prototype).
  TScriptValue Make(TPageDocument& document) const;

  // One callable function object (for handing a C++ callback to a page).
  static TScriptValue Function(TPageDocument& document, const std::string& name,
                               THostMethod method);

 private:
  std::vector<std::pair<std::string, THostMethod>> methods_;
  std::vector<std::pair<std::string, TScriptValue>> properties_;
};

struct TPageDocumentState;  // private to the page host

// One document (page or frame): its global context, its frames, its timers
// and requests. The owner keeps it; frames belong to their parent document.
// A new document is an empty page ("about:blank") with its window until it
// loads one. A document may be loaded again from a call of its own script
// (navigation); it must not be destroyed from inside such a call (post a
// message and destroy it from the loop).
class TPageDocument {
 public:
  // Called at the document's first read of window.external after each load;
  // the answer is kept for that load. Frames ask their top document's
  // provider (with the frame as argument).
  using TExternalProvider = std::function<TScriptValue(TPageDocument& document)>;

  TPageDocument();
  ~TPageDocument();
  TPageDocument(const TPageDocument&) = delete;
  TPageDocument& operator=(const TPageDocument&) = delete;

  // Process-unique, never reused; the wParam of the document-complete message.
  std::uint32_t Id() const;
  // The live document with that id (null when there is none).
  static TPageDocument* FromId(std::uint32_t id);

  void SetExternal(TScriptValue external);
  void SetExternalProvider(TExternalProvider provider);

  // Loads the page at path (a file; its URL is "file:///" + path): drops
  // what an earlier load left (timers, requests, frames, globals), parses the
  // file, runs its scripts in document order, loads its frames, runs the
  // load handlers and then, when owner is a window, posts completeMsg to it
  // with wParam = Id(), lParam = 0. Script errors do not stop the load; they
  // are logged ("TPageDocument:script error in URL:line: message") and kept
  // in ScriptErrors(). A file that cannot be read raises TPageHostException
  // and posts nothing.
  void Load(const std::string& path, HWND owner = 0, UINT completeMsg = 0);
  // Loads HTML text as if it were the file at path (tests, generated pages).
  void LoadHtml(const std::string& html, const std::string& path, HWND owner = 0,
                UINT completeMsg = 0);

  bool IsLoaded() const;
  // "file:///..." of the loaded page ("about:blank" before a load).
  std::string Url() const;
  std::string Path() const;
  // Script errors of the current load and of its timers, callbacks and
  // requests since, as logged.
  const std::vector<std::string>& ScriptErrors() const;

  // The document's script global (its window object).
  TScriptValue Window() const;
  // Calls the global function name with the window as this. A missing name
  // or one that is not a function raises TScriptException, as does an error
  // thrown by the function.
  TScriptValue CallFunction(const std::string& name, const std::vector<TScriptValue>& args);
  // Runs script text in the document (as a script element would).
  TScriptValue Evaluate(const std::string& code);
  // An object or array made by this document from JSON text.
  TScriptValue ParseJson(const std::string& json);
  // A new empty object / array of this document.
  TScriptValue NewObject();
  TScriptValue NewArray(const std::vector<TScriptValue>& items = {});

  // The frame whose element id matches (ASCII case ignored), searched depth
  // first through the frames of frames; null when none matches.
  TPageDocument* FrameById(const std::string& id);
  // Direct frames in document order.
  std::vector<TPageDocument*> Frames() const;
  // Null for a top document.
  TPageDocument* Parent() const;
  // The element id of this frame ("" for a top document).
  std::string FrameId() const;

  // Engine-level access for the page host's own parts.
  JSGlobalContextRef Context() const;
  TPageDocumentState& State() { return *state_; }

 private:
  friend struct TPageDocumentState;
  std::unique_ptr<TPageDocumentState> state_;
};

// Process-wide settings of the page host.
class TPageHost {
 public:
  TPageHost() = delete;

  static constexpr int kDefaultTimeLimitSeconds = 10;

  // "script-time-limit" as used for the next entry into script.
  static double TimeLimitSeconds();
  // Reads the setting again (call after it changed; it is read once at the
  // first use of the page host otherwise).
  static void ReloadSettings();
  // Test support: a limit for this process that overrides the setting
  // (0 or less: back to the setting).
  static void OverrideTimeLimit(double seconds);

  // How many times the time limit struck in this process.
  static unsigned TimeLimitStrikes();

  // Ends every outstanding XMLHttpRequest (no answer is delivered) and
  // waits for its worker; part of the agent's shutdown.
  static void Shutdown();
};

}  // namespace kelvo
