// XMLHttpRequest of the pages: asynchronous over a worker, answered
// through the message loop; synchronous; local files; failures; a page
// that goes while its request is outstanding.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "PageTestSupport.h"

namespace kelvo {
namespace {

using test::PageTest;

// A loopback HTTP server that answers every request with one fixed answer
// and keeps the last request's text; with hold set it answers only after
// Release().
class TTinyServer {
 public:
  explicit TTinyServer(std::string answer, bool hold = false)
      : answer_(std::move(answer)), hold_(hold) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TTinyServer() {
    stop_ = true;
    Release();
    thread_.join();
    close(fd_);
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string LastRequest() {
    std::lock_guard<std::mutex> lock(m_);
    return request_;
  }
  int Requests() const { return count_; }
  void Release() {
    std::lock_guard<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      std::string text;
      char buf[4096];
      std::size_t need = std::string::npos;
      while (need == std::string::npos || text.size() < need) {
        const ssize_t n = read(client, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        const std::size_t head = text.find("\r\n\r\n");
        if (need == std::string::npos && head != std::string::npos) {
          std::size_t length = 0;
          const std::size_t at = text.find("Content-Length: ");
          if (at != std::string::npos && at < head) length = std::stoul(text.substr(at + 16));
          need = head + 4 + length;
        }
      }
      {
        std::unique_lock<std::mutex> lock(m_);
        request_ = text;
        ++count_;
        if (hold_) cv_.wait(lock, [this] { return released_; });
      }
      const ssize_t written = write(client, answer_.data(), answer_.size());
      (void)written;
      close(client);
    }
  }

  std::string answer_;
  bool hold_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::mutex m_;
  std::condition_variable cv_;
  bool released_ = false;
  std::string request_;
};

const char* const kAnswer =
    "HTTP/1.1 201 Made Here\r\nContent-Type: text/plain\r\nX-Kind: tiny\r\n"
    "Content-Length: 10\r\nConnection: close\r\n\r\nanswer \xC3\xA9!";

TEST_F(PageTest, AsynchronousRequestsAnswerThroughTheMessageLoop) {
  TTinyServer server(kAnswer);
  TPageDocument doc;
  doc.LoadHtml(R"P(<script>
var states = [], result = null;
function ask(base) {
  var xhr = new XMLHttpRequest();
  xhr.open('POST', base + '/linkserver?x=1', true);
  xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
  xhr.onreadystatechange = function () {
    states.push(xhr.readyState);
    if (xhr.readyState === 4) {
      result = [xhr.status, xhr.statusText, xhr.responseText, xhr.getResponseHeader('x-kind'),
                typeof window.ask].join('|');
    }
  };
  xhr.send('script=%3Cserver-script%2F%3E');
  return xhr.readyState;
}
</script>)P", home_.Sub("pages/ajax.html"));
  EXPECT_EQ(doc.CallFunction("ask", {TScriptValue::String(server.Base())}).ToInt32(), 1);
  EXPECT_TRUE(doc.Window().Get("result").IsNull());  // not before the loop delivers
  ASSERT_TRUE(WaitFor([&] { return !doc.Window().Get("result").IsNull(); }));
  EXPECT_EQ(Global(doc, "result"), "201|Made Here|answer é!|tiny|function");
  EXPECT_EQ(Global(doc, "states"), "4");  // the handler was set after open
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.rfind("POST /linkserver?x=1 HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos);
  EXPECT_NE(request.find("\r\n\r\nscript=%3Cserver-script%2F%3E"), std::string::npos);
  EXPECT_TRUE(doc.ScriptErrors().empty());
}

TEST_F(PageTest, LocalFilesSynchronousRequestsAndFailures) {
  Page("data/info.txt", "local text");
  const std::string path = Page("local.html", R"P(<script>
var sync = new XMLHttpRequest();
sync.open('GET', 'data/info.txt', false);
sync.send(null);
var syncText = sync.readyState + ':' + sync.status + ':' + sync.responseText;
var asyncText = null, failure = null;
var a = new ActiveXObject('Microsoft.XMLHTTP');
a.open('GET', 'data\\info.txt');
a.onload = function () { asyncText = a.responseText; };
a.send();
var f = new XMLHttpRequest();
f.open('GET', 'http://127.0.0.1:1/nothing');
f.onerror = function () { failure = 'error:' + f.status + ':' + f.readyState; };
f.send();
</script>)P");
  TPageDocument doc;
  doc.Load(path);
  EXPECT_EQ(Global(doc, "syncText"), "4:200:local text");
  ASSERT_TRUE(WaitFor([&] {
    return !doc.Window().Get("asyncText").IsNull() && !doc.Window().Get("failure").IsNull();
  }));
  EXPECT_EQ(Global(doc, "asyncText"), "local text");
  EXPECT_EQ(Global(doc, "failure"), "error:0:4");
  EXPECT_THROW(doc.Evaluate("new ActiveXObject('Shell.Application')"), TScriptException);
}

TEST_F(PageTest, APageThatGoesWhileItsRequestIsOutstandingIsNotAnswered) {
  TTinyServer server(kAnswer, /*hold=*/true);
  TScriptValue window;
  {
    TPageDocument doc;
    window = doc.Window();
    doc.Evaluate("var got = 'no'; var x = new XMLHttpRequest(); x.open('GET', '" + server.Base() +
                 "/slow'); x.onreadystatechange = function () { got = 'yes'; }; x.send();");
    ASSERT_TRUE(WaitFor([&] { return server.Requests() == 1; }));
  }
  server.Release();
  PumpMessages(50);
  TPageHost::Shutdown();  // waits for the worker
  PumpMessages(20);
  EXPECT_EQ(window.Get("got").ToString(), "no");

  // Aborted by the page itself: nothing arrives either.
  TTinyServer quick(kAnswer);
  TPageDocument doc;
  doc.Evaluate("var got = 'no'; var x = new XMLHttpRequest(); x.open('GET', '" + quick.Base() +
               "/'); x.onreadystatechange = function () { got = 'yes:' + x.readyState; }; x.send(); "
               "x.abort();");
  EXPECT_FALSE(WaitFor([&] { return Global(doc, "got") != "no"; }, 300));
}

}  // namespace
}  // namespace kelvo
