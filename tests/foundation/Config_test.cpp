#include "foundation/Config.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ConfigFixture.h"
#include "TestHome.h"
#include "foundation/DateUtils.h"
#include "foundation/PlatformInfo.h"
#include "foundation/SyncMode.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

using test::ConfigTest;
using test::kKey;

TEST_F(ConfigTest, SettingsLiveUnderTheCurrentUsersAgentKey) {
  EXPECT_EQ(TConfig::SettingsRoot(), TRegRoot::HKCU);
  EXPECT_EQ(TConfig::SettingsKey(), "Software\\Kelvo\\");
  EXPECT_EQ(TConfig::SettingsRoot(true), TRegRoot::HKCU);
  EXPECT_EQ(TConfig::SettingsKey(true), "Software\\Kelvo\\");

  EXPECT_TRUE(TConfig::WriteValue("stats\\data", "getreco", "4"));
  EXPECT_TRUE(TConfig::WriteValue("", "skin", "pink"));
  EXPECT_EQ(Stored("stats\\data", "getreco"), "4");
  EXPECT_EQ(Stored("", "skin"), "pink");
  EXPECT_EQ(TConfig::ReadValueEx("stats\\data", "getreco"), "4");
  EXPECT_EQ(TConfig::ReadValueEx("stats\\data", "missing"), std::nullopt);
  EXPECT_EQ(TConfig::ReadValue("stats\\data", "missing"), "");

  // A value of another type reads as missing.
  Registry().WriteValue(TRegRoot::HKCU, kKey, "binary", 3, "abc");
  EXPECT_EQ(TConfig::ReadValueEx("", "binary"), std::nullopt);

  EXPECT_TRUE(TConfig::DeleteValue("", "skin"));
  EXPECT_EQ(Stored("", "skin"), std::nullopt);
  EXPECT_TRUE(TConfig::DeleteSection("stats"));
  EXPECT_FALSE(Registry().KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\stats\\data"));
  EXPECT_TRUE(Registry().KeyExists(TRegRoot::HKCU, kKey));

  Registry().WriteString(TRegRoot::HKLM, "SOFTWARE\\Other", "Name", "x");
  EXPECT_EQ(TConfig::ReadValueAt(TRegRoot::HKLM, "SOFTWARE\\", "Name", "Other\\"), "x");
}

TEST_F(ConfigTest, LogLevelReadingRules) {
  const struct {
    std::optional<std::string> stored;
    int expected;
  } cases[] = {{std::nullopt, 2}, {"9", 3}, {"abc", 2}, {"", 2}, {"-1", 3}, {"6", 3},
               {"0", 0},          {"5", 5}, {"4", 4},   {"99999999999999999999", 2}};
  for (const auto& c : cases) {
    if (c.stored) TConfig::WriteValue("ini", "log-level", *c.stored);
    else TConfig::DeleteValue("ini", "log-level");
    EXPECT_EQ(TConfig::GetLogLevel(), c.expected) << c.stored.value_or("(missing)");
  }
}

TEST_F(ConfigTest, NormalizingTheLogLevelRewritesItAndDropsTheOldValue) {
  TConfig::WriteValue("ini", "log", "old");
  TConfig::WriteValue("ini", "log-level", "9");
  TConfig::NormalizeLogLevel();
  EXPECT_EQ(Stored("ini", "log-level"), "3");
  EXPECT_EQ(Stored("ini", "log"), std::nullopt);

  TConfig::DeleteValue("ini", "log-level");
  TConfig::NormalizeLogLevel();
  EXPECT_EQ(Stored("ini", "log-level"), "2");
}

TEST_F(ConfigTest, SidebarWidthDefaultsAndIsCapped) {
  EXPECT_EQ(TConfig::GetSidebarWidth(), 206);
  const struct {
    const char* stored;
    int expected;
  } cases[] = {{"900", 700}, {"701", 700}, {"700", 700}, {"350", 350}, {"wide", 206}, {"", 206}};
  for (const auto& c : cases) {
    TConfig::WriteValue("", "sbwidth", c.stored);
    EXPECT_EQ(TConfig::GetSidebarWidth(), c.expected) << c.stored;
  }
}

TEST_F(ConfigTest, BooleansReadOnlyTheirFourSpellingsElseTheDefault) {
  const struct {
    const char* stored;
    std::optional<bool> value;  // nullopt: the caller's default
  } cases[] = {{"0", false}, {"false", false}, {"1", true},          {"true", true},
               {"TRUE", true}, {"yes", std::nullopt}, {"", std::nullopt}, {"2", std::nullopt},
               {"on", std::nullopt}};
  for (const auto& c : cases) {
    TConfig::WriteValue("sync", "external-bks-changed", c.stored);
    for (bool def : {false, true}) {
      EXPECT_EQ(TConfig::ReadBool("sync", "external-bks-changed", def), c.value.value_or(def))
          << c.stored << " default " << def;
    }
  }
  EXPECT_FALSE(TConfig::GetSafetyBackupDone());
  EXPECT_TRUE(TConfig::ReadBool("sync", "safety-backup-done", true));

  TConfig::SetSafetyBackupDone(true);
  EXPECT_EQ(Stored("sync", "safety-backup-done"), "1");
  TConfig::SetExternalBksChanged(false);
  EXPECT_EQ(Stored("sync", "external-bks-changed"), "0");
  TConfig::SetErrorLogged(true);
  EXPECT_EQ(Stored("", "error-logged"), "1");
}

TEST_F(ConfigTest, DefaultsOfMissingValues) {
  EXPECT_EQ(TConfig::GetSyncMode(), "merge");
  EXPECT_EQ(TConfig::GetSkin(), "black");
  EXPECT_EQ(TConfig::GetSkinColor(), "#000000");
  EXPECT_EQ(TConfig::GetVersion(), "0");
  EXPECT_EQ(TConfig::GetFirstReleaseSidebarRun(), "false");
  EXPECT_EQ(TConfig::GetBookmarkCount(), 0);
  EXPECT_EQ(TConfig::GetLang(), "");
  EXPECT_EQ(TConfig::GetUserId(), "");
  EXPECT_FALSE(TConfig::GetLogMemory());
  EXPECT_FALSE(TConfig::GetAutoUpdateWidgets());
  EXPECT_FALSE(TConfig::GetStatsDisabled());
  EXPECT_EQ(TConfig::GetStatsLast(), 0);
  EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), 0);
  EXPECT_EQ(TConfig::GetSidebarWidthLastLarge(-1), -1);
  EXPECT_TRUE(TConfig::IsFirstRunAfterInstall());
}

TEST_F(ConfigTest, ValuesGoWhereOtherReadersLookForThem) {
  TConfig::SetBookmarkCount(1234);
  TConfig::SetSyncBookmarks("sync-id-7");
  TConfig::SetLogLevel(5);
  TConfig::SetLogMemory(true);
  TConfig::SetBrowserLocation("/home/u/Favorites");
  TConfig::SetStatsLast(4102444800LL);  // beyond 32 bits
  TConfig::SetStatsCounter("invalid_sync_id", 3);
  TConfig::SetStatsGetReco(9);
  TConfig::SetStatsNoRecoCount(2);
  TConfig::SetStatsPlatform("Linux x86_64");
  TConfig::SetUninstallCalled(false);
  TConfig::SetRecoServiceUrl("");
  TConfig::SetRecoServiceUrl("http://127.0.0.1/reco");
  TConfig::SetRecoServiceUrl("");

  EXPECT_EQ(Stored("sync", "bookmark-count"), "1234");
  EXPECT_EQ(Stored("sync", "bookmarks"), "sync-id-7");
  EXPECT_EQ(Stored("ini", "log-level"), "5");
  EXPECT_EQ(Stored("ini", "log-memory"), "true");
  EXPECT_EQ(Stored("browser", "location"), "/home/u/Favorites");
  EXPECT_EQ(Stored("stats", "last"), "4102444800");
  EXPECT_EQ(TConfig::GetStatsLast(), 4102444800LL);
  EXPECT_EQ(Stored("stats\\data", "invalid_sync_id"), "3");
  EXPECT_EQ(Stored("stats\\data", "getreco"), "9");
  EXPECT_EQ(TConfig::GetStatsGetReco(), 9);
  EXPECT_EQ(Stored("stats", "no-reco-count"), "2");
  EXPECT_EQ(Stored("stats", "platform"), "Linux x86_64");
  EXPECT_EQ(Stored("", "uninstallcalled"), "false");
  // An empty URL never overwrites the one the server gave.
  EXPECT_EQ(Stored("recommends", "reco-service.url"), "http://127.0.0.1/reco");

  TConfig::WriteValue("stats", "no", "true");
  EXPECT_TRUE(TConfig::GetStatsDisabled());
  TConfig::WriteValue("stats", "no", "1");
  EXPECT_FALSE(TConfig::GetStatsDisabled());
}

TEST_F(ConfigTest, SkinColours) {
  const struct {
    const char* skin;
    const char* colour;
  } cases[] = {{"green", "#D7F99B"},     {"darkblue", "#082746"}, {"lightblue", "#C4DEF0"},
               {"black", "#000000"},     {"pink", "#F6C9EB"},     {"orange", "#FFFFFF"},
               {"", "#FFFFFF"},          {"green ", "#FFFFFF"}};
  for (const auto& c : cases) {
    TConfig::SetSkin(c.skin);
    EXPECT_EQ(TConfig::GetSkinColor(), c.colour) << '"' << c.skin << '"';
  }
}

TEST(SyncMode, NamesAndIndexes) {
  const char* const names[] = {"import", "import-add", "export", "merge", "no-sync"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(SyncModeName(SyncModeFromIndex(i)), names[i]);
    EXPECT_EQ(SyncModeIndex(names[i]), i);
  }
  for (const char* text : {"Merge", "MERGE", "", " merge", "merge ", "sync"}) {
    EXPECT_EQ(SyncModeFromName(text), TSyncMode::NoSync) << '"' << text << '"';
  }
  for (long long index : {-1LL, 5LL, 1LL << 40}) {
    EXPECT_EQ(SyncModeFromIndex(index), TSyncMode::NoSync) << index;
  }
}

TEST_F(ConfigTest, StoredSyncModeIsReadAsWritten) {
  TConfig::SetSyncMode("Merge");
  EXPECT_EQ(TConfig::GetSyncMode(), "Merge");
  EXPECT_EQ(SyncModeFromName(TConfig::GetSyncMode()), TSyncMode::NoSync);
  TConfig::SetSyncMode("import-add");
  EXPECT_EQ(SyncModeFromName(TConfig::GetSyncMode()), TSyncMode::ImportAdd);
}

TEST_F(ConfigTest, RunsCountersAndTheInstallHandshake) {
  EXPECT_TRUE(TConfig::IsFirstRunAfterInstall());
  TConfig::IncrementRuns();
  TConfig::IncrementRuns();
  EXPECT_EQ(Stored("", "Runs"), "2");
  EXPECT_EQ(Stored("", "RunsSinceInstall"), "2");
  EXPECT_FALSE(TConfig::IsFirstRunAfterInstall());

  // No language left by the installer: nothing changes.
  EXPECT_FALSE(TConfig::TakeInstallerLanguage());
  EXPECT_FALSE(TConfig::IsFirstRunAfterInstall());

  Registry().WriteString(TRegRoot::HKCU, "Software\\Kelvo", "lang", "fr");
  EXPECT_TRUE(TConfig::TakeInstallerLanguage());
  EXPECT_EQ(Stored("ini", "lang"), "fr");
  EXPECT_EQ(Stored("", "lang"), std::nullopt);
  EXPECT_EQ(Stored("", "RunsSinceInstall"), "0");
  EXPECT_TRUE(TConfig::IsFirstRunAfterInstall());
  EXPECT_EQ(TConfig::GetRuns(), 2);
}

TEST_F(ConfigTest, DatedSettings) {
  const TDateTime before = AddDays(Now(), -8);
  TDateTime missing = TConfig::GetRefreshDate("main");
  const TDateTime after = AddDays(Now(), -8);
  EXPECT_LE(before, missing);
  EXPECT_LE(missing, after);

  TDateTime when{2009, 3, 7, 14, 5, 9, 0};
  TConfig::SetRefreshDate("main", when);
  EXPECT_EQ(Stored("refresh", "main"), "2009-03-07 14:05:09");
  EXPECT_EQ(TConfig::GetRefreshDate("main"), when);

  TConfig::WriteValue("refresh", "main", "not a date");
  TDateTime unreadable = TConfig::GetRefreshDate("main");
  EXPECT_LE(before, unreadable);

  // The install date is recorded once, also over an empty value.
  TConfig::WriteValue("", "install_date", "");
  TConfig::SetInstallDateOnce(when);
  EXPECT_EQ(Stored("", "install_date"), "2009-03-07 14:05:09");
  TConfig::SetInstallDateOnce(TDateTime{2020, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(TConfig::GetInstallDate(), when);
}

TEST_F(ConfigTest, AgentNameCarriesTheBrowsersMajorVersion) {
  ResetPlatformInfoCache();
  EXPECT_EQ(TConfig::GetAgent(), "IE");
  Registry().WriteString(TRegRoot::HKLM, "SOFTWARE\\Microsoft\\Internet Explorer", "Version",
                         "7.0.5730.13");
  EXPECT_EQ(TConfig::GetAgent(), "IE7");
  ResetPlatformInfoCache();
  SetRegistry(nullptr);
  EXPECT_EQ(TConfig::GetAgent(), "IE");
}

TEST_F(ConfigTest, WithoutAReachableRegistryReadsGiveDefaultsAndWritesFail) {
  auto failing = std::make_shared<TMemoryRegistry>();
  failing->SetFailing(true);
  SetRegistry(failing);
  EXPECT_EQ(TConfig::GetLogLevel(), 2);
  EXPECT_EQ(TConfig::GetSidebarWidth(), 206);
  EXPECT_EQ(TConfig::GetSyncMode(), "merge");
  EXPECT_FALSE(TConfig::WriteValue("", "skin", "pink"));
  EXPECT_NO_THROW(TConfig::SetErrorLogged(true));

  SetRegistry(nullptr);  // not wired at all
  EXPECT_EQ(TConfig::GetLogLevel(), 2);
  EXPECT_FALSE(TConfig::WriteValue("", "skin", "pink"));
  EXPECT_NO_THROW(TConfig::SetErrorLogged(true));
  EXPECT_NO_THROW(TConfig::InitPaths(0, "/opt/kelvo/kelvo", false));
}

}  // namespace
}  // namespace kelvo
