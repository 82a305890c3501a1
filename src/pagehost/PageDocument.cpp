#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "pagehost/PageHostInternal.h"

namespace kelvo {

namespace {

constexpr const char* kWindowClass = "TPageDocumentWindow";

std::unordered_map<std::uint32_t, TPageDocument*>& Documents() {
  static auto* documents = new std::unordered_map<std::uint32_t, TPageDocument*>;
  return *documents;
}

std::unordered_map<JSGlobalContextRef, TPageDocumentState*>& Contexts() {
  static auto* contexts = new std::unordered_map<JSGlobalContextRef, TPageDocumentState*>;
  return *contexts;
}

std::uint32_t NextDocumentId() {
  static std::uint32_t next = 0;
  return ++next;
}

bool ReadBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) return false;
  bytes = s.str();
  return true;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = AsciiToLower(c);
  return s;
}

// Script files of IE-era packages come as UTF-8 (with or without a mark),
// UTF-16 with a mark, or in the 8-bit code page.
std::string ScriptFileText(const std::string& bytes) {
  auto starts = [&](const char* mark, std::size_t n) { return bytes.compare(0, n, mark, n) == 0; };
  if (starts("\xEF\xBB\xBF", 3)) return bytes.substr(3);
  const bool le = starts("\xFF\xFE", 2);
  if (le || starts("\xFE\xFF", 2)) {
    std::string out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto b0 = static_cast<unsigned char>(bytes[i]);
      const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
      char32_t unit = le ? (b0 | (b1 << 8)) : ((b0 << 8) | b1);
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
        const auto c0 = static_cast<unsigned char>(bytes[i + 2]);
        const auto c1 = static_cast<unsigned char>(bytes[i + 3]);
        const char32_t low = le ? (c0 | (c1 << 8)) : ((c0 << 8) | c1);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      AppendUtf8(out, unit);
    }
    return out;
  }
  if (IsValidUtf8(bytes)) return bytes;
  std::string out;
  for (char c : bytes) AppendUtf8(out, Windows1252ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

std::string Attr(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return "";
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

bool HasAttr(xmlNode* node, const char* name) {
  return xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

std::string Content(xmlNode* node) {
  xmlChar* value = xmlNodeGetContent(node);
  if (!value) return "";
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

bool IsScriptType(xmlNode* node) {
  const std::string type = Lower(Attr(node, "type"));
  if (!type.empty() && type.find("javascript") == std::string::npos &&
      type.find("jscript") == std::string::npos && type.find("ecmascript") == std::string::npos) {
    return false;
  }
  const std::string language = Lower(Attr(node, "language"));
  return language.empty() || language.find("vbscript") == std::string::npos;
}

struct TPendingFrame {
  TPageDocument* frame;
  std::string url;
};

// Runs a document's content in document order while the parse tree lives.
class TDocumentWalk {
 public:
  explicit TDocumentWalk(TPageDocumentState& state) : state_(state) {}

  void Walk(xmlNode* node) {
    for (xmlNode* n = node; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE || !n->name) continue;
      const std::string tag = Lower(reinterpret_cast<const char*>(n->name));
      if (tag == "script") {
        RunScriptElement(n);
        continue;
      }
      if (tag == "iframe" || tag == "frame") {
        AddFrame(n, tag);
        continue;
      }
      const std::string id = Attr(n, "id");
      if (!id.empty() || tag == "body" || tag == "title") Register(n, tag, id, -1);
      if (tag == "body" && HasAttr(n, "onload")) {
        try {
          state_.api.CallMethod("setBodyOnload", {TScriptValue::String(Attr(n, "onload"))});
        } catch (const TScriptException& e) {
          state_.RecordError(state_.url + ":" + std::to_string(xmlGetLineNo(n)) +
                             ": body onload: " + e.Message());
        }
      }
      Walk(n->children);
    }
  }

  std::vector<TPendingFrame>& Frames() { return frames_; }

 private:
  void Register(xmlNode* n, const std::string& tag, const std::string& id, int frameIndex) {
    TPageDocument& doc = *state_.self;
    TScriptValue attrs = doc.NewObject();
    for (xmlAttr* a = n->properties; a; a = a->next) {
      if (!a->name) continue;
      attrs.Set(Lower(reinterpret_cast<const char*>(a->name)),
                TScriptValue::String(Attr(n, reinterpret_cast<const char*>(a->name))));
    }
    if (tag == "title") attrs.Set("text", TScriptValue::String(Content(n)));
    state_.api.CallMethod("addElement", {TScriptValue::String(id), TScriptValue::String(tag), attrs,
                                         TScriptValue::Number(frameIndex)});
  }

  void RunScriptElement(xmlNode* n) {
    if (!IsScriptType(n)) return;
    const int line = static_cast<int>(xmlGetLineNo(n));
    if (HasAttr(n, "src")) {
      const std::string src = Attr(n, "src");
      const std::string url = ResolveUrl(state_.url, src);
      const std::string path = PathOfFileUrl(url);
      if (path.empty()) {
        TLog::Debug("TPageDocument:script " + url + " of " + state_.url +
                    " not loaded (only local scripts are)");
        return;
      }
      std::string bytes;
      if (!ReadBytes(path, bytes)) {
        state_.RecordError(state_.url + ":" + std::to_string(line) + ": cannot read script " + url);
        return;
      }
      state_.RunScript(ScriptFileText(bytes), url, 1);
      return;
    }
    state_.RunScript(Content(n), state_.url, line);
  }

  void AddFrame(xmlNode* n, const std::string& tag) {
    auto frame = std::make_unique<TPageDocument>();
    TPageDocumentState& fs = frame->State();
    fs.parent = state_.self;
    fs.frameId = Attr(n, "id");
    const int index = static_cast<int>(state_.frames.size());
    TPageDocument* raw = frame.get();
    state_.frames.push_back(std::move(frame));
    Register(n, tag, fs.frameId, index);
    const std::string src = Attr(n, "src");
    frames_.push_back({raw, src.empty() ? std::string("about:blank") : ResolveUrl(state_.url, src)});
  }

  TPageDocumentState& state_;
  std::vector<TPendingFrame> frames_;
};

LRESULT DocumentWindowProc(std::uint32_t documentId, HWND wnd, UINT msg, WPARAM wParam,
                           LPARAM lParam) {
  TPageDocument* doc = TPageDocument::FromId(documentId);
  if (!doc) return DefWindowProc(wnd, msg, wParam, lParam);
  TPageDocumentState& s = doc->State();
  if (msg == WM_TIMER) {
    const auto it = s.timers.find(wParam);
    if (it == s.timers.end()) {
      KillTimer(wnd, wParam);
      return 0;
    }
    // Copied: the callback may clear or add timers.
    const TPageDocumentState::TTimer timer = it->second;
    if (!timer.repeat) {
      KillTimer(wnd, wParam);
      s.timers.erase(it);
    }
    if (timer.callback.IsFunction()) {
      s.CallRecorded(timer.callback, timer.args, "timer");
    } else {
      s.RunScript(timer.callback.ToString(), s.url, 1);
    }
    return 0;
  }
  if (msg == kRequestDoneMsg) {
    DeliverRequest(s, static_cast<std::uint32_t>(wParam));
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

// Builds a fresh global context with the window environment.
void NewContext(TPageDocumentState& s) {
  TScriptEngine& engine = TScriptEngine::Get();
  ++s.generation;
  s.context = JSGlobalContextCreateInGroup(engine.group, nullptr);
  Contexts()[s.context] = &s;
  TScriptEntry entry;
  TScriptValue natives = MakeEnvironmentNatives(*s.self);
  JSStringRef code = MakeJsString(EnvironmentScript());
  JSValueRef exception = nullptr;
  JSValueRef fn = JSEvaluateScript(s.context, code, nullptr, nullptr, 1, &exception);
  JSStringRelease(code);
  if (!fn || exception) ThrowScriptError(s.context, exception, "TPageDocument:window environment");
  s.api = TScriptValue::FromRaw(fn).Call({s.self->Window(), natives});
}

}  // namespace

// ---------------------------------------------------------------------------
// State

TPageDocumentState* TPageDocumentState::FromContext(JSContextRef ctx) {
  if (!ctx) return nullptr;
  const auto it = Contexts().find(JSContextGetGlobalContext(ctx));
  return it == Contexts().end() ? nullptr : it->second;
}

void TPageDocumentState::Unload() {
  for (const auto& [id, timer] : timers) {
    if (window) KillTimer(window, id);
  }
  timers.clear();
  for (auto& [id, request] : requests) CancelRequest(request.job);
  requests.clear();
  frames.clear();
  api = TScriptValue();
  if (!externalFixed) external = TScriptValue();
  externalResolved = false;
  if (context) {
    Contexts().erase(context);
    JSGlobalContextRelease(context);
    context = nullptr;
  }
  loaded = false;
  ++generation;
}

void TPageDocumentState::RecordError(const std::string& text) {
  const std::string line = "TPageDocument:script error in " + text;
  TLog::Warning(line);
  errors.push_back(line);
}

void TPageDocumentState::RunScript(const std::string& code, const std::string& sourceUrl, int line) {
  if (!context) return;
  TScriptEntry entry;
  JSStringRef script = MakeJsString(code);
  JSStringRef source = MakeJsString(sourceUrl);
  JSValueRef exception = nullptr;
  JSValueRef result = JSEvaluateScript(context, script, nullptr, source, line, &exception);
  JSStringRelease(script);
  JSStringRelease(source);
  if (!result || exception) {
    if (TScriptEngine::Get().struck) {
      RecordError(sourceUrl + ": script stopped by the time limit");
    } else {
      RecordError(DescribeScriptError(context, exception));
    }
  }
}

void TPageDocumentState::CallRecorded(const TScriptValue& fn, const std::vector<TScriptValue>& args,
                                      const std::string& what) {
  try {
    fn.Call(args, self->Window());
  } catch (const TScriptTimeoutException&) {
    RecordError(url + ": " + what + ": script stopped by the time limit");
  } catch (const TScriptException& e) {
    RecordError(e.Message());
  }
}

TPageDocument* TPageDocumentState::Top() {
  TPageDocument* doc = self;
  while (doc->State().parent) doc = doc->State().parent;
  return doc;
}

TScriptValue TPageDocumentState::ResolveExternal() {
  if (externalResolved) return external;
  TPageDocumentState* owner = this;
  while (!owner->externalFixed && !owner->provider && owner->parent) owner = &owner->parent->State();
  if (owner->externalFixed) {
    external = owner->external;
  } else if (owner->provider) {
    TPageDocument::TExternalProvider provider = owner->provider;
    external = provider(*self);
  } else {
    external = TScriptValue::Null();
  }
  externalResolved = true;
  return external;
}

void TPageDocumentState::EnsureWindow() {
  if (window && IsWindow(window)) return;
  const std::uint32_t documentId = id;
  window = CreateWindowObject(kWindowClass, [documentId](HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    return DocumentWindowProc(documentId, wnd, msg, w, l);
  });
  if (!window) throw TPageHostException("TPageDocument:cannot create the document's window");
}

// ---------------------------------------------------------------------------
// Document

TPageDocument::TPageDocument() : state_(std::make_unique<TPageDocumentState>()) {
  state_->self = this;
  state_->id = NextDocumentId();
  state_->link = std::make_shared<TDocLink>();
  state_->link->document = this;
  Documents()[state_->id] = this;
  NewContext(*state_);
}

TPageDocument::~TPageDocument() {
  state_->Unload();
  state_->link->document = nullptr;
  if (state_->window) DestroyWindowObject(state_->window);
  Documents().erase(state_->id);
}

std::uint32_t TPageDocument::Id() const { return state_->id; }

TPageDocument* TPageDocument::FromId(std::uint32_t id) {
  const auto it = Documents().find(id);
  return it == Documents().end() ? nullptr : it->second;
}

void TPageDocument::SetExternal(TScriptValue external) {
  state_->external = std::move(external);
  state_->externalFixed = true;
  state_->externalResolved = true;
}

void TPageDocument::SetExternalProvider(TExternalProvider provider) {
  state_->provider = std::move(provider);
  state_->externalFixed = false;
  state_->externalResolved = false;
  state_->external = TScriptValue();
}

namespace {

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

void LoadContent(TPageDocumentState& s, const std::string& bytes, const char* encoding,
                 const std::string& path, const std::string& url, HWND owner, UINT completeMsg) {
  if (s.loading) {
    throw TPageHostException("TPageDocument.Load:" + url + ":the document is still loading");
  }
  s.Unload();
  s.path = path;
  s.url = url;
  s.errors.clear();
  NewContext(s);
  s.loading = true;
  struct TLoadingFlag {
    TPageDocumentState& s;
    ~TLoadingFlag() { s.loading = false; }
  } loadingFlag{s};

  std::vector<TPendingFrame> frames;
  if (!bytes.empty()) {
    htmlDocPtr doc = htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url.c_str(),
                                    encoding,
                                    HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                                        HTML_PARSE_NOWARNING);
    if (doc) {
      TDocumentWalk walk(s);
      try {
        walk.Walk(xmlDocGetRootElement(doc));
      } catch (...) {
        xmlFreeDoc(doc);
        throw;
      }
      xmlFreeDoc(doc);
      frames = std::move(walk.Frames());
    }
  }
  // Frames finish loading before the page's own load event, as in a browser.
  for (const TPendingFrame& pending : frames) {
    TPageDocumentState& fs = pending.frame->State();
    const std::string framePath = PathOfFileUrl(pending.url);
    std::string frameBytes;
    if (!framePath.empty() && !ReadBytes(framePath, frameBytes)) {
      s.RecordError(s.url + ": cannot read frame " + pending.url);
    }
    try {
      LoadContent(fs, frameBytes, nullptr, framePath, pending.url, 0, 0);
    } catch (const TKException& e) {
      s.RecordError(s.url + ": frame " + pending.url + ": " + e.Message());
    }
  }
  try {
    const TScriptValue handlers = s.api.CallMethod("complete", {});
    const TScriptValue event = s.api.CallMethod("loadEvent", {});
    for (unsigned i = 0, n = handlers.Length(); i < n; ++i) {
      s.CallRecorded(handlers.At(i), {event}, "onload");
    }
  } catch (const TScriptException& e) {
    s.RecordError(s.url + ": onload: " + e.Message());
  }
  s.loaded = true;
  if (owner) PostMessage(owner, completeMsg, s.id, 0);
}

}  // namespace

void TPageDocument::Load(const std::string& path, HWND owner, UINT completeMsg) {
  const std::string full = AbsolutePath(path);
  std::string bytes;
  if (!ReadBytes(full, bytes) || std::filesystem::is_directory(full)) {
    throw TPageHostException("TPageDocument.Load:cannot read " + full);
  }
  LoadContent(*state_, bytes, nullptr, full, FileUrlOf(full), owner, completeMsg);
}

void TPageDocument::LoadHtml(const std::string& html, const std::string& path, HWND owner,
                             UINT completeMsg) {
  const std::string full = AbsolutePath(path);
  LoadContent(*state_, html, "UTF-8", full, FileUrlOf(full), owner, completeMsg);
}

bool TPageDocument::IsLoaded() const { return state_->loaded; }
std::string TPageDocument::Url() const { return state_->url; }
std::string TPageDocument::Path() const { return state_->path; }
const std::vector<std::string>& TPageDocument::ScriptErrors() const { return state_->errors; }
JSGlobalContextRef TPageDocument::Context() const { return state_->context; }
TPageDocument* TPageDocument::Parent() const { return state_->parent; }
std::string TPageDocument::FrameId() const { return state_->frameId; }

TScriptValue TPageDocument::Window() const {
  if (!state_->context) return TScriptValue();
  return TScriptValue::FromRaw(JSContextGetGlobalObject(state_->context));
}

TScriptValue TPageDocument::CallFunction(const std::string& name,
                                         const std::vector<TScriptValue>& args) {
  const TScriptValue window = Window();
  const TScriptValue fn = window.Get(name);
  if (!fn.IsFunction()) {
    throw TScriptException("TPageDocument.CallFunction:" + name + " is not a function in " +
                           state_->url);
  }
  return fn.Call(args, window);
}

TScriptValue TPageDocument::Evaluate(const std::string& code) {
  if (!state_->context) throw TPageHostException("TPageDocument.Evaluate:no context");
  TScriptEntry entry;
  JSStringRef script = MakeJsString(code);
  JSStringRef source = MakeJsString(state_->url);
  JSValueRef exception = nullptr;
  JSValueRef result = JSEvaluateScript(state_->context, script, nullptr, source, 1, &exception);
  JSStringRelease(script);
  JSStringRelease(source);
  if (!result || exception) ThrowScriptError(state_->context, exception, "");
  return TScriptValue::FromRaw(result);
}

TScriptValue TPageDocument::ParseJson(const std::string& json) {
  JSStringRef s = MakeJsString(json);
  JSValueRef value = JSValueMakeFromJSONString(state_->context, s);
  JSStringRelease(s);
  if (!value) throw TScriptException("TPageDocument.ParseJson:invalid JSON text");
  return TScriptValue::FromRaw(value);
}

TScriptValue TPageDocument::NewObject() {
  return TScriptValue::FromRaw(JSObjectMake(state_->context, nullptr, nullptr));
}

TScriptValue TPageDocument::NewArray(const std::vector<TScriptValue>& items) {
  std::vector<JSValueRef> raw;
  raw.reserve(items.size());
  for (const TScriptValue& v : items) {
    raw.push_back(v.Raw() ? v.Raw() : JSValueMakeUndefined(state_->context));
  }
  JSValueRef exception = nullptr;
  JSObjectRef array = JSObjectMakeArray(state_->context, raw.size(), raw.data(), &exception);
  if (!array) ThrowScriptError(state_->context, exception, "TPageDocument.NewArray");
  return TScriptValue::FromRaw(array);
}

TPageDocument* TPageDocument::FrameById(const std::string& id) {
  for (const auto& frame : state_->frames) {
    if (EqualsIgnoreCase(frame->State().frameId, id)) return frame.get();
    if (TPageDocument* found = frame->FrameById(id)) return found;
  }
  return nullptr;
}

std::vector<TPageDocument*> TPageDocument::Frames() const {
  std::vector<TPageDocument*> out;
  for (const auto& frame : state_->frames) out.push_back(frame.get());
  return out;
}

// ---------------------------------------------------------------------------
// URLs

std::string FileUrlOf(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == '%' || c == '#' || c == '?' || c == 0x7F) {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    } else {
      url += ch;
    }
  }
  return url;
}

std::string PathOfFileUrl(const std::string& url) {
  if (url.size() < 5 || !EqualsIgnoreCase(url.substr(0, 5), "file:")) return "";
  std::string rest = url.substr(5);
  const std::size_t cut = rest.find_first_of("?#");
  if (cut != std::string::npos) rest.resize(cut);
  if (rest.compare(0, 3, "///") == 0) {
    rest = rest.substr(2);
  } else if (rest.size() >= 12 && EqualsIgnoreCase(rest.substr(0, 12), "//localhost/")) {
    rest = rest.substr(11);
  } else if (rest.compare(0, 2, "//") == 0) {
    return "";  // a file on another machine
  }
  if (rest.empty() || rest[0] != '/') return "";
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    auto hex = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (rest[i] == '%' && i + 2 < rest.size() + 0 && hex(rest[i + 1]) >= 0 && hex(rest[i + 2]) >= 0) {
      path += static_cast<char>(hex(rest[i + 1]) * 16 + hex(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

namespace {

// Removes "." and ".." segments of a URL path ("/a/b/../c" -> "/a/c");
// ".." never climbs above the root.
std::string NormalizePath(const std::string& path) {
  std::vector<std::string> out;
  std::size_t start = 0;
  const bool trailing = !path.empty() && (path.back() == '/' ||
                                          (path.size() >= 2 && path.compare(path.size() - 2, 2, "/.") == 0) ||
                                          (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0));
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!out.empty()) out.pop_back();
    } else if (!seg.empty() && seg != ".") {
      out.push_back(seg);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& seg : out) result += "/" + seg;
  if (result.empty() || trailing) result += "/";
  return result;
}

bool HasScheme(const std::string& ref) {
  std::size_t i = 0;
  while (i < ref.size() && (std::isalnum(static_cast<unsigned char>(ref[i])) || ref[i] == '+' ||
                            ref[i] == '-' || ref[i] == '.')) {
    ++i;
  }
  return i >= 2 && i < ref.size() && ref[i] == ':' && std::isalpha(static_cast<unsigned char>(ref[0]));
}

}  // namespace

std::string ResolveUrl(const std::string& base, const std::string& refIn) {
  std::string ref = refIn;
  for (char& c : ref) {
    if (c == '\\') c = '/';  // IE accepts Windows separators in references
  }
  if (HasScheme(ref)) return ref;
  const std::size_t schemeEnd = base.find(':');
  if (schemeEnd == std::string::npos) return ref;
  const std::string scheme = base.substr(0, schemeEnd + 1);
  std::string rest = base.substr(schemeEnd + 1);
  std::string authority;
  if (rest.compare(0, 2, "//") == 0) {
    const std::size_t slash = rest.find_first_of("/?#", 2);
    authority = rest.substr(0, slash == std::string::npos ? rest.size() : slash);
    rest = slash == std::string::npos ? "" : rest.substr(slash);
  }
  std::string basePath = rest.substr(0, rest.find_first_of("?#"));
  const std::string baseQuery =
      rest.find('?') == std::string::npos ? "" : rest.substr(rest.find('?'), rest.find('#') - rest.find('?'));
  if (ref.compare(0, 2, "//") == 0) return scheme + ref;
  if (ref.empty()) return scheme + authority + basePath + baseQuery;
  if (ref[0] == '#') return scheme + authority + basePath + baseQuery + ref;
  if (ref[0] == '?') return scheme + authority + basePath + ref;
  std::string refPath = ref;
  std::string tail;
  const std::size_t cut = ref.find_first_of("?#");
  if (cut != std::string::npos) {
    refPath = ref.substr(0, cut);
    tail = ref.substr(cut);
  }
  std::string path;
  if (refPath[0] == '/') {
    path = refPath;
  } else {
    const std::size_t slash = basePath.rfind('/');
    path = (slash == std::string::npos ? "/" : basePath.substr(0, slash + 1)) + refPath;
  }
  return scheme + authority + NormalizePath(path) + tail;
}

}  // namespace kelvo
