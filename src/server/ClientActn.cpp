#include "server/ClientActn.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>

#include "foundation/Config.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

std::mutex& RequestSyncMutex() {
  static std::mutex mutex;
  return mutex;
}

TRequestSyncData& RequestSyncStore() {
  static TRequestSyncData data;
  return data;
}

// Decimal text (blanks around it allowed) as an int; -1 for anything else,
// including a value outside the int range.
int CountOrMinusOne(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return -1;
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  const std::string digits = text.substr(first, last - first + 1);
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(digits.c_str(), &end, 10);
  if (end == digits.c_str() || *end != '\0' || errno == ERANGE) return -1;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return -1;
  return static_cast<int>(value);
}

// A preference's field: its attribute, or a child element of that name.
std::string PrefField(const TXmlElement& pref, const std::string& name) {
  if (pref.HasAttr(name)) return GetAttr(pref, name);
  for (const TXmlNode& child : pref.ChildElements()) {
    if (child.Name() == name) return child.Text();
  }
  return std::string();
}

// True when a class stands for the element (the action is added unless it
// could not be made, which is logged).
bool TakeAction(const TXmlNode& element, std::vector<IClientActionPtr>& actions) {
  try {
    IClientActionPtr action = CreateClientAction(element);
    if (!action) return false;
    actions.push_back(std::move(action));
  } catch (const TKException& e) {
    TLog::Warning("MakeClientActions:" + element.Name() + ":" + e.FullMessage());
  }
  return true;
}

void CollectActions(const TXmlNode& node, std::vector<IClientActionPtr>& actions) {
  for (const TXmlNode& child : node.ChildElements()) {
    if (!TakeAction(child, actions)) CollectActions(child, actions);
  }
}

}  // namespace

// --- Shared answer handling -------------------------------------------------

std::string ApplyContextAnswer(const TXmlDocument& answer) {
  if (answer.IsNone()) {
    TLog::Warning("ApplyContextAnswer:no answer document");
    return std::string();
  }
  const TXmlNode context = SelectSingleNode(answer, "//context");
  if (context.IsNone()) {
    TLog::Debug("ApplyContextAnswer:no context");
    return std::string();
  }

  const std::string userId = ValueOf(answer, "//user-id");
  const std::string lang = ValueOf(answer, "//lang");
  const TXmlNodeList prefs = SelectNodes(answer, "//client-prefs/pref");
  // Sent by the server, not used by this agent.
  ValueOf(answer, "//code-table/@url");
  ValueOf(answer, "//code-table/@date");

  if (!userId.empty()) TIdentification::SetUserId(userId);
  if (!lang.empty()) TConfig::SetLang(lang);

  for (const TXmlNode& pref : prefs) {
    if (!pref.IsElement()) continue;
    const std::string name = PrefField(pref, "name");
    PrefField(pref, "type");
    const std::string value = PrefField(pref, "value");
    if (name == "reco-service.url") {
      if (value != kBuiltInRecoServiceUrl) TLog::Error("ClientActnContext bad RECO URL:" + value);
      // The sidebar code reads the setting; an empty value is not written.
      TConfig::SetRecoServiceUrl(value);
    }
  }
  return userId;
}

bool ApplyRequestSync(const TXmlDocument& answer) {
  if (answer.IsNone()) {
    TLog::Warning("ApplyRequestSync:no answer document");
    return false;
  }
  const TXmlNode element = SelectSingleNode(answer, "//request-sync");
  if (element.IsNone() || !element.IsElement()) return false;

  TRequestSyncData data;
  data.serverSyncId = GetAttr(element, "server-sync-id");
  data.serverLinkCount = CountOrMinusOne(GetAttr(element, "link-count"));
  data.serverFolderCount = CountOrMinusOne(GetAttr(element, "folder-count"));
  SetRequestSyncData(data);

  TConfig::AddState(asSyncRequired, 1);
  TConfig::SetStatsCounter(kInvalidSyncIdCounter,
                           TConfig::GetStatsCounter(kInvalidSyncIdCounter) + 1);
  return true;
}

TXmlDocument ParseServerAnswer(const std::string& text, const std::string& context) {
  try {
    return MakeFromString(text);
  } catch (const TKException& e) {
    TLog::Error(context + ":unparsable answer:" + e.FullMessage());
  }
  return TXmlDocument();
}

TRequestSyncData GetRequestSyncData() {
  std::lock_guard<std::mutex> lock(RequestSyncMutex());
  return RequestSyncStore();
}

void SetRequestSyncData(const TRequestSyncData& data) {
  std::lock_guard<std::mutex> lock(RequestSyncMutex());
  RequestSyncStore() = data;
}

void SetServerSyncId(const std::string& syncId) {
  std::lock_guard<std::mutex> lock(RequestSyncMutex());
  RequestSyncStore().serverSyncId = syncId;
}

// --- Client actions ---------------------------------------------------------

std::string TClientActn::GetName() const {
  if (document_.IsNone()) return std::string();
  return document_.DocumentElement().Name();
}

void TClientActn::Init(const TXmlElement& element) {
  if (element.IsNone() || !element.IsElement()) {
    throw TClientException("TClientActn.Init:no element");
  }
  TXmlDocument document = CloneDocument(element);
  if (document.IsNone() || document.DocumentElement().IsNone()) {
    throw TClientException("TClientActn.Init:element not copied:" + element.Name());
  }
  document_ = document;
  clientTag_ =
      std::make_shared<TClientTag>(GetAttr(document_.DocumentElement(), "client-area"), kTagKindAnswer);
}

void TClientActnRequestSync::Execute() { ApplyRequestSync(GetDocument()); }

void TClientActnContext::Execute() { ApplyContextAnswer(GetDocument()); }

const std::vector<TClientActionClass>& ClientActionClasses() {
  static const std::vector<TClientActionClass> classes = {
      {"request-sync", [] { return std::make_shared<TClientActnRequestSync>(); }},
      {"context", [] { return std::make_shared<TClientActnContext>(); }},
      {"display-error", [] { return std::make_shared<TClientActnError>(); }},
      {"import-links", [] { return std::make_shared<TClientActnImportLinks>(); }},
      {"display-message", [] { return std::make_shared<TClientActnDisplayMessage>(); }},
      {"sync-confirmed", [] { return std::make_shared<TClientActnSyncConfirmed>(); }},
  };
  return classes;
}

IClientActionPtr CreateClientAction(const TXmlElement& element) {
  if (element.IsNone() || !element.IsElement()) return nullptr;
  const std::string name = element.Name();
  for (const TClientActionClass& cls : ClientActionClasses()) {
    if (cls.elementName != name) continue;
    std::shared_ptr<TClientActn> action = cls.create();
    action->Init(element);
    return action;
  }
  return nullptr;
}

std::vector<IClientActionPtr> MakeClientActions(const TXmlDocument& answer) {
  std::vector<IClientActionPtr> actions;
  if (answer.IsNone()) return actions;
  const TXmlNode root = answer.DocumentElement();
  if (root.IsNone()) return actions;
  if (!TakeAction(root, actions)) CollectActions(root, actions);
  return actions;
}

}  // namespace kelvo
