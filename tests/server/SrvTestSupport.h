#pragma once
// Shared fixture of the server script and action tests: its own HOME with
// a fresh settings database, initialised data folders, the log at the
// debug level, the Links folder named "Links", and no sync-id state left
// over from another test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestHome.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"
#include "server/SrvScript.h"

namespace kelvo::test {

class SrvScriptTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");  // no first-run migration
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    SetLinksFolderNameSource([] { return std::string("Links"); });
    SetSyncIdTextSource(nullptr);
    SetLastSyncIdSent("");
  }
  void TearDown() override {
    SetSyncIdTextSource(nullptr);
    SetLastSyncIdSent("");
    SetLinksFolderNameSource(nullptr);
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  std::string LogText() const { return ReadFileText(TLog::GetFileName()); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  // The text of the script without the declaration and its line breaks.
  static std::string Body(TSrvScript& script) {
    const std::string text = script.Text();
    const std::string declaration = kXmlDeclaration;
    EXPECT_EQ(text.rfind(declaration, 0), 0u) << text;
    std::string body = text.substr(declaration.size());
    // The serialiser puts a line break after the declaration and at the end.
    while (!body.empty() && (body.front() == '\n' || body.front() == '\r')) body.erase(0, 1);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    return body;
  }
  // The script of one action, without the declaration and the root.
  static std::string ActionText(const ISrvActionPtr& action) {
    TSrvScript script;
    script.AddAction(action);
    std::string body = Body(script);
    const std::string open = R"(<server-script version="1.0">)";
    const std::string close = "</server-script>";
    if (body == R"(<server-script version="1.0"/>)") return "";
    EXPECT_EQ(body.rfind(open, 0), 0u) << body;
    EXPECT_GE(body.size(), open.size() + close.size()) << body;
    return body.substr(open.size(), body.size() - open.size() - close.size());
  }

  TTestHome home_;
};

}  // namespace kelvo::test
