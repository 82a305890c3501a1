#include "ScriptProcessor.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "LinkRecords.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"

namespace kelvo::linkserver {

namespace {

// Public-link roots: whole public areas, never removed by a client.
const char* const kReservedRoots[] = {"/$net/", "/$news/", "/$pub/", "/$feed/", "/$user-feed/"};

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

TXmlDocument NewAnswer() {
  TXmlDocument document = MakeFromString(MakeEmptyDocText(kAnswerRoot));
  SetAttr(document.DocumentElement(), "version", "1.0");
  return document;
}

void AddCode(const TXmlElement& root, const char* element, const std::string& code) {
  const TXmlElement e = AddElement(root.OwnerDocument(), root, element);
  SetAttr(e, "code", code);
}

bool IsUnder(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                            path[folder.size()] == '/' && !folder.ends_with('/'));
}

bool SameBookmark(const TLinkRecord& a, const TLinkRecord& b) {
  return a.IsBookmark() && b.IsBookmark() && a.path == b.path && a.url == b.url &&
         a.title == b.title;
}

bool SameFolder(const TLinkRecord& a, const TLinkRecord& b) {
  return !a.IsBookmark() && !b.IsBookmark() && a.path == b.path;
}

// The id a changed link keeps: the new record's when it names one; none
// when the change took the id away; otherwise the stored one.
std::int32_t ChangedId(const TLinkRecord& stored, const TLinkRecord& oldLink,
                       const TLinkRecord& newLink) {
  if (newLink.id != -1) return newLink.id;
  if (oldLink.id != -1) return -1;
  return stored.id;
}

class TScriptRun {
 public:
  TScriptRun(TLinkStore& store, const TXmlElement& root) : store_(store), root_(root) {}

  std::string Run();

 private:
  using TWriter = std::function<void(const TXmlElement& answerRoot)>;

  bool Authenticate(bool hasConnect);
  void Apply(const TXmlElement& action);
  void Message(const char* code) {
    if (!codes_.insert(code).second) return;
    const std::string text = code;
    writers_.push_back([text](const TXmlElement& r) { AddCode(r, "display-message", text); });
  }
  void Error(const char* code) {
    const std::string text = code;
    writers_.push_back([text](const TXmlElement& r) { AddCode(r, "display-error", text); });
  }
  void Changed() {
    AssignIds(store_, data_.links);
    changed_ = true;
  }

  void Connect(const TXmlElement& action);
  void LoadAllLinks(const TXmlElement& action);
  void LoadAllXLinks(const TXmlElement& action);
  void SaveAllLinks(const TXmlElement& action);
  void SaveAllXLinks(const TXmlElement& action);
  void UpdateLink(const TXmlElement& action);
  void RemoveLink(const TXmlElement& action);
  void AddXLink(const TXmlElement& action);
  void RemoveXLink(const TXmlElement& action);
  void ChangePassword(const TXmlElement& action);
  void Uninstall(const TXmlElement& action);

  TLinkStore& store_;
  TXmlElement root_;
  TXmlElement context_;
  std::string nickname_;
  std::string password_;
  std::string lang_;
  bool register_ = false;
  bool passwordChanged_ = false;
  bool removed_ = false;
  bool changed_ = false;
  TAccountData data_;
  std::set<std::string> codes_;
  std::vector<TWriter> writers_;
};

bool TScriptRun::Authenticate(bool hasConnect) {
  const std::string userId = context_ ? ValueOf(context_, "user-id") : std::string();
  const std::size_t colon = userId.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == userId.size()) return false;
  nickname_ = userId.substr(0, colon);
  password_ = userId.substr(colon + 1);
  const std::optional<std::string> stored = store_.Password(nickname_);
  if (stored) return *stored == password_;
  // New accounts come into being at their first connect.
  if (!hasConnect) return false;
  register_ = true;
  return true;
}

std::string TScriptRun::Run() {
  const std::vector<TXmlNode> actions = root_.ChildElements();
  bool needsAccount = false;
  bool hasConnect = false;
  bool hasUninstall = false;
  for (const TXmlNode& action : actions) {
    const std::string name = action.Name();
    if (name == "context") {
      if (!context_) context_ = action;
    } else if (name != "stats") {
      needsAccount = true;
    }
    hasConnect = hasConnect || name == "connect";
    hasUninstall = hasUninstall || name == "uninstall";
  }

  if (needsAccount && !Authenticate(hasConnect)) {
    store_.Count("invalid-user-id");
    TXmlDocument answer = NewAnswer();
    AddCode(answer.DocumentElement(), "display-error", kErrorInvalidUserId);
    // The uninstall dialog reads only the message element.
    if (hasUninstall) AddCode(answer.DocumentElement(), "display-message", kErrorInvalidUserId);
    return XmlText(answer);
  }
  const bool hasAccount = needsAccount;
  if (hasAccount && !register_) data_ = store_.Load(nickname_);
  if (context_) lang_ = ValueOf(context_, "lang");

  for (const TXmlNode& action : actions) {
    if (removed_) break;
    Apply(action);
  }

  if (removed_) {
    store_.RemoveAccount(nickname_);
  } else if (hasAccount) {
    if (register_ || passwordChanged_) store_.SetAccount(nickname_, password_);
    if (register_) store_.Count("accounts-registered");
    if (!lang_.empty()) store_.SetLanguage(nickname_, lang_);
    if (changed_) store_.Save(nickname_, data_);
  }

  TXmlDocument answer = NewAnswer();
  const TXmlElement answerRoot = answer.DocumentElement();
  if (hasAccount && !removed_) {
    // The agent stores the identity it is given here, so it is the one
    // valid after this script (a changed password included).
    const TXmlElement context = AddElement(answer, answerRoot, "context");
    AddTextElement(answer, context, "user-id", nickname_ + ":" + password_);
    if (!lang_.empty()) AddTextElement(answer, context, "lang", lang_);
  }
  for (const TWriter& writer : writers_) writer(answerRoot);
  return XmlText(answer);
}

void TScriptRun::Apply(const TXmlElement& action) {
  const std::string name = action.Name();
  if (name == "context") return;
  if (name == "connect") return Connect(action);
  if (name == "load-all-links") return LoadAllLinks(action);
  if (name == "load-all-xlinks") return LoadAllXLinks(action);
  if (name == "save-all-links") return SaveAllLinks(action);
  if (name == "save-all-xlinks") return SaveAllXLinks(action);
  if (name == "update-link") return UpdateLink(action);
  if (name == "remove-link") return RemoveLink(action);
  if (name == "add-xlink") return AddXLink(action);
  if (name == "remove-xlink") return RemoveXLink(action);
  if (name == "change-login-password") return ChangePassword(action);
  if (name == "uninstall") return Uninstall(action);
  if (name == "stats") {
    store_.Count("client-stats");
    return;
  }
  TLog::Warning("TLinkServer.ProcessScript:unknown action ignored:" + name);
}

void TScriptRun::Connect(const TXmlElement& action) {
  Message(kMsgWelcome);
  std::string clientSyncId = GetAttr(action, "sync-id");
  if (clientSyncId.empty() && context_) clientSyncId = ValueOf(context_, "sync-id");
  // A client that sends no sync id does not synchronize (no-sync mode, or
  // not ready yet): there is nothing to compare.
  if (clientSyncId.empty()) return;
  const TServerFacts facts = ComputeServerFacts(data_);
  if (clientSyncId == facts.syncId) return;
  writers_.push_back([facts](const TXmlElement& r) {
    const TXmlElement e = AddElement(r.OwnerDocument(), r, "request-sync");
    SetAttr(e, "server-sync-id", facts.syncId);
    SetAttr(e, "link-count", std::to_string(facts.linkCount));
    SetAttr(e, "folder-count", std::to_string(facts.folderCount));
  });
}

void TScriptRun::LoadAllLinks(const TXmlElement& action) {
  std::string area = GetAttr(action, "client-area");
  // The sync dialog tells links from xlinks by the area text.
  if (area.empty()) area = "/load-all-links";
  const std::string syncId = ComputeServerFacts(data_).syncId;
  writers_.push_back([area, syncId, links = data_.links](const TXmlElement& r) {
    const TXmlElement e = AddElement(r.OwnerDocument(), r, "import-links");
    SetAttr(e, "client-area", area);
    SetAttr(e, "sync-id", syncId);
    for (const TLinkRecord& link : links) WriteLinkElement(e, link);
  });
}

void TScriptRun::LoadAllXLinks(const TXmlElement& action) {
  std::string area = GetAttr(action, "client-area");
  if (area.empty()) area = "/load-all-xlinks";
  const std::string path = GetAttr(action, "path");
  std::vector<TXLinkRecord> xlinks;
  for (const TXLinkRecord& xlink : data_.xlinks) {
    if (path.empty() || xlink.path.starts_with(path)) xlinks.push_back(xlink);
  }
  writers_.push_back([area, xlinks](const TXmlElement& r) {
    const TXmlElement e = AddElement(r.OwnerDocument(), r, "import-links");
    SetAttr(e, "client-area", area);
    for (const TXLinkRecord& xlink : xlinks) WriteXLinkElement(e, xlink);
  });
}

void TScriptRun::SaveAllLinks(const TXmlElement& action) {
  const std::string mode = Upper(GetAttr(action, "mode"));
  if (mode != "REPLACE" && mode != "ADD") return Error(kErrorInvalidMode);
  std::vector<TLinkRecord> incoming;
  for (const TXmlNode& child : action.ChildElements()) {
    if (child.Name() != "link") continue;
    if (std::optional<TLinkRecord> link = ReadLinkElement(child)) incoming.push_back(*link);
  }
  if (mode == "REPLACE") {
    data_.links = std::move(incoming);
  } else {
    for (TLinkRecord& link : incoming) {
      auto found = std::find_if(data_.links.begin(), data_.links.end(), [&](const TLinkRecord& s) {
        return SameBookmark(s, link) || (SameFolder(s, link) && s.isPrivate == link.isPrivate);
      });
      if (found == data_.links.end()) {
        data_.links.push_back(std::move(link));
      } else {
        if (link.id != -1) found->id = link.id;
        if (!link.rank.empty()) found->rank = link.rank;
      }
    }
  }
  Changed();
  Message(kMsgLinksSaved);
}

void TScriptRun::SaveAllXLinks(const TXmlElement& action) {
  const std::string mode = Upper(GetAttr(action, "mode"));
  if (mode != "REPLACE" && mode != "ADD") return Error(kErrorInvalidMode);
  if (mode == "REPLACE") data_.xlinks.clear();
  for (const TXmlNode& child : action.ChildElements()) {
    if (child.Name() != "link") continue;
    std::optional<TXLinkRecord> xlink = ReadXLinkElement(child);
    if (!xlink) continue;
    auto found = std::find_if(data_.xlinks.begin(), data_.xlinks.end(), [&](const TXLinkRecord& s) {
      return s.path == xlink->path && s.ref == xlink->ref;
    });
    if (found == data_.xlinks.end()) {
      data_.xlinks.push_back(std::move(*xlink));
    } else {
      *found = std::move(*xlink);
    }
  }
  changed_ = true;
  Message(kMsgXLinksSaved);
}

void TScriptRun::UpdateLink(const TXmlElement& action) {
  const std::optional<TLinkRecord> oldLink = ReadLinkElement(SelectSingleNode(action, "old-link"));
  const std::optional<TLinkRecord> newLink = ReadLinkElement(SelectSingleNode(action, "new-link"));
  if (!oldLink || !newLink || oldLink->IsBookmark() != newLink->IsBookmark()) {
    return Error(kErrorInvalidLink);
  }
  std::vector<TLinkRecord>& links = data_.links;
  if (oldLink->IsBookmark()) {
    auto found = std::find_if(links.begin(), links.end(),
                              [&](const TLinkRecord& s) { return SameBookmark(s, *oldLink); });
    if (found == links.end() && oldLink->id != -1) {
      found = std::find_if(links.begin(), links.end(), [&](const TLinkRecord& s) {
        return s.IsBookmark() && s.id == oldLink->id;
      });
    }
    if (found == links.end()) {
      // The server missed the link (an earlier change lost on the way):
      // storing the new state keeps the user's bookmark.
      TLog::Warning("TLinkServer.UpdateLink:old link not found, added:" + newLink->path + ":" +
                    newLink->url);
      links.push_back(*newLink);
    } else {
      const std::int32_t id = ChangedId(*found, *oldLink, *newLink);
      found->path = newLink->path;
      found->title = newLink->title;
      found->url = newLink->url;
      found->id = id;
    }
  } else {
    // A folder moved or renamed takes everything below it along.
    if (oldLink->path != newLink->path) {
      for (TLinkRecord& link : links) {
        if (IsUnder(link.path, oldLink->path)) {
          link.path = newLink->path + link.path.substr(oldLink->path.size());
        }
      }
    }
    auto found = std::find_if(links.begin(), links.end(),
                              [&](const TLinkRecord& s) { return SameFolder(s, *newLink); });
    if (found != links.end()) {
      found->id = ChangedId(*found, *oldLink, *newLink);
      found->isPrivate = newLink->isPrivate;
    } else if (newLink->id != -1 || newLink->isPrivate) {
      links.push_back(*newLink);
    }
  }
  Changed();
  Message(kMsgLinksSaved);
}

void TScriptRun::RemoveLink(const TXmlElement& action) {
  const std::string path = GetAttr(action, "path");
  if (path.empty()) return Error(kErrorInvalidLink);
  const std::string url = GetAttr(action, "url");
  const std::string title = GetAttr(action, "title");
  std::vector<TLinkRecord>& links = data_.links;
  if (!url.empty()) {
    auto found = std::find_if(links.begin(), links.end(), [&](const TLinkRecord& s) {
      return s.IsBookmark() && s.path == path && s.url == url &&
             (title.empty() || s.title == title);
    });
    if (found != links.end()) links.erase(found);
  } else if (path == "/") {
    // A folder is never the root; a "/" here is a damaged request, and
    // honouring it would wipe the account.
    return Error(kErrorInvalidPath);
  } else {
    std::erase_if(links, [&](const TLinkRecord& s) { return IsUnder(s.path, path); });
  }
  Changed();
  Message(kMsgLinksSaved);
}

void TScriptRun::AddXLink(const TXmlElement& action) {
  std::optional<TXLinkRecord> xlink = ReadXLinkElement(action);
  if (!xlink || xlink->path.empty() || xlink->ref.empty()) return Error(kErrorInvalidLink);
  auto found = std::find_if(data_.xlinks.begin(), data_.xlinks.end(), [&](const TXLinkRecord& s) {
    return s.path == xlink->path && s.ref == xlink->ref;
  });
  if (found == data_.xlinks.end()) data_.xlinks.push_back(std::move(*xlink));
  changed_ = true;
  Message(kMsgXLinksSaved);
}

void TScriptRun::RemoveXLink(const TXmlElement& action) {
  const std::string path = GetAttr(action, "path");
  std::string ref = GetAttr(action, "ref");
  if (!ref.empty() && ref.find(':') == std::string::npos) ref.insert(0, ":");
  for (const char* root : kReservedRoots) {
    if (path == root) return Error(kErrorInvalidPath);
  }
  if (path.empty() || path.find("INVALID_PATH") != std::string::npos) {
    return Error(kErrorInvalidPath);
  }
  std::erase_if(data_.xlinks, [&](const TXLinkRecord& s) {
    return s.path == path && (ref.empty() || s.ref == ref);
  });
  changed_ = true;
  Message(kMsgXLinksSaved);
}

void TScriptRun::ChangePassword(const TXmlElement& action) {
  const std::string login = GetAttr(action, "login");
  const std::string password = GetAttr(action, "password");
  if (!login.empty() && login != nickname_) return Error(kErrorInvalidUserId);
  if (password.empty()) return Error(kErrorInvalidPassword);
  password_ = password;
  passwordChanged_ = true;
  Message(kMsgLoginPasswordChanged);
}

void TScriptRun::Uninstall(const TXmlElement& action) {
  store_.Count("uninstall");
  const std::string reason = GetAttr(action, "reason-id");
  if (!reason.empty()) store_.Count("uninstall-reason/" + reason);
  if (GetAttr(action, "remove-user-account") == "true") {
    removed_ = true;
    Message(kMsgUserAccountRemoved);
  } else {
    Message(kMsgUserAccountNotRemoved);
  }
}

}  // namespace

void AssignIds(TLinkStore& store, std::vector<TLinkRecord>& links) {
  std::set<std::int32_t> seen;
  // Ids the links already carry first, so that new ones come above them.
  for (TLinkRecord& link : links) {
    if (link.isPrivate || (link.id != -1 && !seen.insert(link.id).second)) link.id = -1;
    if (link.id != -1) store.ReserveId(link.id);
  }
  for (TLinkRecord& link : links) {
    if (!link.isPrivate && link.id == -1) link.id = store.NextId();
  }
}

std::string ErrorAnswer(const std::string& code) {
  TXmlDocument answer = NewAnswer();
  AddCode(answer.DocumentElement(), "display-error", code);
  return XmlText(answer);
}

std::string ProcessScript(TLinkStore& store, const std::string& scriptText) {
  if (scriptText.size() > kMaxScriptBytes) return ErrorAnswer(kErrorScriptTooLarge);
  TXmlDocument script;
  try {
    script = MakeFromString(scriptText);
  } catch (const TXmlException&) {
    return ErrorAnswer(kErrorInvalidScript);
  }
  const TXmlElement root = script.DocumentElement();
  if (!root || root.Name() != "server-script") return ErrorAnswer(kErrorInvalidScript);
  // One transaction: a script that fails half-way leaves no trace.
  try {
    store.Begin();
    std::string answer = TScriptRun(store, root).Run();
    store.Commit();
    return answer;
  } catch (const std::exception& e) {
    store.Rollback();
    TLog::LogException(e, "TLinkServer.ProcessScript");
    return ErrorAnswer(kErrorServer);
  }
}

}  // namespace kelvo::linkserver
