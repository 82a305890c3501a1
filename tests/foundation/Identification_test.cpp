#include "foundation/Identification.h"

#include <gtest/gtest.h>

#include <string>

#include "ConfigFixture.h"
#include "foundation/Translate.h"

namespace kelvo {
namespace {

using IdentificationTest = test::ConfigTest;

TEST_F(IdentificationTest, StoredIdentitySplitsAtTheFirstColon) {
  const struct {
    const char* stored;
    const char* nickname;
    const char* password;
    const char* userId;
  } cases[] = {{"nickname:secret", "nickname", "secret", "nickname:secret"},
               {"nickname:", "nickname", "", "nickname"},
               {"nickname", "nickname", "", "nickname"},
               {"nick:pa:ss", "nick", "pa:ss", "nick:pa:ss"},
               {":secret", "", "secret", ":secret"},
               {"", "", "", ""}};
  for (const auto& c : cases) {
    TConfig::SetUserId(c.stored);
    EXPECT_EQ(TIdentification::GetNickname(), c.nickname) << c.stored;
    EXPECT_EQ(TIdentification::GetPassword(), c.password) << c.stored;
    EXPECT_EQ(TIdentification::GetUserId(), c.userId) << c.stored;
  }
}

TEST_F(IdentificationTest, WritingStoresTheNicknameAloneWithoutPassword) {
  TIdentification::SetIdentity("nickname", "");
  EXPECT_EQ(Stored("user-data", "user-id"), "nickname");
  TIdentification::SetPassword("secret1");
  EXPECT_EQ(Stored("user-data", "user-id"), "nickname:secret1");
  TIdentification::SetPassword("other22");
  EXPECT_EQ(Stored("user-data", "user-id"), "nickname:other22");
  TIdentification::SetUserId("someone:");
  EXPECT_EQ(Stored("user-data", "user-id"), "someone");
  TIdentification::SetUserId("someone:pw:x");
  EXPECT_EQ(Stored("user-data", "user-id"), "someone:pw:x");
}

TEST(Identification, EntryValidity) {
  const struct {
    const char* text;
    bool valid;
  } cases[] = {{"abcdef", true},
               {"abcde", false},
               {"  abcde  ", false},
               {" abcdef ", true},
               {"abc def", true},
               {"ab:cdefg", false},
               {"abcdefgh:", false},
               {"", false},
               {"\xC3\xA9\xC3\xA9\xC3\xA9", false},  // six bytes, three characters
               {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(TIdentification::IsValidEntry(c.text), c.valid) << '"' << c.text << '"';
  }
}

TEST_F(IdentificationTest, ValidityOfTheStoredIdentity) {
  TConfig::SetUserId("nickname:secret");
  EXPECT_TRUE(TIdentification::Valid());
  TConfig::SetUserId("nickname:");
  EXPECT_TRUE(TIdentification::NicknameValid());
  EXPECT_FALSE(TIdentification::PasswordValid());
  EXPECT_FALSE(TIdentification::Valid());
  TConfig::SetUserId("nick:secret");
  EXPECT_FALSE(TIdentification::NicknameValid());
  EXPECT_TRUE(TIdentification::PasswordValid());
  TConfig::SetUserId("nickname:sec:ret");
  EXPECT_FALSE(TIdentification::PasswordValid());
}

TEST(Identification, InvalidEntryMessageGoesThroughTheCatalogue) {
  const std::string source = "The password must be more than 5 characters and not containt ':'";
  EXPECT_EQ(TIdentification::InvalidEntryMessage(), source);
  SetTranslator([](const std::string& text) { return "fr:" + text; });
  EXPECT_EQ(TIdentification::InvalidEntryMessage(), "fr:" + source);
  SetTranslator([](const std::string&) -> std::string { throw std::runtime_error("broken"); });
  EXPECT_EQ(TIdentification::InvalidEntryMessage(), source);
  SetTranslator(nullptr);
  EXPECT_EQ(Translate("Close"), "Close");
}

}  // namespace
}  // namespace kelvo
