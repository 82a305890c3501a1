#pragma once
// The process-wide diagnostic log: one file per run with three older
// generations, entries at four levels plus exception entries and timers.
// Any thread may log; no logging failure ever reaches the caller.

#include <exception>
#include <string>

namespace kelvo {

class TLog {
 public:
  TLog() = delete;

  // Stores the settings; a non-zero level enables the file writer.
  static void Init(int level, const std::string& fileName, bool withMemory, bool withIds);

  static void Debug(const std::string& text);
  static void Info(const std::string& text);
  static void Warning(const std::string& text);
  static void Error(const std::string& text);
  static void LogException(const std::exception& e, const std::string& context);

  static void TimerStart(const std::string& name);
  static void TimerStop(const std::string& name);
  static void Time(const std::string& text);

  // The current file name; rotates the older files on the first call of a run.
  static std::string GetFileName();

  static int Level();
};

}  // namespace kelvo
