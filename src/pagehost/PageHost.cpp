#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "foundation/Config.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "pagehost/PageHostInternal.h"

// Exported by the engine library but missing from the distribution's
// public headers.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef ctx, void* context);
JS_EXPORT void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit,
                                                   JSShouldTerminateCallback callback,
                                                   void* context);
JS_EXPORT void JSContextGroupClearExecutionTimeLimit(JSContextGroupRef group);
}

#if defined(__SANITIZE_ADDRESS__)
// The engine keeps its own bookkeeping (atom strings, the tables of its
// global objects) in pages of its own allocator, which the leak checker does
// not scan; what it allocates through malloc from there looks unreferenced
// at exit although the engine still holds it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libjavascriptcoregtk-4.1.so\n";
}
#endif

namespace kelvo {

namespace {

constexpr double kMaxTimeLimitSeconds = 24.0 * 60 * 60;

bool OnTimeLimit(JSContextRef ctx, void* context) {
  auto* engine = static_cast<TScriptEngine*>(context);
  if (engine->struck) return true;  // the same entry, stopped once more
  engine->struck = true;
  ++engine->strikes;
  std::string url = "?";
  if (TPageDocumentState* state = TPageDocumentState::FromContext(ctx)) url = state->url;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", engine->limitSeconds);
  TLog::Warning(std::string("TPageHost:script stopped by the time limit (") + seconds + " s) in " +
                url);
  return true;
}

JSValueRef CallHostFunction(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject,
                            size_t argumentCount, const JSValueRef arguments[],
                            JSValueRef* exception);
void FinalizeHostFunction(JSObjectRef object);

}  // namespace

TScriptEngine& TScriptEngine::Get() {
  static TScriptEngine* engine = [] {
    // The engine's default way of stopping a running script interrupts the
    // thread with a signal and sometimes waits for ever for it to answer
    // (seen here about one time in three), which hangs the agent instead
    // of stopping the page. Compiled code that polls a flag has no such
    // race. Read by the engine when its first context is made; a value set
    // by the user is kept.
    setenv("JSC_usePollingTraps", "true", 0);
    auto* e = new TScriptEngine;
    e->group = JSContextGroupCreate();
    e->hostContext = JSGlobalContextCreateInGroup(e->group, nullptr);
    JSClassDefinition def = kJSClassDefinitionEmpty;
    def.className = "HostFunction";
    def.callAsFunction = CallHostFunction;
    def.finalize = FinalizeHostFunction;
    e->functionClass = JSClassCreate(&def);
    return e;
  }();
  if (!engine->settingsRead) {
    engine->settingsRead = true;
    engine->ApplyTimeLimit();
  }
  return *engine;
}

void TScriptEngine::ApplyTimeLimit() {
  double seconds = overrideSeconds;
  if (seconds <= 0) {
    seconds = TConfig::ReadInteger("", "script-time-limit", TPageHost::kDefaultTimeLimitSeconds);
    if (seconds <= 0) seconds = TPageHost::kDefaultTimeLimitSeconds;
  }
  limitSeconds = std::min(seconds, kMaxTimeLimitSeconds);
  JSContextGroupSetExecutionTimeLimit(group, limitSeconds, OnTimeLimit, this);
}

TScriptEntry::TScriptEntry() {
  TScriptEngine& engine = TScriptEngine::Get();
  if (engine.depth++ == 0) engine.struck = false;
}

TScriptEntry::~TScriptEntry() {
  TScriptEngine& engine = TScriptEngine::Get();
  if (--engine.depth == 0 && engine.rearmed) {
    engine.rearmed = false;
    engine.ApplyTimeLimit();
  }
}

void TScriptEngine::RearmAfterStrike() {
  // The engine stops script once per strike; a page that catches the error
  // a host method hands it must not get a fresh run.
  rearmed = true;
  JSContextGroupSetExecutionTimeLimit(group, kRearmSeconds, OnTimeLimit, this);
}

double TPageHost::TimeLimitSeconds() { return TScriptEngine::Get().limitSeconds; }

void TPageHost::ReloadSettings() { TScriptEngine::Get().ApplyTimeLimit(); }

void TPageHost::OverrideTimeLimit(double seconds) {
  TScriptEngine& engine = TScriptEngine::Get();
  engine.overrideSeconds = seconds > 0 ? seconds : 0;
  engine.ApplyTimeLimit();
}

unsigned TPageHost::TimeLimitStrikes() { return TScriptEngine::Get().strikes; }

void TPageHost::Shutdown() { ShutdownRequests(); }

// ---------------------------------------------------------------------------
// Strings

JSStringRef MakeJsString(const std::string& utf8) {
  std::u16string wide;
  wide.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const TUtf8Char ch = DecodeUtf8(utf8, pos);
    // A byte that is not UTF-8 is read as the 8-bit code page would show it.
    char32_t code = ch.valid ? ch.code : Windows1252ToUnicode(static_cast<unsigned char>(ch.code));
    if (code >= 0x10000) {
      code -= 0x10000;
      wide.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(code));
    }
    pos += ch.length;
  }
  return JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(wide.data()), wide.size());
}

std::string JsStringToUtf8(JSStringRef s) {
  const JSChar* chars = JSStringGetCharactersPtr(s);
  const std::size_t n = JSStringGetLength(s);
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    char32_t code = chars[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < n && chars[i + 1] >= 0xDC00 &&
        chars[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (chars[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, code);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

std::string ValueText(JSContextRef ctx, JSValueRef value) {
  if (!value) return "";
  JSValueRef exception = nullptr;
  JSStringRef s = JSValueToStringCopy(ctx, value, &exception);
  if (!s) return "";
  std::string text = JsStringToUtf8(s);
  JSStringRelease(s);
  return text;
}

std::string DescribeScriptError(JSContextRef ctx, JSValueRef exception) {
  if (!exception) return "script execution stopped";
  std::string message = ValueText(ctx, exception);
  if (JSValueIsObject(ctx, exception)) {
    JSObjectRef object = JSValueToObject(ctx, exception, nullptr);
    auto prop = [&](const char* name) {
      JSStringRef key = JSStringCreateWithUTF8CString(name);
      JSValueRef v = JSObjectGetProperty(ctx, object, key, nullptr);
      JSStringRelease(key);
      return v;
    };
    JSValueRef line = prop("line");
    JSValueRef source = prop("sourceURL");
    if (line && JSValueIsNumber(ctx, line)) {
      std::string where = source && JSValueIsString(ctx, source) ? ValueText(ctx, source) : "";
      const long lineNo = static_cast<long>(JSValueToNumber(ctx, line, nullptr));
      return where + ":" + std::to_string(lineNo) + ": " + message;
    }
  }
  return message;
}

void ThrowScriptError(JSContextRef ctx, JSValueRef exception, const std::string& context) {
  TScriptEngine& engine = TScriptEngine::Get();
  std::string text = context.empty() ? "" : context + ":";
  if (engine.struck) {
    throw TScriptTimeoutException(text + "script stopped by the time limit");
  }
  throw TScriptException(text + DescribeScriptError(ctx, exception));
}

JSValueRef MakeScriptError(JSContextRef ctx, const std::string& message) {
  JSValueRef arg = nullptr;
  JSStringRef s = MakeJsString(message);
  arg = JSValueMakeString(ctx, s);
  JSStringRelease(s);
  return JSObjectMakeError(ctx, 1, &arg, nullptr);
}

// ---------------------------------------------------------------------------
// Host functions

namespace {

struct THostFunctionData {
  std::string name;
  THostMethod method;
  std::shared_ptr<TDocLink> link;
};

// Keeps every host function's data reachable from the process until the
// collector finalizes its object (the engine's heap is not scanned by leak
// checkers, and objects still alive at exit are never finalized).
std::unordered_map<THostFunctionData*, std::unique_ptr<THostFunctionData>>& LiveFunctions() {
  static auto* live = new std::unordered_map<THostFunctionData*, std::unique_ptr<THostFunctionData>>;
  return *live;
}

JSValueRef CallHostFunction(JSContextRef ctx, JSObjectRef function, JSObjectRef thisObject,
                            size_t argumentCount, const JSValueRef arguments[],
                            JSValueRef* exception) {
  auto* data = static_cast<THostFunctionData*>(JSObjectGetPrivate(function));
  if (!data) return JSValueMakeUndefined(ctx);
  if (TScriptEngine::Get().struck) {
    // The page is being stopped: nothing more of it runs.
    *exception = MakeScriptError(ctx, "script stopped by the time limit");
    return nullptr;
  }
  try {
    std::vector<TScriptValue> args;
    args.reserve(argumentCount);
    for (size_t i = 0; i < argumentCount; ++i) args.push_back(TScriptValue::FromRaw(arguments[i]));
    TScriptCall call(data->link ? data->link->document : nullptr,
                     thisObject ? TScriptValue::FromRaw(thisObject) : TScriptValue(),
                     std::move(args));
    // The method may drop the last reference to its own function: keep it.
    THostMethod method = data->method;
    TScriptValue result = method(call);
    if (TScriptEngine::Get().struck) {
      TScriptEngine::Get().RearmAfterStrike();
      *exception = MakeScriptError(ctx, "script stopped by the time limit");
      return nullptr;
    }
    return result.Raw() ? result.Raw() : JSValueMakeUndefined(ctx);
  } catch (const TKException& e) {
    if (TScriptEngine::Get().struck) TScriptEngine::Get().RearmAfterStrike();
    *exception = MakeScriptError(ctx, e.FullMessage());
  } catch (const std::exception& e) {
    *exception = MakeScriptError(ctx, e.what());
  } catch (...) {
    *exception = MakeScriptError(ctx, "unknown error in host method");
  }
  return nullptr;
}

void FinalizeHostFunction(JSObjectRef object) {
  auto* data = static_cast<THostFunctionData*>(JSObjectGetPrivate(object));
  if (data) LiveFunctions().erase(data);
}

TScriptValue MakeFunction(JSContextRef ctx, const std::shared_ptr<TDocLink>& link,
                          const std::string& name, THostMethod method) {
  TScriptEngine& engine = TScriptEngine::Get();
  auto data = std::make_unique<THostFunctionData>();
  data->name = name;
  data->method = std::move(method);
  data->link = link;
  THostFunctionData* raw = data.get();
  LiveFunctions().emplace(raw, std::move(data));
  JSObjectRef fn = JSObjectMake(ctx, engine.functionClass, raw);
  // Looks like a function to pages that test for one.
  JSStringRef protoName = JSStringCreateWithUTF8CString("Function");
  JSValueRef ctor = JSObjectGetProperty(ctx, JSContextGetGlobalObject(ctx), protoName, nullptr);
  JSStringRelease(protoName);
  if (ctor && JSValueIsObject(ctx, ctor)) {
    JSObjectRef ctorObj = JSValueToObject(ctx, ctor, nullptr);
    JSStringRef protoKey = JSStringCreateWithUTF8CString("prototype");
    JSValueRef proto = JSObjectGetProperty(ctx, ctorObj, protoKey, nullptr);
    JSStringRelease(protoKey);
    if (proto) JSObjectSetPrototype(ctx, fn, proto);
  }
  return TScriptValue::FromRaw(fn);
}

}  // namespace

THostObject& THostObject::Method(const std::string& name, THostMethod method) {
  methods_.emplace_back(name, std::move(method));
  return *this;
}

THostObject& THostObject::Property(const std::string& name, TScriptValue value) {
  properties_.emplace_back(name, std::move(value));
  return *this;
}

TScriptValue THostObject::Make(TPageDocument& document) const {
  TPageDocumentState& state = document.State();
  if (!state.context) throw TPageHostException("THostObject.Make:document has no context");
  TScriptValue object = document.NewObject();
  for (const auto& [name, method] : methods_) {
    object.Set(name, MakeFunction(state.context, state.link, name, method));
  }
  for (const auto& [name, value] : properties_) object.Set(name, value);
  return object;
}

TScriptValue THostObject::Function(TPageDocument& document, const std::string& name,
                                   THostMethod method) {
  TPageDocumentState& state = document.State();
  if (!state.context) throw TPageHostException("THostObject.Function:document has no context");
  return MakeFunction(state.context, state.link, name, std::move(method));
}

}  // namespace kelvo
