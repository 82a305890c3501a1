#include "server/SrvScript.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

#include "bookmarks/BNode.h"
#include "foundation/AtomicFile.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "foundation/PlatformInfo.h"
#include "foundation/Translate.h"

namespace kelvo {

namespace {

// Held for the whole sync-id computation, the trace list included.
std::mutex& SyncIdMutex() {
  static std::mutex mutex;
  return mutex;
}

std::mutex& StateMutex() {
  static std::mutex mutex;
  return mutex;
}

TSyncIdTextSource& SyncIdSource() {
  static TSyncIdTextSource source;
  return source;
}

std::string& LastSyncIdSent() {
  static std::string value;
  return value;
}

std::string ToUpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Trace files are diagnostics: any failure here is ignored.
void SaveTrace(const std::string& syncId, TStringList lines) {
  const std::string dataPath = TConfig::AppDataPath();
  // Without a data folder there is nowhere safe to put it (a relative
  // "Log" would land in whatever the working folder is).
  if (dataPath.empty()) return;
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(dataPath) / "Log";
  try {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) text += "\r\n";
      text += lines[i];
    }
    text += "\r\n";
    WriteFileAtomic((folder / (syncId + ".txt")).string(), text);
  } catch (const std::exception&) {
  }

  std::error_code ec;
  const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) return;
  std::vector<fs::path> old;
  for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code entryEc;
    if (!it->is_regular_file(entryEc) || entryEc) continue;
    const std::string name = it->path().filename().string();
    if (name.rfind("log.", 0) == 0) continue;
    const auto written = it->last_write_time(entryEc);
    if (entryEc) continue;
    if (written < limit) old.push_back(it->path());
  }
  for (const fs::path& path : old) {
    std::error_code removeEc;
    fs::remove(path, removeEc);
  }
}

}  // namespace

void SetSyncIdTextSource(TSyncIdTextSource source) {
  std::lock_guard<std::mutex> lock(SyncIdMutex());
  SyncIdSource() = std::move(source);
}

std::string GetLastSyncIdSent() {
  std::lock_guard<std::mutex> lock(StateMutex());
  return LastSyncIdSent();
}

void SetLastSyncIdSent(const std::string& syncId) {
  std::lock_guard<std::mutex> lock(StateMutex());
  LastSyncIdSent() = syncId;
}

// ---- TSrvScript

TSrvScript::TSrvScript(IClientAreaTagPtr defaultTag) : defaultTag_(std::move(defaultTag)) {}

void TSrvScript::AddAction(const ISrvActionPtr& action) {
  if (!action) return;
  if (!action->GetClientTag()) action->SetClientTag(defaultTag_);
  actions_.push_back(action);
}

void TSrvScript::InsertAction(const ISrvActionPtr& action) {
  if (!action) return;
  actions_.insert(actions_.begin(), action);
}

void TSrvScript::DeleteAction(int index) {
  if (index < 0 || index >= Count()) {
    throw TSrvScriptException("TSrvScript.DeleteAction:invalid index:" + std::to_string(index));
  }
  actions_.erase(actions_.begin() + index);
}

ISrvActionPtr TSrvScript::GetAction(int index) const {
  if (index < 0 || index >= Count()) {
    throw TSrvScriptException("SrvAction not found:" + std::to_string(index));
  }
  return actions_[static_cast<std::size_t>(index)];
}

void TSrvScript::Write(TXmlDocument& document) {
  document = MakeFromString(MakeEmptyDocText("server-script"));
  TXmlElement root = document.DocumentElement();
  SetAttr(root, "version", "1.0");
  for (const ISrvActionPtr& action : actions_) {
    // Whatever a failing action appended goes again, so that the server
    // never sees half an action.
    const std::size_t before = root.Children().size();
    try {
      TXmlElement element;
      action->Write(root, element);
    } catch (const TKException& e) {
      const std::vector<TXmlNode> children = root.Children();
      for (std::size_t i = children.size(); i > before; --i) root.RemoveChild(children[i - 1]);
      TLog::LogException(e, Translate("Error making script for Kelvo server"));
    }
  }
}

std::string TSrvScript::Text() {
  TXmlDocument document;
  Write(document);
  return XmlText(document);
}

bool TSrvScript::NeedsAnswer() const {
  if (needsAnswer_) return true;
  return std::any_of(actions_.begin(), actions_.end(), [](const ISrvActionPtr& action) {
    const IClientAreaTagPtr tag = action->GetClientTag();
    return tag && tag->GetKind() == kTagKindNeedsAnswer;
  });
}

bool TSrvScript::HasActionOfKind(int kind) const {
  return std::any_of(actions_.begin(), actions_.end(),
                     [kind](const ISrvActionPtr& action) { return action->HasKind(kind); });
}

std::string TSrvScript::asSynchronizable() {
  TLog::Debug("CalculateSyncId");
  std::lock_guard<std::mutex> lock(SyncIdMutex());
  const bool tracing = TLog::Level() == 5;
  if (tracing) THashTrace::Create();
  std::string syncId;
  try {
    if (TConfig::HasState(kelvo::asSynchronizable)) {
      TLog::Debug("asSynchronizable");
      const std::string text = SyncIdSource() ? SyncIdSource()() : std::string();
      syncId = TFileTools::TextMD5(text);
    } else {
      TLog::Debug("asSynchronizable - no");
    }
  } catch (...) {
    if (tracing) THashTrace::Discard();
    throw;
  }
  if (tracing && THashTrace::Exists()) {
    TStringList lines = THashTrace::Take();
    lines.insert(lines.begin(), "Prev:" + GetLastSyncIdSent());
    SaveTrace(syncId, std::move(lines));
  }
  return syncId;
}

// ---- TSrvActnContext

TSrvActnContext::TSrvActnContext(IClientAreaTagPtr tag, bool omitSyncId)
    : TSrvActn(std::move(tag)), omitSyncId_(omitSyncId) {
  if (!TIdentification::GetNickname().empty()) userId_ = TIdentification::GetUserId();
}

void TSrvActnContext::Write(const TXmlElement& parent, TXmlElement& element) {
  TLog::Debug("TSrvActnContext.Write");
  TSrvActn::Write(parent, element);
  if (!element) return;
  const std::string lang = TConfig::GetLang();
  if (!lang.empty()) SetChildText(element, "lang", ToUpperAscii(lang));
  if (!userId_.empty()) SetChildText(element, "user-id", userId_);
  SetChildText(element, "client", "exe");
  const std::string version = GetFileVersion();
  if (!version.empty()) SetChildText(element, "version", version);
  if (!omitSyncId_) {
    TLog::Debug("FIncludeSyncId = IncludeSyncId");
    const std::string previous = GetLastSyncIdSent();
    if (!previous.empty()) SetChildText(element, "prev-sync-id", previous);
    const std::string syncId = TSrvScript::asSynchronizable();
    SetChildText(element, "sync-id", syncId);
    SetLastSyncIdSent(syncId);
  }
}

}  // namespace kelvo
