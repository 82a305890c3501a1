#pragma once
// Server answers: the client-action elements the link server sends back for
// a script, the handling that several receivers share (the "context" and
// "request-sync" answers), the process-wide request-sync data, and the
// client-action objects made from answer elements through the class list.
//
// The Apply functions run on the main thread (the receiving window's
// handler); the request-sync data may be read from any thread. A client
// action is made and executed on the main thread; its state is also read
// and written under the queue lock (ServerResponseHandlers.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/KException.h"
#include "foundation/XmlTools.h"
#include "server/ClientTag.h"
#include "server/SrvActn.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TClientException, TKException);

// The recommendation-service address built into this agent; a "context"
// answer naming another one is logged as an error (and stored anyway).
inline constexpr const char* kBuiltInRecoServiceUrl = "http://127.0.0.1:8480/reco-service";

// The statistics counter raised for every "request-sync" answer.
inline constexpr const char* kInvalidSyncIdCounter = "invalid_sync_id";

// --- Shared answer handling -------------------------------------------------

// The "context" answer: stores the user id (when non-empty) as the
// identity, the language (when non-empty) and the "reco-service.url"
// preference (when non-empty). Answers the user id; "" and nothing stored
// when the document holds no "context" element.
std::string ApplyContextAnswer(const TXmlDocument& answer);

// The "request-sync" answer: remembers the server's sync id and counts,
// adds the application state SyncRequired (argument 1) and raises the
// "invalid_sync_id" counter. False, and nothing changed, when the document
// holds no "request-sync" element.
bool ApplyRequestSync(const TXmlDocument& answer);

// The answer text parsed into a document; an unparsable text is logged as
// an error with the context and gives none (the requester treats it as a
// missing answer).
TXmlDocument ParseServerAnswer(const std::string& text, const std::string& context);

// What the last "request-sync" answer said (or the sync dialog took from
// the server). Counts are -1 while not received. Thread-safe.
struct TRequestSyncData {
  std::string serverSyncId;
  int serverLinkCount = -1;
  int serverFolderCount = -1;
};
TRequestSyncData GetRequestSyncData();
void SetRequestSyncData(const TRequestSyncData& data);
// The sync dialog takes the server's sync id from a "load-all-links" answer.
void SetServerSyncId(const std::string& syncId);

// --- Client actions ---------------------------------------------------------

inline constexpr std::uint8_t kClientActnNew = 0;
inline constexpr std::uint8_t kClientActnRunning = 1;
inline constexpr std::uint8_t kClientActnDone = 2;

// One element of an answer as an action. The "handled" byte of the shared
// action interface is the action's state (new, running, done). Its tag is
// the answer element's "client-area" (kind 3) and cannot be replaced.
class IClientAction : public IKAction {
 public:
  std::uint8_t GetState() const { return GetHandled(); }
  void SetState(std::uint8_t state) { SetHandled(state); }
  // Only the main thread may execute it.
  virtual bool NeedsMainThread() const = 0;
  // Keeps a copy of the element as the action's document and builds the
  // tag from its "client-area". Raises TClientException for a none element.
  virtual void Init(const TXmlElement& element) = 0;
  virtual void Execute() = 0;
  virtual TXmlDocument GetDocument() const = 0;
};
using IClientActionPtr = std::shared_ptr<IClientAction>;

class TClientActn : public IClientAction {
 public:
  TClientActn() = default;

  // The element name this class stands for in the class list.
  virtual std::string ClassElementName() const { return std::string(); }

  std::uint8_t GetHandled() const override { return state_; }
  void SetHandled(std::uint8_t state) override { state_ = state; }
  // The kept element's name.
  std::string GetName() const override;
  IClientAreaTagPtr GetClientTag() const override { return clientTag_; }
  // The tag is the answer's own; it is not replaced.
  void SetClientTag(IClientAreaTagPtr /*tag*/) override {}
  bool HasKind(int /*kind*/) const override { return false; }
  bool NeedsMainThread() const override { return false; }
  void Init(const TXmlElement& element) override;
  void Execute() override {}
  TXmlDocument GetDocument() const override { return document_; }

 private:
  std::uint8_t state_ = kClientActnNew;
  TXmlDocument document_;
  IClientAreaTagPtr clientTag_;
};

class TClientActnRequestSync : public TClientActn {
 public:
  std::string ClassElementName() const override { return "request-sync"; }
  bool HasKind(int kind) const override { return kind == kActnKindChangesLinks; }
  bool NeedsMainThread() const override { return true; }
  void Execute() override;
};

class TClientActnContext : public TClientActn {
 public:
  std::string ClassElementName() const override { return "context"; }
  std::string GetName() const override { return "context"; }
  void Execute() override;
};

class TClientActnError : public TClientActn {
 public:
  std::string ClassElementName() const override { return "display-error"; }
  std::string GetName() const override { return "error"; }
};

// The receiver (the sync dialog) imports the links itself.
class TClientActnImportLinks : public TClientActn {
 public:
  std::string ClassElementName() const override { return "import-links"; }
};

class TClientActnDisplayMessage : public TClientActn {
 public:
  std::string ClassElementName() const override { return "display-message"; }
};

class TClientActnSyncConfirmed : public TClientActn {
 public:
  std::string ClassElementName() const override { return "sync-confirmed"; }
};

// The process-wide class list, in order: request-sync, context,
// display-error, import-links, display-message, sync-confirmed.
struct TClientActionClass {
  std::string elementName;
  std::function<std::shared_ptr<TClientActn>()> create;
};
const std::vector<TClientActionClass>& ClientActionClasses();

// A new, initialised action for the element when a class stands for its
// name; none for any other element.
IClientActionPtr CreateClientAction(const TXmlElement& element);

// The actions of an answer in document order: every element a class stands
// for, wherever it is (an action's own children are its content, not
// further actions). Other elements are skipped; none gives none.
std::vector<IClientActionPtr> MakeClientActions(const TXmlDocument& answer);

}  // namespace kelvo
