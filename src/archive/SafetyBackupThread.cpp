#include "archive/SafetyBackupThread.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "bookmarks/FileBookmark.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"

namespace kelvo {

bool TSafetyBackupThread::Run(const std::string& favoritesFolder, const std::string& backupFolder) {
  try {
    const std::string folder = WithTrailingSlash(backupFolder);
    std::error_code ec;
    if (!std::filesystem::is_directory(favoritesFolder, ec)) {
      TLog::Error("TSafetyBackupThread:Favorites folder not found:" + favoritesFolder);
      return false;
    }
    TFileTools::CreateFolder(folder);
    TLog::Info("Doing safety backup to " + folder);
    if (!TFileTools::CopyFolder(favoritesFolder, folder, true)) {
      TLog::Error("TSafetyBackupThread:could not copy " + favoritesFolder + " to " + folder);
      return false;
    }
    TConfig::SetSafetyBackupDone(true);
    return true;
  } catch (const std::exception& e) {
    TLog::LogException(e, "TSafetyBackupThread.Execute");
    return false;
  }
}

std::shared_ptr<TSafetyBackupThread> TSafetyBackupThread::Start(const std::string& favoritesFolder,
                                                                const std::string& backupFolder,
                                                                TOnDone onDone) {
  std::shared_ptr<TSafetyBackupThread> self(new TSafetyBackupThread());
  auto body = [self, favoritesFolder, backupFolder, onDone = std::move(onDone)] {
    bool success = false;
    {
      TThreadRegistration registration(kClassName);
      success = Run(favoritesFolder, backupFolder);
      if (onDone) {
        try {
          onDone(success);
        } catch (...) {
        }
      }
    }
    std::lock_guard<std::mutex> lock(self->lock_);
    self->success_ = success;
    self->finished_ = true;
    self->finishedCv_.notify_all();
  };
  try {
    std::thread(body).detach();
  } catch (const std::system_error& e) {
    // No thread to be had: the copy is still worth making.
    TLog::LogException(e, "TSafetyBackupThread.Start");
    body();
  }
  return self;
}

std::shared_ptr<TSafetyBackupThread> TSafetyBackupThread::StartIfNeeded(const std::string& favoritesFolder) {
  if (TConfig::GetSafetyBackupDone()) return nullptr;
  return Start(favoritesFolder, TConfig::ArchiveInitPath());
}

bool TSafetyBackupThread::WaitFinished(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(lock_);
  return finishedCv_.wait_for(lock, timeout, [this] { return finished_; });
}

bool TSafetyBackupThread::Succeeded() const {
  std::lock_guard<std::mutex> lock(lock_);
  return success_;
}

}  // namespace kelvo
