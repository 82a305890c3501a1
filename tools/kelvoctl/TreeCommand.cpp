// "kelvoctl tree DIR": the Favorites folder DIR as the agent reads it (name
// repairs, keys, duplicate removal), listed node by node with the sync-id
// text, to compare a folder with the server's or an XBEL file's view.

#include <filesystem>
#include <ostream>
#include <system_error>

#include "Command.h"
#include "TreeListing.h"
#include "bookmarks/ReadBookmarksThread.h"

namespace kelvo::ctl {

namespace {

int RunTree(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "DIR");
  const std::string& directory = args.Operands()[0];
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) {
    throw std::runtime_error("not a directory: " + directory);
  }
  TFileTreePtr tree = TReadBookmarksThread::ReadTree(directory);
  PrintTreeListing(*tree, out);
  return kExitOk;
}

const TCommandRegistrar kTree({"tree", "DIR",
                               "the Favorites folder DIR as the agent reads it: names, URLs, path keys, sync-id text",
                               {}, RunTree});

}  // namespace

}  // namespace kelvo::ctl
