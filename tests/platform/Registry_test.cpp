// The semantics every registry implementation shares, run over the SQLite
// database and the in-memory test double alike.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "TestHome.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo {
namespace {

using TStrings = std::vector<std::pair<std::string, std::string>>;
using TFactory = std::function<std::shared_ptr<IRegistry>(const test::TTestHome&)>;

struct TImplementation {
  const char* name;
  TFactory make;
};

class RegistrySemantics : public ::testing::TestWithParam<TImplementation> {
 protected:
  void SetUp() override { reg_ = GetParam().make(home_); }
  test::TTestHome home_;
  std::shared_ptr<IRegistry> reg_;
};

TEST_P(RegistrySemantics, NamesAndPathsMatchWithoutCaseAndKeepTheirSpelling) {
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo\\User-Data", "User-Id", "nick"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "SOFTWARE\\kelvo\\user-data", "USER-ID"), "nick");
  // Leading, trailing and doubled separators name the same key.
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "\\Software\\\\Kelvo\\User-Data\\", "user-id"),
            "nick");

  // Overwriting in another case changes the data, not the stored spelling.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "software\\KELVO\\user-data", "USER-ID", "other"));
  EXPECT_EQ(reg_->ListStrings(TRegRoot::HKCU, "Software\\Kelvo\\User-Data"),
            (TStrings{{"User-Id", "other"}}));
  EXPECT_EQ(reg_->ListSubKeys(TRegRoot::HKCU, "software"), std::vector<std::string>{"Kelvo"});
  EXPECT_EQ(reg_->ListSubKeys(TRegRoot::HKCU, "SOFTWARE\\KELVO"),
            std::vector<std::string>{"User-Data"});

  // Folding is ASCII only: accented letters of another case are other names.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "k", "\xC3\xA9t\xC3\xA9", "lower"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "K", "\xC3\xA9T\xC3\xA9"), "lower");
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "K", "\xC3\x89T\xC3\x89"), std::nullopt);
}

TEST_P(RegistrySemantics, OnlyStringValuesReadAndList) {
  ASSERT_TRUE(reg_->WriteValue(TRegRoot::HKCU, "Software\\Kelvo", "binary", 3, "abc"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo", "text", "t"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo", "empty", ""));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo", "binary"), std::nullopt);
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo", "empty"), "");
  EXPECT_EQ(reg_->ListStrings(TRegRoot::HKCU, "Software\\Kelvo"),
            (TStrings{{"text", "t"}, {"empty", ""}}));
  // The same name written as a string becomes readable.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo", "BINARY", "now text"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo", "binary"), "now text");
}

TEST_P(RegistrySemantics, ValuesListInTheOrderFirstWritten) {
  for (const char* name : {"zeta", "alpha", "mid"})
    ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "kmx\\1234", name, name));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "kmx\\1234", "zeta", "rewritten"));
  ASSERT_TRUE(reg_->DeleteValue(TRegRoot::HKCU, "kmx\\1234", "alpha"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "kmx\\1234", "alpha", "again"));
  EXPECT_EQ(reg_->ListStrings(TRegRoot::HKCU, "kmx\\1234"),
            (TStrings{{"zeta", "rewritten"}, {"mid", "mid"}, {"alpha", "again"}}));
}

TEST_P(RegistrySemantics, CreatingAKeyCreatesItsParents) {
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "a"));
  ASSERT_TRUE(reg_->CreateKey(TRegRoot::HKCU, "a\\b\\c"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "a"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "A\\B"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "a\\b\\c"));
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "a\\b\\c\\d"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, ""));  // the root itself
  // A value creates its key chain too.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "x\\y", "v", "1"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "x"));
  // Subkeys sort without case; only direct children are listed.
  ASSERT_TRUE(reg_->CreateKey(TRegRoot::HKCU, "a\\Zed"));
  ASSERT_TRUE(reg_->CreateKey(TRegRoot::HKCU, "a\\apple"));
  EXPECT_EQ(reg_->ListSubKeys(TRegRoot::HKCU, "a"),
            (std::vector<std::string>{"apple", "b", "Zed"}));
  EXPECT_EQ(reg_->ListSubKeys(TRegRoot::HKCU, ""), (std::vector<std::string>{"a", "x"}));
}

TEST_P(RegistrySemantics, DeletingAKeyTakesItsSubtreeAndNothingElse) {
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo", "keep", "1"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo\\stats", "no", "true"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo\\stats\\data", "getreco", "4"));
  // Shares the text prefix "stats" but is a sibling.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo\\statsOld", "x", "y"));
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKLM, "Software\\Kelvo\\stats", "no", "other root"));

  EXPECT_TRUE(reg_->DeleteKey(TRegRoot::HKCU, "SOFTWARE\\KELVO\\STATS\\"));
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\stats"));
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\stats\\data"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo\\stats\\data", "getreco"),
            std::nullopt);
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo", "keep"), "1");
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software\\Kelvo\\statsOld", "x"), "y");
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKLM, "Software\\Kelvo\\stats", "no"), "other root");

  EXPECT_FALSE(reg_->DeleteKey(TRegRoot::HKCU, "Software\\Kelvo\\stats"));  // already gone
  EXPECT_FALSE(reg_->DeleteKey(TRegRoot::HKCU, ""));                        // never the root
  EXPECT_FALSE(reg_->DeleteKey(TRegRoot::HKCU, "\\"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "Software\\Kelvo"));
}

TEST_P(RegistrySemantics, DeleteValueReportsWhetherThereWasOne) {
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\Kelvo\\ini", "log", "x"));
  EXPECT_TRUE(reg_->DeleteValue(TRegRoot::HKCU, "software\\kelvo\\INI", "LOG"));
  EXPECT_FALSE(reg_->DeleteValue(TRegRoot::HKCU, "Software\\Kelvo\\ini", "log"));
  EXPECT_FALSE(reg_->DeleteValue(TRegRoot::HKCU, "Software\\Missing", "log"));
  EXPECT_TRUE(reg_->KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\ini"));  // the key stays
}

TEST_P(RegistrySemantics, RootsAreSeparateAndNoRootFailsEverything) {
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKLM, "SOFTWARE\\Microsoft\\Internet Explorer",
                                "Version", "7.0"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "SOFTWARE\\Microsoft\\Internet Explorer", "Version"),
            std::nullopt);
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::None, ""));
  EXPECT_FALSE(reg_->CreateKey(TRegRoot::None, "a"));
  EXPECT_FALSE(reg_->WriteString(TRegRoot::None, "a", "n", "v"));
  EXPECT_FALSE(reg_->WriteValue(TRegRoot::None, "a", "n", 1, "v"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::None, "a", "n"), std::nullopt);
  EXPECT_FALSE(reg_->DeleteValue(TRegRoot::None, "a", "n"));
  EXPECT_FALSE(reg_->DeleteKey(TRegRoot::None, "a"));
  EXPECT_TRUE(reg_->ListStrings(TRegRoot::None, "").empty());
  EXPECT_TRUE(reg_->ListSubKeys(TRegRoot::None, "").empty());
}

TEST_P(RegistrySemantics, ValuesMayHoldAnyText) {
  const std::string tricky = "line1\r\nline2 = 'quoted' \"x\" \\ % _ \xE2\x80\xA6";
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software\\100%_done", "a=b", tricky));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "software\\100%_DONE", "A=B"), tricky);
  // "%" and "_" are no wildcards in a path.
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "Software\\100x_done"));
  EXPECT_FALSE(reg_->KeyExists(TRegRoot::HKCU, "Software\\100%xdone"));
  // The default value of a key has the empty name.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "Software", "", "default"));
  EXPECT_EQ(reg_->ReadString(TRegRoot::HKCU, "Software", ""), "default");
}

INSTANTIATE_TEST_SUITE_P(
    AllImplementations, RegistrySemantics,
    ::testing::Values(
        TImplementation{"Sqlite",
                        [](const test::TTestHome& home) {
                          return OpenRegistryDatabase(home.Sub("cfg/registry.db"));
                        }},
        TImplementation{"Memory",
                        [](const test::TTestHome&) -> std::shared_ptr<IRegistry> {
                          return std::make_shared<TMemoryRegistry>();
                        }}),
    [](const ::testing::TestParamInfo<TImplementation>& info) { return info.param.name; });

TEST(MemoryRegistry, FailingStoreAnswersLikeAnUnreachableOne) {
  TMemoryRegistry reg;
  ASSERT_TRUE(reg.WriteString(TRegRoot::HKCU, "k", "n", "v"));
  reg.SetFailing(true);
  EXPECT_EQ(reg.ReadString(TRegRoot::HKCU, "k", "n"), std::nullopt);
  EXPECT_FALSE(reg.WriteString(TRegRoot::HKCU, "k", "n", "w"));
  EXPECT_FALSE(reg.KeyExists(TRegRoot::HKCU, "k"));
  EXPECT_FALSE(reg.DeleteKey(TRegRoot::HKCU, "k"));
  reg.SetFailing(false);
  EXPECT_EQ(reg.ReadString(TRegRoot::HKCU, "k", "n"), "v");
}

TEST(RegistryPath, Normalization) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"\\", ""},
      {"Software\\Kelvo\\", "Software\\Kelvo"},
      {"\\\\Software\\\\\\Kelvo", "Software\\Kelvo"},
      {"kmx\\\\1234", "kmx\\1234"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeRegistryPath(in), out) << in;
  EXPECT_STREQ(RegRootName(TRegRoot::HKCU), "HKCU");
  EXPECT_STREQ(RegRootName(TRegRoot::HKLM), "HKLM");
  EXPECT_STREQ(RegRootName(TRegRoot::None), "");
}

}  // namespace
}  // namespace kelvo
