#include "sidebar/lkJSON.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelvo {

namespace {

// The generator's buffer grows in large steps, so long listings are not
// copied over and over.
constexpr std::size_t kBufferStep = 20000;

void Reserve(std::string& out, std::size_t more) {
  if (out.size() + more > out.capacity()) {
    out.reserve(out.capacity() + std::max(kBufferStep, more));
  }
}

void Generate(std::string& out, const TlkJSONbase* value);

void GenerateObject(std::string& out, const TlkJSONobject& object) {
  out += '{';
  for (std::size_t i = 0; i < object.Count(); ++i) {
    const TlkJSONobjectmethod* member = object.FieldByIndex(i);
    if (i > 0) out += ',';
    TlkJSON::AppendString(out, member->Name());
    out += ':';
    Generate(out, member->ObjValue());
  }
  out += '}';
}

void GenerateList(std::string& out, const TlkJSONlist& list) {
  out += '[';
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (i > 0) out += ',';
    Generate(out, list.Child(i));
  }
  out += ']';
}

void Generate(std::string& out, const TlkJSONbase* value) {
  Reserve(out, 64);
  if (value == nullptr) {
    out += "null";
    return;
  }
  switch (value->SelfType()) {
    case TlkJSONtypes::jsNumber:
      out += TlkJSON::NumberText(static_cast<const TlkJSONnumber*>(value)->Value());
      break;
    case TlkJSONtypes::jsString:
      TlkJSON::AppendString(out, static_cast<const TlkJSONstring*>(value)->Value());
      break;
    case TlkJSONtypes::jsBoolean:
      out += static_cast<const TlkJSONboolean*>(value)->Value() ? "true" : "false";
      break;
    case TlkJSONtypes::jsList:
      GenerateList(out, *static_cast<const TlkJSONlist*>(value));
      break;
    case TlkJSONtypes::jsObject:
      GenerateObject(out, *static_cast<const TlkJSONobject*>(value));
      break;
    case TlkJSONtypes::jsNull:
    case TlkJSONtypes::jsBase:
      out += "null";
      break;
  }
}

}  // namespace

// --- Containers ------------------------------------------------------------------

TlkJSONbase* TlkJSONlist::Add(TlkJSONbasePtr value) {
  if (!value) return nullptr;
  items_.push_back(std::move(value));
  return items_.back().get();
}

TlkJSONbase* TlkJSONlist::Add(const std::string& text) {
  return Add(std::make_unique<TlkJSONstring>(text));
}

const TlkJSONbase* TlkJSONlist::Child(std::size_t index) const {
  return index < items_.size() ? items_[index].get() : nullptr;
}

int TlkJSONobject::AddMember(const std::string& name, TlkJSONbasePtr value) {
  if (!value) return -1;
  const std::size_t index = items_.size();
  items_.push_back(std::make_unique<TlkJSONobjectmethod>(name, std::move(value)));
  if (useHash_) index_.emplace(name, index);  // keeps the first of a name
  return static_cast<int>(index);
}

int TlkJSONobject::Add(const std::string& name, TlkJSONbasePtr value) {
  return AddMember(name, std::move(value));
}

int TlkJSONobject::Add(const std::string& name, const std::string& text) {
  return AddMember(name, std::make_unique<TlkJSONstring>(text));
}

int TlkJSONobject::Add(const std::string& name, std::int64_t number) {
  return AddMember(name, std::make_unique<TlkJSONnumber>(static_cast<long double>(number)));
}

int TlkJSONobject::Add(const std::string& name, bool value) {
  return AddMember(name, std::make_unique<TlkJSONboolean>(value));
}

const TlkJSONobjectmethod* TlkJSONobject::FieldByIndex(std::size_t index) const {
  return index < items_.size() ? static_cast<const TlkJSONobjectmethod*>(items_[index].get())
                               : nullptr;
}

const TlkJSONbase* TlkJSONobject::Field(const std::string& name) const {
  if (useHash_) {
    auto found = index_.find(name);
    return found == index_.end() ? nullptr : FieldByIndex(found->second)->ObjValue();
  }
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TlkJSONobjectmethod* member = FieldByIndex(i);
    if (member->Name() == name) return member->ObjValue();
  }
  return nullptr;
}

// --- Text form -----------------------------------------------------------------

std::string TlkJSON::NumberText(long double value) {
  // Not representable in JSON; the agent only ever stores integers, but a
  // script parser must never be handed "NAN".
  if (!std::isfinite(value)) return "null";
  if (value == 0) return "0";

  // 15 significant digits, correctly rounded, as d.dddddddddddddde±x.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14Le", value);
  const char* p = buf;
  std::string out;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  std::string digits;
  for (; *p != 'e' && *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  // General form: fixed notation from 1E-4 up to 15 integral digits,
  // scientific with "E" and no exponent padding otherwise.
  if (exponent >= -4 && exponent <= 14) {
    if (exponent >= 0) {
      const std::size_t integral = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= integral) {
        out += digits;
        out.append(integral - digits.size(), '0');
      } else {
        out.append(digits, 0, integral);
        out += '.';
        out.append(digits, integral, std::string::npos);
      }
    } else {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    }
    return out;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out.append(digits, 1, std::string::npos);
  }
  out += 'E';
  out += std::to_string(exponent);
  return out;
}

void TlkJSON::AppendString(std::string& out, std::string_view text) {
  Reserve(out, text.size() + 2);
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (byte < 32) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 15];
        } else {
          out += c;  // bytes of 128 and above pass unchanged (UTF-8 text)
        }
    }
  }
  out += '"';
}

std::string TlkJSON::GenerateText(const TlkJSONbase* value) {
  if (value == nullptr) return std::string();
  std::string out;
  out.reserve(kBufferStep);
  Generate(out, value);
  out.shrink_to_fit();
  return out;
}

}  // namespace kelvo
