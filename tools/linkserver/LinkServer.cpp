#include "LinkServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string_view>
#include <thread>

#include "LinkRecords.h"
#include "LinkStore.h"
#include "ScriptProcessor.h"
#include "foundation/XmlTools.h"
#include "kelvo/Version.h"

namespace kelvo::linkserver {

namespace {

// Room for a script at the size limit written as a form parameter (every
// byte may be escaped); a larger body is refused by the HTTP layer itself.
constexpr std::size_t kMaxBodyBytes = kMaxScriptBytes * 3 + (64u << 10);

const char* const kXmlType = "text/xml; charset=utf-8";

struct TReason {
  const char* id;
  const char* en;
  const char* fr;
};

const TReason kReasons[] = {
    {"1", "I do not use it", "Je ne l'utilise pas"},
    {"2", "It is too slow", "Il est trop lent"},
    {"3", "My favorites were not synchronized correctly",
     "Mes favoris n'ont pas été synchronisés correctement"},
    {"4", "I use another program", "J'utilise un autre programme"},
    {"5", "Other reason", "Autre raison"},
};

std::string ReasonsDocument(const std::string& lang) {
  const bool french = lang == "fr" || lang == "FR";
  TXmlDocument document = MakeFromString(MakeEmptyDocText("code-table"));
  const TXmlElement root = document.DocumentElement();
  SetAttr(root, "name", "uninstall-reasons");
  SetAttr(root, "lang", french ? "fr" : "en");
  for (const TReason& reason : kReasons) {
    const TXmlElement e = AddElement(document, root, "reason");
    SetAttr(e, "id", reason.id);
    SetAttr(e, "text", french ? reason.fr : reason.en);
  }
  return XmlText(document);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// application/x-www-form-urlencoded: "+" is a space, "%XX" a byte; a "%"
// not followed by two hex digits stays as it is.
std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// The first value of the named parameter of a form body, "" when absent.
std::string FormValue(std::string_view body, std::string_view name) {
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (FormDecode(pair.substr(0, equals)) == name) {
      return equals == std::string_view::npos ? std::string() : FormDecode(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

class TLinkServerCore {
 public:
  explicit TLinkServerCore(const std::string& dbPath) : store_(dbPath) {}

  TLinkStore store_;
  mutable std::mutex mutex_;  // the store and the settings below
  std::string updateVersion_ = KELVO_VERSION_TEXT;
  std::string updateUrl_;
  std::mutex logMutex_;  // log_ and the writes to it
  std::ostream* log_ = nullptr;
  std::atomic<std::int64_t> requests_{0};

  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;

  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  void Routes(httplib::Server& http);
  void LogRequest(const httplib::Request& req, const httplib::Response& res);
};

void TLinkServerCore::Routes(httplib::Server& http) {
  http.set_payload_max_length(kMaxBodyBytes);

  // With a content reader the HTTP layer leaves the body alone: it would
  // otherwise parse a form body itself and refuse any above 8 KB, far
  // below a real Favorites export.
  http.Post("/linkserver", [this](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& reader) {
    std::string body;
    const bool complete = reader([&](const char* data, std::size_t length) {
      body.append(data, length);
      return body.size() <= kMaxBodyBytes;
    });
    std::string script;
    if (!complete || body.size() > kMaxBodyBytes) {
      res.set_content(ErrorAnswer(kErrorScriptTooLarge), kXmlType);
      return;
    }
    const std::string type = req.get_header_value("Content-Type");
    if (type.find("application/x-www-form-urlencoded") == 0) {
      script = FormValue(body, "script");
    } else if (type.find("xml") != std::string::npos) {
      // A plain XML body, for curl and other simple clients.
      script = std::move(body);
    }
    if (script.empty()) script = req.get_param_value("script");
    std::string answer;
    if (script.empty()) {
      answer = ErrorAnswer(kErrorInvalidScript);
    } else {
      std::lock_guard lock(mutex_);
      answer = ProcessScript(store_, script);
    }
    res.set_content(answer, kXmlType);
  });

  http.Get("/download/ie/update.txt", [this](const httplib::Request&, httplib::Response& res) {
    std::lock_guard lock(mutex_);
    const std::string url =
        updateUrl_.empty() ? BaseUrl() + "download/ie/kelvo-ie.exe" : updateUrl_;
    res.set_content("version=" + updateVersion_ + "\r\nurl=" + url + "\r\n", "text/plain");
  });

  http.Get(R"(/code-table/uninstall-reasons\.([A-Za-z_-]{1,16})\.xml)",
           [](const httplib::Request& req, httplib::Response& res) {
             res.set_content(ReasonsDocument(req.matches[1]), kXmlType);
           });

  http.Get(R"(/rest/counters/one/(.+))",
           [this](const httplib::Request& req, httplib::Response& res) {
             std::string name = req.matches[1];
             if (name.size() > 512) name.resize(512);
             {
               std::lock_guard lock(mutex_);
               store_.Count(name);
             }
             res.set_content("OK", "text/plain");
           });

  // The statistics report posts its counter request too.
  http.Post(R"(/rest/counters/one/(.+))",
            [this](const httplib::Request& req, httplib::Response& res) {
              std::string name = req.matches[1];
              if (name.size() > 512) name.resize(512);
              {
                std::lock_guard lock(mutex_);
                store_.Count(name);
              }
              res.set_content("OK", "text/plain");
            });

  // Whatever the HTTP layer refuses (an oversized body above all) still
  // gets an answer the agent can read.
  http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/linkserver") {
      res.set_content(ErrorAnswer(res.status == 413 ? kErrorScriptTooLarge : kErrorInvalidScript),
                      kXmlType);
    }
  });

  http.set_exception_handler(
      [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        if (req.path == "/linkserver") res.set_content(ErrorAnswer(kErrorServer), kXmlType);
      });

  // Counted before the answer goes out: the logger runs only after the
  // client may already have read it.
  http.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
    ++requests_;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    LogRequest(req, res);
  });
}

void TLinkServerCore::LogRequest(const httplib::Request& req, const httplib::Response& res) {
  // Held while writing, so that SetRequestLog never returns while the old
  // stream is still in use.
  std::lock_guard lock(logMutex_);
  if (!log_) return;
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  std::string line = std::string(stamp) + " " + req.remote_addr + " " + req.method + " " +
                     req.path + " " + std::to_string(res.status) + " " +
                     std::to_string(req.body.size()) + ">" + std::to_string(res.body.size()) + "\n";
  *log_ << line << std::flush;
}

TLinkServer::TLinkServer(std::string dbPath) {
  try {
    core_ = std::make_unique<TLinkServerCore>(dbPath);
  } catch (const TKException& e) {
    throw TLinkServerException("TLinkServer.Create:" + e.FullMessage());
  }
}

TLinkServer::~TLinkServer() { Stop(); }

int TLinkServer::Start(int port) {
  if (core_->http_) throw TLinkServerException("TLinkServer.Start:already running");
  if (port < 0 || port > 65535) {
    throw TLinkServerException("TLinkServer.Start:invalid port:" + std::to_string(port));
  }
  auto http = std::make_unique<httplib::Server>();
  // The HTTP layer's default would share the port with another server
  // already on it (each getting part of the requests, with other data):
  // a quick restart is all that is wanted.
  http->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  core_->Routes(*http);
  int bound = 0;
  if (port == 0) {
    bound = http->bind_to_any_port("127.0.0.1");
  } else {
    bound = http->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (bound <= 0) {
    throw TLinkServerException("TLinkServer.Start:cannot listen on 127.0.0.1:" +
                               std::to_string(port));
  }
  core_->port_ = bound;
  core_->requests_ = 0;
  httplib::Server* server = http.get();
  core_->http_ = std::move(http);
  auto ended = std::make_shared<std::atomic<bool>>(false);
  core_->thread_ = std::thread([server, ended] {
    server->listen_after_bind();
    *ended = true;
  });
  // The socket already listens, so connections queue from now on; waiting
  // for the accept loop keeps a Stop right after Start from missing it.
  while (!server->is_running() && !*ended) std::this_thread::yield();
  return bound;
}

void TLinkServer::Stop() {
  if (!core_ || !core_->http_) return;
  core_->http_->stop();
  if (core_->thread_.joinable()) core_->thread_.join();
  core_->http_.reset();
}

bool TLinkServer::IsRunning() const { return core_->http_ != nullptr; }

int TLinkServer::Port() const { return core_->port_; }

std::string TLinkServer::BaseUrl() const { return core_->BaseUrl(); }

std::string TLinkServer::ScriptUrl() const { return BaseUrl() + "linkserver"; }

void TLinkServer::SetUpdateInfo(const std::string& version, const std::string& url) {
  std::lock_guard lock(core_->mutex_);
  core_->updateVersion_ = version.empty() ? std::string(KELVO_VERSION_TEXT) : version;
  core_->updateUrl_ = url;
}

void TLinkServer::SetRequestLog(std::ostream* out) {
  std::lock_guard lock(core_->logMutex_);
  core_->log_ = out;
}

std::string TLinkServer::ProcessScript(const std::string& scriptText) {
  std::lock_guard lock(core_->mutex_);
  return linkserver::ProcessScript(core_->store_, scriptText);
}

bool TLinkServer::HasAccount(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  return core_->store_.Password(nickname).has_value();
}

std::string TLinkServer::Password(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  return core_->store_.Password(nickname).value_or(std::string());
}

void TLinkServer::AddAccount(const std::string& nickname, const std::string& password) {
  std::lock_guard lock(core_->mutex_);
  core_->store_.SetAccount(nickname, password);
}

std::string TLinkServer::LinksXml(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  const TAccountData data = core_->store_.Load(nickname);
  TXmlDocument document = MakeFromString(MakeEmptyDocText("links"));
  for (const TLinkRecord& link : data.links) WriteLinkElement(document.DocumentElement(), link);
  return XmlText(document);
}

std::string TLinkServer::XLinksXml(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  const TAccountData data = core_->store_.Load(nickname);
  TXmlDocument document = MakeFromString(MakeEmptyDocText("xlinks"));
  for (const TXLinkRecord& xlink : data.xlinks)
    WriteXLinkElement(document.DocumentElement(), xlink);
  return XmlText(document);
}

void TLinkServer::PutLinks(const std::string& nickname, const std::string& linksXml) {
  TXmlDocument document;
  try {
    document = MakeFromString(linksXml);
  } catch (const TXmlException& e) {
    throw TLinkServerException("TLinkServer.PutLinks:" + e.FullMessage());
  }
  std::lock_guard lock(core_->mutex_);
  TLinkStore& store = core_->store_;
  if (!store.Password(nickname)) {
    throw TLinkServerException("TLinkServer.PutLinks:unknown account:" + nickname);
  }
  TAccountData data = store.Load(nickname);
  data.links.clear();
  for (const TXmlNode& node : SelectNodes(document, "//link")) {
    if (std::optional<TLinkRecord> link = ReadLinkElement(node)) data.links.push_back(*link);
  }
  store.Begin();
  try {
    AssignIds(store, data.links);
    store.Save(nickname, data);
    store.Commit();
  } catch (...) {
    store.Rollback();
    throw;
  }
}

std::string TLinkServer::SyncId(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  return ComputeServerFacts(core_->store_.Load(nickname)).syncId;
}

int TLinkServer::LinkCount(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  return ComputeServerFacts(core_->store_.Load(nickname)).linkCount;
}

int TLinkServer::FolderCount(const std::string& nickname) const {
  std::lock_guard lock(core_->mutex_);
  return ComputeServerFacts(core_->store_.Load(nickname)).folderCount;
}

std::int64_t TLinkServer::Counter(const std::string& name) const {
  std::lock_guard lock(core_->mutex_);
  return core_->store_.Counter(name);
}

std::int64_t TLinkServer::RequestCount() const { return core_->requests_; }

std::string DefaultDatabasePath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (dataHome && *dataHome == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/share";
  }
  return base + "/kelvo-linkserver/links.db";
}

}  // namespace kelvo::linkserver
