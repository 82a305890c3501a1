#pragma once
// Helper for atomically writing a file so that it is never left half-written
// by a crash during the write: the bytes go to a temporary file beside the
// target, are flushed to the disk, and the temporary file is renamed over
// the target. Every file the agent owns (metadata, XBEL, .url files) is
// written through it. Any thread.

#include <string>
#include <string_view>

#include "foundation/FileTools.h"

namespace kelvo {

// Replaces the file's content as a whole; missing parent folders are
// created first. An existing file keeps its permission bits. Raises
// TKFileException ("Error creating directory " + parent, or "Error writing
// file " + path, chained to the system's reason): the caller decides
// whether that is fatal. The old content stays in place on failure.
void WriteFileAtomic(const std::string& path, std::string_view bytes);

}  // namespace kelvo
