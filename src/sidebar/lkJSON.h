#pragma once
// JSON values as the sidebar bridge hands structured results to script: a
// small owning tree built by the agent and turned into one compact text
// (no blanks or line breaks). Script parses the text itself, so there is no
// parser here. A tree is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kelvo {

enum class TlkJSONtypes { jsBase, jsNumber, jsString, jsBoolean, jsNull, jsList, jsObject };

class TlkJSONbase {
 public:
  virtual ~TlkJSONbase() = default;
  virtual TlkJSONtypes SelfType() const { return TlkJSONtypes::jsBase; }
};
using TlkJSONbasePtr = std::unique_ptr<TlkJSONbase>;

// Integers are stored as numbers too.
class TlkJSONnumber : public TlkJSONbase {
 public:
  explicit TlkJSONnumber(long double value) : value_(value) {}
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsNumber; }
  long double Value() const { return value_; }

 private:
  long double value_;
};

class TlkJSONstring : public TlkJSONbase {
 public:
  explicit TlkJSONstring(std::string value) : value_(std::move(value)) {}
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsString; }
  const std::string& Value() const { return value_; }

 private:
  std::string value_;
};

class TlkJSONboolean : public TlkJSONbase {
 public:
  explicit TlkJSONboolean(bool value) : value_(value) {}
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsBoolean; }
  bool Value() const { return value_; }

 private:
  bool value_;
};

// Has a text form; the agent itself never builds one.
class TlkJSONnull : public TlkJSONbase {
 public:
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsNull; }
};

// Base of the containers: an ordered list of owned children.
class TlkJSONcustomlist : public TlkJSONbase {
 public:
  std::size_t Count() const { return items_.size(); }

 protected:
  std::vector<TlkJSONbasePtr> items_;
};

// An array.
class TlkJSONlist : public TlkJSONcustomlist {
 public:
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsList; }
  // Appends and answers the element; null is refused (nothing added).
  TlkJSONbase* Add(TlkJSONbasePtr value);
  TlkJSONbase* Add(const std::string& text);
  const TlkJSONbase* Child(std::size_t index) const;
};

// One member of an object: its name and the value it owns.
class TlkJSONobjectmethod : public TlkJSONbase {
 public:
  TlkJSONobjectmethod(std::string name, TlkJSONbasePtr value)
      : name_(std::move(name)), value_(std::move(value)) {}
  const std::string& Name() const { return name_; }
  const TlkJSONbase* ObjValue() const { return value_.get(); }

 private:
  std::string name_;
  TlkJSONbasePtr value_;
};

// An object: members in the order added. A second member with a name that
// exists already is added beside the first (both are written); lookups by
// name find the first.
class TlkJSONobject : public TlkJSONcustomlist {
 public:
  explicit TlkJSONobject(bool useHash = true) : useHash_(useHash) {}
  TlkJSONtypes SelfType() const override { return TlkJSONtypes::jsObject; }

  // Each answers the member's index; a null child is refused (-1).
  int Add(const std::string& name, TlkJSONbasePtr value);
  int Add(const std::string& name, const std::string& text);
  int Add(const std::string& name, const char* text) { return Add(name, std::string(text)); }
  int Add(const std::string& name, std::int64_t number);
  int Add(const std::string& name, int number) { return Add(name, static_cast<std::int64_t>(number)); }
  int Add(const std::string& name, bool value);

  const TlkJSONobjectmethod* FieldByIndex(std::size_t index) const;
  // The value of the first member of that name; null when there is none.
  const TlkJSONbase* Field(const std::string& name) const;

 private:
  int AddMember(const std::string& name, TlkJSONbasePtr value);
  bool useHash_;
  // name -> index of its first member
  std::unordered_map<std::string, std::size_t> index_;
};

// The text generator.
class TlkJSON {
 public:
  TlkJSON() = delete;
  // The compact text of the value (an empty text for null).
  static std::string GenerateText(const TlkJSONbase* value);
  static std::string GenerateText(const TlkJSONbase& value) { return GenerateText(&value); }
  // Pieces of the text form, exposed for callers that write them alone.
  static std::string NumberText(long double value);
  static void AppendString(std::string& out, std::string_view text);
};

}  // namespace kelvo
