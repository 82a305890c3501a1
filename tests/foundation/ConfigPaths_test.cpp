#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ConfigFixture.h"
#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/Log.h"

namespace kelvo {
namespace {

using test::ReadFileText;
using test::WriteFileText;

class ConfigPathsTest : public test::ConfigTest {
 protected:
  std::string Home() const { return home_->Path().string(); }
  // Marks the installation as run before, so that InitPaths does not migrate.
  void NotFirstRun() { TConfig::WriteValue("", "RunsSinceInstall", "3"); }
};

TEST_F(ConfigPathsTest, FoldersOfTheProfileUnderTheDataHome) {
  NotFirstRun();
  TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
  const std::string d = Home() + "/.local/share/Kelvo/";
  EXPECT_EQ(TConfig::AppDataPath(), d);
  EXPECT_EQ(TConfig::ArchivePath(), d + "Archive/");
  EXPECT_EQ(TConfig::ArchiveInitPath(), d + "Archive/Init/");
  EXPECT_EQ(TConfig::HttpTempDir(), d + "Temp/");
  EXPECT_EQ(TConfig::TempPath(), d + "temp/");
  EXPECT_EQ(TConfig::SBInitPath(), d + "sidebarinit/");
  EXPECT_EQ(TConfig::SBPath(), d + "sidebar/");
  EXPECT_EQ(TConfig::SBParentPath(), d);
  EXPECT_EQ(TConfig::WaitingPagePath(), d + "sidebarinit/waiting.html");
  EXPECT_EQ(TConfig::AppPath(), "/opt/kelvo/bin/");
}

TEST_F(ConfigPathsTest, PathsAreEmptyUntilComputedAndFollowANewHome) {
  NotFirstRun();
  EXPECT_EQ(TConfig::AppDataPath(), "");
  EXPECT_EQ(TConfig::SBPath(), "");

  setenv("XDG_DATA_HOME", (Home() + "/data").c_str(), 1);
  TConfig::InitPaths(0, "/usr/lib/kelvo/kelvo", false);
  EXPECT_EQ(TConfig::AppDataPath(), Home() + "/data/Kelvo/");

  // A relative XDG_DATA_HOME is not a data home.
  setenv("XDG_DATA_HOME", "relative/data", 1);
  TConfig::InitPaths(0, "/usr/lib/kelvo/kelvo", false);
  EXPECT_EQ(TConfig::AppDataPath(), Home() + "/.local/share/Kelvo/");
  unsetenv("XDG_DATA_HOME");

  {
    test::TTestHome other;  // another HOME, another registry database
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::WriteValue("", "RunsSinceInstall", "1");
    TConfig::InitPaths(0, "/usr/lib/kelvo/kelvo", false);
    EXPECT_EQ(TConfig::AppDataPath(), other.Path().string() + "/.local/share/Kelvo/");
    SetRegistry(nullptr);
  }
}

TEST_F(ConfigPathsTest, RoamingFolderFromTheShellFoldersValue) {
  NotFirstRun();
  Registry().WriteString(TRegRoot::HKCU,
                         "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         "AppData", "/srv/profiles/u/");
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
  EXPECT_EQ(TConfig::AppDataPath(), "/srv/profiles/u/Kelvo/");
  EXPECT_EQ(TConfig::HttpTempDir(), "/srv/profiles/u/Kelvo/Temp/");
}

TEST_F(ConfigPathsTest, SidebarFolderFromTheSetting) {
  NotFirstRun();
  const struct {
    const char* setting;
    const char* sb;
    const char* parent;
  } cases[] = {{"/srv/sidebar", "/srv/sidebar/", "/srv/"},
               {"/srv/code/sidebar/", "/srv/code/sidebar/", "/srv/code/"},
               {"/srv/a/../sidebar", "/srv/a/../sidebar/", "/srv/a/../"}};
  for (const auto& c : cases) {
    TConfig::SetSidebarPath(c.setting);
    TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
    EXPECT_EQ(TConfig::SBPath(), c.sb) << c.setting;
    EXPECT_EQ(TConfig::SBParentPath(), c.parent) << c.setting;
  }
  // The sidebar-init folder never moves with it.
  EXPECT_EQ(TConfig::SBInitPath(), Home() + "/.local/share/Kelvo/sidebarinit/");
}

TEST_F(ConfigPathsTest, ApplicationFolderOfTheExecutable) {
  NotFirstRun();
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
  EXPECT_EQ(TConfig::AppPath(), "/opt/kelvo/");
  // In-process the module is the running image: this test program.
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", true);
  std::string app = TConfig::AppPath();
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(app.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(app + "foundation_tests")) << app;
}

// --- Preferences ---------------------------------------------------------

class ConfigPrefsTest : public ConfigPathsTest {
 protected:
  void SetUp() override {
    ConfigPathsTest::SetUp();
    NotFirstRun();
    TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
  }
};

TEST_F(ConfigPrefsTest, RegistryValueFirstThenThePrefsFile) {
  // Installed beside the executable as "iePrefs", with a byte-order mark and
  // CR LF line ends.
  WriteFileText(TConfig::SBInitPath() + "iePrefs",
                "\xEF\xBB\xBFtos-accepted=false\r\nhomepage=http://127.0.0.1/\r\nempty=\r\n"
                "no separator\r\nwith=equals=inside\r\n");
  const struct {
    const char* name;
    const char* value;
    bool found;
  } cases[] = {{"tos-accepted", "false", true},
               {"homepage", "http://127.0.0.1/", true},
               {"empty", "", false},
               {"with", "equals=inside", true},
               {"no separator", "", false},
               {"unknown", "", false}};
  for (const auto& c : cases) {
    bool found = !c.found;
    EXPECT_EQ(TConfig::GetPrefValue(c.name, found), c.value) << c.name;
    EXPECT_EQ(found, c.found) << c.name;
  }

  // A value of the agent key wins, even an empty one.
  TConfig::SetPrefValue("tos-accepted", "true");
  TConfig::WriteValue("", "empty", "");
  bool found = false;
  EXPECT_EQ(TConfig::GetPrefValue("tos-accepted", found), "true");
  EXPECT_TRUE(found);
  found = false;
  EXPECT_EQ(TConfig::GetPrefValue("empty", found), "");
  EXPECT_TRUE(found);
}

TEST_F(ConfigPrefsTest, FileIsReadOnceAndAMissingOneIsAnEmptyList) {
  bool found = true;
  EXPECT_EQ(TConfig::GetPrefValue("homepage", found), "");
  EXPECT_FALSE(found);

  // Loaded at first need: a file that appears later is not read again.
  WriteFileText(TConfig::SBInitPath() + "ieprefs", "homepage=late\n");
  EXPECT_EQ(TConfig::GetPrefValue("homepage", found), "");
  EXPECT_FALSE(found);
}

TEST_F(ConfigPrefsTest, FileIsKeptOnceLoaded) {
  WriteFileText(TConfig::SBInitPath() + "ieprefs", "homepage=first\n");
  EXPECT_EQ(TConfig::GetPrefValue("homepage"), "first");
  WriteFileText(TConfig::SBInitPath() + "ieprefs", "homepage=second\n");
  EXPECT_EQ(TConfig::GetPrefValue("homepage"), "first");
}

TEST_F(ConfigPrefsTest, SettingAPreferenceWritesTheAgentKeyAndLogsIt) {
  TLog::ResetForTests();
  const std::string log = home_->Sub("prefs.log");
  TLog::Init(5, log, false, false);
  TConfig::SetPrefValue("tos-accepted", "true");
  TLog::ResetForTests();
  EXPECT_EQ(Stored("", "tos-accepted"), "true");
  std::string text = ReadFileText(log);
  EXPECT_NE(text.find("SetPrefValue:aPrefId=tos-accepted,aValue=true"), std::string::npos) << text;
}

// --- Migration between keys ------------------------------------------------

class ConfigMigrateTest : public ConfigPathsTest {
 protected:
  void TearDown() override {
    TConfig::SetSettingsKeyForTesting(std::nullopt);
    ConfigPathsTest::TearDown();
  }
  void Old(const std::string& section, const std::string& name, const std::string& value) {
    std::string path = section.empty() ? "Software\\Kelvo" : "Software\\Kelvo\\" + section;
    Registry().WriteString(TRegRoot::HKCU, path, name, value);
  }
  std::optional<std::string> New(const std::string& section, const std::string& name) {
    std::string path = section.empty() ? "Kelvo" : "Kelvo\\" + section;
    return Registry().ReadString(TRegRoot::HKCU, path, name);
  }
};

TEST_F(ConfigMigrateTest, FirstRunCarriesTheAccountAndItsSettingsToADifferentKey) {
  Old("user-data", "user-id", "nickname:secret");
  Old("", "sbwidth", "320");
  Old("", "sidebarPath", "/srv/sidebar/");
  Old("ini", "log-level", "5");
  Old("sync", "mode", "export");
  Old("sync", "bookmark-count", "12");
  Old("sync", "external-bks-changed", "1");
  Old("", "skin", "pink");  // not one of the carried values
  TConfig::SetSettingsKeyForTesting("Kelvo\\");

  TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);  // RunsSinceInstall missing: first run
  EXPECT_EQ(New("user-data", "user-id"), "nickname:secret");
  EXPECT_EQ(New("", "sbwidth"), "320");
  EXPECT_EQ(New("", "sidebarpath"), "/srv/sidebar/");
  EXPECT_EQ(New("ini", "log-level"), "5");
  EXPECT_EQ(New("sync", "mode"), "export");
  EXPECT_EQ(New("sync", "bookmark-count"), "12");
  EXPECT_EQ(New("sync", "external-bks-changed"), "1");
  EXPECT_EQ(New("sync", "bookmarks"), std::nullopt);
  EXPECT_EQ(New("sync", "safety-backup-done"), std::nullopt);
  EXPECT_EQ(New("", "skin"), std::nullopt);
  EXPECT_EQ(TConfig::SBPath(), "/srv/sidebar/");
  // The old key stays for the older layout.
  EXPECT_TRUE(Registry().KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\user-data"));
}

TEST_F(ConfigMigrateTest, NothingIsCarriedWithoutAnAccountOrAfterTheFirstRun) {
  Old("", "sbwidth", "320");
  Old("sync", "mode", "export");
  TConfig::SetSettingsKeyForTesting("Kelvo\\");
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
  EXPECT_FALSE(Registry().KeyExists(TRegRoot::HKCU, "Kelvo"));

  Old("user-data", "user-id", "nickname");
  TConfig::WriteValue("", "RunsSinceInstall", "1");
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", false);
  EXPECT_EQ(New("user-data", "user-id"), std::nullopt);
  // In-process never migrates either.
  TConfig::WriteValue("", "RunsSinceInstall", "0");
  TConfig::InitPaths(0, "/opt/kelvo/kelvo", true);
  EXPECT_EQ(New("user-data", "user-id"), std::nullopt);
}

TEST_F(ConfigMigrateTest, SameKeyIsLeftAlone) {
  Old("user-data", "user-id", "nickname:secret");
  Old("", "sbwidth", "320");
  TConfig::MigrateSettings();
  EXPECT_EQ(Stored("user-data", "user-id"), "nickname:secret");
  EXPECT_EQ(Stored("", "sbwidth"), "320");
  EXPECT_EQ(Registry().ListSubKeys(TRegRoot::HKCU, "Software\\Kelvo"),
            (std::vector<std::string>{"user-data"}));
}

}  // namespace
}  // namespace kelvo
