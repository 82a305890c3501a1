// The window layer on Linux: one loop on the main thread that polls an
// eventfd (woken by PostMessage from any thread) and the descriptors other
// layers register, and runs window timers from a steady clock.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Window.h"

namespace kelvo {

namespace {

using TClock = std::chrono::steady_clock;

constexpr HWND kFirstHandle = 0x00010010;
constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;
constexpr std::uint32_t kMinTimerMs = 10;

struct TWindowRec {
  std::string className;
  std::string classFolded;
  HWND parent = 0;
  std::shared_ptr<TWndProc> proc;
  bool destroying = false;
};

struct TPosted {
  HWND wnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// A SendMessage from another thread, answered by the loop thread.
struct TSent {
  HWND wnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  std::promise<LRESULT> answer;
};

struct TTimer {
  HWND wnd;
  std::uintptr_t id;
  std::uint32_t intervalMs;
  TClock::time_point due;
  std::uint64_t generation;  // tells a restarted timer from the one that was due
};

std::string FoldAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// All state behind one mutex; never held while a procedure or handler runs.
struct TLoop {
  std::mutex m;
  std::map<HWND, TWindowRec> windows;  // handles grow, so map order = creation order
  HWND nextHandle = kFirstHandle;
  std::deque<TPosted> posted;
  std::deque<std::shared_ptr<TSent>> sent;
  bool acceptsSends = true;
  std::map<std::string, UINT> registered;
  UINT nextRegistered = kFirstRegisteredMessage;
  std::vector<TTimer> timers;
  std::uint64_t timerGeneration = 0;
  std::map<int, std::shared_ptr<TFdHandler>> fds;
  std::optional<std::thread::id> loopThread;
  TUncaughtExceptionHandler uncaught;
  int quitCode = 0;
  int wakeFd = -1;

  TLoop() { wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

  void Wake() {
    if (wakeFd < 0) return;
    std::uint64_t one = 1;
    ssize_t ignored = write(wakeFd, &one, sizeof one);
    (void)ignored;  // a full counter still wakes the loop
  }

  void DrainWake() {
    if (wakeFd < 0) return;
    std::uint64_t value = 0;
    ssize_t ignored = read(wakeFd, &value, sizeof value);
    (void)ignored;
  }

  // Caller holds m.
  void NoteLoopThread() {
    if (!loopThread) loopThread = std::this_thread::get_id();
  }
};

// Leaked on purpose: threads may still post while static destructors run.
TLoop& Loop() {
  static TLoop* loop = new TLoop();
  return *loop;
}

void ReportUncaught(const std::string& context, const std::string& what) {
  TUncaughtExceptionHandler handler;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    handler = Loop().uncaught;
  }
  if (handler) {
    try {
      handler(context, what);
      return;
    } catch (...) {
      // A failing log must not take the loop down either; fall back to stderr.
    }
  }
  std::fprintf(stderr, "kelvo: uncaught exception in %s: %s\n", context.c_str(), what.c_str());
}

std::string HexMessage(UINT msg) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%04X", msg);
  return buf;
}

// Calls the procedure of the window, shielding the caller from its
// exceptions. The procedure object is held for the call, so a window that
// destroys itself inside its own procedure stays safe.
LRESULT Dispatch(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<TWndProc> proc;
  std::string className;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    auto it = Loop().windows.find(wnd);
    if (it == Loop().windows.end()) return 0;
    proc = it->second.proc;
    className = it->second.className;
  }
  if (!proc || !*proc) return 0;
  try {
    return (*proc)(wnd, msg, wParam, lParam);
  } catch (const std::exception& e) {
    ReportUncaught("window procedure " + className + " message " + HexMessage(msg), e.what());
  } catch (...) {
    ReportUncaught("window procedure " + className + " message " + HexMessage(msg),
                   "unknown exception");
  }
  return 0;
}

void FailPendingSends() {
  std::deque<std::shared_ptr<TSent>> pending;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    pending.swap(Loop().sent);
  }
  for (auto& s : pending) s->answer.set_value(0);
}

bool DeliverSent() {
  bool any = false;
  for (;;) {
    std::shared_ptr<TSent> s;
    {
      std::lock_guard<std::mutex> lock(Loop().m);
      if (Loop().sent.empty()) return any;
      s = Loop().sent.front();
      Loop().sent.pop_front();
    }
    any = true;
    s->answer.set_value(Dispatch(s->wnd, s->msg, s->wParam, s->lParam));
  }
}

// Delivers the messages queued before this pass (not those the procedures
// post meanwhile, so a procedure that reposts itself cannot starve the
// timers and descriptors). Answers the exit code when WM_QUIT was taken.
std::optional<int> DeliverPosted(bool& any) {
  std::size_t count;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    count = Loop().posted.size();
  }
  for (std::size_t i = 0; i < count; ++i) {
    TPosted p;
    {
      std::lock_guard<std::mutex> lock(Loop().m);
      if (Loop().posted.empty()) break;
      p = Loop().posted.front();
      Loop().posted.pop_front();
    }
    any = true;
    if (p.msg == WM_QUIT && p.wnd == 0) return static_cast<int>(p.wParam);
    Dispatch(p.wnd, p.msg, p.wParam, p.lParam);
  }
  return std::nullopt;
}

bool DeliverTimers() {
  auto now = TClock::now();
  std::vector<TTimer> due;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    for (const TTimer& t : Loop().timers) {
      if (t.due <= now) due.push_back(t);
    }
  }
  for (const TTimer& t : due) {
    bool stillDue = false;
    {
      std::lock_guard<std::mutex> lock(Loop().m);
      for (TTimer& live : Loop().timers) {
        if (live.wnd == t.wnd && live.id == t.id && live.generation == t.generation) {
          // The next tick counts from now: a late loop gets one WM_TIMER, not a burst.
          live.due = TClock::now() + std::chrono::milliseconds(live.intervalMs);
          stillDue = true;
          break;
        }
      }
    }
    if (stillDue) Dispatch(t.wnd, WM_TIMER, t.id, 0);
  }
  return !due.empty();
}

std::optional<TClock::time_point> NextTimerDue() {
  std::lock_guard<std::mutex> lock(Loop().m);
  std::optional<TClock::time_point> next;
  for (const TTimer& t : Loop().timers) {
    if (!next || t.due < *next) next = t.due;
  }
  return next;
}

bool HasQueuedWork() {
  std::lock_guard<std::mutex> lock(Loop().m);
  return !Loop().posted.empty() || !Loop().sent.empty();
}

void CallFdHandler(int fd, const std::shared_ptr<TFdHandler>& handler) {
  try {
    (*handler)(fd);
  } catch (const std::exception& e) {
    ReportUncaught("descriptor handler " + std::to_string(fd), e.what());
  } catch (...) {
    ReportUncaught("descriptor handler " + std::to_string(fd), "unknown exception");
  }
}

int PollTimeout(std::optional<TClock::time_point> deadline) {
  if (HasQueuedWork()) return 0;
  auto now = TClock::now();
  std::optional<TClock::time_point> until = deadline;
  auto timer = NextTimerDue();
  if (timer && (!until || *timer < *until)) until = timer;
  if (!until) return -1;
  if (*until <= now) return 0;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*until - now).count();
  // Round up so that a timer is due when poll returns.
  if (std::chrono::milliseconds(ms) < *until - now) ++ms;
  return static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000));
}

}  // namespace

HWND CreateWindowObject(const std::string& className, TWndProc proc, HWND parent) {
  TLoop& loop = Loop();
  std::lock_guard<std::mutex> lock(loop.m);
  loop.NoteLoopThread();
  if (parent != 0 && loop.windows.find(parent) == loop.windows.end()) return 0;
  if (loop.nextHandle == 0) return 0;  // the 32-bit handle space is spent
  HWND handle = loop.nextHandle++;
  TWindowRec rec;
  rec.className = className;
  rec.classFolded = FoldAscii(className);
  rec.parent = parent;
  if (proc) rec.proc = std::make_shared<TWndProc>(std::move(proc));
  loop.windows.emplace(handle, std::move(rec));
  return handle;
}

bool DestroyWindowObject(HWND wnd) {
  TLoop& loop = Loop();
  {
    std::lock_guard<std::mutex> lock(loop.m);
    auto it = loop.windows.find(wnd);
    if (it == loop.windows.end() || it->second.destroying) return false;
    it->second.destroying = true;
  }
  Dispatch(wnd, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    std::lock_guard<std::mutex> lock(loop.m);
    for (const auto& [h, rec] : loop.windows) {
      if (rec.parent == wnd) children.push_back(h);
    }
  }
  for (HWND child : children) DestroyWindowObject(child);
  Dispatch(wnd, WM_NCDESTROY, 0, 0);
  std::shared_ptr<TWndProc> keep;  // released outside the lock: its captures may call back
  {
    std::lock_guard<std::mutex> lock(loop.m);
    auto it = loop.windows.find(wnd);
    if (it != loop.windows.end()) {
      keep = std::move(it->second.proc);
      loop.windows.erase(it);
    }
    std::erase_if(loop.timers, [wnd](const TTimer& t) { return t.wnd == wnd; });
    std::erase_if(loop.posted, [wnd](const TPosted& p) { return p.wnd == wnd; });
  }
  return true;
}

bool IsWindow(HWND wnd) {
  std::lock_guard<std::mutex> lock(Loop().m);
  return wnd != 0 && Loop().windows.count(wnd) != 0;
}

std::string GetWindowClassName(HWND wnd) {
  std::lock_guard<std::mutex> lock(Loop().m);
  auto it = Loop().windows.find(wnd);
  return it == Loop().windows.end() ? std::string() : it->second.className;
}

HWND GetParentWindow(HWND wnd) {
  std::lock_guard<std::mutex> lock(Loop().m);
  auto it = Loop().windows.find(wnd);
  return it == Loop().windows.end() ? 0 : it->second.parent;
}

HWND FindWindowByClass(const std::string& className) {
  std::string folded = FoldAscii(className);
  std::lock_guard<std::mutex> lock(Loop().m);
  for (const auto& [h, rec] : Loop().windows) {
    if (rec.classFolded == folded && !rec.destroying) return h;
  }
  return 0;
}

std::vector<HWND> FindWindowsByClass(const std::string& className) {
  std::string folded = FoldAscii(className);
  std::vector<HWND> out;
  std::lock_guard<std::mutex> lock(Loop().m);
  for (const auto& [h, rec] : Loop().windows) {
    if (rec.classFolded == folded && !rec.destroying) out.push_back(h);
  }
  return out;
}

std::vector<HWND> ListWindows() {
  std::vector<HWND> out;
  std::lock_guard<std::mutex> lock(Loop().m);
  for (const auto& [h, rec] : Loop().windows) out.push_back(h);
  return out;
}

LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_CLOSE) DestroyWindowObject(wnd);
  return 0;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TLoop& loop = Loop();
  {
    std::lock_guard<std::mutex> lock(loop.m);
    if (wnd == 0 || loop.windows.find(wnd) == loop.windows.end()) return false;
    loop.posted.push_back(TPosted{wnd, msg, wParam, lParam});
  }
  loop.Wake();
  return true;
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TLoop& loop = Loop();
  std::shared_ptr<TSent> s;
  {
    std::lock_guard<std::mutex> lock(loop.m);
    if (loop.windows.find(wnd) == loop.windows.end()) return 0;
    bool otherThread = loop.loopThread && *loop.loopThread != std::this_thread::get_id();
    if (otherThread) {
      if (!loop.acceptsSends) return 0;
      s = std::make_shared<TSent>(TSent{wnd, msg, wParam, lParam, {}});
      loop.sent.push_back(s);
    }
  }
  if (!s) return Dispatch(wnd, msg, wParam, lParam);
  std::future<LRESULT> answer = s->answer.get_future();
  loop.Wake();
  return answer.get();
}

UINT RegisterWindowMessage(const std::string& name) {
  if (name.empty()) return 0;
  std::string folded = FoldAscii(name);
  std::lock_guard<std::mutex> lock(Loop().m);
  auto it = Loop().registered.find(folded);
  if (it != Loop().registered.end()) return it->second;
  if (Loop().nextRegistered > kLastRegisteredMessage) return 0;
  UINT number = Loop().nextRegistered++;
  Loop().registered.emplace(folded, number);
  return number;
}

void PostQuitMessage(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    Loop().posted.push_back(TPosted{0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
  }
  Loop().Wake();
}

void SetUncaughtExceptionHandler(TUncaughtExceptionHandler handler) {
  std::lock_guard<std::mutex> lock(Loop().m);
  Loop().uncaught = std::move(handler);
}

bool SetTimer(HWND wnd, std::uintptr_t id, std::uint32_t intervalMs) {
  TLoop& loop = Loop();
  std::lock_guard<std::mutex> lock(loop.m);
  if (loop.windows.find(wnd) == loop.windows.end()) return false;
  std::uint32_t interval = std::max(intervalMs, kMinTimerMs);
  TTimer timer{wnd, id, interval, TClock::now() + std::chrono::milliseconds(interval),
               ++loop.timerGeneration};
  for (TTimer& t : loop.timers) {
    if (t.wnd == wnd && t.id == id) {
      t = timer;
      return true;
    }
  }
  loop.timers.push_back(timer);
  return true;
}

bool KillTimer(HWND wnd, std::uintptr_t id) {
  std::lock_guard<std::mutex> lock(Loop().m);
  return std::erase_if(Loop().timers,
                       [&](const TTimer& t) { return t.wnd == wnd && t.id == id; }) != 0;
}

void AddFdWatch(int fd, TFdHandler handler) {
  if (fd < 0 || !handler) return;
  TLoop& loop = Loop();
  {
    std::lock_guard<std::mutex> lock(loop.m);
    loop.fds[fd] = std::make_shared<TFdHandler>(std::move(handler));
  }
  loop.Wake();  // a loop already in poll() must include the new descriptor
}

void RemoveFdWatch(int fd) {
  std::lock_guard<std::mutex> lock(Loop().m);
  Loop().fds.erase(fd);
}

bool PumpMessages(int timeoutMs) {
  TLoop& loop = Loop();
  {
    std::lock_guard<std::mutex> lock(loop.m);
    loop.NoteLoopThread();
    loop.acceptsSends = true;
  }
  std::optional<TClock::time_point> deadline;
  if (timeoutMs >= 0) deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<pollfd> pfds;
    std::vector<std::shared_ptr<TFdHandler>> handlers;
    pfds.push_back(pollfd{loop.wakeFd, POLLIN, 0});
    handlers.push_back(nullptr);
    {
      std::lock_guard<std::mutex> lock(loop.m);
      for (const auto& [fd, handler] : loop.fds) {
        pfds.push_back(pollfd{fd, POLLIN, 0});
        handlers.push_back(handler);
      }
    }
    int rc = poll(pfds.data(), pfds.size(), PollTimeout(deadline));
    if (rc < 0 && errno != EINTR) {
      ReportUncaught("message loop", std::string("poll failed, errno ") + std::to_string(errno));
      return true;
    }
    if (rc > 0 && (pfds[0].revents & POLLIN)) loop.DrainWake();

    bool any = DeliverSent();
    if (auto quit = DeliverPosted(any)) {
      std::lock_guard<std::mutex> lock(loop.m);
      loop.quitCode = *quit;
      return false;
    }
    if (DeliverTimers()) any = true;
    if (rc > 0) {
      for (std::size_t i = 1; i < pfds.size(); ++i) {
        if (pfds[i].revents == 0) continue;
        std::shared_ptr<TFdHandler> current;
        {
          std::lock_guard<std::mutex> lock(loop.m);
          auto it = loop.fds.find(pfds[i].fd);
          if (it != loop.fds.end() && it->second == handlers[i]) current = it->second;
          if (current && (pfds[i].revents & POLLNVAL)) {
            // Closed without RemoveFdWatch: polling it again would spin.
            loop.fds.erase(it);
            current.reset();
          }
        }
        if (pfds[i].revents & POLLNVAL) {
          ReportUncaught("descriptor watch " + std::to_string(pfds[i].fd),
                         "descriptor closed while watched; watch removed");
          continue;
        }
        if (current) {
          any = true;
          CallFdHandler(pfds[i].fd, current);
        }
      }
    }
    if (any) return true;
    if (deadline && TClock::now() >= *deadline) return true;
  }
}

int RunMessageLoop() {
  while (PumpMessages(-1)) {
  }
  // Cross-thread sends would otherwise wait forever once the loop has ended.
  int code;
  {
    std::lock_guard<std::mutex> lock(Loop().m);
    Loop().acceptsSends = false;
    code = Loop().quitCode;
  }
  FailPendingSends();
  return code;
}

}  // namespace kelvo
