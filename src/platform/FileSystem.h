#pragma once
// The few file-system calls that std::filesystem does not offer: a read-only
// memory mapping of a whole file, a rename that never replaces an existing
// target and a write that reaches the disk before it answers. Any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace kelvo {

// Maps a whole regular file read-only for the object's lifetime. A file that
// cannot be opened or mapped, a folder and an empty file all give an empty
// mapping (Data() null, Size() 0); Error() then tells why (no error for an
// empty file).
class TReadOnlyFileMapping {
 public:
  explicit TReadOnlyFileMapping(const std::string& path);
  ~TReadOnlyFileMapping();
  TReadOnlyFileMapping(const TReadOnlyFileMapping&) = delete;
  TReadOnlyFileMapping& operator=(const TReadOnlyFileMapping&) = delete;

  const unsigned char* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  const std::error_code& Error() const { return error_; }

 private:
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::error_code error_;
};

// Renames or moves within one file system; fails (errc::file_exists) when
// the target exists instead of replacing it.
bool RenameNoReplace(const std::string& from, const std::string& to, std::error_code& ec);

// Creates a new file (failing when it exists) with the permission bits of
// `mode` (before the umask), writes all of `data` and flushes it to the
// disk. A failed write removes the file again.
bool WriteNewFileDurably(const std::string& path, std::string_view data, unsigned mode,
                         std::error_code& ec);

}  // namespace kelvo
