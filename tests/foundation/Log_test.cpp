#include "foundation/Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/KException.h"
#include "foundation/Utf8.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
KELVO_DECLARE_EXCEPTION(TLogTestFileException, TKException);
KELVO_DECLARE_EXCEPTION(TLogTestScriptException, TKException);
}  // namespace kelvo

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  while (true) {
    std::size_t p = text.find("\r\n", start);
    lines.push_back(text.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 2;
  }
  return lines;
}

// One line taken apart; ok is false when it does not have the log's form
// "[" + ["$tid $pid "] + "yyyy-mm-dd hh:nn:ss.zzz " + tag + [" <n>Mb"] + "] " + message.
struct TParsedLine {
  bool ok = false;
  std::string tid, pid, stamp, tag, memory, message;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "$" and at least four upper-case hex digits, then a blank.
bool ReadId(const std::string& s, std::size_t& p, std::string& id) {
  if (p >= s.size() || s[p] != '$') return false;
  std::size_t q = p + 1;
  while (q < s.size() && (IsDigit(s[q]) || (s[q] >= 'A' && s[q] <= 'F'))) ++q;
  if (q - p - 1 < 4 || q >= s.size() || s[q] != ' ') return false;
  id = s.substr(p, q - p);
  p = q + 1;
  return true;
}

TParsedLine ParseLine(const std::string& s) {
  TParsedLine r;
  std::size_t p = 0;
  if (s.empty() || s[p++] != '[') return r;
  if (p < s.size() && s[p] == '$') {
    if (!ReadId(s, p, r.tid) || !ReadId(s, p, r.pid)) return r;
  }
  const std::string shape = "0000-00-00 00:00:00.000";
  if (s.size() < p + shape.size() + 5) return r;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    char c = s[p + i];
    if (shape[i] == '0' ? !IsDigit(c) : c != shape[i]) return r;
  }
  r.stamp = s.substr(p, shape.size());
  p += shape.size();
  if (s[p++] != ' ') return r;
  r.tag = s.substr(p, 3);
  for (char c : r.tag)
    if (c < 'a' || c > 'z') return r;
  p += 3;
  if (p < s.size() && s[p] == ' ') {
    std::size_t q = p + 1;
    while (q < s.size() && IsDigit(s[q])) ++q;
    if (q == p + 1 || s.compare(q, 2, "Mb") != 0) return r;
    r.memory = s.substr(p + 1, q - p - 1);
    p = q + 2;
  }
  if (s.compare(p, 2, "] ") != 0) return r;
  r.message = s.substr(p + 2);
  r.ok = true;
  return r;
}

std::string MessageOf(const std::string& line) { return ParseLine(line).message; }

// The tag of a well-formed line written with ids, "?" otherwise.
std::string TagOf(const std::string& line) {
  TParsedLine p = ParseLine(line);
  return p.ok && !p.tid.empty() ? p.tag : std::string("?");
}

// The number after `prefix` when the text is prefix + digits + suffix; -1
// otherwise.
long long NumberBetween(const std::string& text, const std::string& prefix,
                        const std::string& suffix) {
  if (text.compare(0, prefix.size(), prefix) != 0) return -1;
  std::size_t p = prefix.size();
  std::size_t q = p;
  while (q < text.size() && IsDigit(text[q])) ++q;
  if (q == p || text.substr(q) != suffix) return -1;
  return std::stoll(text.substr(p, q - p));
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    registry_ = std::make_shared<TMemoryRegistry>();
    SetRegistry(registry_);
    TLog::ResetForTests();
    file_ = home_->Sub(".local/share/Kelvo/log/log.ap.txt");
  }
  void TearDown() override {
    TLog::ResetForTests();
    SetRegistry(nullptr);
    home_.reset();
  }

  // Starts a new run of the log on file_.
  void StartRun(int level, bool withIds = true, bool withMemory = false) {
    TLog::ResetForTests();
    TLog::Init(level, file_, withMemory, withIds);
  }

  std::string FileText() const { return ReadFileText(file_); }
  std::vector<std::string> Lines() const { return SplitCrLf(FileText()); }

  bool ErrorLogged() {
    auto v = Registry().ReadString(TRegRoot::HKCU, "Software\\Kelvo", "error-logged");
    return v && *v == "1";
  }
  void ClearErrorLogged() {
    Registry().DeleteValue(TRegRoot::HKCU, "Software\\Kelvo", "error-logged");
  }

  std::unique_ptr<TTestHome> home_;
  std::shared_ptr<TMemoryRegistry> registry_;
  std::string file_;
};

TEST_F(LogTest, LevelDecidesWhichKindsAreWritten) {
  struct TCase {
    int level;
    std::set<std::string> tags;
  };
  const TCase cases[] = {
      {0, {}},
      {1, {}},
      {2, {"err", "exc"}},
      {3, {"err", "exc", "wrn"}},
      {4, {"err", "exc", "wrn", "inf"}},
      {5, {"err", "exc", "wrn", "inf", "dbg"}},
      {9, {"err", "exc", "wrn", "inf", "dbg"}},  // clamped to 5
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level));
    fs::remove(file_);
    StartRun(c.level);
    TLog::Debug("d");
    TLog::Info("i");
    TLog::Warning("w");
    TLog::Error("e");
    TLog::LogException(std::runtime_error("boom"), "ctx");
    std::set<std::string> tags;
    for (const std::string& line : Lines()) tags.insert(TagOf(line));
    EXPECT_EQ(tags, c.tags);
    EXPECT_EQ(TLog::Level(), c.level > 5 ? 5 : c.level);
  }
}

TEST_F(LogTest, ErrorsMarkErrorLoggedWhateverTheLevel) {
  for (int level : {0, 1, 2}) {
    SCOPED_TRACE("level " + std::to_string(level));
    fs::remove(file_);
    StartRun(level);
    ClearErrorLogged();
    TLog::Info("not an error");
    EXPECT_FALSE(ErrorLogged());
    TLog::Error("it failed");
    EXPECT_TRUE(ErrorLogged());
    std::vector<std::string> lines = Lines();
    if (level < 2) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(TagOf(lines[0]), "err");
      EXPECT_EQ(MessageOf(lines[0]), "it failed");
    }

    ClearErrorLogged();
    TLog::LogException(std::runtime_error("x"), "ctx");
    EXPECT_TRUE(ErrorLogged());
  }
}

TEST_F(LogTest, EntriesBeforeInitAreDiscarded) {
  TLog::Error("too early");
  TLog::Info("too early");
  EXPECT_TRUE(ErrorLogged());
  EXPECT_FALSE(fs::exists(file_));
  TLog::Init(5, file_, false, true);
  TLog::Info("now");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(MessageOf(lines[0]), "now");
}

TEST_F(LogTest, LoggingSurvivesAMissingSettingsStore) {
  SetRegistry(nullptr);  // the settings store is not reachable
  StartRun(2);
  TLog::Error("still written");
  ASSERT_EQ(Lines().size(), 1u);
  registry_->SetFailing(true);
  SetRegistry(registry_);
  TLog::Error("and again");
  EXPECT_EQ(Lines().size(), 2u);
}

// A settings store that logs, or throws, while a value is written.
class TNoisyRegistry final : public IRegistry {
 public:
  enum class TMode { Log, Throw };
  explicit TNoisyRegistry(TMode mode) : mode_(mode) {}
  bool KeyExists(TRegRoot r, const std::string& p) override { return inner_.KeyExists(r, p); }
  bool CreateKey(TRegRoot r, const std::string& p) override { return inner_.CreateKey(r, p); }
  std::optional<std::string> ReadString(TRegRoot r, const std::string& p,
                                        const std::string& n) override {
    return inner_.ReadString(r, p, n);
  }
  bool WriteString(TRegRoot r, const std::string& p, const std::string& n,
                   const std::string& v) override {
    ++writes_;
    if (mode_ == TMode::Throw) throw std::runtime_error("store broken");
    TLog::Error("store complains about " + n);
    return inner_.WriteString(r, p, n, v);
  }
  bool WriteValue(TRegRoot r, const std::string& p, const std::string& n, int t,
                  const std::string& d) override {
    return inner_.WriteValue(r, p, n, t, d);
  }
  bool DeleteValue(TRegRoot r, const std::string& p, const std::string& n) override {
    return inner_.DeleteValue(r, p, n);
  }
  bool DeleteKey(TRegRoot r, const std::string& p) override { return inner_.DeleteKey(r, p); }
  std::vector<std::pair<std::string, std::string>> ListStrings(TRegRoot r,
                                                               const std::string& p) override {
    return inner_.ListStrings(r, p);
  }
  std::vector<std::string> ListSubKeys(TRegRoot r, const std::string& p) override {
    return inner_.ListSubKeys(r, p);
  }
  int Writes() const { return writes_; }

 private:
  TMode mode_;
  TMemoryRegistry inner_;
  int writes_ = 0;
};

TEST_F(LogTest, AStoreThatLogsOrThrowsWhileMarkingDoesNotLoop) {
  auto noisy = std::make_shared<TNoisyRegistry>(TNoisyRegistry::TMode::Log);
  SetRegistry(noisy);
  StartRun(2);
  TLog::Error("outer");
  // The store's own error is written, but does not mark again.
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "store complains about error-logged");
  EXPECT_EQ(MessageOf(lines[1]), "outer");
  EXPECT_EQ(noisy->Writes(), 1);

  auto broken = std::make_shared<TNoisyRegistry>(TNoisyRegistry::TMode::Throw);
  SetRegistry(broken);
  EXPECT_NO_THROW(TLog::Error("still logged"));
  EXPECT_NO_THROW(TLog::LogException(std::runtime_error("x"), "ctx"));
  EXPECT_EQ(Lines().size(), 2u + 1u + 4u);
  SetRegistry(registry_);
}

TEST_F(LogTest, LineFormats) {
  StartRun(4, /*withIds=*/true);
  TLog::Info("with ids");
  StartRun(4, /*withIds=*/false);
  TLog::Info("without ids");
  StartRun(4, /*withIds=*/true, /*withMemory=*/true);
  TLog::Info("with memory");
  // Each run starts a new file: look at the generations.
  std::string withIds = ReadFileText(home_->Sub(".local/share/Kelvo/log/log.ap.prev1.txt"));
  std::string withoutIds = ReadFileText(home_->Sub(".local/share/Kelvo/log/log.ap.prev.txt"));
  std::string withMemory = FileText();

  const std::string pid = TLog::FormatId(static_cast<std::uint32_t>(getpid()));
  const std::string tid = TLog::FormatId(static_cast<std::uint32_t>(syscall(SYS_gettid)));
  TParsedLine a = ParseLine(withIds);
  EXPECT_TRUE(a.ok) << withIds;
  EXPECT_EQ(a.tid, tid);
  EXPECT_EQ(a.pid, pid);
  EXPECT_EQ(a.tag, "inf");
  EXPECT_EQ(a.memory, "");
  EXPECT_EQ(a.message, "with ids");
  EXPECT_EQ(withIds.substr(0, 1 + tid.size() + 1 + pid.size() + 1), "[" + tid + " " + pid + " ");

  TParsedLine b = ParseLine(withoutIds);
  EXPECT_TRUE(b.ok) << withoutIds;
  EXPECT_EQ(b.tid, "");
  EXPECT_EQ(withoutIds, "[" + b.stamp + " inf] without ids");

  TParsedLine c = ParseLine(withMemory);
  EXPECT_TRUE(c.ok) << withMemory;
  EXPECT_EQ(c.tid, tid);
  EXPECT_FALSE(c.memory.empty());
  EXPECT_NE(c.memory, "0");  // a test process holds more than half a megabyte
  EXPECT_EQ(withMemory, "[" + tid + " " + pid + " " + c.stamp + " inf " + c.memory + "Mb] with memory");
}

TEST(LogFormatIdTest, DollarAndAtLeastFourUpperCaseHexDigits) {
  EXPECT_EQ(TLog::FormatId(420), "$01A4");
  EXPECT_EQ(TLog::FormatId(0), "$0000");
  EXPECT_EQ(TLog::FormatId(0xFFFF), "$FFFF");
  EXPECT_EQ(TLog::FormatId(0x3ABCDE), "$3ABCDE");
}

TEST_F(LogTest, ThreadIdIsTheKernelThreadId) {
  StartRun(4);
  std::uint32_t workerTid = 0;
  std::thread worker([&] {
    workerTid = static_cast<std::uint32_t>(syscall(SYS_gettid));
    TLog::Info("from worker");
  });
  worker.join();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, TLog::FormatId(workerTid).size() + 2),
            "[" + TLog::FormatId(workerTid) + " ");
}

TEST_F(LogTest, EntriesAreSeparatedByCrLfWithoutLeadingOrTrailingBreak) {
  StartRun(5);
  TLog::Info("one");
  std::string afterOne = FileText();
  EXPECT_EQ(MessageOf(afterOne), "one");
  EXPECT_EQ(afterOne.find('\r'), std::string::npos);
  EXPECT_EQ(afterOne.find('\n'), std::string::npos);
  TLog::Warning("two");
  TLog::Debug("three");
  std::string text = FileText();
  EXPECT_NE(text.substr(0, 1), "\r");
  EXPECT_NE(text.back(), '\n');
  std::vector<std::string> lines = SplitCrLf(text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(MessageOf(lines[0]), "one");
  EXPECT_EQ(MessageOf(lines[1]), "two");
  EXPECT_EQ(MessageOf(lines[2]), "three");
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST_F(LogTest, FirstUseOfARunRotatesThreeGenerations) {
  WriteFileText(file_, "run 4");
  const std::string dir = home_->Sub(".local/share/Kelvo/log/");
  WriteFileText(dir + "log.ap.prev.txt", "run 3");
  WriteFileText(dir + "log.ap.prev1.txt", "run 2");
  WriteFileText(dir + "log.ap.prev2.txt", "run 1");
  StartRun(4);
  EXPECT_EQ(TLog::GetFileName(), file_);
  TLog::Info("run 5 a");
  TLog::Info("run 5 b");
  EXPECT_EQ(TLog::GetFileName(), file_);  // no second rotation in the same run
  TLog::Info("run 5 c");
  EXPECT_EQ(ReadFileText(dir + "log.ap.prev.txt"), "run 4");
  EXPECT_EQ(ReadFileText(dir + "log.ap.prev1.txt"), "run 3");
  EXPECT_EQ(ReadFileText(dir + "log.ap.prev2.txt"), "run 2");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(MessageOf(lines[0]), "run 5 a");
  EXPECT_EQ(MessageOf(lines[2]), "run 5 c");
}

TEST_F(LogTest, RotationWithGapsAndAMissingFolder) {
  // No log folder yet: it is created with its parents.
  EXPECT_FALSE(fs::exists(fs::path(file_).parent_path()));
  StartRun(4);
  TLog::Info("first run");
  EXPECT_EQ(MessageOf(FileText()), "first run");
  EXPECT_FALSE(fs::exists(home_->Sub(".local/share/Kelvo/log/log.ap.prev.txt")));

  // Only the current file and the oldest generation: the oldest goes, the
  // current one moves down one step.
  const std::string dir = home_->Sub(".local/share/Kelvo/log/");
  WriteFileText(dir + "log.ap.prev2.txt", "oldest");
  StartRun(4);
  TLog::Info("second run");
  EXPECT_EQ(MessageOf(ReadFileText(dir + "log.ap.prev.txt")), "first run");
  EXPECT_FALSE(fs::exists(dir + "log.ap.prev1.txt"));
  EXPECT_FALSE(fs::exists(dir + "log.ap.prev2.txt"));
  EXPECT_EQ(MessageOf(FileText()), "second run");
}

TEST_F(LogTest, AFileThatCannotBeRotatedIsTruncatedByTheFirstEntry) {
  const std::string dir = home_->Sub(".local/share/Kelvo/log/");
  WriteFileText(file_, "previous run");
  // A folder in the place of the first generation makes the move fail.
  fs::create_directories(dir + "log.ap.prev.txt/blocker");
  StartRun(4);
  TLog::Info("new run");
  EXPECT_EQ(MessageOf(FileText()), "new run");
}

TEST_F(LogTest, AFolderThatCannotBeCreatedFailsSilently) {
  WriteFileText(home_->Sub("blocked"), "a file, not a folder");
  file_ = home_->Sub("blocked/log/log.ap.txt");
  StartRun(5);
  TLog::Error("nowhere to go");
  EXPECT_EQ(TLog::GetFileName(), file_);
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_TRUE(ErrorLogged());
}

TEST_F(LogTest, LimitStopsTheFileWithOneLastLine) {
  StartRun(4, /*withIds=*/false);
  // Two-byte characters: the limit counts characters, so it takes about
  // 512 entries of 10000 characters, not 256.
  std::string text;
  for (int i = 0; i < 10000; ++i) text += "\xC3\xA9";  // é
  int entries = 0;
  std::size_t before = 0;
  for (; entries < 600; ++entries) {
    TLog::Info(text);
    std::size_t size = fs::file_size(file_);
    if (size == before) break;  // the writer has stopped
    before = size;
  }
  setenv("KELVO_DEBUG_OUTPUT", "1", 1);
  ::testing::internal::CaptureStderr();
  TLog::Info("after the stop");
  std::string debugOut = ::testing::internal::GetCapturedStderr();
  unsetenv("KELVO_DEBUG_OUTPUT");

  std::string file = FileText();
  const std::string last = "Logging stopped - limit reached ( 5120000 bytes)";
  ASSERT_GE(file.size(), last.size() + 2);
  EXPECT_EQ(file.substr(file.size() - last.size() - 2), "\r\n" + last);
  std::vector<std::string> lines = SplitCrLf(file);
  // Counting bytes would have stopped after about 256 entries.
  EXPECT_GT(lines.size(), 500u);
  EXPECT_LT(entries, 600);
  std::size_t chars = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) chars += Utf8Length(lines[i]);
  EXPECT_GT(chars, TLog::kLimit);
  EXPECT_LT(chars - Utf8Length(lines[lines.size() - 2]), TLog::kLimit);
  // Later entries still reach the debug sink.
  EXPECT_THAT(debugOut, ::testing::HasSubstr("kelvo:["));
  EXPECT_THAT(debugOut, ::testing::HasSubstr("inf] after the stop"));
}

TEST_F(LogTest, EveryEntryGoesToTheDebugSink) {
  setenv("KELVO_DEBUG_OUTPUT", "1", 1);
  StartRun(2);
  ::testing::internal::CaptureStderr();
  TLog::Error("sink me");
  TLog::Info("filtered out");
  std::string out = ::testing::internal::GetCapturedStderr();
  unsetenv("KELVO_DEBUG_OUTPUT");
  EXPECT_EQ(out, "kelvo:" + FileText() + "\n");
}

TEST_F(LogTest, ExceptionEntryPrintsClassAndChainedMessage) {
  StartRun(2);
  try {
    try {
      throw TLogTestFileException("Cannot open file:/x/y");
    } catch (const std::exception& inner) {
      throw TLogTestScriptException("Script failed", inner);
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBookmarksCtrl.Initialize:no id for meta:");
  }
  TLog::LogException(std::runtime_error("plain"), "ctx");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 8u);
  std::vector<std::string> messages;
  for (const std::string& line : lines) {
    EXPECT_EQ(TagOf(line), "exc");
    messages.push_back(MessageOf(line));
  }
  EXPECT_THAT(messages,
              ::testing::ElementsAre(
                  "------------EXCEPTION------------------",
                  "TLogTestScriptException:Script failed (raised from Cannot open file:/x/y)",
                  "TBookmarksCtrl.Initialize:no id for meta:",
                  "---------------------------------------",
                  "------------EXCEPTION------------------", "std::runtime_error:plain", "ctx",
                  "---------------------------------------"));
}

TEST_F(LogTest, Timers) {
  StartRun(5, /*withIds=*/false);
  // The tick count has to move between the starts; measured times are only
  // bounded by the gap, on the side that tells which start counted.
  const auto gap = std::chrono::milliseconds(200);
  TLog::TimerStart("first");
  std::this_thread::sleep_for(gap);
  TLog::TimerStart("second");
  TLog::TimerStop("never started");  // from the last start ("second"); the list goes

  TLog::TimerStart("outer");
  std::this_thread::sleep_for(gap);
  TLog::TimerStart("inner");
  TLog::TimerStop("outer");  // from its own start; the list goes
  TLog::TimerStop("inner");  // no list any more: from the last start ("inner")

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  auto elapsed = [&](std::size_t i, const std::string& name) {
    long long ms = NumberBetween(MessageOf(lines[i]), "Timer \"" + name + "\":", "");
    EXPECT_GE(ms, 0) << lines[i];
    return ms;
  };
  EXPECT_LT(elapsed(0, "never started"), gap.count());
  EXPECT_GE(elapsed(1, "outer"), gap.count());
  EXPECT_LT(elapsed(2, "inner"), gap.count());
  for (const std::string& line : lines) EXPECT_THAT(line, ::testing::HasSubstr(" dbg] "));
}

TEST_F(LogTest, TimerStopWithoutAnyStartMeasuresNothing) {
  StartRun(5, false);
  TLog::TimerStop("x");
  EXPECT_EQ(MessageOf(FileText()), "Timer \"x\":0");
}

TEST_F(LogTest, TimeCountsFromTheFirstCall) {
  StartRun(5, false);
  TLog::Time("start");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TLog::Time("later");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), "TIME(0):start");
  EXPECT_GE(NumberBetween(MessageOf(lines[1]), "TIME(", "):later"), 50) << lines[1];
}

TEST_F(LogTest, ConcurrentEntriesDoNotInterleave) {
  StartRun(4);
  const int kThreads = 8;
  const int kEntries = 200;
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &payload] {
      for (int i = 0; i < kEntries; ++i) {
        TLog::Info("t" + std::to_string(t) + "-" + std::to_string(i) + ":" + payload);
        if (i % 50 == 0) TLog::LogException(std::runtime_error("e"), "c" + std::to_string(t));
      }
    });
  }
  for (auto& th : threads) th.join();

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), std::size_t(kThreads * kEntries + kThreads * 4 * 4));
  std::set<std::string> seen;

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::string tag = TagOf(line);
    ASSERT_TRUE(tag == "inf" || tag == "exc") << line;
    if (tag == "inf") {
      std::string msg = MessageOf(line);
      ASSERT_EQ(msg.size() > payload.size() ? msg.substr(msg.size() - payload.size() - 1) : "",
                ":" + payload)
          << line;
      ASSERT_EQ(msg[0], 't') << line;
      EXPECT_TRUE(seen.insert(msg).second);
    } else if (MessageOf(line) == "------------EXCEPTION------------------") {
      // The four lines of an exception entry stay together.
      ASSERT_LT(i + 3, lines.size());
      EXPECT_EQ(MessageOf(lines[i + 1]), "std::runtime_error:e");
      EXPECT_EQ(MessageOf(lines[i + 3]), "---------------------------------------");
      i += 3;
    } else {
      ADD_FAILURE() << "exception line out of its entry: " << line;
    }
  }
  EXPECT_EQ(seen.size(), std::size_t(kThreads * kEntries));
}

TEST_F(LogTest, Utf8TextIsWrittenIntactAndStrayBytesAreReplaced) {
  StartRun(4, false);
  const std::string text = "Caf\xC3\xA9 \xE2\x98\x95 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  TLog::Info(text);
  TLog::Info("bad \xFF byte");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(MessageOf(lines[0]), text);
  EXPECT_EQ(MessageOf(lines[1]), "bad \xEF\xBF\xBD byte");
  EXPECT_TRUE(IsValidUtf8(FileText()));
  EXPECT_NE(FileText().substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
}

}  // namespace
}  // namespace kelvo::test
