#include "foundation/Log.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/Config.h"
#include "foundation/DateUtils.h"
#include "foundation/KException.h"
#include "foundation/Utf8.h"
#include "platform/DebugSink.h"
#include "platform/SystemInfo.h"

namespace kelvo {

namespace {

namespace fs = std::filesystem;

struct TKind {
  const char* tag;
  int minLevel;  // written when the level is at least this
};

constexpr TKind kDebug{"dbg", 5};
constexpr TKind kInfo{"inf", 4};
constexpr TKind kWarning{"wrn", 3};
constexpr TKind kError{"err", 2};
constexpr TKind kException{"exc", 2};

constexpr const char* kStampFormat = "yyyy-mm-dd hh:nn:ss.zzz";

struct TLogState {
  // Read without the lock on every entry.
  std::atomic<int> level{0};
  std::atomic<bool> withIds{false};
  std::atomic<bool> withMemory{false};

  // The writer lock: covers the settings below, rotation and each append, so
  // that lines of several threads never interleave.
  std::mutex writerMutex;
  std::string fileName;
  bool enabled = false;
  bool limitReached = false;  // disabled for good
  bool created = false;
  bool firstEntry = true;
  // Characters (code points, the CR LF separators not counted) written to
  // the file in this run.
  std::size_t total = 0;
  bool rotated = false;

  std::mutex timerMutex;
  std::optional<std::map<std::string, std::uint64_t>> timers;
  std::optional<std::uint64_t> lastStart;
  std::optional<std::uint64_t> firstTime;
};

// Never destroyed: objects destroyed at exit may still log.
TLogState& State() {
  static TLogState* state = new TLogState;
  return *state;
}

// Guards against a call made from inside the same operation on this thread:
// the settings store may log while "error-logged" is written, and an error
// logged there must not write "error-logged" again.
thread_local bool tInsideWrite = false;
thread_local bool tInsideMark = false;

class TReentryGuard {
 public:
  explicit TReentryGuard(bool& flag) : flag_(flag), entered_(!flag) { flag_ = true; }
  ~TReentryGuard() {
    if (entered_) flag_ = false;
  }
  TReentryGuard(const TReentryGuard&) = delete;
  TReentryGuard& operator=(const TReentryGuard&) = delete;
  bool Entered() const { return entered_; }

 private:
  bool& flag_;
  bool entered_;
};

// The text as well-formed UTF-8 (a stray byte becomes U+FFFD) and its
// number of characters.
std::string CleanUtf8(const std::string& text, std::size_t& chars) {
  chars = 0;
  if (IsValidUtf8(text)) {
    chars = Utf8Length(text);
    return text;
  }
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t pos = 0; pos < text.size();) {
    TUtf8Char c = DecodeUtf8(text, pos);
    if (c.valid) out.append(text, pos, c.length);
    else AppendUtf8(out, U'\uFFFD');
    pos += c.length ? c.length : 1;
    ++chars;
  }
  return out;
}

std::string BuildLine(const TKind& kind, const std::string& text) {
  TLogState& s = State();
  std::string stamp = FormatDateTime(kStampFormat, Now(), TDateLanguage::English);
  std::string line = "[";
  if (s.withIds.load()) {
    std::string memory;
    if (s.withMemory.load()) {
      // The working set; a failing query discards the entry.
      double mb = static_cast<double>(GetResidentSetBytes()) / (1024.0 * 1024.0);
      memory = " " + std::to_string(static_cast<long long>(std::llround(mb))) + "Mb";
    }
    line += TLog::FormatId(GetCurrentThreadId()) + " " + TLog::FormatId(GetCurrentProcessId()) + " " + stamp + " " + kind.tag + memory;
  } else {
    line += stamp + " " + kind.tag;
  }
  line += "] ";
  line += text;
  return line;
}

// Base name for the older generations: the name without its extension (a
// trailing "." goes as well), "log.ap.txt" -> "log.ap".
std::string RotationBase(const std::string& fileName) {
  fs::path p(fileName);
  p.replace_extension();
  return p.string();
}

void RotateLocked(const std::string& fileName) {
  const std::string base = RotationBase(fileName);
  const std::string prev = base + ".prev.txt";
  const std::string prev1 = base + ".prev1.txt";
  const std::string prev2 = base + ".prev2.txt";
  std::error_code ec;
  fs::remove(prev2, ec);
  // Each step only when its source exists; failures leave the file in
  // place, and the first append truncates it then.
  if (fs::exists(prev1, ec)) fs::rename(prev1, prev2, ec);
  if (fs::exists(prev, ec)) fs::rename(prev, prev1, ec);
  if (fs::exists(fileName, ec)) fs::rename(fileName, prev, ec);
  fs::path folder = fs::path(fileName).parent_path();
  if (!folder.empty() && !fs::exists(folder, ec)) fs::create_directories(folder, ec);
}

std::string FileNameLocked() {
  TLogState& s = State();
  if (!s.rotated && !s.fileName.empty()) {
    s.rotated = true;
    RotateLocked(s.fileName);
  }
  return s.fileName;
}

// Writes one line (already clean UTF-8 of `chars` characters) to the file.
void AppendLocked(const std::string& line, std::size_t chars) {
  TLogState& s = State();
  if (!s.enabled || s.fileName.empty()) return;
  if (!s.created) {
    std::FILE* f = std::fopen(s.fileName.c_str(), "wb");
    if (!f) return;
    std::fclose(f);
    s.created = true;
  }
  std::FILE* f = std::fopen(s.fileName.c_str(), "ab");
  if (!f) return;
  std::string out;
  out.reserve(line.size() + 2);
  if (!s.firstEntry) out += "\r\n";
  out += line;
  std::size_t written = std::fwrite(out.data(), 1, out.size(), f);
  std::fclose(f);
  if (written == 0) return;
  s.firstEntry = false;
  s.total += chars;
  if (s.total > TLog::kLimit && !s.limitReached) {
    // One last line by the same route, then the file stays as it is.
    s.limitReached = true;
    std::string stop =
        "Logging stopped - limit reached ( " + std::to_string(TLog::kLimit) + " bytes)";
    AppendLocked(stop, stop.size());
    s.enabled = false;
  }
}

// One entry of several lines (the exception entry): the lines stay together
// in the file.
void Write(const TKind& kind, const std::vector<std::string>& texts) {
  TLogState& s = State();
  if (s.level.load() < kind.minLevel) return;
  TReentryGuard guard(tInsideWrite);
  if (!guard.Entered()) return;
  try {
    std::vector<std::pair<std::string, std::size_t>> lines;
    lines.reserve(texts.size());
    for (const std::string& text : texts) {
      std::size_t chars = 0;
      std::string line = CleanUtf8(BuildLine(kind, text), chars);
      lines.emplace_back(std::move(line), chars);
    }
    {
      std::lock_guard<std::mutex> lock(s.writerMutex);
      FileNameLocked();
      for (const auto& [line, chars] : lines) AppendLocked(line, chars);
    }
    // The debug sink sees every entry, also after the file writer stopped.
    for (const auto& line : lines) DebugOutput("kelvo:" + line.first);
  } catch (...) {
    // A failure while building or writing discards the entry.
  }
}

void Write(const TKind& kind, const std::string& text) { Write(kind, std::vector<std::string>{text}); }

void MarkErrorLogged() {
  TReentryGuard guard(tInsideMark);
  if (!guard.Entered()) return;
  try {
    TConfig::SetErrorLogged(true);
  } catch (...) {
  }
}

}  // namespace

void TLog::Init(int level, const std::string& fileName, bool withMemory, bool withIds) {
  try {
    TLogState& s = State();
    if (level < 0) level = 0;
    if (level > 5) level = 5;
    s.withMemory = withMemory;
    s.withIds = withIds;
    {
      std::lock_guard<std::mutex> lock(s.writerMutex);
      if (fileName != s.fileName) {
        // A new file begins its own generations.
        s.fileName = fileName;
        s.rotated = false;
        s.created = false;
        s.firstEntry = true;
      }
      if (level != 0 && !s.limitReached) s.enabled = true;
    }
    s.level = level;
  } catch (...) {
  }
}

void TLog::Debug(const std::string& text) { Write(kDebug, text); }
void TLog::Info(const std::string& text) { Write(kInfo, text); }
void TLog::Warning(const std::string& text) { Write(kWarning, text); }

void TLog::Error(const std::string& text) {
  MarkErrorLogged();
  Write(kError, text);
}

void TLog::LogException(const std::exception& e, const std::string& context) {
  MarkErrorLogged();
  if (State().level.load() < kException.minLevel) return;
  try {
    auto* k = dynamic_cast<const TKException*>(&e);
    std::string message = k ? k->FullMessage() : std::string(e.what());
    Write(kException, {"------------EXCEPTION------------------",
                       ExceptionClassName(e) + ":" + message, context,
                       "---------------------------------------"});
  } catch (...) {
  }
}

void TLog::TimerStart(const std::string& name) {
  try {
    TLogState& s = State();
    std::uint64_t now = TickCount();
    std::lock_guard<std::mutex> lock(s.timerMutex);
    if (!name.empty()) {
      if (!s.timers) s.timers.emplace();
      s.timers->emplace(name, now);  // a second start of a running name keeps the first
    }
    s.lastStart = now;
  } catch (...) {
  }
}

void TLog::TimerStop(const std::string& name) {
  try {
    TLogState& s = State();
    std::uint64_t now = TickCount();
    std::uint64_t start = now;
    {
      std::lock_guard<std::mutex> lock(s.timerMutex);
      // Without any start at all the timer measures nothing (0 ms).
      start = s.lastStart.value_or(now);
      if (s.timers) {
        auto it = s.timers->find(name);
        if (it != s.timers->end()) start = it->second;
        s.timers.reset();
      }
    }
    Write(kDebug, "Timer \"" + name + "\":" + std::to_string(now - start));
  } catch (...) {
  }
}

void TLog::Time(const std::string& text) {
  try {
    TLogState& s = State();
    std::uint64_t elapsed = 0;
    {
      std::lock_guard<std::mutex> lock(s.timerMutex);
      std::uint64_t now = TickCount();
      if (!s.firstTime) s.firstTime = now;
      elapsed = now - *s.firstTime;
    }
    Write(kDebug, "TIME(" + std::to_string(elapsed) + "):" + text);
  } catch (...) {
  }
}

std::string TLog::GetFileName() {
  try {
    TLogState& s = State();
    std::lock_guard<std::mutex> lock(s.writerMutex);
    return FileNameLocked();
  } catch (...) {
    return std::string();
  }
}

int TLog::Level() { return State().level.load(); }

std::string TLog::FormatId(std::uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%04X", static_cast<unsigned>(id));
  return buf;
}

void TLog::ResetForTests() {
  TLogState& s = State();
  s.level = 0;
  s.withIds = false;
  s.withMemory = false;
  {
    std::lock_guard<std::mutex> lock(s.writerMutex);
    s.fileName.clear();
    s.enabled = false;
    s.limitReached = false;
    s.created = false;
    s.firstEntry = true;
    s.total = 0;
    s.rotated = false;
  }
  std::lock_guard<std::mutex> lock(s.timerMutex);
  s.timers.reset();
  s.lastStart.reset();
  s.firstTime.reset();
}

}  // namespace kelvo
