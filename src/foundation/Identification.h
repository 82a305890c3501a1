#pragma once
// The account's identity as the one setting user-data\user-id holds it:
// the nickname, optionally followed by ":" and the password, in plain text
// (the sidebar code reads the same value). Class operations only; any thread.

#include <string>

namespace kelvo {

class TIdentification {
 public:
  TIdentification() = delete;

  // The text before the first ":" of the stored identity (all of it when
  // there is no ":").
  static std::string GetNickname();
  // The text after the first ":"; empty when there is none.
  static std::string GetPassword();
  // Keeps the stored nickname.
  static void SetPassword(const std::string& password);
  // Stores nickname + ":" + password, or the nickname alone when the
  // password is empty.
  static void SetIdentity(const std::string& nickname, const std::string& password);
  // nickname + ":" + password when a password is stored, else the nickname.
  static std::string GetUserId();
  // Stores a text of the form nickname ":" password (the password may be
  // missing).
  static void SetUserId(const std::string& userId);

  // Valid: at least 6 characters after trimming blanks and no ":".
  static bool IsValidEntry(const std::string& text);
  static bool NicknameValid();
  static bool PasswordValid();
  static bool Valid();
  // The translated message for an invalid nickname or password.
  static std::string InvalidEntryMessage();

  // How a stored identity splits; exposed for callers holding the text.
  static void Split(const std::string& userId, std::string& nickname, std::string& password);
};

}  // namespace kelvo
