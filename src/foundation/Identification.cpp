#include "foundation/Identification.h"

#include "foundation/Config.h"
#include "foundation/Translate.h"

namespace kelvo {

namespace {

constexpr std::size_t kMinEntryLength = 6;

std::string TrimBlanks(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// Characters, not bytes: a UTF-8 sequence counts once.
std::size_t CharacterCount(const std::string& s) {
  std::size_t count = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string Compose(const std::string& nickname, const std::string& password) {
  return password.empty() ? nickname : nickname + ":" + password;
}

}  // namespace

void TIdentification::Split(const std::string& userId, std::string& nickname,
                            std::string& password) {
  std::size_t colon = userId.find(':');
  if (colon == std::string::npos) {
    nickname = userId;
    password.clear();
  } else {
    nickname = userId.substr(0, colon);
    password = userId.substr(colon + 1);
  }
}

std::string TIdentification::GetNickname() {
  std::string nickname, password;
  Split(TConfig::GetUserId(), nickname, password);
  return nickname;
}

std::string TIdentification::GetPassword() {
  std::string nickname, password;
  Split(TConfig::GetUserId(), nickname, password);
  return password;
}

void TIdentification::SetPassword(const std::string& password) {
  SetIdentity(GetNickname(), password);
}

void TIdentification::SetIdentity(const std::string& nickname, const std::string& password) {
  TConfig::SetUserId(Compose(nickname, password));
}

std::string TIdentification::GetUserId() {
  std::string nickname, password;
  Split(TConfig::GetUserId(), nickname, password);
  return Compose(nickname, password);
}

void TIdentification::SetUserId(const std::string& userId) {
  std::string nickname, password;
  Split(userId, nickname, password);
  SetIdentity(nickname, password);
}

bool TIdentification::IsValidEntry(const std::string& text) {
  std::string trimmed = TrimBlanks(text);
  return CharacterCount(trimmed) >= kMinEntryLength && trimmed.find(':') == std::string::npos;
}

bool TIdentification::NicknameValid() { return IsValidEntry(GetNickname()); }
bool TIdentification::PasswordValid() { return IsValidEntry(GetPassword()); }
bool TIdentification::Valid() { return NicknameValid() && PasswordValid(); }

std::string TIdentification::InvalidEntryMessage() {
  return Translate("The password must be more than 5 characters and not containt ':'");
}

}  // namespace kelvo
