#include "platform/DebugSink.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace kelvo {

bool DebugOutputEnabled() {
  const char* value = ::getenv("KELVO_DEBUG_OUTPUT");
  return value && ::strcmp(value, "1") == 0;
}

void DebugOutput(const std::string& text) {
  if (!DebugOutputEnabled()) return;
  // One write per line keeps lines of different threads apart.
  std::string line = text;
  if (line.empty() || line.back() != '\n') line += '\n';
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace kelvo
