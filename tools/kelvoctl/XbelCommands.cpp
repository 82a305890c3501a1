// "kelvoctl export-xbel DIR FILE" writes a Favorites folder as an XBEL file,
// as the archive does; "kelvoctl show-xbel FILE" lists an XBEL file as the
// agent reads it for restoring, in the same form as "kelvoctl tree", so the
// two can be compared.

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "Command.h"
#include "TreeListing.h"
#include "bookmarks/ReadBookmarksThread.h"
#include "bookmarks/XBEL.h"

namespace kelvo::ctl {

namespace {

// The reason of a failure is in the chained message (the parser's text).
template <typename TBody>
int WithFullMessage(TBody body) {
  try {
    return body();
  } catch (const TKException& e) {
    throw std::runtime_error(e.FullMessage());
  }
}

int RunExportXbel(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(2, 2, "DIR FILE");
  const std::string& directory = args.Operands()[0];
  const std::string& file = args.Operands()[1];
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec)) {
    throw std::runtime_error("not a directory: " + directory);
  }
  TFileTreePtr tree;
  WithFullMessage([&] {
    tree = TReadBookmarksThread::ReadTree(directory);
    SaveTreeAsXBEL(tree, file);
    return kExitOk;
  });
  out << "exported " << tree->BookmarkCount() << " bookmarks in " << tree->FolderCount()
      << " folders to " << file << '\n';
  return kExitOk;
}

int RunShowXbel(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "FILE");
  const std::string& file = args.Operands()[0];
  std::error_code ec;
  // The reader takes a missing file for an empty archive; here it is a mistake.
  if (!std::filesystem::is_regular_file(file, ec)) {
    throw std::runtime_error("not a file: " + file);
  }
  return WithFullMessage([&] {
    auto tree = std::make_shared<TXBELTree>(file, std::filesystem::path(file).stem().string());
    PrintTreeListing(*tree, out);
    return kExitOk;
  });
}

const TCommandRegistrar kExportXbel({"export-xbel", "DIR FILE",
                                     "write the Favorites folder DIR as the XBEL file FILE, as the archive does",
                                     {}, RunExportXbel});
const TCommandRegistrar kShowXbel({"show-xbel", "FILE",
                                   "the XBEL file FILE as the agent reads it: names, URLs, path keys, sync-id text",
                                   {}, RunShowXbel});

}  // namespace

}  // namespace kelvo::ctl
