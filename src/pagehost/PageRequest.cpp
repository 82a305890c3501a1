// XMLHttpRequest of the pages: each asynchronous request runs on a worker
// thread of its own over libcurl and its answer comes back to the page
// through the message loop (the document's window); a synchronous one runs
// on the calling thread.

#include <curl/curl.h>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"
#include "kelvo/Version.h"
#include "pagehost/PageHostInternal.h"
#include "server/Web.h"

namespace kelvo {


struct TXhrJob {
  std::uint32_t id = 0;
  std::string method;
  std::string url;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  long timeoutMs = 0;
  HWND window = 0;
  std::atomic<bool> cancel{false};
  // Results, written by the worker before it posts.
  long status = 0;
  std::string statusText;
  std::string text;
  std::string responseHeaders;
  std::string error;
};

namespace {

constexpr const char* kThreadClass = "TPageRequestThread";

struct TWorker {
  std::thread thread;
  std::atomic<bool> done{false};
  std::shared_ptr<TXhrJob> job;
};

struct TWorkers {
  std::mutex m;
  std::list<std::unique_ptr<TWorker>> list;
};

// Never destroyed: a worker still running at exit must find it.
TWorkers& Workers() {
  static auto* workers = new TWorkers;
  return *workers;
}

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
  TXhrJob* job;
  bool tooLarge = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<TTransfer*>(user);
  const size_t bytes = size * count;
  if (transfer->job->text.size() + bytes > TWeb::kMaxAnswerBytes) {
    transfer->tooLarge = true;
    return 0;
  }
  transfer->job->text.append(data, bytes);
  return bytes;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* user) {
  auto* job = static_cast<TXhrJob*>(user);
  std::string line(data, size * count);
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new answer (after a redirect or a 100 Continue): only the last counts.
    job->responseHeaders.clear();
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    job->statusText = second == std::string::npos ? "" : line.substr(second + 1);
    while (!job->statusText.empty() &&
           (job->statusText.back() == '\r' || job->statusText.back() == '\n')) {
      job->statusText.pop_back();
    }
    return size * count;
  }
  if (line != "\r\n" && line != "\n") job->responseHeaders += line;
  return size * count;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<TXhrJob*>(user)->cancel ? 1 : 0;
}

void Perform(TXhrJob& job) {
  static std::once_flag curlReady;
  std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) {
    job.error = "cannot start a transfer";
    return;
  }
  TTransfer transfer{&job};
  curl_slist* headers = nullptr;
  for (const auto& [name, value] : job.headers) {
    headers = curl_slist_append(headers, (name + ": " + value).c_str());
  }
  curl_easy_setopt(curl, CURLOPT_URL, job.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, job.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Kelvo/" KELVO_VERSION_TEXT);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &job);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &job);
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (job.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(job.body.size()));
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, job.body.c_str());
  } else if (job.method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (job.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, job.method.c_str());
    if (!job.body.empty()) {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(job.body.size()));
      curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, job.body.c_str());
    }
  }
  const CURLcode rc = curl_easy_perform(curl);
  if (rc == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &job.status);
    if (job.status == 0) {  // a local file has no status of its own
      job.status = 200;
      job.statusText = "OK";
    }
    if (job.text.compare(0, 3, "\xEF\xBB\xBF") == 0) job.text.erase(0, 3);
  } else {
    job.status = 0;
    job.statusText.clear();
    job.text.clear();
    job.error = transfer.tooLarge ? "answer too large" : curl_easy_strerror(rc);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
}

std::uint32_t NextJobId() {
  static std::uint32_t next = 0;
  return ++next;
}

std::vector<TScriptValue> ResultArgs(const TXhrJob& job) {
  return {TScriptValue::Number(static_cast<double>(job.status)), TScriptValue::String(job.statusText),
          TScriptValue::String(job.text), TScriptValue::String(job.responseHeaders),
          TScriptValue::String(job.error)};
}

}  // namespace

// Natives: request(method, url, headers [[name, value]...], body, async, callback)
TScriptValue StartRequest(TPageDocument& document, TScriptCall& call) {
  TPageDocumentState& state = document.State();
  auto job = std::make_shared<TXhrJob>();
  job->id = NextJobId();
  job->method = call.Arg(0).ToString();
  job->url = ResolveUrl(state.url, call.Arg(1).ToString());
  const TScriptValue headers = call.Arg(2);
  for (unsigned i = 0, n = headers.Length(); i < n; ++i) {
    const TScriptValue pair = headers.At(i);
    job->headers.emplace_back(pair.At(0).ToString(), pair.At(1).ToString());
  }
  job->body = call.Arg(3).ToString();
  const bool async = call.Arg(4).ToBool();
  const TScriptValue callback = call.Arg(5);
  job->timeoutMs = static_cast<long>(TWeb::GetHttpTimeoutSeconds()) * 1000;
  TLog::Debug("TPageDocument:XMLHttpRequest " + job->method + " " + job->url);
  if (!async) {
    Perform(*job);
    callback.Call(ResultArgs(*job));
    return TScriptValue::Number(job->id);
  }
  state.EnsureWindow();
  job->window = state.window;
  state.requests[job->id] = {job, callback};
  TWorkers& workers = Workers();
  std::lock_guard<std::mutex> lock(workers.m);
  ReapFinished(workers);
  auto worker = std::make_unique<TWorker>();
  TWorker* raw = worker.get();
  worker->job = job;
  worker->thread = std::thread([raw] {
    {
      TThreadRegistration registration(kThreadClass);
      TXhrJob& j = *raw->job;
      Perform(j);
      if (!j.cancel) PostMessage(j.window, kRequestDoneMsg, j.id, 0);
    }
    raw->done = true;
  });
  workers.list.push_back(std::move(worker));
  return TScriptValue::Number(job->id);
}

void DeliverRequest(TPageDocumentState& state, std::uint32_t jobId) {
  const auto it = state.requests.find(jobId);
  if (it == state.requests.end()) return;
  const TPageDocumentState::TPendingRequest request = it->second;
  state.requests.erase(it);
  if (request.job->cancel) return;
  state.CallRecorded(request.callback, ResultArgs(*request.job), "XMLHttpRequest");
}

void CancelRequest(const std::shared_ptr<TXhrJob>& job) {
  if (job) job->cancel = true;
}

void ShutdownRequests() {
  TWorkers& workers = Workers();
  std::list<std::unique_ptr<TWorker>> list;
  {
    std::lock_guard<std::mutex> lock(workers.m);
    list.swap(workers.list);
  }
  for (auto& worker : list) worker->job->cancel = true;
  for (auto& worker : list) worker->thread.join();
}

}  // namespace kelvo
