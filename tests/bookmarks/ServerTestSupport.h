#pragma once
// Shared pieces of the server tree and link record tests: a fixture with its
// own HOME, a log at the debug level and a fixed Links folder name, plus
// helpers that turn link markup into element lists and trees into text.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestHome.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"

namespace kelvo::test {

class ServerLinksTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    SetLinksFolderNameSource([] { return std::string("Links"); });
  }
  void TearDown() override {
    SetLinksFolderNameSource(nullptr);
    TLog::ResetForTests();
  }

  std::string LogText() const { return ReadFileText(TLog::GetFileName()); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  TTestHome home_;
};

// The child elements of <links>markup</links>; the document stays alive
// through the nodes.
inline TXmlNodeList LinkList(const std::string& markup) {
  const TXmlDocument doc = MakeFromString("<links>" + markup + "</links>");
  return TXmlNodeList(doc.DocumentElement().ChildElements());
}

// One line per node, indented by two spaces a level: "F name" with
// " ref=", " rank=", " private" when set, or "B name url" with " ref=".
inline void DumpInto(const IFolder& folder, int depth, std::string& out) {
  for (int i = 0; i < folder.Count(); ++i) {
    const IBNodePtr child = folder.Get(i);
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ');
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      out += "F " + sub->GetName();
      if (auto server = std::dynamic_pointer_cast<IServerFolder>(child)) {
        if (!server->GetRef().empty()) out += " ref=" + server->GetRef();
        if (server->GetRank() != -1) out += " rank=" + std::to_string(server->GetRank());
        if (server->GetPrivate()) out += " private";
      }
      out += "\n";
      DumpInto(*sub, depth + 1, out);
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(child)) {
      out += "B " + bookmark->GetName() + " " + bookmark->GetURL();
      if (!bookmark->GetRef().empty()) out += " ref=" + bookmark->GetRef();
      out += "\n";
    }
  }
}

inline std::string Dump(const IFolder& folder) {
  std::string out;
  DumpInto(folder, 0, out);
  return out;
}

}  // namespace kelvo::test
