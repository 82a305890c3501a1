#include <gtest/gtest.h>

#include <memory>

#include "TestHome.h"
#include "foundation/PlatformInfo.h"
#include "kelvo/Version.h"
#include "platform/SystemInfo.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

using V = std::vector<std::string>;

TEST(RunSwitch, FirstListedSwitchGivenWithDashOrSlash) {
  struct TCase {
    V commandLine;
    const char* expected;
  };
  const TCase cases[] = {
      {{"kelvo", "/uninstall1"}, "UNINSTALL1"},
      {{"kelvo", "-Install"}, "INSTALL"},
      {{"kelvo"}, ""},
      {{"kelvo", "UNINSTALL1"}, ""},       // no switch character
      {{"kelvo", "--install"}, ""},        // not the switch's name
      {{"kelvo", "/installer"}, ""},
      {{"kelvo", "/"}, ""},
      {{"/install"}, ""},                  // the program's own name is not an argument
      {{"kelvo", "/install", "-AUTOMATION"}, "AUTOMATION"},  // list order, not argument order
      {{"kelvo", "file.url", "/RegServer"}, "REGSERVER"},
      {{"kelvo", "-unregserver", "-embedding"}, "EMBEDDING"},
  };
  for (const TCase& c : cases) {
    std::string joined;
    for (const auto& a : c.commandLine) joined += a + " ";
    EXPECT_EQ(RunSwitchOf(c.commandLine), c.expected) << joined;
  }
}

TEST(RunSwitch, ReadsTheKeptCommandLine) {
  const V saved = GetCommandLine();
  const char* argv[] = {"kelvo", "/uninstall1"};
  SetCommandLine(2, argv);
  EXPECT_EQ(GetRunSwitch(), "UNINSTALL1");
  SetCommandLine(V{"kelvo"});
  EXPECT_EQ(GetRunSwitch(), "");
  SetCommandLine(saved);
}

TEST(Taskbar, EdgeFromTheRectangle) {
  struct TCase {
    TTaskbarPlace place;
    int edge;
    const char* what;
  };
  const TCase cases[] = {
      {{0, 1040, 1920, 1080, 1920, 1080}, 1, "bottom"},
      {{0, 1078, 1920, 1122, 1920, 1080}, 1, "bottom, auto-hidden"},
      {{0, 0, 1920, 40, 1920, 1080}, 0, "top"},
      {{0, 0, 60, 1080, 1920, 1080}, 2, "left"},
      {{1860, 0, 1920, 1080, 1920, 1080}, 3, "right"},
      {{0, 0, 60, 1080, 3840, 1080}, 2, "left on a screen twice as wide as high"},
      {{0, 0, 60, 1024, 768, 1024}, 2, "left on a portrait screen"},
      {{0, 0, 768, 30, 768, 1024}, 0, "top on a portrait screen"},
      {{700, 500, 900, 560, 1920, 1080}, 0, "floating in the middle"},
  };
  for (const TCase& c : cases) EXPECT_EQ(TaskbarEdgeOf(c.place), c.edge) << c.what;
}

TEST(Taskbar, LookupDrivesHeightAndEdge) {
  SetTaskbarLookup(nullptr);
  EXPECT_EQ(GetTaskbarHeight(), 0);
  EXPECT_EQ(GetTaskbarEdge(), 0);

  SetTaskbarLookup([] { return std::optional<TTaskbarPlace>(); });
  EXPECT_EQ(GetTaskbarHeight(), 0);
  EXPECT_EQ(GetTaskbarEdge(), 0);

  SetTaskbarLookup([] { return std::optional<TTaskbarPlace>({0, 1040, 1920, 1080, 1920, 1080}); });
  EXPECT_EQ(GetTaskbarHeight(), 40);
  EXPECT_EQ(GetTaskbarEdge(), 1);
  SetTaskbarLookup(nullptr);
}

class IEVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(reg_);
    ResetPlatformInfoCache();
  }
  void TearDown() override {
    ResetPlatformInfoCache();
    SetRegistry(nullptr);
  }
  bool WriteVersion(const std::string& v) {
    return reg_->WriteString(TRegRoot::HKLM, "SOFTWARE\\Microsoft\\Internet Explorer", "Version",
                             v);
  }
  std::shared_ptr<TMemoryRegistry> reg_ = std::make_shared<TMemoryRegistry>();
};

TEST_F(IEVersionTest, FirstCharacterOfTheVersionValue) {
  EXPECT_EQ(IEMajorVersionOf("7.0.5730.11"), "7");
  EXPECT_EQ(IEMajorVersionOf("10.0"), "1");  // two digits: only the first counts
  EXPECT_EQ(IEMajorVersionOf(""), "");

  EXPECT_EQ(GetIEMajorVersion(), "");  // missing
  ASSERT_TRUE(WriteVersion("8.0.6001.18702"));
  EXPECT_EQ(GetIEMajorVersion(), "8");  // a missing value was not cached
  ASSERT_TRUE(WriteVersion("9.0"));
  EXPECT_EQ(GetIEMajorVersion(), "8");  // a found one is
  ResetPlatformInfoCache();
  EXPECT_EQ(GetIEMajorVersion(), "9");
}

TEST(IEVersion, UnknownWithoutASettingsStore) {
  SetRegistry(nullptr);
  ResetPlatformInfoCache();
  EXPECT_EQ(GetIEMajorVersion(), "");
}

TEST_F(IEVersionTest, NonStringValueCountsAsMissing) {
  ASSERT_TRUE(reg_->WriteValue(TRegRoot::HKLM, "SOFTWARE\\Microsoft\\Internet Explorer\\",
                               "Version", 3, "7.0"));
  EXPECT_EQ(GetIEMajorVersion(), "");
  // HKCU is not where it is looked for.
  ASSERT_TRUE(reg_->WriteString(TRegRoot::HKCU, "SOFTWARE\\Microsoft\\Internet Explorer",
                                "Version", "7.0"));
  EXPECT_EQ(GetIEMajorVersion(), "");
}

TEST(FileVersion, IsTheBuildVersionInFourNumbers) {
  const std::string version = GetFileVersion("/proc/self/exe");
  EXPECT_EQ(version, KELVO_VERSION_TEXT);
  EXPECT_EQ(version, std::to_string(KELVO_VERSION_MAJOR) + "." +
                         std::to_string(KELVO_VERSION_MINOR) + "." +
                         std::to_string(KELVO_VERSION_PATCH) + "." +
                         std::to_string(KELVO_VERSION_TWEAK));
  EXPECT_EQ(GetFileVersion(), version);
  TFileVersionInfo info = GetFileVersionInfo("anything");
  EXPECT_EQ(info.text, version);
  EXPECT_FALSE(info.preRelease);
  EXPECT_FALSE(info.specialBuild);
}

TEST(WindowsVersion, NamesTheKernelAndFeedsTheSink) {
  V lines;
  std::string text = GetWindowsVersionText([&](const std::string& l) { lines.push_back(l); });
  auto kernel = GetKernelVersion();
  ASSERT_TRUE(kernel.has_value());
  EXPECT_EQ(text, "Linux " + kernel->release);
  EXPECT_EQ(lines, (V{"dwMajorVersion:" + std::to_string(kernel->major),
                      "dwMinorVersion:" + std::to_string(kernel->minor),
                      "dwBuildNumber:" + std::to_string(kernel->patch)}));
  EXPECT_EQ(GetWindowsVersionText(), text);  // without a sink
}

TEST(PlatformFacts, NeutralAnswersOnLinux) {
  EXPECT_FALSE(IsVistaOrLater());
  V lines;
  EXPECT_FALSE(IsProtectedModeProcess([&](const std::string& l) { lines.push_back(l); }));
  EXPECT_EQ(GetIntegrityLevel(), "");
  EXPECT_EQ(GetWriteableHKCU(), TRegRoot::HKCU);
  EXPECT_FALSE(IsCtrlDown());
  EXPECT_GT(GetWorkingSetSize(), 0u);
}

TEST(PlatformFacts, FoldersOfTheTestHome) {
  test::TTestHome home;
  EXPECT_EQ(GetProgramsFolder(), home.Sub(".local/share/applications"));
  EXPECT_EQ(GetSpecialFolder(0, CSIDL_FAVORITES), home.Sub("Favorites"));
  EXPECT_EQ(GetSpecialFolder(0, CSIDL_APPDATA), home.Sub(".local/share"));
  EXPECT_EQ(GetSpecialFolder(0, -1), "");
}

}  // namespace
}  // namespace kelvo
