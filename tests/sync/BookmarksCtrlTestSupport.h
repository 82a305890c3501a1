#pragma once
// Shared set-up of the bookmarks controller tests: a temporary HOME with its
// own settings database, a real Favorites folder, the reference link server
// on a free loopback port (the agent's link-server base points at it) with
// an account the stored identity names, and a stand-in main form that
// counts KM_CONNECT. Waits pump the real message loop up to a deadline.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "LinkServer.h"
#include "TestHome.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/ReadBookmarksThread.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/linux/SqliteRegistry.h"
#include "server/ClientActn.h"
#include "server/PostedText.h"
#include "server/SrvScript.h"
#include "server/Web.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo::test {

inline constexpr const char* kNick = "tester1";
inline constexpr const char* kPassword = "secret1";

inline std::string UrlFileText(const std::string& url) {
  return "[InternetShortcut]\r\nURL=" + url + "\r\n";
}

class BookmarksCtrlTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1", 1);
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    SetLinksFolderNameSource([] { return std::string("Links"); });
    SetLastSyncIdSent("");
    THandlerList::Clear();
    fav_ = home_.Sub("Favorites") + "/";
    std::filesystem::create_directories(fav_);
    metaPath_ = home_.Sub("data/bookmarks-meta.xml");
    server_ = std::make_unique<linkserver::TLinkServer>(home_.Sub("links.db"));
    server_->Start(0);
    TConfig::WriteValue("", "link-server-base", server_->BaseUrl());
    server_->AddAccount(kNick, kPassword);
    TIdentification::SetIdentity(kNick, kPassword);
    mainForm_ = CreateWindowObject("TTestMainForm", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == TBookmarksCtrl::kConnectMessage) ++connects_;
      return DefWindowProc(w, m, wp, lp);
    });
  }

  void TearDown() override {
    ctrl_.reset();
    TWeb::Shutdown();
    TPostedText::Clear();
    DestroyWindowObject(mainForm_);
    server_->Stop();
    SetCurrentFavoritesTree(nullptr);
    SetLinksFolderNameSource(nullptr);
    SetSyncIdTextSource(nullptr);
    SetLastSyncIdSent("");
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  // Pumps the message loop until pred holds; false after the deadline.
  static bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 8000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      PumpMessages(5);
    }
    return true;
  }

  // A controller on the test folder, ready (KM_CONNECT heard).
  void StartCtrl() {
    const int before = connects_;
    ctrl_ = std::make_unique<TBookmarksCtrl>(fav_, metaPath_, mainForm_);
    ctrl_->SetScriptObserver([this](const std::string& text) { scripts_.push_back(text); });
    ASSERT_TRUE(WaitFor([&] { return connects_ > before; })) << "no KM_CONNECT";
  }
  void StopCtrl() {
    ctrl_.reset();
    SetCurrentFavoritesTree(nullptr);
  }

  void Write(const std::string& relative, const std::string& url) {
    WriteFileText(fav_ + relative, UrlFileText(url));
  }

  // Every script handed to the transport has been answered.
  bool Settled() const { return TWeb::Outstanding() == 0; }

  // The element names of a script's actions, in order.
  static std::vector<std::string> ActionNames(const std::string& scriptText) {
    std::vector<std::string> names;
    TXmlDocument doc = MakeFromString(scriptText);
    for (const TXmlNode& action : SelectNodes(doc, "/server-script/*")) names.push_back(action.Name());
    return names;
  }
  // The action names of the scripts sent since index from, "context" left
  // out, in order.
  std::vector<std::string> ActionsSince(std::size_t from) const {
    std::vector<std::string> names;
    for (std::size_t i = from; i < scripts_.size(); ++i) {
      for (const std::string& name : ActionNames(scripts_[i])) {
        if (name != "context") names.push_back(name);
      }
    }
    return names;
  }

  // The bookmarks the server stores, as "path|title|url".
  std::set<std::string> ServerBookmarks() const {
    std::set<std::string> result;
    TXmlDocument doc = MakeFromString(server_->LinksXml(kNick));
    for (const TXmlNode& link : SelectNodes(doc, "//link")) {
      if (GetAttr(link, "url").empty()) continue;
      result.insert(GetAttr(link, "path") + "|" + GetAttr(link, "title") + "|" + GetAttr(link, "url"));
    }
    return result;
  }
  bool ServerHas(const std::string& record) const { return ServerBookmarks().count(record) > 0; }

  std::string LogText() const { return ReadFileText(TLog::GetFileName()); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  TTestHome home_;
  std::string fav_;
  std::string metaPath_;
  std::unique_ptr<linkserver::TLinkServer> server_;
  HWND mainForm_ = 0;
  int connects_ = 0;
  std::unique_ptr<TBookmarksCtrl> ctrl_;
  std::vector<std::string> scripts_;
};

}  // namespace kelvo::test
