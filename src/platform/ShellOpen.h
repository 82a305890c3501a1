#pragma once
// "Open" of a document the way the desktop would: the user's handler for
// the file or URL, started in the background and never waited for.

#include <string>
#include <vector>

namespace kelvo {

// An executable regular file is started with the parameters (split at
// blanks; double quotes group words); anything else goes to the opener,
// "xdg-open" or the program named by KELVO_OPEN_COMMAND, and the parameters
// are dropped. False when nothing could be started; the opener's own
// failure is not seen.
bool ShellOpenDocument(const std::string& file, const std::string& parameters);
// The parameter rule alone.
std::vector<std::string> SplitShellParameters(const std::string& parameters);

}  // namespace kelvo
