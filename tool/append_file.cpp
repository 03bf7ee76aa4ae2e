#include "tool/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quellmar::tool {

namespace {

constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC;
constexpr mode_t kMode = 0666;  // narrowed by the umask

WriteCall write_call = ::write;

// Writes all n bytes at p, retrying short writes. False with errno set.
bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t written = write_call(fd, p, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    p += written;
    n -= static_cast<std::size_t>(written);
  }
  return true;
}

// Creates name holding line, in one step as seen by other processes: the
// file is made under a private name and linked into place. Returns a
// descriptor for appending, or -1 with errno set (EEXIST: the file is
// there already). Where the file system has no links, the file is created
// in place and the line written at once.
int create_with_line(const std::string& name, std::string_view line) {
  const std::string private_name =
      name + ".part" + std::to_string(static_cast<long>(getpid()));
  int fd = ::open(private_name.c_str(), kAppend | O_CREAT | O_EXCL, kMode);
  if (fd < 0) return -1;
  int error = 0;
  if (!write_all(fd, line.data(), line.size())) {
    error = errno;
  } else if (::link(private_name.c_str(), name.c_str()) != 0) {
    error = errno;
  }
  ::unlink(private_name.c_str());
  if (error == 0) return fd;
  ::close(fd);
  if (error == EEXIST || (error != EPERM && error != ENOTSUP)) {
    errno = error;
    return -1;
  }
  fd = ::open(name.c_str(), kAppend | O_CREAT | O_EXCL, kMode);
  if (fd >= 0 && !write_all(fd, line.data(), line.size())) {
    error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

void set_write_call(WriteCall call) { write_call = call ? call : ::write; }

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& name, std::string_view header_line,
                      bool* is_new) {
  *is_new = false;
  bool readable = false;
  const int probe = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (probe >= 0) {
    readable = true;
    ::close(probe);
  }
  int fd = -1;
  if (readable) {
    fd = ::open(name.c_str(), kAppend);
  } else {
    fd = create_with_line(name, header_line);
    *is_new = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
      // Made by another process meanwhile (with its line), or there all
      // along but unreadable: then its start cannot be seen and it counts
      // as new.
      const int again = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      if (again >= 0) ::close(again);
      fd = ::open(name.c_str(), kAppend);
      if (fd >= 0 && again < 0) {
        if (!write_all(fd, header_line.data(), header_line.size())) {
          const int error = errno;
          ::close(fd);
          errno = error;
          return false;
        }
        *is_new = true;
      }
    }
  }
  if (fd < 0) return false;
  fd_ = fd;
  name_ = name;
  text_.clear();
  return true;
}

bool AppendFile::hand_over() {
  const std::size_t size = text_.size();
  text_.clear();  // the bytes stay in place until the next append
  return write_all(fd_, text_.data(), size);
}

void AppendFile::close() {
  text_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_.clear();
}

}  // namespace quellmar::tool
