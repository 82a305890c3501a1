#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

TReadOnlyFileMapping::TReadOnlyFileMapping(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::error_code(errno, std::generic_category());
    return;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error_ = std::error_code(errno, std::generic_category());
  } else if (!S_ISREG(info.st_mode)) {
    error_ = std::make_error_code(std::errc::invalid_argument);
  } else if (info.st_size > 0) {
    void* mapped = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                          MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED) {
      error_ = std::error_code(errno, std::generic_category());
    } else {
      data_ = static_cast<const unsigned char*>(mapped);
      size_ = static_cast<std::size_t>(info.st_size);
    }
  }
  // The mapping stays valid after the descriptor is closed.
  ::close(fd);
}

TReadOnlyFileMapping::~TReadOnlyFileMapping() {
  if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::error_code& ec) {
  ec.clear();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  int err = errno;
  if (err != EINVAL && err != ENOSYS) {
    ec = std::error_code(err, std::generic_category());
    return false;
  }
  // File systems without RENAME_NOREPLACE: check first, accepting the small
  // window between the check and the rename.
  struct stat info {};
  if (::lstat(to.c_str(), &info) == 0) {
    ec = std::make_error_code(std::errc::file_exists);
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) != 0) {
    ec = std::error_code(errno, std::generic_category());
    return false;
  }
  return true;
}

bool WriteNewFileDurably(const std::string& path, std::string_view data, unsigned mode,
                         std::error_code& ec) {
  ec.clear();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  static_cast<mode_t>(mode));
  if (fd < 0) {
    ec = std::error_code(errno, std::generic_category());
    return false;
  }
  std::size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = std::error_code(errno, std::generic_category());
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (!ec && ::fsync(fd) != 0) ec = std::error_code(errno, std::generic_category());
  if (::close(fd) != 0 && !ec) ec = std::error_code(errno, std::generic_category());
  if (ec) ::unlink(path.c_str());
  return !ec;
}

}  // namespace kelvo
