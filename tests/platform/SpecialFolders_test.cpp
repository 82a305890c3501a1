#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "TestHome.h"
#include "platform/SpecialFolders.h"

namespace kelvo {
namespace {

TEST(SpecialFolders, FollowTheEnvironmentAtEachCall) {
  test::TTestHome home;
  const std::string h = home.Path().string();
  EXPECT_EQ(HomeFolder(), h);
  EXPECT_EQ(DataHomeFolder(), h + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(CSIDL_APPDATA), h + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(CSIDL_LOCAL_APPDATA), h + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(CSIDL_FAVORITES), h + "/Favorites");
  EXPECT_EQ(SpecialFolderPath(CSIDL_COMMON_PROGRAMS), h + "/.local/share/applications");
  EXPECT_EQ(SpecialFolderPath(0x7777), "");
  EXPECT_EQ(ConfigHomeFolder(), h + "/.config");

  ::setenv("XDG_DATA_HOME", (h + "/data/").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (h + "/cfg").c_str(), 1);
  EXPECT_EQ(RoamingAppDataFolder(), h + "/data");
  EXPECT_EQ(CommonProgramsFolder(), h + "/data/applications");
  EXPECT_EQ(ConfigHomeFolder(), h + "/cfg");
  EXPECT_EQ(FavoritesFolder(), h + "/Favorites");  // not an XDG folder

  // Relative or empty values do not count.
  ::setenv("XDG_DATA_HOME", "data", 1);
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(LocalAppDataFolder(), h + "/.local/share");
  EXPECT_EQ(ConfigHomeFolder(), h + "/.config");
}

TEST(SpecialFolders, WithoutHomeThePasswordEntryAnswers) {
  test::TTestHome home;
  ::unsetenv("HOME");
  std::string fallback = HomeFolder();
  EXPECT_FALSE(fallback.empty());
  EXPECT_EQ(fallback[0], '/');
  EXPECT_EQ(FavoritesFolder(), fallback + "/Favorites");
}

TEST(SpecialFolders, ExecutablePathIsThisProgram) {
  std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(std::filesystem::path(exe).filename(), "platform_tests");
  EXPECT_TRUE(std::filesystem::exists(exe));
}

}  // namespace
}  // namespace kelvo
