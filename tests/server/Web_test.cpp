// The HTTP transport against loopback servers started by the tests: what
// goes on the wire, what reaches the requesting windows, and how failed
// exchanges are answered.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/XmlTools.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"
#include "server/AjaxRequestExtIf.h"
#include "server/PostedText.h"
#include "server/ServerUrls.h"
#include "server/Web.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

constexpr UINT kSyncResponse = WM_USER + 35;
constexpr UINT kUpdateInfo = WM_USER + 116;

struct TAnswer {
  UINT message = 0;
  std::string text;
  LPARAM status = -1;
};

// A window that takes the text of every message it receives, as the
// requesters do.
class TReceiver {
 public:
  TReceiver() {
    wnd_ = CreateWindowObject("TestReceiver", [this](HWND w, UINT msg, WPARAM wp, LPARAM lp) {
      if (msg >= WM_USER && msg < WM_APP) {
        answers_.push_back({msg, TPostedText::Take(wp), lp});
        return LRESULT{0};
      }
      return DefWindowProc(w, msg, wp, lp);
    });
  }
  ~TReceiver() {
    if (IsWindow(wnd_)) DestroyWindowObject(wnd_);
  }
  HWND Handle() const { return wnd_; }
  const std::vector<TAnswer>& Answers() const { return answers_; }

 private:
  HWND wnd_ = 0;
  std::vector<TAnswer> answers_;
};

// Runs the message loop until the condition holds or the deadline passes.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    PumpMessages(20);
  }
  return true;
}

std::string FormDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The request as the loopback server saw it.
struct TSeen {
  std::string method;
  std::string path;
  std::string query;
  std::string contentType;
  std::string body;
};

// A cpp-httplib server on a free loopback port, on its own thread.
class TLoopbackServer {
 public:
  using THandler = std::function<void(const httplib::Request&, httplib::Response&)>;

  explicit TLoopbackServer(THandler handler) : handler_(std::move(handler)) {
    auto record = [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(m_);
        std::string query;
        for (const auto& [k, v] : req.params) query += (query.empty() ? "" : "&") + k + "=" + v;
        seen_.push_back({req.method, req.path, query, req.get_header_value("Content-Type"),
                         req.body});
      }
      handler_(req, res);
    };
    server_.Post(".*", record);
    server_.Get(".*", record);
    // The socket listens from here on: requests wait in its backlog until
    // the accept loop runs.
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TLoopbackServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<TSeen> Seen() {
    std::lock_guard<std::mutex> lock(m_);
    return seen_;
  }

 private:
  THandler handler_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex m_;
  std::vector<TSeen> seen_;
};

// A loopback TCP socket bound to a free port; listening (the kernel accepts
// connections into the backlog, nobody ever answers) or not (connections
// are refused).
class TRawSocket {
 public:
  explicit TRawSocket(bool listening) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (listening) listen(fd_, 8);
  }
  ~TRawSocket() { close(fd_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/linkserver"; }
  bool Ok() const { return port_ != 0; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A proxy of the environment must not stand between us and loopback.
    setenv("no_proxy", "127.0.0.1", 1);
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::WriteValue("", "http-timeout", "1");
  }
  void TearDown() override {
    TWeb::Shutdown();
    TPostedText::Clear();
    SetRegistry(nullptr);
  }

  test::TTestHome home_;
};

// The error element of an answer document, checked to parse as the
// requesters parse it.
std::string ErrorReason(const std::string& text) {
  TXmlDocument doc = MakeFromString(text);
  TXmlNode error = SelectSingleNode(doc, "//error");
  if (!error) return "<no error element>";
  return GetAttr(error, "reason");
}

TEST_F(WebTest, PostSendsTheScriptAsTheFormParameterEncodedOnce) {
  TLoopbackServer server([](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"(<?xml version="1.0" encoding="utf-8"?><answer>ok</answer>)", "text/xml");
  });
  // Non-ASCII, the form's own delimiters and a percent sign: each must
  // arrive as its UTF-8 bytes percent-encoded exactly once.
  const std::string script =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><server-script><a name=\"Caf\xC3\xA9 & "
      "co\">x+y=50% \xE2\x82\xAC</a></server-script>";
  TReceiver receiver;
  TWeb::doPost(server.Url("/linkserver"), "script", script, receiver.Handle(), kSyncResponse);
  ASSERT_TRUE(PumpUntil([&] { return !receiver.Answers().empty(); }));

  const auto seen = server.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/linkserver");
  EXPECT_EQ(seen[0].contentType.rfind("application/x-www-form-urlencoded", 0), 0u)
      << seen[0].contentType;
  EXPECT_EQ(seen[0].body,
            "script=%3C%3Fxml%20version%3D%221.0%22%20encoding%3D%22utf-8%22%3F%3E"
            "%3Cserver-script%3E%3Ca%20name%3D%22Caf%C3%A9%20%26%20co%22%3E"
            "x%2By%3D50%25%20%E2%82%AC%3C%2Fa%3E%3C%2Fserver-script%3E");
  EXPECT_EQ(FormDecode(seen[0].body), "script=" + script);

  ASSERT_EQ(receiver.Answers().size(), 1u);
  EXPECT_EQ(receiver.Answers()[0].message, kSyncResponse);
  EXPECT_EQ(receiver.Answers()[0].status, 1);
  EXPECT_EQ(ValueOf(MakeFromString(receiver.Answers()[0].text), "//answer"), "ok");
  EXPECT_EQ(TPostedText::Count(), 0u);
}

TEST_F(WebTest, AnswersForTwoWindowsQueuedBackToBackKeepTheirOwnTexts) {
  TLoopbackServer server([](const httplib::Request& req, httplib::Response& res) {
    res.set_content("answer to " + req.get_param_value("script"), "text/plain");
  });
  TReceiver first;
  TReceiver second;
  TWeb::doPost(server.Url("/linkserver"), "script", "first", first.Handle(), kSyncResponse);
  TWeb::doPost(server.Url("/linkserver"), "script", "second", second.Handle(), kSyncResponse);
  // Both answers are posted before either window reads its message.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (TWeb::Outstanding() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(TWeb::Outstanding(), 0u);
  EXPECT_EQ(TPostedText::Count(), 2u);

  ASSERT_TRUE(PumpUntil([&] { return !first.Answers().empty() && !second.Answers().empty(); }));
  PumpMessages(0);
  ASSERT_EQ(first.Answers().size(), 1u);
  ASSERT_EQ(second.Answers().size(), 1u);
  EXPECT_EQ(first.Answers()[0].text, "answer to first");
  EXPECT_EQ(second.Answers()[0].text, "answer to second");
  EXPECT_EQ(first.Answers()[0].status, 1);
  EXPECT_EQ(second.Answers()[0].status, 1);
  EXPECT_EQ(TPostedText::Count(), 0u);
}

TEST_F(WebTest, HttpStatusDecidesTheStatusAndTheBodyIsDeliveredEither) {
  struct TCase {
    int code;
    LPARAM status;
  };
  const TCase cases[] = {{200, 1}, {201, 1}, {299, 1}, {404, 0}, {500, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.code);
    TLoopbackServer server([&](const httplib::Request&, httplib::Response& res) {
      res.status = c.code;
      res.set_content("<body code=\"" + std::to_string(c.code) + "\"/>", "text/xml");
    });
    TReceiver receiver;
    TWeb::doPost(server.Url("/linkserver"), "script", "s", receiver.Handle(), kSyncResponse);
    ASSERT_TRUE(PumpUntil([&] { return !receiver.Answers().empty(); }));
    EXPECT_EQ(receiver.Answers()[0].status, c.status);
    EXPECT_EQ(receiver.Answers()[0].text, "<body code=\"" + std::to_string(c.code) + "\"/>");
  }
}

TEST_F(WebTest, GetFetchesTheAddressWithItsQuery) {
  TLoopbackServer server([](const httplib::Request&, httplib::Response& res) {
    res.set_content("version=1.2.3.4\r\nurl=http://example.invalid/setup\r\n", "text/plain");
  });
  TReceiver receiver;
  TWeb::doGet(server.Url("/download/ie/update.txt?lang=fr"), receiver.Handle(), kUpdateInfo);
  ASSERT_TRUE(PumpUntil([&] { return !receiver.Answers().empty(); }));
  const auto seen = server.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[0].path, "/download/ie/update.txt");
  EXPECT_EQ(seen[0].query, "lang=fr");
  EXPECT_EQ(receiver.Answers()[0].message, kUpdateInfo);
  EXPECT_EQ(receiver.Answers()[0].status, 1);
  EXPECT_EQ(receiver.Answers()[0].text, "version=1.2.3.4\r\nurl=http://example.invalid/setup\r\n");
}

TEST_F(WebTest, ServerThatNeverAnswersGivesTheErrorDocumentAfterTheTimeout) {
  TRawSocket silent(/*listening=*/true);
  ASSERT_TRUE(silent.Ok());
  TReceiver receiver;
  TWeb::doPost(silent.Url(), "script", "s", receiver.Handle(), kSyncResponse);
  // Well under the 30-second default: the shortened setting is what ends it.
  ASSERT_TRUE(PumpUntil([&] { return !receiver.Answers().empty(); }, 15s));
  EXPECT_EQ(receiver.Answers()[0].status, 0);
  EXPECT_EQ(ErrorReason(receiver.Answers()[0].text), "timeout") << receiver.Answers()[0].text;
}

TEST_F(WebTest, FailedExchangesAnswerTheErrorDocumentAtOnce) {
  // The default time-out: none of these may wait for it.
  TConfig::DeleteValue("", "http-timeout");
  TRawSocket closed(/*listening=*/false);
  ASSERT_TRUE(closed.Ok());
  struct TCase {
    std::string address;
    const char* reason;
  };
  const TCase cases[] = {
      {closed.Url(), "refused"},
      // Only HTTP: an address must never read a local file.
      {"file:///etc/passwd", "address"},
      {"", "address"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.address);
    TReceiver receiver;
    TWeb::doGet(c.address, receiver.Handle(), kUpdateInfo);
    ASSERT_TRUE(PumpUntil([&] { return !receiver.Answers().empty(); }, 5s));
    EXPECT_EQ(receiver.Answers()[0].status, 0);
    EXPECT_EQ(ErrorReason(receiver.Answers()[0].text), c.reason) << receiver.Answers()[0].text;
  }
}

TEST_F(WebTest, ShutdownEndsOutstandingRequestsWithoutDelivering) {
  TConfig::DeleteValue("", "http-timeout");
  TRawSocket silent(/*listening=*/true);
  TReceiver receiver;
  TWeb::doPost(silent.Url(), "script", "a", receiver.Handle(), kSyncResponse);
  TWeb::doGet(silent.Url(), receiver.Handle(), kSyncResponse);
  EXPECT_EQ(TWeb::Outstanding(), 2u);
  TWeb::Shutdown();
  EXPECT_EQ(TWeb::Outstanding(), 0u);
  PumpMessages(0);
  EXPECT_TRUE(receiver.Answers().empty());
  EXPECT_EQ(TPostedText::Count(), 0u);
}

TEST_F(WebTest, ErrorDocumentEscapesItsTexts) {
  const std::string doc = TWeb::ErrorDocument("fa\"iled", "a<b & c>\x01");
  EXPECT_EQ(doc.rfind(kXmlDeclaration, 0), 0u);
  TXmlDocument parsed = MakeFromString(doc);
  EXPECT_EQ(ValueOf(parsed, "//error"), "a<b & c> ");
  EXPECT_EQ(GetAttr(SelectSingleNode(parsed, "//error"), "reason"), "fa\"iled");
}

TEST_F(WebTest, HttpTimeoutSetting) {
  struct TCase {
    const char* stored;
    int seconds;
  };
  const TCase cases[] = {{nullptr, 30}, {"5", 5}, {"abc", 30}, {"0", 30}, {"-3", 30}, {"", 30}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "(missing)");
    if (c.stored) TConfig::WriteValue("", "http-timeout", c.stored);
    else TConfig::DeleteValue("", "http-timeout");
    EXPECT_EQ(TWeb::GetHttpTimeoutSeconds(), c.seconds);
  }
}

TEST_F(WebTest, QueryCallbackPostsTheStatusAndKeepsEachText) {
  TReceiver receiver;
  TAjaxRequestExtIf callback;
  EXPECT_EQ(callback.QueryCallback("one", receiver.Handle(), kSyncResponse, 1),
            TAjaxRequestExtIf::kOk);
  EXPECT_EQ(callback.QueryCallback("two", receiver.Handle(), kSyncResponse + 1, 0),
            TAjaxRequestExtIf::kOk);
  ASSERT_TRUE(PumpUntil([&] { return receiver.Answers().size() == 2; }));
  EXPECT_EQ(receiver.Answers()[0].text, "one");
  EXPECT_EQ(receiver.Answers()[0].status, 1);
  EXPECT_EQ(receiver.Answers()[1].text, "two");
  EXPECT_EQ(receiver.Answers()[1].message, kSyncResponse + 1);
  EXPECT_EQ(receiver.Answers()[1].status, 0);

  // No such window: the answer goes nowhere and nothing is kept for it.
  EXPECT_EQ(callback.QueryCallback("lost", 0x7FFFFFF0u, kSyncResponse, 1), TAjaxRequestExtIf::kOk);
  EXPECT_EQ(TPostedText::Count(), 0u);
}

TEST_F(WebTest, PostedTextIsReadOnceAndStaleKeysReadEmpty) {
  TReceiver receiver;
  const WPARAM key = TPostedText::Put(receiver.Handle(), "text");
  EXPECT_NE(key, 0u);
  EXPECT_EQ(TPostedText::Take(key), "text");
  EXPECT_EQ(TPostedText::Take(key), "");
  EXPECT_EQ(TPostedText::Take(0), "");
  EXPECT_EQ(TPostedText::Take(key + 1000), "");
  // Keys are not reused, so an old key never reads a newer text.
  const WPARAM next = TPostedText::Put(receiver.Handle(), "newer");
  EXPECT_NE(next, key);
  EXPECT_EQ(TPostedText::Take(key), "");
  EXPECT_EQ(TPostedText::Take(next), "newer");
}

TEST_F(WebTest, PostedTextOfAWindowThatWentAwayIsDropped) {
  auto gone = std::make_unique<TReceiver>();
  TReceiver staying;
  TAjaxRequestExtIf().QueryCallback("never read", gone->Handle(), kSyncResponse, 1);
  const WPARAM kept = TPostedText::Put(staying.Handle(), "kept");
  EXPECT_EQ(TPostedText::Count(), 2u);
  gone.reset();  // destroyed with its message still queued
  EXPECT_EQ(TPostedText::DropOrphans(), 1u);
  EXPECT_EQ(TPostedText::Count(), 1u);

  // A new answer drops orphans too, and DropWindow is there for owners that
  // know their window is going.
  auto other = std::make_unique<TReceiver>();
  TPostedText::Put(other->Handle(), "orphan");
  other.reset();
  TPostedText::Put(staying.Handle(), "fresh");
  EXPECT_EQ(TPostedText::Count(), 2u);
  TPostedText::DropWindow(staying.Handle());
  EXPECT_EQ(TPostedText::Count(), 0u);
  EXPECT_EQ(TPostedText::Take(kept), "");
}

TEST_F(WebTest, ServerBaseUrlsAreSettingsWithLoopbackDefaults) {
  EXPECT_EQ(TServerUrls::GetLinkServerBase(), "http://127.0.0.1:8480/");
  EXPECT_EQ(TServerUrls::GetLinkServerAddress(), "http://127.0.0.1:8480/linkserver");
  EXPECT_EQ(TServerUrls::GetRestCountersBase(), "http://127.0.0.1:8480/");
  EXPECT_EQ(TServerUrls::GetCodeTableBase(), "http://127.0.0.1:8480/");
  EXPECT_EQ(TServerUrls::GetDownloadSiteBase(), "http://127.0.0.1:8480/");

  TConfig::WriteValue("", "link-server-base", "https://links.example.org/kelvo");
  TConfig::WriteValue("", "rest-counters-base", " http://counters.example.org/ ");
  TConfig::WriteValue("", "code-table-base", "   ");
  TConfig::WriteValue("", "download-site-base", "http://dl.example.org/");
  EXPECT_EQ(TServerUrls::GetLinkServerAddress(), "https://links.example.org/kelvo/linkserver");
  EXPECT_EQ(TServerUrls::GetRestCountersBase(), "http://counters.example.org/");
  EXPECT_EQ(TServerUrls::GetCodeTableBase(), "http://127.0.0.1:8480/");
  EXPECT_EQ(TServerUrls::GetDownloadSiteBase(), "http://dl.example.org/");
}

}  // namespace
}  // namespace kelvo
