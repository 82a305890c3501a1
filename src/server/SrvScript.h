#pragma once
// The server script: one request to the link server, an ordered list of
// actions written as a "server-script" document. Also the sync id (the
// digest of the local links the server compares with its own copy), the
// last sync id sent, and the "context" action that opens almost every
// script.
//
// A script is built, written and sent on the main thread and released.
// The sync id may be asked for from any thread: its computation holds one
// process-wide lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bookmarks/BNodeMeta.h"
#include "foundation/KException.h"
#include "foundation/XmlTools.h"
#include "server/ClientTag.h"
#include "server/SrvActn.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TSrvScriptException, TKException);

// The status record of a script: the message number is the one the main
// agent handles as a server-status notification (WM_USER + 30).
struct TSrvScriptStatus {
  std::int32_t state = 1;
  std::int32_t message = 1054;
  std::int32_t extra = 0;
};

// Stored for whoever sends the script; nothing here calls it.
using TSrvScriptHandler = std::function<void(std::int32_t code)>;

class ISrvScript {
 public:
  virtual ~ISrvScript() = default;
  virtual void AddAction(const ISrvActionPtr& action) = 0;
  virtual void InsertAction(const ISrvActionPtr& action) = 0;
  virtual void DeleteAction(int index) = 0;
  virtual int Count() const = 0;
  virtual void Write(TXmlDocument& document) = 0;
  virtual ISrvActionPtr GetAction(int index) const = 0;
  virtual bool NeedsAnswer() const = 0;
  virtual bool HasActionOfKind(int kind) const = 0;
  virtual void SetStatus(const TSrvScriptStatus& status) = 0;
  virtual TSrvScriptStatus GetStatus() const = 0;
  virtual std::uint8_t GetFlagA() const = 0;
  virtual void SetFlagA(std::uint8_t value) = 0;
  virtual void SetCounter(std::int32_t value) = 0;
  virtual std::int32_t GetCounter() const = 0;
  virtual bool GetNeedsAnswerOverride() const = 0;
  virtual void SetNeedsAnswerOverride(bool value) = 0;
  virtual bool HandlerAssigned() const = 0;
  virtual TSrvScriptHandler GetHandler() const = 0;
};
using ISrvScriptPtr = std::shared_ptr<ISrvScript>;

// Also the sink of the metadata store: publishing and unpublishing a record
// append add-xlink and remove-xlink actions (defined with the link actions).
class TSrvScript : public ISrvScript, public IMetaActionSink {
 public:
  // Actions added without a tag get defaultTag (may be none).
  explicit TSrvScript(IClientAreaTagPtr defaultTag = nullptr);

  // None is ignored.
  void AddAction(const ISrvActionPtr& action) override;
  // At the front; the default tag is not given. None is ignored.
  void InsertAction(const ISrvActionPtr& action) override;
  // Raises TSrvScriptException "TSrvScript.DeleteAction:invalid index:" +
  // index outside 0..Count-1.
  void DeleteAction(int index) override;
  int Count() const override { return static_cast<int>(actions_.size()); }
  // A new "server-script" document (version "1.0") with one element per
  // action in order. An action that raises is logged and left out
  // entirely; the others are written.
  void Write(TXmlDocument& document) override;
  // Raises TSrvScriptException "SrvAction not found:" + index.
  ISrvActionPtr GetAction(int index) const override;
  // The override when set, else whether some action's tag has kind 0.
  bool NeedsAnswer() const override;
  bool HasActionOfKind(int kind) const override;
  void SetStatus(const TSrvScriptStatus& status) override { status_ = status; }
  TSrvScriptStatus GetStatus() const override { return status_; }
  std::uint8_t GetFlagA() const override { return flagA_; }
  void SetFlagA(std::uint8_t value) override { flagA_ = value; }
  void SetCounter(std::int32_t value) override { counter_ = value; }
  std::int32_t GetCounter() const override { return counter_; }
  bool GetNeedsAnswerOverride() const override { return needsAnswer_; }
  void SetNeedsAnswerOverride(bool value) override { needsAnswer_ = value; }
  bool HandlerAssigned() const override { return static_cast<bool>(handler_); }
  TSrvScriptHandler GetHandler() const override { return handler_; }
  void SetHandler(TSrvScriptHandler handler) { handler_ = std::move(handler); }

  // IMetaActionSink: a TSrvActnAddXLink / TSrvActnRemoveXLink, appended
  // with the default tag.
  void AddXLink(const IBNodeMetaPtr& record, int kind) override;
  void RemoveXLink(const std::string& path, const std::string& ref) override;

  // The XmlText of a freshly written document: what the transport sends.
  std::string Text();

  // The current sync id: 32 lower-case hex digits of the MD5 of the sync-id
  // text while the application state Synchronizable is set, else "". At
  // the debug log level the hash trace collected meanwhile is saved as
  // sync id + ".txt" in the data folder's "Log" folder, and files there
  // older than a day (but "log.*") are deleted.
  static std::string asSynchronizable();

 private:
  std::vector<ISrvActionPtr> actions_;
  IClientAreaTagPtr defaultTag_;
  TSrvScriptStatus status_;
  std::uint8_t flagA_ = 1;
  std::int32_t counter_ = 0;
  bool needsAnswer_ = false;
  TSrvScriptHandler handler_;
};
using TSrvScriptPtr = std::shared_ptr<TSrvScript>;

// Where the sync-id text comes from: the bookmarks controller registers
// its own (the content checksum of the Favorites and the public links).
// It is called under the sync-id lock. An empty function restores the
// default, which answers "".
using TSyncIdTextSource = std::function<std::string()>;
void SetSyncIdTextSource(TSyncIdTextSource source);

// The sync id last sent to the server in a "context" or "connect" action
// (or taken from the server by the sync dialog); "" at start. Thread-safe.
std::string GetLastSyncIdSent();
void SetLastSyncIdSent(const std::string& syncId);

// The "context" action: who asks (language, user id, client, version)
// and, unless omitted, the previous and the current sync id.
class TSrvActnContext : public TSrvActn {
 public:
  // The user id is taken now from the stored identity, when a nickname is
  // stored. omitSyncId is true for account requests.
  TSrvActnContext(IClientAreaTagPtr tag, bool omitSyncId);

  std::string GetName() const override { return "context"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  bool omitSyncId_ = false;
  std::string userId_;
};

}  // namespace kelvo
