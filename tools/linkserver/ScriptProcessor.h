#pragma once
// One "server-script" request in, one answer document of client actions
// out. The script's account (the "user-id" of its "context": nickname,
// colon, password) is checked first; every action is then applied to an
// in-memory copy of the account, and the copy is stored only when the
// whole script went through, so a script that fails half-way changes
// nothing.
#include <cstddef>
#include <string>
#include <vector>

#include "LinkStore.h"

namespace kelvo::linkserver {

// Scripts above this size are refused unread.
inline constexpr std::size_t kMaxScriptBytes = 16u << 20;

// Root element of every answer.
inline constexpr const char* kAnswerRoot = "client-actions";

// Codes of "display-message" and "display-error" elements.
inline constexpr const char* kMsgWelcome = "MSG_WELCOME";
inline constexpr const char* kMsgLinksSaved = "MSG_LINKS_SAVED";
inline constexpr const char* kMsgXLinksSaved = "MSG_XLINKS_SAVED";
inline constexpr const char* kMsgLoginPasswordChanged = "MSG_LOGIN_PASSWORD_CHANGED";
inline constexpr const char* kMsgUserAccountRemoved = "MSG_USER_ACCOUNT_REMOVED";
inline constexpr const char* kMsgUserAccountNotRemoved = "MSG_USER_ACCOUNT_NOT_REMOVED";
inline constexpr const char* kErrorInvalidUserId = "ERROR_INVALID_USER_ID";
inline constexpr const char* kErrorInvalidScript = "ERROR_INVALID_SCRIPT";
inline constexpr const char* kErrorScriptTooLarge = "ERROR_SCRIPT_TOO_LARGE";
inline constexpr const char* kErrorInvalidLink = "ERROR_INVALID_LINK";
inline constexpr const char* kErrorInvalidPath = "ERROR_INVALID_PATH";
inline constexpr const char* kErrorInvalidMode = "ERROR_INVALID_MODE";
inline constexpr const char* kErrorInvalidPassword = "ERROR_INVALID_PASSWORD";
inline constexpr const char* kErrorServer = "ERROR_SERVER";

// Gives every link that needs one a server id (private folders never
// have one) and keeps ids unique: a repeated id (a client's copy of a link
// it holds twice) is replaced.
void AssignIds(TLinkStore& store, std::vector<TLinkRecord>& links);

// An answer holding only a "display-error" with the code.
std::string ErrorAnswer(const std::string& code);

// The answer text for a script text. Never raises: bad scripts and store
// failures are answered with a "display-error".
std::string ProcessScript(TLinkStore& store, const std::string& scriptText);

}  // namespace kelvo::linkserver
