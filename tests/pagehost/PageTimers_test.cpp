// Timers of the pages on the message loop, and the time limit that stops
// a looping page without stopping the agent.

#include <gtest/gtest.h>

#include "PageTestSupport.h"

namespace kelvo {
namespace {

using test::PageTest;

TEST_F(PageTest, TimeoutsAndIntervalsWithFunctionsAndCodeText) {
  TPageDocument doc;
  doc.LoadHtml(R"P(<script>
var log = [];
setTimeout("log.push('text:' + typeof window)", 10);
setTimeout(function (a, b) { log.push('fn:' + a + b + ':' + (this === window)); }, 20, 'x', 'y');
var cancelled = setTimeout(function () { log.push('cancelled'); }, 10);
clearTimeout(cancelled);
var ticks = 0;
var every = setInterval(function () { if (++ticks === 3) { clearInterval(every); log.push('stopped'); } }, 10);
setTimeout(function () { throw new Error('timer failure'); }, 10);
setTimeout(function () { log.push('after failure'); }, 30);
var ids = [cancelled, every];
</script>)P", home_.Sub("pages/timers.html"));
  // Nothing runs before the loop does.
  EXPECT_EQ(doc.Evaluate("log.length").ToInt32(), 0);
  ASSERT_TRUE(WaitFor([&] { return doc.Evaluate("log.length").ToInt32() >= 4; }))
      << doc.Evaluate("log.join()").ToString();
  PumpMessages(60);
  const std::string log = doc.Evaluate("log.sort().join()").ToString();
  EXPECT_EQ(log, "after failure,fn:xy:true,stopped,text:object");
  EXPECT_EQ(doc.Evaluate("ticks").ToInt32(), 3);
  EXPECT_GT(doc.Evaluate("ids[0]").ToInt32(), 0);
  ASSERT_EQ(doc.ScriptErrors().size(), 1u);
  EXPECT_NE(doc.ScriptErrors()[0].find("timer failure"), std::string::npos);
}

TEST_F(PageTest, TimersEndWithTheirDocument) {
  auto doc = std::make_unique<TPageDocument>();
  const TScriptValue window = doc->Window();
  doc->Evaluate("var n = 0; setInterval(function () { n++; }, 10); setTimeout('n = 100', 10);");
  doc.reset();
  PumpMessages(60);
  EXPECT_EQ(window.Get("n").ToInt32(), 0);
}

class PageTimeLimitTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    TPageHost::OverrideTimeLimit(0.3);
  }
};

TEST_F(PageTimeLimitTest, ALoopingPageIsStoppedLoggedAndTheRestGoesOn) {
  const unsigned strikes = TPageHost::TimeLimitStrikes();
  TPageDocument doc;
  doc.LoadHtml(R"P(<script>var before = 1;</script>
<script>for (;;) {}</script>
<script>var after = 2;
function spin() { while (true) {} }
function guarded() { try { for (;;) {} } catch (e) { return 'caught'; } }
function fine() { return 'fine'; }
setTimeout(spin, 10);
setTimeout(function () { window.later = 'ran'; }, 50);
</script>)P", home_.Sub("pages/loop.html"));
  EXPECT_EQ(Global(doc, "before"), "1");
  EXPECT_EQ(Global(doc, "after"), "2");
  ASSERT_FALSE(doc.ScriptErrors().empty());
  EXPECT_NE(doc.ScriptErrors()[0].find("time limit"), std::string::npos) << doc.ScriptErrors()[0];
  EXPECT_NE(LogText().find("TPageHost:script stopped by the time limit (0.3 s) in file://" +
                           home_.Sub("pages/loop.html")),
            std::string::npos);

  EXPECT_THROW(doc.CallFunction("spin", {}), TScriptTimeoutException);
  // The stop cannot be caught by the page.
  EXPECT_THROW(doc.CallFunction("guarded", {}), TScriptTimeoutException);
  EXPECT_EQ(doc.CallFunction("fine", {}).ToString(), "fine");
  // A looping timer is stopped too; the next timer still runs.
  ASSERT_TRUE(WaitFor([&] { return Global(doc, "later") == "ran"; }));
  EXPECT_GE(TPageHost::TimeLimitStrikes(), strikes + 4);
}

TEST_F(PageTimeLimitTest, AHostMethodCannotCarryAStoppedPageOn) {
  TPageDocument doc;
  doc.SetExternalProvider([](TPageDocument& d) {
    return THostObject()
        .Method("callBack",
                [&d](TScriptCall&) { return d.CallFunction("spin", {}); })
        .Make(d);
  });
  doc.LoadHtml(R"P(<script>
function spin() { for (;;) {} }
function outer() {
  try { external.callBack(); } catch (e) { }
  for (;;) {}
}
</script>)P", home_.Sub("pages/nested.html"));
  EXPECT_THROW(doc.CallFunction("outer", {}), TScriptTimeoutException);
}

TEST_F(PageTest, TheTimeLimitComesFromTheSettings) {
  EXPECT_EQ(TPageHost::TimeLimitSeconds(), TPageHost::kDefaultTimeLimitSeconds);
  TConfig::WriteValue("", "script-time-limit", "3");
  TPageHost::ReloadSettings();
  EXPECT_EQ(TPageHost::TimeLimitSeconds(), 3);
  for (const char* bad : {"0", "-2", "soon"}) {
    TConfig::WriteValue("", "script-time-limit", bad);
    TPageHost::ReloadSettings();
    EXPECT_EQ(TPageHost::TimeLimitSeconds(), TPageHost::kDefaultTimeLimitSeconds) << bad;
  }
}

}  // namespace
}  // namespace kelvo
