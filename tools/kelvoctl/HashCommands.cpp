// Commands that show the identity keys the agent computes for names and
// URLs, to check by hand why two bookmarks do or do not match.

#include <ostream>

#include "Command.h"
#include "bookmarks/Hashing.h"

namespace kelvo::ctl {

namespace {

const TOptionSpec kFolderOption{"--folder", false, "the name is a folder's (bookmark otherwise)"};

TNameMode ModeOf(const TArgs& args) { return args.Flag("--folder") ? nmFolder : nmBookmark; }

int RunNormalize(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "NAME");
  out << NormalizeName(args.Operands()[0], ModeOf(args)) << '\n';
  return kExitOk;
}

int RunFileSafe(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "NAME");
  out << FileSafeName(args.Operands()[0], ModeOf(args)) << '\n';
  return kExitOk;
}

int RunCanonicalURL(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "URL");
  out << CanonicalizeURL(args.Operands()[0]) << '\n';
  return kExitOk;
}

int RunChecksum(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, 1, "TEXT");
  out << StringChecksum(args.Operands()[0]) << '\n';
  return kExitOk;
}

int RunPathKey(const TArgs& args, std::ostream& out) {
  args.ExpectOperands(1, kUnlimited, "NAME...");
  out << PathHash(args.Operands(), args.Flag("--folder")) << '\n';
  return kExitOk;
}

const TCommandRegistrar kNormalize({"normalize", "NAME", "comparison form of a bookmark or folder name",
                                    {kFolderOption}, RunNormalize});
const TCommandRegistrar kFileSafe({"filesafe", "NAME", "form of a name used as a file or directory name",
                                   {kFolderOption}, RunFileSafe});
const TCommandRegistrar kCanonicalURL({"canonical-url", "URL",
                                       "canonical form of a URL (empty unless http or https)", {}, RunCanonicalURL});
const TCommandRegistrar kChecksum({"checksum", "TEXT", "32-bit string checksum of TEXT, in decimal", {},
                                   RunChecksum});
const TCommandRegistrar kPathKey({"path-key", "NAME...",
                                  "path key of the node with these names, from the top-level folder down",
                                  {{"--folder", false, "the node is a folder (a bookmark otherwise)"}}, RunPathKey});

}  // namespace

}  // namespace kelvo::ctl
