// window.external and other host objects: arguments as script passes them,
// failures towards script, one external object per load, objects that
// cross documents and outlive them.

#include <gtest/gtest.h>

#include <JavaScriptCore/JavaScript.h>

#include "PageTestSupport.h"

namespace kelvo {
namespace {

using test::PageTest;

TEST_F(PageTest, ExternalMethodsTakeArraysAndObjectsAsTheyAreAndFailTowardsScript) {
  std::vector<std::string> shifted;
  TPageDocument doc;
  doc.SetExternalProvider([&](TPageDocument& d) {
    return THostObject()
        .Method("setKeyValue",
                [&](TScriptCall& call) {
                  const TScriptValue params = call.Arg(0);
                  if (!params.IsArray()) throw TKException("not an array");
                  shifted.push_back(params.Shift().ToString());
                  shifted.push_back(params.Shift().ToString());
                  return TScriptValue::Null();
                })
        .Method("echoJson", [](TScriptCall& call) { return TScriptValue::String(call.Arg(0).ToJson()); })
        .Method("count", [](TScriptCall& call) { return TScriptValue::Number(call.Count()); })
        .Method("isDocument",
                [&d](TScriptCall& call) { return TScriptValue::Bool(call.Document() == &d); })
        .Method("plainFailure", [](TScriptCall&) -> TScriptValue { throw std::runtime_error("plain"); })
        .Property("kind", TScriptValue::String("bridge"))
        .Make(d);
  });
  doc.LoadHtml(R"P(<script>
var params = ['k', 'v', 'rest'];
var r = window.external.setKeyValue(params);
var left = params.join();
var json = external.echoJson({a: [1, 'é'], b: null});
var counts = external.count() + ',' + external.count(1, 2, 3);
var same = window.external === window.external;
var kind = external.kind, ofDoc = external.isDocument();
var caught = '';
try { external.setKeyValue('k'); } catch (e) { caught = (e instanceof Error) + ':' + e.message; }
var plain = '';
try { external.plainFailure(); } catch (e) { plain = e.message; }
</script>)P", home_.Sub("pages/ext.html"));
  ASSERT_TRUE(doc.ScriptErrors().empty()) << doc.ScriptErrors()[0];
  EXPECT_EQ(shifted, (std::vector<std::string>{"k", "v"}));
  EXPECT_EQ(Global(doc, "left"), "rest");  // the caller's array lost its first two
  EXPECT_TRUE(doc.Window().Get("r").IsNull());
  EXPECT_EQ(Global(doc, "json"), "{\"a\":[1,\"é\"],\"b\":null}");
  EXPECT_EQ(Global(doc, "counts"), "0,3");
  EXPECT_EQ(Global(doc, "same"), "true");
  EXPECT_EQ(Global(doc, "kind"), "bridge");
  EXPECT_EQ(Global(doc, "ofDoc"), "true");
  EXPECT_EQ(Global(doc, "caught"), "true:not an array");
  EXPECT_EQ(Global(doc, "plain"), "plain");
}

TEST_F(PageTest, TheProviderIsAskedOncePerLoadAndFramesShareTheTopDocumentsProvider) {
  int asked = 0;
  std::vector<std::string> askedBy;
  Page("frame.html", "<script>var fromFrame = external.serial;</script>");
  const std::string path = Page("top.html", R"P(<iframe id="f" src="frame.html"></iframe>
<script>var a = external.serial, b = external.serial;</script>)P");
  TPageDocument doc;
  doc.SetExternalProvider([&](TPageDocument& d) {
    ++asked;
    askedBy.push_back(d.FrameId());
    return THostObject().Property("serial", TScriptValue::Number(asked)).Make(d);
  });
  doc.Load(path);
  EXPECT_EQ(Global(doc, "a"), "1");
  EXPECT_EQ(Global(doc, "b"), "1");
  EXPECT_EQ(doc.FrameById("f")->Window().Get("fromFrame").ToInt32(), 2);
  EXPECT_EQ(askedBy, (std::vector<std::string>{"", "f"}));
  doc.Load(path);
  EXPECT_EQ(Global(doc, "a"), "3");

  // A fixed external object is the same for every load.
  TPageDocument fixed;
  const TScriptValue object = fixed.NewObject();
  object.Set("name", TScriptValue::String("fixed"));
  fixed.SetExternal(object);
  fixed.LoadHtml("<script>var n = external.name;</script>", home_.Sub("pages/a.html"));
  EXPECT_EQ(Global(fixed, "n"), "fixed");
  fixed.LoadHtml("<script>var n = external.name + '2';</script>", home_.Sub("pages/b.html"));
  EXPECT_EQ(Global(fixed, "n"), "fixed2");

  // Without any, the page sees null.
  TPageDocument none;
  none.LoadHtml("<script>var isNull = window.external === null;</script>", home_.Sub("pages/c.html"));
  EXPECT_EQ(Global(none, "isNull"), "true");
}

TEST_F(PageTest, ObjectsMadeByOneDocumentWorkInAnother) {
  TPageDocument services;
  services.LoadHtml(R"P(<script>
var label = 'services';
function Observer() { this.seen = []; }
Observer.prototype.notifyObservers = function (topic, data) {
  this.seen.push(topic + '/' + data + '@' + label);
  return this.seen.length;
};
function loadServices() { return { observer: new Observer(), list: [1, 2, 3] }; }
</script>)P", home_.Sub("pages/services.html"));
  TPageDocument sidebar;
  sidebar.LoadHtml(R"P(<script>
var label = 'sidebar';
function kservicesInit(svc) {
  return svc.observer.notifyObservers('init', label) + ':' + Array.isArray(svc.list) + ':' +
         (svc.list instanceof Array) + ':' + svc.list.length;
}
</script>)P", home_.Sub("pages/sidebar.html"));
  const TScriptValue svc = services.CallFunction("loadServices", {});
  // Both see their own globals: the method runs with the services page's label.
  EXPECT_EQ(sidebar.CallFunction("kservicesInit", {svc}).ToString(), "1:true:false:3");
  EXPECT_EQ(svc.Get("observer").CallMethod("notifyObservers",
                                           {TScriptValue::String("app.quit"), TScriptValue::String("")})
                .ToInt32(),
            2);
  EXPECT_EQ(svc.Get("observer").Get("seen").ToJson(),
            "[\"init/sidebar@services\",\"app.quit/@services\"]");
  EXPECT_TRUE(svc.Get("list").IsArray());
}

TEST_F(PageTest, KeptObjectsOutliveTheirDocumentAndTheCollector) {
  TScriptValue kept;
  TScriptValue hostFn;
  TPageDocument* seenDocument = reinterpret_cast<TPageDocument*>(1);
  {
    TPageDocument doc;
    doc.LoadHtml(R"P(<script>
function makeReceiver() {
  var count = 0, big = [];
  for (var i = 0; i < 1000; i++) big.push({i: i, text: 'x' + i});
  return { setIFrame: function (w) { count++; return count + ':' + big[999].text; } };
}
</script>)P", home_.Sub("pages/recv.html"));
    kept = doc.CallFunction("makeReceiver", {});
    hostFn = THostObject::Function(doc, "probe", [&](TScriptCall& call) {
      seenDocument = call.Document();
      return TScriptValue::Number(7);
    });
  }
  // Garbage the collector could take if the receiver were not protected.
  for (int round = 0; round < 3; ++round) {
    TPageDocument churn;
    churn.Evaluate("var junk = []; for (var i = 0; i < 20000; i++) junk.push({v: i});");
    JSGarbageCollect(churn.Context());
  }
  EXPECT_EQ(kept.CallMethod("setIFrame", {TScriptValue::Null()}).ToString(), "1:x999");
  EXPECT_EQ(kept.CallMethod("setIFrame", {TScriptValue::Null()}).ToString(), "2:x999");
  // A host function of a gone document still answers, without a document.
  EXPECT_EQ(hostFn.Call({}).ToInt32(), 7);
  EXPECT_EQ(seenDocument, nullptr);

  // Copies share the value; the last one lets it go.
  TScriptValue copy = kept;
  kept = TScriptValue();
  EXPECT_EQ(copy.CallMethod("setIFrame", {}).ToString(), "3:x999");
  TScriptValue moved = std::move(copy);
  EXPECT_TRUE(copy.IsUndefined());
  EXPECT_TRUE(moved.IsObject());
}

TEST_F(PageTest, ScriptValueConversions) {
  TPageDocument doc;
  struct TCase {
    const char* code;
    const char* text;
    double number;
    std::int32_t int32;
    bool boolean;
  } cases[] = {
      {"'12'", "12", 12, 12, true},
      {"''", "", 0, 0, false},
      {"-1.5", "-1.5", -1.5, -1, true},
      {"4294967297", "4294967297", 4294967297.0, 1, true},
      {"null", "null", 0, 0, false},
      {"true", "true", 1, 1, true},
      {"({toString: function () { return '7'; }})", "7", 7, 7, true},
  };
  for (const TCase& c : cases) {
    const TScriptValue v = doc.Evaluate(std::string("(") + c.code + ")");
    EXPECT_EQ(v.ToString(), c.text) << c.code;
    EXPECT_EQ(v.ToNumber(), c.number) << c.code;
    EXPECT_EQ(v.ToInt32(), c.int32) << c.code;
    EXPECT_EQ(v.ToBool(), c.boolean) << c.code;
  }
  EXPECT_TRUE(doc.Evaluate("undefined").IsUndefined());
  EXPECT_EQ(TScriptValue().ToInt32(), 0);  // NaN
  // Text beyond the first plane, and bytes that are not UTF-8 (read as the
  // 8-bit code page would show them).
  EXPECT_EQ(TScriptValue::String("\xF0\x9F\x98\x80").Length(), 0u);  // a primitive has no length
  const TScriptValue smiley = TScriptValue::String("a\xF0\x9F\x98\x80");
  doc.Window().Set("s", smiley);
  EXPECT_EQ(doc.Evaluate("s.length").ToInt32(), 3);
  EXPECT_EQ(smiley.ToString(), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(TScriptValue::String("\x80\xE9").ToString(), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(doc.Evaluate("'\\ud800x'").ToString(), "\xEF\xBF\xBDx");
  EXPECT_EQ(TScriptValue::String(std::string("a\0b", 3)).ToString(), std::string("a\0b", 3));

  const TScriptValue parsed = doc.ParseJson("{\"list\":[1,2],\"name\":\"n\"}");
  EXPECT_TRUE(parsed.Get("list").IsArray());
  EXPECT_EQ(parsed.Get("list").Length(), 2u);
  EXPECT_EQ(parsed.Get("list").At(1).ToInt32(), 2);
  EXPECT_TRUE(parsed.Get("missing").IsUndefined());
  EXPECT_THROW(doc.ParseJson("{bad"), TScriptException);
  EXPECT_THROW(TScriptValue::FromJson("[1,"), TScriptException);
  EXPECT_EQ(doc.NewArray({TScriptValue::Number(1), TScriptValue::String("b")}).ToJson(), "[1,\"b\"]");
  EXPECT_THROW(TScriptValue::String("x").Shift(), TScriptException);
  EXPECT_THROW(TScriptValue::Number(1).Set("a", TScriptValue()), TScriptException);
  EXPECT_THROW(doc.Evaluate("({toString: function () { throw new Error('no text'); }})").ToString(),
               TScriptException);
  EXPECT_TRUE(doc.Evaluate("[]").Shift().IsUndefined());
  EXPECT_TRUE(TScriptValue::Undefined().Get("x").IsUndefined());
}

}  // namespace
}  // namespace kelvo
