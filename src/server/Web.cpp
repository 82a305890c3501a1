#include "server/Web.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "foundation/Config.h"
#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"
#include "kelvo/Version.h"
#include "server/AjaxRequestExtIf.h"

namespace kelvo {

namespace {

constexpr int kMaxHttpTimeoutSeconds = 24 * 60 * 60;

struct TRequest {
  std::string address;
  bool post = false;
  std::string body;
  HWND window = 0;
  UINT message = 0;
  long timeoutMs = 0;
};

struct TWorker {
  std::thread thread;
  std::atomic<bool> done{false};
};

struct TWorkers {
  std::mutex m;
  std::list<std::unique_ptr<TWorker>> list;
  std::atomic<bool> cancel{false};
};

// Never destroyed: a worker still running while the process exits must not
// find its bookkeeping gone (Shutdown is the orderly end).
TWorkers& Workers() {
  static TWorkers* workers = new TWorkers;
  return *workers;
}

// Caller holds the lock.
void ReapFinished(TWorkers& workers) {
  for (auto it = workers.list.begin(); it != workers.list.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = workers.list.erase(it);
    } else {
      ++it;
    }
  }
}

struct TTransfer {
  std::string answer;
  bool tooLarge = false;
};

size_t WriteAnswer(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<TTransfer*>(user);
  const size_t bytes = size * count;
  if (transfer->answer.size() + bytes > TWeb::kMaxAnswerBytes) {
    transfer->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  transfer->answer.append(data, bytes);
  return bytes;
}

int CheckCancel(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return Workers().cancel ? 1 : 0;
}

const char* ReasonOf(CURLcode rc) {
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
      return "timeout";
    case CURLE_COULDNT_CONNECT:
      return "refused";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "resolve";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "address";
    default:
      return "failed";
  }
}

struct TOutcome {
  std::string text;
  std::int32_t status = 0;
  bool deliver = true;
};

TOutcome Perform(const TRequest& request) {
  TOutcome outcome;
  CURL* curl = curl_easy_init();
  if (!curl) {
    outcome.text = TWeb::ErrorDocument("failed", "cannot start a transfer");
    return outcome;
  }
  char errorText[CURL_ERROR_SIZE] = {};
  TTransfer transfer;
  curl_slist* headers = nullptr;
  curl_easy_setopt(curl, CURLOPT_URL, request.address.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Kelvo/" KELVO_VERSION_TEXT);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
  if (request.post) {
    headers = curl_slist_append(headers,
                                "Content-Type: application/x-www-form-urlencoded; charset=UTF-8");
    // Servers that do not answer "100 Continue" would cost a second per request.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }

  const CURLcode rc = curl_easy_perform(curl);
  if (rc == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    outcome.status = code >= 200 && code < 300 ? 1 : 0;
    outcome.text = std::move(transfer.answer);
    if (!outcome.status) {
      TLog::Warning("TWeb.Request:" + request.address + ":HTTP status " + std::to_string(code));
    }
  } else if (rc == CURLE_ABORTED_BY_CALLBACK && Workers().cancel) {
    outcome.deliver = false;
  } else {
    std::string reason = ReasonOf(rc);
    std::string detail = errorText[0] ? errorText : curl_easy_strerror(rc);
    if (transfer.tooLarge) {
      reason = "too-large";
      detail = "answer larger than " + std::to_string(TWeb::kMaxAnswerBytes) + " bytes";
    }
    TLog::Warning("TWeb.Request:" + request.address + ":" + reason + ":" + detail);
    outcome.text = TWeb::ErrorDocument(reason, detail);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return outcome;
}

void RunRequest(const TRequest& request, TWorker* self) {
  {
    TThreadRegistration registration("TWebRequestThread");
    try {
      TOutcome outcome = Perform(request);
      if (outcome.deliver) {
        TAjaxRequestExtIf().QueryCallback(outcome.text, request.window, request.message,
                                          outcome.status);
      }
    } catch (const std::exception& e) {
      TLog::LogException(e, "TWeb.Request:" + request.address);
    } catch (...) {
      TLog::Error("TWeb.Request:" + request.address + ":unknown exception");
    }
  }
  self->done = true;
}

void StartRequest(TRequest request) {
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  request.timeoutMs = static_cast<long>(TWeb::GetHttpTimeoutSeconds()) * 1000L;
  TWorkers& workers = Workers();
  std::lock_guard<std::mutex> lock(workers.m);
  ReapFinished(workers);
  auto worker = std::make_unique<TWorker>();
  TWorker* self = worker.get();
  worker->thread = std::thread(RunRequest, std::move(request), self);
  workers.list.push_back(std::move(worker));
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += ' ';
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace

void TWeb::doPost(const std::string& address, const std::string& parameterName,
                  const std::string& content, HWND window, UINT message) {
  TLog::Debug("TWeb.doPost:" + address);
  TRequest request;
  request.address = address;
  request.post = true;
  request.body = FormEncode(parameterName) + "=" + FormEncode(content);
  request.window = window;
  request.message = message;
  StartRequest(std::move(request));
}

void TWeb::doGet(const std::string& address, HWND window, UINT message) {
  TLog::Debug("TWeb.doGet:" + address);
  TRequest request;
  request.address = address;
  request.window = window;
  request.message = message;
  StartRequest(std::move(request));
}

int TWeb::GetHttpTimeoutSeconds() {
  const int seconds = TConfig::ReadInteger("", "http-timeout", kDefaultHttpTimeoutSeconds);
  if (seconds <= 0) return kDefaultHttpTimeoutSeconds;
  return std::min(seconds, kMaxHttpTimeoutSeconds);
}

std::string TWeb::FormEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string TWeb::ErrorDocument(const std::string& reason, const std::string& text) {
  return std::string(R"(<?xml version="1.0" encoding="utf-8"?><error reason=")") +
         XmlEscape(reason) + "\">" + XmlEscape(text) + "</error>";
}

std::size_t TWeb::Outstanding() {
  TWorkers& workers = Workers();
  std::lock_guard<std::mutex> lock(workers.m);
  return static_cast<std::size_t>(std::count_if(
      workers.list.begin(), workers.list.end(), [](const auto& w) { return !w->done; }));
}

void TWeb::Shutdown() {
  TWorkers& workers = Workers();
  std::list<std::unique_ptr<TWorker>> running;
  {
    std::lock_guard<std::mutex> lock(workers.m);
    workers.cancel = true;
    running.swap(workers.list);
  }
  for (auto& worker : running) worker->thread.join();
  workers.cancel = false;
}

}  // namespace kelvo
