#include "foundation/ThreadRegistry.h"

#include <mutex>
#include <utility>

namespace kelvo {

namespace {

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

// Leaked on purpose: detached workers may still unregister while static
// destructors run at process exit.
std::map<std::string, int>& Counts() {
  static auto* counts = new std::map<std::string, int>();
  return *counts;
}

void Adjust(const std::string& className, int delta) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& counts = Counts();
  int& count = counts[className];
  count += delta;
  if (count == 0) counts.erase(className);
}

}  // namespace

void TThreadRegistry::Increment(const std::string& className) { Adjust(className, 1); }

void TThreadRegistry::Decrement(const std::string& className) { Adjust(className, -1); }

int TThreadRegistry::Count(const std::string& className) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Counts().find(className);
  return it == Counts().end() ? 0 : it->second;
}

bool TThreadRegistry::HasLiveThreads() {
  std::lock_guard<std::mutex> guard(RegistryLock());
  return !Counts().empty();
}

std::map<std::string, int> TThreadRegistry::Snapshot() {
  std::lock_guard<std::mutex> guard(RegistryLock());
  return Counts();
}

std::string TThreadRegistry::Text() {
  std::string text;
  for (const auto& [name, count] : Snapshot()) {
    if (!text.empty()) text += "\r\n";
    text += name + "=" + std::to_string(count);
  }
  return text;
}

TThreadRegistration::TThreadRegistration(std::string className)
    : className_(std::move(className)) {
  TThreadRegistry::Increment(className_);
}

TThreadRegistration::~TThreadRegistration() { TThreadRegistry::Decrement(className_); }

}  // namespace kelvo
