// The agent's sidebar-code check in-process (the show-documents flag and
// the live refresh's second run of the check) and its command-line options.

#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "TestHome.h"
#include "agent/SidebarChain.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"
#include "sidebar/HiddenDocs.h"
#include "sidebar/LiveRefresh.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::WriteFileText;

TEST(AgentOptions, StayAndFavoritesFromTheCommandLine) {
  struct {
    std::vector<std::string> args;
    bool stay;
    std::optional<std::string> favorites;
    bool error;
  } cases[] = {
      {{"kelvo"}, false, std::nullopt, false},
      {{"kelvo", "--stay"}, true, std::nullopt, false},
      {{"kelvo", "--favorites", "/f"}, false, "/f", false},
      {{"kelvo", "--stay", "--favorites=/g h"}, true, "/g h", false},
      {{"kelvo", "/UNINSTALL1"}, false, std::nullopt, false},
      {{"kelvo", "--favorites"}, false, std::nullopt, true},
      {{"kelvo", "--favorites", ""}, false, std::nullopt, true},
      {{"kelvo", "--favorites="}, false, std::nullopt, true},
  };
  for (const auto& c : cases) {
    TAgentOptions o = ParseAgentOptions(c.args);
    std::string shown = c.args.size() > 1 ? c.args[1] : "(none)";
    EXPECT_EQ(o.stay, c.stay) << shown;
    EXPECT_EQ(o.favorites, c.favorites) << shown;
    EXPECT_EQ(!o.error.empty(), c.error) << shown;
  }
}

class SidebarCodeCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    TConfig::InitPaths(0, home_.Sub("app") + "/kelvo", false);
    fs::create_directories(TConfig::SBPath());
    fs::copy(KELVO_SOURCE_DIR "/sidebar-package", TConfig::SBPath(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    FreeSidebarChain();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }
  test::TTestHome home_;
};

TEST_F(SidebarCodeCheckTest, ShowDocumentsStartsTheEventAndMemoDocumentsOnceServicesAreThere) {
  // Current code, no package: the check adds sidebar-code-ok at once.
  SidebarCodeCheck(false);
  EXPECT_TRUE(TConfig::HasState(asSidebarCodeOK));
  TConfig::AddState(asSbManagers1OK);
  SidebarCodeCheck(false);
  EXPECT_FALSE(THiddenDocuments::Instance().Started(THiddenDocuments::kEventMgrDoc));
  SidebarCodeCheck(true);
  EXPECT_TRUE(ShowDocuments());
  EXPECT_TRUE(THiddenDocuments::Instance().Started(THiddenDocuments::kEventMgrDoc));
  EXPECT_TRUE(THiddenDocuments::Instance().Started(THiddenDocuments::kMemoMgrDoc));
}

TEST_F(SidebarCodeCheckTest, RefreshRunsTheCheckAgainWithShowDocuments) {
  // A package newer than the code: the refresh runs, then the check again.
  std::string app = home_.Sub("app") + "/sidebar/";
  fs::create_directories(app);
  int err = 0;
  zip_t* z = zip_open((app + "Sidebar.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  const std::string page = "<html></html>";
  const std::string version = "77";
  zip_file_add(z, "sidebar/sidebar.html", zip_source_buffer(z, page.data(), page.size(), 0), 0);
  zip_file_add(z, "sidebar/version.txt", zip_source_buffer(z, version.data(), version.size(), 0),
               0);
  ASSERT_EQ(zip_close(z), 0);
  WriteFileText(app + "version.txt", version);

  SidebarCodeCheck(false);
  EXPECT_FALSE(ShowDocuments());
  EXPECT_TRUE(TLiveRefresh::Instance().Refreshing());
  EXPECT_FALSE(TConfig::HasState(asSidebarCodeOK));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (TLiveRefresh::Instance().Refreshing() && std::chrono::steady_clock::now() < deadline) {
    PumpMessages(20);
  }
  EXPECT_TRUE(TConfig::HasState(asSidebarCodeOK));
  EXPECT_TRUE(ShowDocuments());
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), 77);
}

}  // namespace
}  // namespace kelvo
