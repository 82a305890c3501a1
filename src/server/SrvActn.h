#pragma once
// Server actions: one element of a request document each. TSrvActn is the
// base of every action the agent sends; the concrete link actions are in
// SrvActnLinks.h, the "context" action beside the script in SrvScript.h.
//
// Actions are held through std::shared_ptr; a script and its actions live
// for one request and are used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/KException.h"
#include "foundation/XmlTools.h"
#include "server/ClientTag.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TSrvActnException, TKException);

// Action kind 1: the action changes the server's links.
inline constexpr int kActnKindChangesLinks = 1;

// What server actions and client actions (the actions of an answer) share.
class IKAction {
 public:
  virtual ~IKAction() = default;
  virtual std::uint8_t GetHandled() const = 0;
  virtual void SetHandled(std::uint8_t handled) = 0;
  // The element name.
  virtual std::string GetName() const = 0;
  // May be none.
  virtual IClientAreaTagPtr GetClientTag() const = 0;
  virtual void SetClientTag(IClientAreaTagPtr tag) = 0;
  virtual bool HasKind(int kind) const = 0;
};

class ISrvAction : public IKAction {
 public:
  // Appends the action's element to parent; element receives it (none when
  // nothing was written). Raises TKException descendants for an action
  // that cannot be written; the script then leaves it out.
  virtual void Write(const TXmlElement& parent, TXmlElement& element) = 0;
};
using ISrvActionPtr = std::shared_ptr<ISrvAction>;

class TSrvActn : public ISrvAction {
 public:
  TSrvActn() = default;
  explicit TSrvActn(IClientAreaTagPtr tag) : clientTag_(std::move(tag)) {}

  std::uint8_t GetHandled() const override { return handled_; }
  void SetHandled(std::uint8_t handled) override { handled_ = handled; }
  // The base has no element name.
  std::string GetName() const override { return std::string(); }
  IClientAreaTagPtr GetClientTag() const override { return clientTag_; }
  void SetClientTag(IClientAreaTagPtr tag) override { clientTag_ = std::move(tag); }
  bool HasKind(int /*kind*/) const override { return false; }
  // Appends an element named GetName() with "client-area" when tagged. A
  // TSrvActnException on the way takes the element out again and leaves
  // element none; subclasses then write nothing more.
  void Write(const TXmlElement& parent, TXmlElement& element) override;

 private:
  std::uint8_t handled_ = 0;
  IClientAreaTagPtr clientTag_;
};

}  // namespace kelvo
