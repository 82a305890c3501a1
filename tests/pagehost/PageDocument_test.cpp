// Loading pages: script order, frames, load events, the completion message,
// script errors and the window environment.

#include <gtest/gtest.h>

#include <vector>

#include "PageTestSupport.h"

namespace kelvo {
namespace {

using test::PageTest;

struct TPosted {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// A window that records what it is posted.
class TRecorder {
 public:
  TRecorder() {
    wnd_ = CreateWindowObject("PageTestRecorder", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) {
      if (m >= WM_USER) posted_.push_back({m, wp, lp});
      return DefWindowProc(w, m, wp, lp);
    });
  }
  ~TRecorder() { DestroyWindowObject(wnd_); }
  HWND Wnd() const { return wnd_; }
  const std::vector<TPosted>& Posted() const { return posted_; }

 private:
  HWND wnd_ = 0;
  std::vector<TPosted> posted_;
};

constexpr UINT kCompleteMsg = WM_USER + 77;

TEST_F(PageTest, ScriptsRunInDocumentOrderThenLoadHandlersThenTheCompletionIsPosted) {
  Page("js/lib.js", "order.push('src:' + document.readyState);\nfunction libFn() { return 'lib'; }");
  const std::string path = Page("main.html", R"P(<html><head>
<script>var order = ['head'];</script>
<script src="js/lib.js"></script>
<script type="text/vbscript">order.push('vb');</script>
</head>
<body onload="order.push('body-onload:' + document.readyState)">
<script language="JavaScript">order.push('body:' + libFn());
  window.attachEvent('onload', function () { order.push('attached'); });
  window.addEventListener('load', function (e) { order.push('listener:' + e.type); });
</script>
</body></html>)P");
  TRecorder owner;
  TPageDocument doc;
  doc.Load(path, owner.Wnd(), kCompleteMsg);

  EXPECT_TRUE(doc.IsLoaded());
  EXPECT_EQ(doc.Url(), "file://" + path);
  EXPECT_EQ(doc.Evaluate("order.join(',')").ToString(),
            "head,src:loading,body:lib,body-onload:complete,attached,listener:load");
  EXPECT_TRUE(doc.ScriptErrors().empty());
  // Posted, not sent: nothing arrives before the loop runs.
  EXPECT_TRUE(owner.Posted().empty());
  ASSERT_TRUE(WaitFor([&] { return !owner.Posted().empty(); }));
  EXPECT_EQ(owner.Posted()[0].msg, kCompleteMsg);
  EXPECT_EQ(owner.Posted()[0].wParam, doc.Id());
  EXPECT_EQ(TPageDocument::FromId(doc.Id()), &doc);
}

TEST_F(PageTest, AMissingPageRaisesAndPostsNothing) {
  TRecorder owner;
  TPageDocument doc;
  EXPECT_THROW(doc.Load(home_.Sub("pages/none.html"), owner.Wnd(), kCompleteMsg),
               TPageHostException);
  EXPECT_THROW(doc.Load(home_.Sub(""), owner.Wnd(), kCompleteMsg), TPageHostException);
  PumpMessages(30);
  EXPECT_TRUE(owner.Posted().empty());
  EXPECT_FALSE(doc.IsLoaded());
}

TEST_F(PageTest, ScriptErrorsAreLoggedWithTheirPlaceAndTheLoadGoesOn) {
  const std::string path = Page("errors.html", R"P(<html><head>
<script>var reached = [];</script>
<script>
  reached.push(1);
  undefinedFunction();
</script>
<script>this is not script</script>
<script src="missing.js"></script>
<script>reached.push(2); window.onload = function () { throw new Error('in onload'); };</script>
</head><body></body></html>)P");
  TPageDocument doc;
  doc.Load(path);
  EXPECT_EQ(doc.Evaluate("reached.join()").ToString(), "1,2");
  const auto& errors = doc.ScriptErrors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(errors[0].rfind("TPageDocument:script error in file://" + path + ":5: ", 0), 0u)
      << errors[0];
  EXPECT_NE(errors[0].find("undefinedFunction"), std::string::npos);
  EXPECT_NE(errors[1].find("SyntaxError"), std::string::npos);
  EXPECT_NE(errors[2].find("cannot read script file://" + home_.Sub("pages/missing.js")),
            std::string::npos);
  EXPECT_NE(errors[3].find("in onload"), std::string::npos);
  EXPECT_NE(LogText().find(errors[0]), std::string::npos);
  EXPECT_TRUE(doc.IsLoaded());
}

TEST_F(PageTest, CallingPageFunctionsByName) {
  const std::string path = Page("calls.html", R"P(<script>
function add(a, b) { return a + b; }
function fail(text) { throw new Error(text); }
var notAFunction = 3;
</script>)P");
  TPageDocument doc;
  doc.Load(path);
  EXPECT_EQ(doc.CallFunction("add", {TScriptValue::Number(2), TScriptValue::Number(3)}).ToNumber(), 5);
  EXPECT_EQ(doc.CallFunction("add", {TScriptValue::String("a"), TScriptValue::String("é")})
                .ToString(),
            "aé");
  try {
    doc.CallFunction("fail", {TScriptValue::String("broken receiver")});
    FAIL() << "no exception";
  } catch (const TScriptException& e) {
    EXPECT_NE(std::string(e.what()).find("broken receiver"), std::string::npos) << e.what();
  }
  EXPECT_THROW(doc.CallFunction("missing", {}), TScriptException);
  EXPECT_THROW(doc.CallFunction("notAFunction", {}), TScriptException);
  // A failed call leaves the document usable.
  EXPECT_EQ(doc.CallFunction("add", {TScriptValue::Number(1), TScriptValue::Number(1)}).ToInt32(), 2);
}

TEST_F(PageTest, FramesAreFoundByElementIdDepthFirstAndLoadBeforeTheirParentsOnload) {
  Page("inner.html", R"P(<script>var name = 'inner'; parent.parent.log.push('inner');</script>)P");
  Page("sub/frame1.html", R"P(<body><iframe id="Deep" src="../inner.html"></iframe>
<script>var name = 'frame1'; parent.log.push('frame1:' + (top === parent));</script></body>)P");
  Page("frame2.html", R"P(<script>var name = 'frame2';</script>)P");
  const std::string path = Page("frames.html", R"P(<html><body>
<script>var log = [];</script>
<iframe id="first" src="sub/frame1.html"></iframe>
<div id="box"><iframe id="second" name="two" src="frame2.html"></iframe></div>
<iframe id="blank"></iframe>
<iframe id="remote" src="http://127.0.0.1:9/page.html"></iframe>
<script>log.push('script:' + (document.getElementById('first').contentWindow !== null));
window.onload = function () { log.push('onload:' + frames.length); };</script>
</body></html>)P");
  TPageDocument doc;
  doc.Load(path);
  EXPECT_TRUE(doc.ScriptErrors().empty()) << doc.ScriptErrors()[0];
  // A frame runs its own scripts before its frames load, all before the top onload.
  EXPECT_EQ(doc.Evaluate("log.join()").ToString(), "script:true,frame1:true,inner,onload:4");

  struct TCase {
    const char* id;
    const char* name;  // of the frame's window; "" for an empty frame
  } cases[] = {{"first", "frame1"}, {"SECOND", "frame2"}, {"deep", "inner"}, {"blank", ""}};
  for (const TCase& c : cases) {
    TPageDocument* frame = doc.FrameById(c.id);
    ASSERT_NE(frame, nullptr) << c.id;
    EXPECT_EQ(frame->Window().Get("name").ToString(), c.name) << c.id;
  }
  EXPECT_EQ(doc.FrameById("box"), nullptr);  // not a frame
  EXPECT_EQ(doc.FrameById("nothing"), nullptr);
  EXPECT_EQ(doc.FrameById("deep")->Parent(), doc.FrameById("first"));
  EXPECT_EQ(doc.FrameById("remote")->Url(), "http://127.0.0.1:9/page.html");

  // The page sees the same windows through its own document.
  EXPECT_TRUE(doc.Evaluate("document.getElementById('second').contentWindow")
                  .StrictEquals(doc.FrameById("second")->Window()));
  EXPECT_TRUE(doc.Evaluate("frames['two']").StrictEquals(doc.FrameById("second")->Window()));
  EXPECT_TRUE(doc.FrameById("deep")->Evaluate("top").StrictEquals(doc.Window()));
  EXPECT_EQ(doc.Evaluate("document.getElementById('BOX').tagName").ToString(), "DIV");
  EXPECT_TRUE(doc.Evaluate("document.getElementById('none')").IsNull());
}

TEST_F(PageTest, TheWindowEnvironment) {
  const std::string path = Page("env dir/env.html", R"P(<html><head><title>T</title></head><body>
<script>
var checks = {
  window: window === this && self === window && parent === window && top === window,
  parentWindow: document.parentWindow === window,
  protocol: location.protocol, pathname: location.pathname, href: String(location),
  appVersion: navigator.appVersion, platform: clientInformation.platform,
  title: document.title
};
alert('hello from the page');
console.warn('careful', 1);
</script></body></html>)P");
  TPageDocument doc;
  doc.Load(path);
  const TScriptValue checks = doc.Window().Get("checks");
  EXPECT_TRUE(checks.Get("window").ToBool());
  EXPECT_TRUE(checks.Get("parentWindow").ToBool());
  EXPECT_EQ(checks.Get("protocol").ToString(), "file:");
  EXPECT_EQ(checks.Get("pathname").ToString(), home_.Sub("pages/env%20dir/env.html"));
  EXPECT_EQ(checks.Get("href").ToString(), "file://" + home_.Sub("pages/env%20dir/env.html"));
  EXPECT_NE(checks.Get("appVersion").ToString().find("MSIE"), std::string::npos);
  EXPECT_EQ(checks.Get("platform").ToString(), "Win32");
  EXPECT_EQ(checks.Get("title").ToString(), "T");
  EXPECT_EQ(doc.Path(), home_.Sub("pages/env dir/env.html"));
  const std::string log = LogText();
  EXPECT_NE(log.find("kelvo.sb:alert:hello from the page"), std::string::npos);
  EXPECT_NE(log.find("kelvo.sb:careful 1"), std::string::npos);
}

// Pages of the package come in the encodings IE read: the 8-bit code page
// named by a meta element, and UTF-16 with a byte-order mark.
TEST_F(PageTest, PageEncodingsReachScriptAsText) {
  const std::string latin = Page("latin.html",
                                 "<html><head><meta http-equiv=\"Content-Type\" "
                                 "content=\"text/html; charset=windows-1252\">"
                                 "<script>var t = 'caf\xE9 \x80';</script></head></html>");
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<html><script>var t = 'x\xC3\xA9';</script></html>")) {
    utf16 += c;
    utf16 += '\0';
  }
  // "é" as UTF-16: fix the two bytes of its UTF-8 form written above.
  const std::size_t at = utf16.find("\xC3\0\xA9\0", 0, 4);
  ASSERT_NE(at, std::string::npos);
  utf16.replace(at, 4, std::string("\xE9\0", 2));
  const std::string wide = Page("wide.html", utf16);
  Page("latin.js", "var s = 'na\xEFve';");
  const std::string withScript = Page("script.html", "<script src=\"latin.js\"></script>");

  TPageDocument doc;
  doc.Load(latin);
  EXPECT_EQ(Global(doc, "t"), "caf\xC3\xA9 \xE2\x82\xAC");
  doc.Load(wide);
  EXPECT_EQ(Global(doc, "t"), "x\xC3\xA9");
  doc.Load(withScript);
  EXPECT_EQ(Global(doc, "s"), "na\xC3\xAFve");
}

TEST_F(PageTest, ALaterLoadStartsAFreshWindow) {
  const std::string first = Page("one.html", "<script>var kept = 1; setInterval('ticks++', 10); var ticks = 0;</script>");
  const std::string second = Page("two.html", "<script>var other = 2;</script>");
  TPageDocument doc;
  doc.Load(first);
  const TScriptValue oldWindow = doc.Window();
  doc.Load(second);
  EXPECT_TRUE(doc.Window().Get("kept").IsUndefined());
  EXPECT_EQ(doc.Window().Get("other").ToInt32(), 2);
  EXPECT_FALSE(oldWindow.StrictEquals(doc.Window()));
  // The first page's interval went with it; its window is still readable.
  const int ticks = oldWindow.Get("ticks").ToInt32();
  PumpMessages(60);
  EXPECT_EQ(oldWindow.Get("ticks").ToInt32(), ticks);
  EXPECT_EQ(oldWindow.Get("kept").ToInt32(), 1);
}

// displaySidebar-like navigation: a page's call makes its own document
// load another page; the rest of the old page's script must not reach the
// new page.
TEST_F(PageTest, APageCanMakeItsOwnDocumentLoadAnotherPage) {
  const std::string next = Page("next.html", "<script>var page = 'next';</script>");
  TRecorder owner;
  TPageDocument doc;
  doc.SetExternalProvider([&](TPageDocument& d) {
    return THostObject()
        .Method("displaySidebar",
                [&](TScriptCall& call) {
                  call.Document()->Load(next, owner.Wnd(), kCompleteMsg);
                  return TScriptValue();
                })
        .Method("reload",
                [&](TScriptCall& call) {
                  call.Document()->Load(next);
                  return TScriptValue();
                })
        .Make(d);
  });
  doc.LoadHtml(R"P(<script>
var page = 'first';
external.reload();
</script>)P", home_.Sub("pages/first.html"));
  // Loading again while the page is still loading is refused, as a script error.
  ASSERT_EQ(doc.ScriptErrors().size(), 1u);
  EXPECT_NE(doc.ScriptErrors()[0].find("still loading"), std::string::npos);
  EXPECT_EQ(Global(doc, "page"), "first");

  doc.Evaluate("function go() { external.displaySidebar(); page = 'old'; "
               "return setTimeout(function () { page = 'timer'; }, 10); }");
  const TScriptValue oldWindow = doc.Window();
  EXPECT_EQ(doc.CallFunction("go", {}).ToInt32(), 0);  // no timer for a page that is gone
  EXPECT_EQ(Global(doc, "page"), "next");
  EXPECT_EQ(oldWindow.Get("page").ToString(), "old");
  ASSERT_TRUE(WaitFor([&] { return !owner.Posted().empty(); }));
  PumpMessages(40);
  EXPECT_EQ(Global(doc, "page"), "next");
  EXPECT_EQ(doc.Url(), "file://" + next);
}

}  // namespace
}  // namespace kelvo
