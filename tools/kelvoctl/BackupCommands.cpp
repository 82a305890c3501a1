// "kelvoctl backups [DIR]" lists the Favorites backups of an archive folder
// (the agent's own by default) as the agent offers them for restore: newest
// first, one line each with the caption, the link count and the file name,
// separated by tabs.

#include <filesystem>
#include <iostream>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "Command.h"
#include "archive/Archive.h"
#include "foundation/Config.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo::ctl {

namespace {

// The agent's archive folder, from its settings when it has any; the
// settings database is only read, never created here.
std::string AgentArchiveFolder() {
  std::error_code ec;
  const std::string database = DefaultRegistryPath();
  if (std::filesystem::is_regular_file(database, ec)) SetRegistry(OpenRegistryDatabase(database));
  TConfig::InitPaths(0, "", true);
  return TConfig::ArchivePath();
}

int RunBackups(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(0, 1, "[DIR]");
  const bool given = !args.Operands().empty();
  const std::string folder = given ? args.Operands()[0] : AgentArchiveFolder();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    // Listing must not create the folder the archive would make.
    if (given) throw std::runtime_error("not a directory: " + folder);
    out << "no backups in " << folder << '\n';
    return kExitOk;
  }
  SetArchiveMessageSink([](const std::string& text) { std::cerr << "kelvoctl: " << text << '\n'; });
  try {
    TArchive archive(folder);
    for (const auto& item : archive.Items()) {
      out << item->Caption() << '\t' << item->LinkCount() << '\t' << item->FileName() << '\n';
    }
    if (archive.Count() == 0) out << "no backups in " << archive.Folder() << '\n';
  } catch (const TKException& e) {
    throw std::runtime_error(e.FullMessage());
  }
  return kExitOk;
}

const TCommandRegistrar kBackups({"backups", "[DIR]",
                                  "the backups of the archive folder DIR (default: the agent's), newest first: "
                                  "caption, link count, file name",
                                  {}, RunBackups});

}  // namespace

}  // namespace kelvo::ctl
