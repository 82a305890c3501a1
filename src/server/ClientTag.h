#pragma once
// Client-area tags: the "client-area" attribute of a request action, which
// names the screen area (dialog) that waits for the answer, so that the
// answer's actions can be routed back to it. Tags are immutable once made
// and shared by the actions that hold them; any thread may read them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/XmlTools.h"

namespace kelvo {

class IKAction;
using IKActionPtr = std::shared_ptr<IKAction>;

// The area that asked receives the actions of the answer that carry its tag.
using TClientTagHandler = std::function<void(const std::vector<IKActionPtr>& actions)>;

// Tag kinds.
inline constexpr std::uint8_t kTagKindNeedsAnswer = 0;  // sync dialog requests
inline constexpr std::uint8_t kTagKindLocal = 2;        // other local requests
inline constexpr std::uint8_t kTagKindAnswer = 3;       // read back from an answer

// Area indexes (names in ClientAreaName).
inline constexpr int kAreaNone = 0;
inline constexpr int kAreaMain = 1;
inline constexpr int kAreaSyncCheck = 2;
inline constexpr int kAreaSync = 3;
inline constexpr int kAreaIdDialog = 4;
inline constexpr int kAreaIdSwapDialog = 5;
inline constexpr int kAreaBookmarksManager = 6;
inline constexpr int kAreaSrvScriptWait = 7;
inline constexpr int kAreaCount = 8;

// "" for index 0 and for an index outside 0..7.
std::string ClientAreaName(int index);

class IClientAreaTag {
 public:
  virtual ~IClientAreaTag() = default;
  // "/" + area name, then "/" + sub-name when there is one.
  virtual std::string GetText() const = 0;
  // The index whose name equals the first segment of the text; 0 when none.
  virtual int GetAreaIndex() const = 0;
  // The text after the second "/"; "" when there is none.
  virtual std::string GetSubName() const = 0;
  // Sets the attribute "client-area" to the text.
  virtual void WriteTo(const TXmlElement& element) const = 0;
  virtual std::uint8_t GetKind() const = 0;
  virtual bool HandlerAssigned() const = 0;
  virtual TClientTagHandler GetHandler() const = 0;
};
using IClientAreaTagPtr = std::shared_ptr<IClientAreaTag>;

class TClientTag : public IClientAreaTag {
 public:
  // A tag read from an answer: the text is kept as it came.
  TClientTag(std::string text, std::uint8_t kind);
  // Kind 2, no handler.
  explicit TClientTag(int areaIndex);
  TClientTag(int areaIndex, std::uint8_t kind, TClientTagHandler handler);
  // A leading "/" of the sub-name is dropped; an empty sub-name adds nothing.
  TClientTag(int areaIndex, std::uint8_t kind, const std::string& subName,
             TClientTagHandler handler);

  std::string GetText() const override { return text_; }
  int GetAreaIndex() const override;
  std::string GetSubName() const override;
  void WriteTo(const TXmlElement& element) const override;
  std::uint8_t GetKind() const override { return kind_; }
  bool HandlerAssigned() const override { return static_cast<bool>(handler_); }
  TClientTagHandler GetHandler() const override { return handler_; }

 private:
  std::string text_;
  std::uint8_t kind_ = kTagKindLocal;
  TClientTagHandler handler_;
};

// The tag without area: text "/", kind 2.
IClientAreaTagPtr NoAreaTag();
inline IClientAreaTagPtr MakeClientTag(int areaIndex, std::uint8_t kind,
                                       const std::string& subName = std::string(),
                                       TClientTagHandler handler = nullptr) {
  return std::make_shared<TClientTag>(areaIndex, kind, subName, std::move(handler));
}

}  // namespace kelvo
