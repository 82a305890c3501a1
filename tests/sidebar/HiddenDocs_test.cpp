// The hidden service documents on the real page host: the default package's
// pages and small pages written for one behaviour each, loaded from the
// sidebar code folder of a temporary HOME; the server-request page talking
// to the reference link server.

#include "sidebar/HiddenDocs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "ChainTestSupport.h"
#include "LinkServer.h"
#include "foundation/Identification.h"
#include "server/PostedText.h"
#include "server/ServerUrls.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::PumpUntil;
using test::ReadFileText;
using test::WriteFileText;

constexpr const char* kPackageDir = KELVO_SOURCE_DIR "/sidebar-package";

class HiddenDocsTest : public test::ChainTest {
 protected:
  void TearDown() override {
    THiddenDocuments::FreeInstance();
    test::ChainTest::TearDown();
  }
  std::string Code() const { return TConfig::SBPath(); }
  // The repository's default pages as the unpacked sidebar code.
  void InstallDefaultPackage() {
    fs::create_directories(Code());
    fs::copy(kPackageDir, Code(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  void WritePage(const std::string& name, const std::string& script) {
    WriteFileText(Code() + name,
                  "<html><head><script type=\"text/javascript\">" + script +
                      "</script></head><body></body></html>");
  }
  // Loads the documents one after the other as the agent's state reactions do.
  void LoadAll(THiddenDocuments& docs) {
    ASSERT_TRUE(docs.LoadAjaxDoc());
    ASSERT_TRUE(PumpUntil([&] { return StateAdded(asAjaxDocOK); })) << Log();
    ASSERT_TRUE(docs.LoadServicesDoc());
    ASSERT_TRUE(PumpUntil([&] { return StateAdded(asSbManagers1OK); })) << Log();
    ASSERT_TRUE(docs.StartEventAndMemoDocs());
    ASSERT_TRUE(PumpUntil([&] { return StateAdded(asSbManagers2OK); })) << Log();
  }
};

TEST_F(HiddenDocsTest, DefaultPackageLoadsInOrderAndTellsObserversOfTheQuit) {
  InstallDefaultPackage();
  THiddenDocuments docs;
  LoadAll(docs);
  EXPECT_EQ(added_, (std::vector<TAppState>{asAjaxDocOK, asSbManagers1OK, asSbManagers2OK}));
  for (auto kind : {THiddenDocuments::kAjaxDoc, THiddenDocuments::kServicesDoc,
                    THiddenDocuments::kEventMgrDoc, THiddenDocuments::kMemoMgrDoc}) {
    EXPECT_TRUE(docs.Window(kind).IsObject()) << kind;
    EXPECT_TRUE(docs.Document(kind)->ScriptErrors().empty()) << kind;
  }
  TScriptValue services = docs.GetGlobalObject();
  ASSERT_TRUE(services.IsObject());
  // Another document sees the same services object (a sidebar page would).
  EXPECT_TRUE(services.StrictEquals(docs.Window(THiddenDocuments::kServicesDoc)
                                        .CallMethod("loadServices", {})));

  std::vector<std::string> heard;
  TPageDocument& page = *docs.Document(THiddenDocuments::kEventMgrDoc);
  TScriptValue listener = THostObject::Function(page, "listener", [&](TScriptCall& call) {
    heard.push_back(call.Arg(0).ToString() + "|" + call.Arg(1).ToString());
    return TScriptValue();
  });
  services.Get("observer").CallMethod("addObserver", {TScriptValue::String("app.quit"), listener});
  docs.NotifyAppQuit();
  EXPECT_EQ(heard, (std::vector<std::string>{"app.quit|"}));
  EXPECT_TRUE(Logged("kelvo.sb:services:notifyObservers:app.quit (1)"));

  // The default event and memo managers.
  TScriptValue em = docs.GetEventMgr();
  EXPECT_TRUE(em.Get("fire").IsFunction());
  TIdentification::SetIdentity("someone", "secret12");
  TScriptValue memo = docs.GetMemoMgr();
  EXPECT_EQ(memo.Get("login").ToString(), "someone");
  EXPECT_EQ(memo.Get("password").ToString(), "secret12");
}

TEST_F(HiddenDocsTest, MissingDocumentsStopWithTheirErrorLine) {
  struct {
    THiddenDocuments::TKind kind;
    const char* folderLine;
    const char* fileLine;
  } cases[] = {
      {THiddenDocuments::kAjaxDoc, "InitIEAjaxDoc:IE Ajax directory not found:",
       "InitIEAjaxDoc:IE Ajax doc not found:"},
      {THiddenDocuments::kServicesDoc, "InitKServicesDoc:KServices directory not found:",
       "InitKServicesDoc:Global object doc not found:"},
      {THiddenDocuments::kEventMgrDoc, "InitEventMgrDoc:Sidebar directory not found:",
       "InitEventMgrDoc:Event Mgr doc not found:"},
      {THiddenDocuments::kMemoMgrDoc, "InitMemoMgrDoc:Sidebar directory not found:",
       "InitMemoMgrDoc:Memo Mgr doc not found:"},
  };
  auto load = [](THiddenDocuments& docs, THiddenDocuments::TKind kind) {
    switch (kind) {
      case THiddenDocuments::kAjaxDoc: return docs.LoadAjaxDoc();
      case THiddenDocuments::kServicesDoc: return docs.LoadServicesDoc();
      default: return docs.StartEventAndMemoDocs();
    }
  };
  for (const auto& c : cases) {
    fs::remove_all(Code());
    {
      THiddenDocuments docs;
      EXPECT_FALSE(load(docs, c.kind));
      EXPECT_FALSE(docs.Started(c.kind));
    }
    std::string folder = c.kind == THiddenDocuments::kServicesDoc ? Code() + "js/services/" : Code();
    EXPECT_TRUE(Logged(c.folderLine + folder)) << c.folderLine;

    InstallDefaultPackage();
    fs::remove(THiddenDocuments::DocumentPath(c.kind));
    THiddenDocuments docs;
    EXPECT_FALSE(load(docs, c.kind));
    EXPECT_FALSE(docs.Started(c.kind));
    EXPECT_TRUE(Logged(c.fileLine + THiddenDocuments::DocumentPath(c.kind))) << c.fileLine;
    PumpMessages(20);
  }
  // Only the memo document's flag, from the round without the event
  // document: the memo document does not wait for it.
  EXPECT_EQ(added_, (std::vector<TAppState>{asSbManagers2OK}));
  // Without its document a bridge call fails instead of answering.
  THiddenDocuments docs;
  EXPECT_THROW(docs.GetEventMgr(), TPageHostException);
  EXPECT_THROW(docs.GetMemoMgr(), TPageHostException);
  EXPECT_THROW(docs.KelvoAjaxRequest({}), TPageHostException);
  EXPECT_TRUE(docs.GetKServicesIFrameWindowById("x").IsNull());
  docs.NotifyAppQuit();  // no services object: nothing to tell
}

TEST_F(HiddenDocsTest, CompletionRunsOncePerDocument) {
  InstallDefaultPackage();
  WritePage("js/services/hiddenIFrame.html",
            "var calls = 0; function loadServices() { calls++; return {observer: {}}; }");
  THiddenDocuments docs;
  LoadAll(docs);
  TScriptValue window = docs.Window(THiddenDocuments::kServicesDoc);
  // A second completion of the same document changes nothing.
  PostMessage(docs.Handle(), THiddenDocuments::KM_HIDDEN_DOC_COMPLETE,
              docs.Document(THiddenDocuments::kServicesDoc)->Id(), 0);
  PumpMessages(20);
  EXPECT_EQ(window.Get("calls").ToInt32(), 1);
  EXPECT_TRUE(window.StrictEquals(docs.Window(THiddenDocuments::kServicesDoc)));
  // Starting documents again loads nothing new.
  EXPECT_TRUE(docs.LoadServicesDoc());
  EXPECT_TRUE(docs.StartEventAndMemoDocs());
  PumpMessages(20);
  EXPECT_EQ(docs.Window(THiddenDocuments::kServicesDoc).Get("calls").ToInt32(), 1);
}

TEST_F(HiddenDocsTest, FailingLoadServicesIsLoggedAndAddsNoFlag) {
  InstallDefaultPackage();
  WritePage("js/services/hiddenIFrame.html", "function loadServices() { throw new Error('broken'); }");
  THiddenDocuments docs;
  ASSERT_TRUE(docs.LoadServicesDoc());
  ASSERT_TRUE(PumpUntil([&] { return Logged("TKelvoFrm.KServicesDocWBDocumentComplete"); }));
  EXPECT_FALSE(StateAdded(asSbManagers1OK));
  EXPECT_TRUE(docs.GetGlobalObject().IsUndefined());
}

TEST_F(HiddenDocsTest, BridgeReachesIntoTheDocuments) {
  InstallDefaultPackage();
  WritePage("emDoc.html", "var asked = 0; function getEventMgr() { asked++; return {n: asked}; }");
  WritePage("memoDoc.html",
            "var made = 0, inits = [];"
            "function getMemoMgr(login, password) { made++;"
            "  return {login: login, password: password,"
            "          init: function (l, p, x) { inits.push([l, p, x === null].join('|')); }}; }");
  WritePage("IEAjaxDoc.html",
            "var got = null, ajax = null;"
            "function doKelvoAjaxRequest() { got = [];"
            "  for (var i = 0; i < arguments.length; i++)"
            "    got.push(arguments[i] === undefined ? 'undefined' : String(arguments[i]));"
            "  got = got.join(','); }"
            "function doAjaxRequest(method, params) { ajax = method + ':' + params.url; return 7; }");
  WriteFileText(Code() + "js/services/hiddenIFrame.html",
                "<html><head><script>function loadServices() { return {observer: {}}; }</script>"
                "</head><body><iframe id=\"Inner\" src=\"inner.html\"></iframe></body></html>");
  WriteFileText(Code() + "js/services/inner.html",
                "<html><head><script>var whoami = 'inner';</script></head><body></body></html>");
  THiddenDocuments docs;
  LoadAll(docs);

  // getEventMgr is asked anew at every call.
  EXPECT_EQ(docs.GetEventMgr().Get("n").ToInt32(), 1);
  EXPECT_EQ(docs.GetEventMgr().Get("n").ToInt32(), 2);

  // The memo manager is made once with the stored account, then re-initialised
  // with the account as it is at each call.
  TIdentification::SetIdentity("first1", "pass111");
  TScriptValue memo = docs.GetMemoMgr();
  EXPECT_EQ(memo.Get("login").ToString(), "first1");
  TIdentification::SetIdentity("second2", "");
  TScriptValue again = docs.GetMemoMgr();
  EXPECT_TRUE(again.StrictEquals(memo));
  TScriptValue memoWindow = docs.Window(THiddenDocuments::kMemoMgrDoc);
  EXPECT_EQ(memoWindow.Get("made").ToInt32(), 1);
  EXPECT_EQ(memoWindow.Get("inits").ToJson(), R"(["second2||true"])");

  // Fewer than eight arguments are filled up with empty values; more are cut.
  TScriptValue ajaxWindow = docs.Window(THiddenDocuments::kAjaxDoc);
  docs.KelvoAjaxRequest({TScriptValue::String("u"), TScriptValue::Number(2), TScriptValue::Null()});
  EXPECT_EQ(ajaxWindow.Get("got").ToString(),
            "u,2,null,undefined,undefined,undefined,undefined,undefined");
  std::vector<TScriptValue> ten;
  for (int i = 1; i <= 10; ++i) ten.push_back(TScriptValue::Number(i));
  docs.KelvoAjaxRequest(ten);
  EXPECT_EQ(ajaxWindow.Get("got").ToString(), "1,2,3,4,5,6,7,8");

  TPageDocument& services = *docs.Document(THiddenDocuments::kServicesDoc);
  EXPECT_EQ(docs.AjaxRequest(TScriptValue::String("GET"), services.ParseJson(R"({"url":"x"})"))
                .ToInt32(),
            7);
  EXPECT_EQ(ajaxWindow.Get("ajax").ToString(), "GET:x");

  EXPECT_EQ(docs.GetKServicesIFrameWindowById("inner").Get("whoami").ToString(), "inner");
  EXPECT_TRUE(docs.GetKServicesIFrameWindowById("nothing").IsNull());
}

TEST_F(HiddenDocsTest, EventAndMemoDocumentsLogThroughTheirExternal) {
  InstallDefaultPackage();
  WritePage("emDoc.html",
            "window.external.logError('em broke');"
            "window.external.logInfo('em info');"
            "window.external.logWarning('em warning');"
            "var kv = window.external.setKeyValue(['k', 'v']);"
            "var same = window.external === window.external;"
            "function getEventMgr() { return {}; }");
  THiddenDocuments docs;
  ASSERT_TRUE(docs.StartEventAndMemoDocs());
  ASSERT_TRUE(PumpUntil([&] { return StateAdded(asSbManagers2OK); }));
  std::string log = Log();
  EXPECT_NE(log.find(" err] em broke"), std::string::npos) << log;
  EXPECT_NE(log.find(" dbg] em info"), std::string::npos);
  EXPECT_NE(log.find(" dbg] em warning"), std::string::npos);
  TScriptValue window = docs.Window(THiddenDocuments::kEventMgrDoc);
  EXPECT_TRUE(window.Get("kv").IsUndefined());
  EXPECT_TRUE(window.Get("same").ToBool());
  EXPECT_EQ(TConfig::ReadValue("", "error-logged"), "1");
}

// The default server-request page over the reference link server: the answer
// comes back as the requested message with its own text and the status.
TEST_F(HiddenDocsTest, ServerRequestPageAnswersThroughQueryCallback) {
  InstallDefaultPackage();
  linkserver::TLinkServer server(home_->Sub("links.db"));
  server.Start(0);
  struct TAnswer {
    UINT msg;
    std::string text;
    LPARAM status;
  };
  std::vector<TAnswer> answers;
  HWND receiver = CreateWindowObject("TTestReceiver", [&](HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m >= WM_USER + 500) {
      answers.push_back({m, TPostedText::Take(w), l});
      return LRESULT{0};
    }
    return DefWindowProc(h, m, w, l);
  });
  THiddenDocuments docs;
  ASSERT_TRUE(docs.LoadAjaxDoc());
  ASSERT_TRUE(PumpUntil([&] { return StateAdded(asAjaxDocOK); }));
  TScriptValue window = docs.Window(THiddenDocuments::kAjaxDoc);
  window.CallMethod("doGet", {TScriptValue::String(server.BaseUrl() + "download/ie/update.txt"),
                              TScriptValue::Number(receiver), TScriptValue::Number(WM_USER + 501)});
  window.CallMethod("doPost",
                    {TScriptValue::String(server.ScriptUrl()), TScriptValue::String("script"),
                     TScriptValue::String("<not-a-script/>"), TScriptValue::Number(receiver),
                     TScriptValue::Number(WM_USER + 502)});
  window.CallMethod("doGet", {TScriptValue::String("http://127.0.0.1:1/none"),
                              TScriptValue::Number(receiver), TScriptValue::Number(WM_USER + 503)});
  ASSERT_TRUE(PumpUntil([&] { return answers.size() == 3; })) << Log();
  for (const auto& a : answers) {
    if (a.msg == WM_USER + 501) {
      EXPECT_EQ(a.text.rfind("version=", 0), 0u) << a.text;
      EXPECT_EQ(a.status, 1);
    } else if (a.msg == WM_USER + 502) {
      EXPECT_FALSE(a.text.empty());
    } else {
      EXPECT_NE(a.text.find("<error"), std::string::npos) << a.text;
      EXPECT_EQ(a.status, 0);
    }
  }
  DestroyWindowObject(receiver);
  server.Stop();
}

}  // namespace
}  // namespace kelvo
