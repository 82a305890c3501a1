#pragma once
// The process-wide diagnostic log: one file per run with three older
// generations, entries at four levels plus exception entries and timers.
// Any thread may log; no logging failure ever reaches the caller.
//
// Every entry is one line "[" + ids + time stamp + " " + tag + "] " + text
// in UTF-8; entries are separated by CR LF, the file does not end with one.
// The file is opened and closed for each entry so that a crash loses nothing
// already logged. Every entry also goes to the debug sink as "kelvo:" + line.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace kelvo {

class TLog {
 public:
  TLog() = delete;

  // File logging stops for the rest of the run once this many characters
  // were written.
  static constexpr std::size_t kLimit = 5120000;

  // Stores the settings; a non-zero level enables the file writer. Levels:
  // 0 off, 1 nothing written, 2 errors and exceptions, 3 + warnings,
  // 4 + information, 5 + debug. Values outside 0-5 are clamped.
  static void Init(int level, const std::string& fileName, bool withMemory, bool withIds);

  static void Debug(const std::string& text);
  static void Info(const std::string& text);
  static void Warning(const std::string& text);
  // Also marks "error-logged" in the settings, whatever the level.
  static void Error(const std::string& text);
  // Four "exc" lines: a banner, class name + ":" + the (chained) message, the
  // context, a closing line. Marks "error-logged" whatever the level.
  static void LogException(const std::exception& e, const std::string& context);

  // Named timers: TimerStop writes a debug entry `Timer "name":<ms>`. A name
  // that was never started measures from the last TimerStart of any name.
  static void TimerStart(const std::string& name);
  static void TimerStop(const std::string& name);
  // Debug entry "TIME(" + ms since the first Time call + "):" + text.
  static void Time(const std::string& text);

  // The current file name; rotates the older files on the first call of a run.
  static std::string GetFileName();

  static int Level();

  // How thread and process ids appear in a line: "$" and at least four
  // upper-case hexadecimal digits (420 -> "$01A4").
  static std::string FormatId(std::uint32_t id);

  // Test support: forget every setting and all writer, timer and rotation
  // state, as at the start of a new process run.
  static void ResetForTests();
};

}  // namespace kelvo
