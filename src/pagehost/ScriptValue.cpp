#include <cmath>

#include "pagehost/PageHostInternal.h"

namespace kelvo {

namespace {

JSContextRef Ctx() { return TScriptEngine::Get().hostContext; }

JSObjectRef AsObject(JSValueRef value, const char* what) {
  if (!value || !JSValueIsObject(Ctx(), value)) {
    throw TScriptException(std::string("TScriptValue.") + what + ":not an object");
  }
  return JSValueToObject(Ctx(), value, nullptr);
}

JSValueRef GetProperty(JSObjectRef object, const std::string& name) {
  JSStringRef key = MakeJsString(name);
  JSValueRef exception = nullptr;
  JSValueRef value = JSObjectGetProperty(Ctx(), object, key, &exception);
  JSStringRelease(key);
  if (exception) ThrowScriptError(Ctx(), exception, "TScriptValue.Get:" + name);
  return value;
}

}  // namespace

TScriptValue::TScriptValue() = default;

TScriptValue::TScriptValue(JSValueRef value) : value_(value) { Keep(); }

TScriptValue::~TScriptValue() { Release(); }

TScriptValue::TScriptValue(const TScriptValue& other) : value_(other.value_) { Keep(); }

TScriptValue::TScriptValue(TScriptValue&& other) noexcept
    : engine_(other.engine_), value_(other.value_) {
  other.engine_ = nullptr;
  other.value_ = nullptr;
}

TScriptValue& TScriptValue::operator=(const TScriptValue& other) {
  if (this != &other) {
    TScriptValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

TScriptValue& TScriptValue::operator=(TScriptValue&& other) noexcept {
  if (this != &other) {
    Release();
    engine_ = other.engine_;
    value_ = other.value_;
    other.engine_ = nullptr;
    other.value_ = nullptr;
  }
  return *this;
}

void TScriptValue::Keep() {
  if (!value_) return;
  engine_ = &TScriptEngine::Get();
  JSValueProtect(engine_->hostContext, value_);
}

void TScriptValue::Release() {
  if (value_ && engine_) JSValueUnprotect(engine_->hostContext, value_);
  value_ = nullptr;
  engine_ = nullptr;
}

TScriptValue TScriptValue::FromRaw(JSValueRef value) { return TScriptValue(value); }

TScriptValue TScriptValue::Undefined() { return TScriptValue(); }
TScriptValue TScriptValue::Null() { return TScriptValue(JSValueMakeNull(Ctx())); }
TScriptValue TScriptValue::Number(double value) {
  return TScriptValue(JSValueMakeNumber(Ctx(), value));
}
TScriptValue TScriptValue::Bool(bool value) { return TScriptValue(JSValueMakeBoolean(Ctx(), value)); }

TScriptValue TScriptValue::String(const std::string& utf8) {
  JSStringRef s = MakeJsString(utf8);
  TScriptValue value(JSValueMakeString(Ctx(), s));
  JSStringRelease(s);
  return value;
}

TScriptValue TScriptValue::FromJson(const std::string& json) {
  JSStringRef s = MakeJsString(json);
  JSValueRef value = JSValueMakeFromJSONString(Ctx(), s);
  JSStringRelease(s);
  if (!value) throw TScriptException("TScriptValue.FromJson:invalid JSON text");
  return TScriptValue(value);
}

bool TScriptValue::IsUndefined() const { return !value_ || JSValueIsUndefined(Ctx(), value_); }
bool TScriptValue::IsNull() const { return value_ && JSValueIsNull(Ctx(), value_); }
bool TScriptValue::IsString() const { return value_ && JSValueIsString(Ctx(), value_); }
bool TScriptValue::IsNumber() const { return value_ && JSValueIsNumber(Ctx(), value_); }
bool TScriptValue::IsBool() const { return value_ && JSValueIsBoolean(Ctx(), value_); }
bool TScriptValue::IsObject() const { return value_ && JSValueIsObject(Ctx(), value_); }
bool TScriptValue::IsArray() const { return value_ && JSValueIsArray(Ctx(), value_); }

bool TScriptValue::IsFunction() const {
  if (!IsObject()) return false;
  return JSObjectIsFunction(Ctx(), JSValueToObject(Ctx(), value_, nullptr));
}

std::string TScriptValue::ToString() const {
  if (!value_) return "undefined";
  TScriptEntry entry;
  JSValueRef exception = nullptr;
  JSStringRef s = JSValueToStringCopy(Ctx(), value_, &exception);
  if (!s) ThrowScriptError(Ctx(), exception, "TScriptValue.ToString");
  std::string text = JsStringToUtf8(s);
  JSStringRelease(s);
  return text;
}

double TScriptValue::ToNumber() const {
  if (!value_) return std::nan("");
  TScriptEntry entry;
  JSValueRef exception = nullptr;
  const double d = JSValueToNumber(Ctx(), value_, &exception);
  if (exception) ThrowScriptError(Ctx(), exception, "TScriptValue.ToNumber");
  return d;
}

std::int32_t TScriptValue::ToInt32() const {
  const double d = ToNumber();
  if (!std::isfinite(d)) return 0;
  // Script's ToInt32: modulo 2^32, then into the signed range.
  double m = std::fmod(std::trunc(d), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  const auto u = static_cast<std::uint32_t>(m);
  return static_cast<std::int32_t>(u);
}

bool TScriptValue::ToBool() const { return value_ && JSValueToBoolean(Ctx(), value_); }

std::string TScriptValue::ToJson() const {
  if (!value_) return "";
  TScriptEntry entry;
  JSValueRef exception = nullptr;
  JSStringRef s = JSValueCreateJSONString(Ctx(), value_, 0, &exception);
  if (exception) ThrowScriptError(Ctx(), exception, "TScriptValue.ToJson");
  if (!s) return "";
  std::string text = JsStringToUtf8(s);
  JSStringRelease(s);
  return text;
}

TScriptValue TScriptValue::Get(const std::string& name) const {
  if (!IsObject()) return TScriptValue();
  TScriptEntry entry;
  return TScriptValue(GetProperty(AsObject(value_, "Get"), name));
}

void TScriptValue::Set(const std::string& name, const TScriptValue& value) const {
  JSObjectRef object = AsObject(value_, "Set");
  TScriptEntry entry;
  JSStringRef key = MakeJsString(name);
  JSValueRef exception = nullptr;
  JSObjectSetProperty(Ctx(), object, key, value.value_ ? value.value_ : JSValueMakeUndefined(Ctx()),
                      kJSPropertyAttributeNone, &exception);
  JSStringRelease(key);
  if (exception) ThrowScriptError(Ctx(), exception, "TScriptValue.Set:" + name);
}

TScriptValue TScriptValue::At(unsigned index) const {
  if (!IsObject()) return TScriptValue();
  TScriptEntry entry;
  JSValueRef exception = nullptr;
  JSValueRef value =
      JSObjectGetPropertyAtIndex(Ctx(), AsObject(value_, "At"), index, &exception);
  if (exception) ThrowScriptError(Ctx(), exception, "TScriptValue.At");
  return TScriptValue(value);
}

unsigned TScriptValue::Length() const {
  const TScriptValue length = Get("length");
  if (!length.IsNumber()) return 0;
  const double d = length.ToNumber();
  if (!(d > 0)) return 0;
  return d > 4294967295.0 ? 4294967295u : static_cast<unsigned>(d);
}

TScriptValue TScriptValue::Shift() const {
  if (!IsObject()) throw TScriptException("TScriptValue.Shift:not an array");
  const TScriptValue shift = Get("shift");
  if (!shift.IsFunction()) throw TScriptException("TScriptValue.Shift:no shift method");
  return shift.Call({}, *this);
}

TScriptValue TScriptValue::Call(const std::vector<TScriptValue>& args,
                                const TScriptValue& thisValue) const {
  if (!IsFunction()) throw TScriptException("TScriptValue.Call:not a function");
  TScriptEntry entry;
  std::vector<JSValueRef> raw;
  raw.reserve(args.size());
  for (const TScriptValue& a : args) raw.push_back(a.value_ ? a.value_ : JSValueMakeUndefined(Ctx()));
  JSObjectRef thisObject = nullptr;
  if (thisValue.IsObject()) thisObject = JSValueToObject(Ctx(), thisValue.value_, nullptr);
  JSValueRef exception = nullptr;
  JSValueRef result = JSObjectCallAsFunction(Ctx(), JSValueToObject(Ctx(), value_, nullptr),
                                             thisObject, raw.size(), raw.data(), &exception);
  if (!result || exception) ThrowScriptError(Ctx(), exception, "");
  return TScriptValue(result);
}

TScriptValue TScriptValue::CallMethod(const std::string& name,
                                      const std::vector<TScriptValue>& args) const {
  if (!IsObject()) throw TScriptException("TScriptValue.CallMethod:" + name + ":not an object");
  const TScriptValue method = Get(name);
  if (!method.IsFunction()) {
    throw TScriptException("TScriptValue.CallMethod:" + name + " is not a function");
  }
  return method.Call(args, *this);
}

bool TScriptValue::StrictEquals(const TScriptValue& other) const {
  JSValueRef a = value_ ? value_ : JSValueMakeUndefined(Ctx());
  JSValueRef b = other.value_ ? other.value_ : JSValueMakeUndefined(Ctx());
  return JSValueIsStrictEqual(Ctx(), a, b);
}

}  // namespace kelvo
