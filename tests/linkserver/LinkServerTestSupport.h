#pragma once
// A link server of the test's own (temporary HOME, database inside it) on a
// free loopback port, and helpers that post scripts to it over HTTP and
// read its answers the way the agent does (XPath anywhere in the answer).

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

#include "LinkServer.h"
#include "TestHome.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"

namespace kelvo::test {

class LinkServerTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    TLog::ResetForTests();
    SetLinksFolderNameSource([] { return std::string("Links"); });
    server_ = std::make_unique<linkserver::TLinkServer>(DbPath());
    server_->Start();
  }
  void TearDown() override {
    server_.reset();
    SetLinksFolderNameSource(nullptr);
    TLog::ResetForTests();
  }

  std::string DbPath() const { return home_.Sub("data/links.db"); }

  // A client of the server; big scripts under the sanitizers on a busy
  // machine take longer than the library's default wait.
  std::unique_ptr<httplib::Client> Client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
    client->set_read_timeout(120, 0);
    client->set_write_timeout(120, 0);
    return client;
  }

  // Posts the script as the agent's transport does (form parameter
  // "script") and answers the raw HTTP result.
  httplib::Result PostRaw(const std::string& script) {
    return Client()->Post("/linkserver", httplib::Params{{"script", script}});
  }

  // The answer document of a script; fails the test on a transport error.
  TXmlDocument Post(const std::string& script) {
    httplib::Result result = PostRaw(script);
    EXPECT_TRUE(result) << "no HTTP answer";
    if (!result) return TXmlDocument();
    EXPECT_EQ(result->status, 200);
    lastAnswer_ = result->body;
    return MakeFromString(result->body);
  }

  httplib::Result Get(const std::string& path) { return Client()->Get(path.c_str()); }

  // A script of the account's context followed by the actions' markup.
  static std::string Script(const std::string& userId, const std::string& actions,
                            const std::string& contextExtra = std::string()) {
    std::string context = "<context>";
    if (!userId.empty()) context += "<user-id>" + userId + "</user-id>";
    context += "<client>exe</client>" + contextExtra + "</context>";
    return std::string(kXmlDeclaration) + "<server-script version=\"1.0\">" + context + actions +
           "</server-script>";
  }

  // Registers nickname:password through a first connect.
  void Register(const std::string& nickname, const std::string& password) {
    Post(Script(nickname + ":" + password, "<connect/>"));
    ASSERT_TRUE(server_->HasAccount(nickname));
  }

  // The "code" of every element of that name, joined by ",".
  static std::string Codes(const TXmlDocument& answer, const std::string& element) {
    std::string out;
    for (const TXmlNode& node : SelectNodes(answer, "//" + element)) {
      out += (out.empty() ? "" : ",") + GetAttr(node, "code");
    }
    return out;
  }

  // The account's stored links, one line each: path|title|url|id|private.
  std::string Links(const std::string& nickname) const {
    std::string out;
    const TXmlDocument doc = MakeFromString(server_->LinksXml(nickname));
    for (const TXmlNode& link : SelectNodes(doc, "//link")) {
      out += GetAttr(link, "path") + "|" + GetAttr(link, "title") + "|" + GetAttr(link, "url") +
             "|" + GetAttr(link, "id") + "|" + GetAttr(link, "private") + "\n";
    }
    return out;
  }

  // The same without ids, for content checks.
  std::string Places(const std::string& nickname) const {
    std::string out;
    const TXmlDocument doc = MakeFromString(server_->LinksXml(nickname));
    for (const TXmlNode& link : SelectNodes(doc, "//link")) {
      out += GetAttr(link, "path") + "|" + GetAttr(link, "title") + "|" + GetAttr(link, "url") +
             (GetAttr(link, "private").empty() ? "" : "|private") + "\n";
    }
    return out;
  }

  TTestHome home_;
  std::unique_ptr<linkserver::TLinkServer> server_;
  std::string lastAnswer_;
};

}  // namespace kelvo::test
