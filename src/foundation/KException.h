#pragma once
// The agent's own exception base and the macro that declares one class per
// module, so that callers can catch by module.

#include <exception>
#include <string>

namespace kelvo {

// Message plus origin; the origin is the chained message of the exception
// this one was raised from. Full message = message + " (raised from " +
// origin + ")".
class TKException : public std::exception {
 public:
  explicit TKException(std::string message);
  TKException(std::string message, const std::exception& inner);

  const std::string& Message() const { return message_; }
  const std::string& Origin() const { return origin_; }
  // Message + " (raised from " + origin + ")" for an exception raised from
  // another one; the message alone for one constructed without an inner.
  std::string FullMessage() const;
  bool HasOrigin() const { return hasOrigin_; }
  // The class name as logged in exception entries ("TKFileException").
  virtual const char* ClassName() const { return "TKException"; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  std::string origin_;
  bool hasOrigin_ = false;
};

// Class name of any exception for log entries: ClassName() for ours, the
// demangled type name for others.
std::string ExceptionClassName(const std::exception& e);

}  // namespace kelvo

#define KELVO_DECLARE_EXCEPTION(Name, Base)                            \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const override { return #Name; }          \
  }
