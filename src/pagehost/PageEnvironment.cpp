// The least window environment of a document: mostly script (it is what
// pages see), over a few native functions for the log, timers, frames,
// window.external and requests.

#include <algorithm>
#include <cmath>

#include "foundation/Log.h"
#include "pagehost/PageHostInternal.h"

namespace kelvo {

namespace {

// What IE-era pages test for.
constexpr const char* kAppVersion = "4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0)";
constexpr const char* kPlatform = "Win32";

// The document of a native call when it is still at the load the natives
// were made for; null otherwise (a page kept a function of an earlier load).
TPageDocument* CurrentDocument(TScriptCall& call, std::uint64_t generation) {
  TPageDocument* document = call.Document();
  if (!document || document->State().generation != generation) return nullptr;
  return document;
}

}  // namespace

TScriptValue MakeEnvironmentNatives(TPageDocument& document) {
  TPageDocumentState& state = document.State();
  const std::uint64_t generation = state.generation;
  THostObject natives;
  natives
      .Method("log",
              [](TScriptCall& call) {
                const int level = call.Arg(0).ToInt32();
                const std::string text = "kelvo.sb:" + call.Arg(1).ToString();
                switch (level) {
                  case 0: TLog::Debug(text); break;
                  case 1: TLog::Info(text); break;
                  case 2: TLog::Warning(text); break;
                  default: TLog::Error(text); break;
                }
                return TScriptValue();
              })
      .Method("setTimer",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) return TScriptValue::Number(0);
                TPageDocumentState& s = doc->State();
                s.EnsureWindow();
                TPageDocumentState::TTimer timer;
                timer.callback = call.Arg(0);
                if (!timer.callback.IsFunction()) {
                  timer.callback = TScriptValue::String(call.Arg(0).ToString());
                }
                const TScriptValue args = call.Arg(2);
                for (unsigned i = 0, n = args.Length(); i < n; ++i) timer.args.push_back(args.At(i));
                timer.repeat = call.Arg(3).ToBool();
                double ms = call.Arg(1).ToNumber();
                if (!std::isfinite(ms) || ms < 10) ms = 10;  // the loop's least interval
                ms = std::min(ms, 2147483647.0);
                const std::uintptr_t id = s.nextTimer++;
                s.timers[id] = std::move(timer);
                if (!SetTimer(s.window, id, static_cast<std::uint32_t>(ms))) {
                  s.timers.erase(id);
                  throw TPageHostException("setTimeout:no timer available");
                }
                return TScriptValue::Number(static_cast<double>(id));
              })
      .Method("clearTimer",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) return TScriptValue();
                TPageDocumentState& s = doc->State();
                const double d = call.Arg(0).ToNumber();
                if (!(d >= 1)) return TScriptValue();
                const auto id = static_cast<std::uintptr_t>(d);
                if (s.timers.erase(id) && s.window) KillTimer(s.window, id);
                return TScriptValue();
              })
      .Method("external",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) return TScriptValue::Null();
                return doc->State().ResolveExternal();
              })
      .Method("frameWindow",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) return TScriptValue::Null();
                const double d = call.Arg(0).ToNumber();
                const auto& frames = doc->State().frames;
                if (!(d >= 0) || d >= static_cast<double>(frames.size())) return TScriptValue::Null();
                return frames[static_cast<std::size_t>(d)]->Window();
              })
      .Method("request",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) throw TPageHostException("XMLHttpRequest:the page has been unloaded");
                return StartRequest(*doc, call);
              })
      .Method("abortRequest",
              [generation](TScriptCall& call) {
                TPageDocument* doc = CurrentDocument(call, generation);
                if (!doc) return TScriptValue();
                auto& requests = doc->State().requests;
                const auto it = requests.find(static_cast<std::uint32_t>(call.Arg(0).ToNumber()));
                if (it != requests.end()) {
                  CancelRequest(it->second.job);
                  requests.erase(it);
                }
                return TScriptValue();
              })
      .Property("url", TScriptValue::String(state.url))
      .Property("appVersion", TScriptValue::String(kAppVersion))
      .Property("platform", TScriptValue::String(kPlatform))
      .Property("language", TScriptValue::String("en-us"));
  if (state.parent) {
    natives.Property("parent", state.parent->Window());
    natives.Property("top", state.Top()->Window());
  }
  return natives.Make(document);
}

const char* EnvironmentScript() {
  return R"JS((function (g, n) {
  g.window = g;
  g.self = g;
  g.parent = n.parent || g;
  g.top = n.top || g;
  g.opener = null;
  g.closed = false;
  g.name = '';

  var loc = (function (url) {
    var m = /^([a-zA-Z][a-zA-Z0-9+.\-]*:)(\/\/([^\/?#]*))?([^?#]*)(\?[^#]*)?(#.*)?$/.exec(url) || [];
    var host = m[3] || '';
    return {
      href: url, protocol: m[1] || '', host: host, hostname: host.replace(/:\d+$/, ''),
      port: (/:(\d+)$/.exec(host) || ['', ''])[1], pathname: m[4] || '', search: m[5] || '',
      hash: m[6] || ''
    };
  })(n.url);
  loc.toString = function () { return this.href; };
  loc.reload = function () {};
  loc.assign = loc.replace = function (url) {
    n.log(0, 'location change to ' + url + ' ignored');
  };
  g.location = loc;

  var nav = {
    appName: 'Microsoft Internet Explorer', appCodeName: 'Mozilla', appVersion: n.appVersion,
    userAgent: 'Mozilla/' + n.appVersion, platform: n.platform, language: n.language,
    userLanguage: n.language, browserLanguage: n.language, systemLanguage: n.language,
    cookieEnabled: true, onLine: true, javaEnabled: function () { return false; }
  };
  g.navigator = nav;
  g.clientInformation = nav;
  g.screen = { width: 1024, height: 768, availWidth: 1024, availHeight: 768, colorDepth: 32 };

  function text(args) {
    var parts = [];
    for (var i = 0; i < args.length; i++) parts.push(String(args[i]));
    return parts.join(' ');
  }
  g.alert = function (m) { n.log(2, 'alert:' + String(m)); };
  g.confirm = function (m) { n.log(2, 'confirm:' + String(m)); return false; };
  g.prompt = function (m) { n.log(2, 'prompt:' + String(m)); return null; };
  g.console = {
    log: function () { n.log(0, text(arguments)); },
    debug: function () { n.log(0, text(arguments)); },
    info: function () { n.log(1, text(arguments)); },
    warn: function () { n.log(2, text(arguments)); },
    error: function () { n.log(3, text(arguments)); }
  };

  var slice = Array.prototype.slice;
  g.setTimeout = function (code, ms) {
    return n.setTimer(code, Number(ms) || 0, slice.call(arguments, 2), false);
  };
  g.setInterval = function (code, ms) {
    return n.setTimer(code, Number(ms) || 0, slice.call(arguments, 2), true);
  };
  g.clearTimeout = g.clearInterval = function (id) { if (id) n.clearTimer(Number(id)); };

  Object.defineProperty(g, 'external', {
    get: function () { return n.external(); }, configurable: true
  });

  function Request() {
    this.readyState = 0; this.status = 0; this.statusText = ''; this.responseText = '';
    this.responseXML = null; this.onreadystatechange = null; this.onload = null;
    this.onerror = null; this._headers = []; this._responseHeaders = ''; this._id = 0;
  }
  Request.prototype._fire = function () {
    if (typeof this.onreadystatechange === 'function') {
      this.onreadystatechange({ type: 'readystatechange', target: this });
    }
  };
  Request.prototype.open = function (method, url, async) {
    this._method = String(method).toUpperCase();
    this._url = String(url);
    this._async = async === undefined ? true : !!async;
    this._headers = [];
    this._aborted = false;
    this.readyState = 1;
    this._fire();
  };
  Request.prototype.setRequestHeader = function (name, value) {
    this._headers.push([String(name), String(value)]);
  };
  Request.prototype.send = function (body) {
    if (this.readyState !== 1) throw new Error('XMLHttpRequest.send: the request is not open');
    var self = this;
    this._id = n.request(this._method, this._url, this._headers,
                         body === undefined || body === null ? '' : String(body), this._async,
                         function (status, statusText, text, headers, error) {
                           self._done(status, statusText, text, headers, error);
                         });
  };
  Request.prototype._done = function (status, statusText, text, headers, error) {
    if (this._aborted) return;
    this.status = status; this.statusText = statusText; this.responseText = text;
    this._responseHeaders = headers; this.readyState = 4;
    this._fire();
    if (error) {
      if (typeof this.onerror === 'function') this.onerror({ type: 'error', target: this });
    } else if (typeof this.onload === 'function') {
      this.onload({ type: 'load', target: this });
    }
  };
  Request.prototype.abort = function () {
    this._aborted = true;
    if (this._id) n.abortRequest(this._id);
    this.readyState = 0;
  };
  Request.prototype.getAllResponseHeaders = function () { return this._responseHeaders; };
  Request.prototype.getResponseHeader = function (name) {
    var lines = this._responseHeaders.split(/\r?\n/), wanted = String(name).toLowerCase();
    for (var i = 0; i < lines.length; i++) {
      var colon = lines[i].indexOf(':');
      if (colon > 0 && lines[i].substr(0, colon).toLowerCase() === wanted) {
        return lines[i].substr(colon + 1).replace(/^\s+|\s+$/g, '');
      }
    }
    return null;
  };
  g.XMLHttpRequest = Request;
  g.ActiveXObject = function (progId) {
    if (/xmlhttp/i.test(String(progId))) return new Request();
    throw new Error("Automation server can't create object");
  };

  var listeners = {};
  function listen(type, fn) {
    if (typeof fn !== 'function') return;
    (listeners[type] = listeners[type] || []).push(fn);
  }
  function unlisten(type, fn) {
    var list = listeners[type] || [];
    for (var i = list.length - 1; i >= 0; i--) if (list[i] === fn) list.splice(i, 1);
  }
  g.addEventListener = function (type, fn) { listen(String(type), fn); };
  g.removeEventListener = function (type, fn) { unlisten(String(type), fn); };
  g.attachEvent = function (type, fn) { listen(String(type).replace(/^on/, ''), fn); return true; };
  g.detachEvent = function (type, fn) { unlisten(String(type).replace(/^on/, ''), fn); };

  var all = [], byId = {}, byIdLower = {}, frames = [];
  function element(id, tag, attrs) {
    var el = {
      id: id, tagName: tag.toUpperCase(), nodeName: tag.toUpperCase(), nodeType: 1, style: {},
      getAttribute: function (name) {
        var v = attrs[String(name).toLowerCase()];
        return v === undefined ? null : v;
      },
      setAttribute: function (name, value) { attrs[String(name).toLowerCase()] = String(value); },
      appendChild: function (child) { return child; },
      removeChild: function (child) { return child; }
    };
    for (var k in attrs) {
      if (attrs.hasOwnProperty(k) && k !== 'style' && k.substr(0, 2) !== 'on' && !(k in el)) {
        el[k === 'class' ? 'className' : k] = attrs[k];
      }
    }
    return el;
  }
  var doc = {
    readyState: 'loading', parentWindow: g, defaultView: g, URL: n.url, location: loc,
    title: '', cookie: '', domain: '', referrer: '', documentMode: 8, compatMode: 'CSS1Compat',
    nodeType: 9, body: element('', 'body', {}), documentElement: element('', 'html', {}),
    getElementById: function (id) {
      id = String(id);
      if (byId.hasOwnProperty(id)) return byId[id];
      var lower = id.toLowerCase();
      return byIdLower.hasOwnProperty(lower) ? byIdLower[lower] : null;
    },
    getElementsByTagName: function (tag) {
      tag = String(tag).toUpperCase();
      var out = [];
      for (var i = 0; i < all.length; i++) if (tag === '*' || all[i].tagName === tag) out.push(all[i]);
      return out;
    },
    createElement: function (tag) { return element('', String(tag), {}); },
    attachEvent: function () { return true; }, detachEvent: function () {},
    addEventListener: function () {}, removeEventListener: function () {}
  };
  g.document = doc;
  g.frames = frames;

  return {
    addElement: function (id, tag, attrs, frameIndex) {
      var el = element(id, tag, attrs);
      if (frameIndex >= 0) {
        Object.defineProperty(el, 'contentWindow', {
          get: function () { return n.frameWindow(frameIndex); }
        });
        Object.defineProperty(el, 'contentDocument', {
          get: function () { var w = n.frameWindow(frameIndex); return w ? w.document : null; }
        });
        Object.defineProperty(frames, frameIndex, {
          get: function () { return n.frameWindow(frameIndex); }, enumerable: true
        });
        var name = attrs.name || id;
        if (name && !/^\d+$/.test(name) && !(name in frames)) {
          Object.defineProperty(frames, name, { get: function () { return n.frameWindow(frameIndex); } });
        }
      }
      all.push(el);
      if (id) {
        if (!byId.hasOwnProperty(id)) byId[id] = el;
        var lower = id.toLowerCase();
        if (!byIdLower.hasOwnProperty(lower)) byIdLower[lower] = el;
      }
      if (tag === 'title') doc.title = attrs.text || '';
      if (tag === 'body') doc.body = el;
    },
    setBodyOnload: function (code) { g.onload = new Function('event', code); },
    complete: function () {
      doc.readyState = 'complete';
      var list = [];
      if (typeof g.onload === 'function') list.push(g.onload);
      return list.concat(listeners.load || []);
    },
    loadEvent: function () { return { type: 'load', target: g, srcElement: null }; }
  };
}))JS";
}

}  // namespace kelvo
