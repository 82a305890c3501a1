#include <gtest/gtest.h>

#include <memory>

#include "foundation/RegistryTools.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

class RegistryToolsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRegistry(reg_); }
  void TearDown() override { SetRegistry(nullptr); }
  std::shared_ptr<TMemoryRegistry> reg_ = std::make_shared<TMemoryRegistry>();
  const std::string key_ = "Software\\Kelvo\\";
};

TEST_F(RegistryToolsTest, ReadWithDefaultAndWithExistence) {
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, key_ + "sync", "mode", "export"));
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, key_ + "sync", "bookmarks", ""));
  ASSERT_TRUE(reg_->WriteValue(TRegRoot::HKCU, key_ + "sync", "count", 4, "12"));

  struct TCase {
    std::string key;
    std::string name;
    std::string expected;  // with default "dflt"
    bool exists;
  };
  const TCase cases[] = {
      {key_ + "sync", "mode", "export", true},
      {key_ + "SYNC\\", "MODE", "export", true},
      {key_ + "sync", "bookmarks", "", true},  // empty is a value, not a default
      {key_ + "sync", "count", "dflt", false},  // not a string
      {key_ + "sync", "missing", "dflt", false},
      {key_ + "nokey", "mode", "dflt", false},  // key cannot be opened
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ReadRegString(TRegRoot::HKCU, c.key, c.name, "dflt"), c.expected) << c.name;
    bool exists = !c.exists;
    std::string text = ReadRegStringEx(TRegRoot::HKCU, c.key, c.name, exists);
    EXPECT_EQ(exists, c.exists) << c.name;
    EXPECT_EQ(text, c.exists ? c.expected : "") << c.name;
  }
  EXPECT_EQ(ReadRegString(TRegRoot::HKCU, key_ + "sync", "missing"), "");
  EXPECT_EQ(ReadRegString(TRegRoot::None, key_ + "sync", "mode", "dflt"), "dflt");
}

TEST_F(RegistryToolsTest, ListGivesNameValueLinesOfStringsInOrder) {
  const std::string kmx = key_ + "kmx\\50123";
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, kmx, "url", "http://h/?a=b&c=d"));
  ASSERT_TRUE(reg_->WriteValue(TRegRoot::HKCU, kmx, "binary", 3, "x"));
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, kmx, "ieframe", "4242"));
  EXPECT_EQ(ListRegStrings(TRegRoot::HKCU, kmx),
            (std::vector<std::string>{"url=http://h/?a=b&c=d", "ieframe=4242"}));
  EXPECT_TRUE(ListRegStrings(TRegRoot::HKCU, key_ + "kmx\\missing").empty());
  EXPECT_TRUE(ListRegStrings(TRegRoot::None, kmx).empty());
}

TEST_F(RegistryToolsTest, WriteFailsWhenTheKeyCannotBeOpened) {
  EXPECT_TRUE(WriteRegString(TRegRoot::HKCU, key_ + "new\\deeper", "n", "v"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, key_ + "new"));
  EXPECT_FALSE(WriteRegString(TRegRoot::None, key_, "n", "v"));
  reg_->SetFailing(true);
  EXPECT_FALSE(WriteRegString(TRegRoot::HKCU, key_, "n", "v"));
  EXPECT_EQ(ReadRegString(TRegRoot::HKCU, key_ + "new\\deeper", "n", "dflt"), "dflt");
}

TEST_F(RegistryToolsTest, DeleteKeyIsRecursiveAndDeleteValueIsSingle) {
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, key_ + "sbopen\\1\\2", "x", "1"));
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, key_, "Runs", "3"));
  ASSERT_TRUE(WriteRegString(TRegRoot::HKCU, key_, "RunsSinceInstall", "1"));
  EXPECT_TRUE(DeleteRegKey(TRegRoot::HKCU, key_ + "sbopen"));
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, key_ + "sbopen\\1"));
  EXPECT_FALSE(DeleteRegKey(TRegRoot::HKCU, key_ + "sbopen"));

  EXPECT_TRUE(DeleteRegValue(TRegRoot::HKCU, key_, "runs"));
  EXPECT_FALSE(DeleteRegValue(TRegRoot::HKCU, key_, "Runs"));
  EXPECT_EQ(ListRegStrings(TRegRoot::HKCU, key_), std::vector<std::string>{"RunsSinceInstall=1"});
}

}  // namespace
}  // namespace kelvo
