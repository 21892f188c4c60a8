#include "tools/vexo-update/tool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/vexo-update/tool_error.h"

namespace vexo::tool {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const noexcept { return fd_; }
  // Closes now and reports whether the close (and so the last write) succeeded.
  bool Close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

[[noreturn]] void ThrowErrno(const std::string& what, int error) {
  throw ToolError(what + ": " + std::strerror(error));
}

void WriteAll(int fd, std::string_view content, const std::string& what) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      ThrowErrno("cannot write " + what, errno);
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
}

void WriteThroughDescriptor(FileDescriptor& file,
                            std::string_view content,
                            mode_t mode,
                            const std::string& what) {
  if (::fchmod(file.get(), mode) != 0) {
    ThrowErrno("cannot set the mode of " + what, errno);
  }
  WriteAll(file.get(), content, what);
  if (::fsync(file.get()) != 0 || !file.Close()) {
    ThrowErrno("cannot write " + what, errno);
  }
}

}  // namespace

std::vector<std::uint8_t> ReadFileLimited(const std::string& path,
                                          std::uint64_t limit,
                                          const std::string& what) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    ThrowErrno("cannot open " + what + " " + path, errno);
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    ThrowErrno("cannot read " + what + " " + path, errno);
  }
  if (!S_ISREG(status.st_mode)) {
    throw ToolError(what + " " + path + " is not a regular file");
  }
  std::vector<std::uint8_t> content;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      ThrowErrno("cannot read " + what + " " + path, errno);
    }
    if (got == 0) {
      break;
    }
    if (content.size() + static_cast<std::size_t>(got) > limit) {
      throw ToolError(what + " " + path + " is larger than " + std::to_string(limit) + " bytes");
    }
    content.insert(content.end(), buffer, buffer + got);
  }
  return content;
}

void WriteNewFile(const std::string& path,
                  std::string_view content,
                  mode_t mode,
                  const std::string& what) {
  FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0600));
  if (file.get() < 0) {
    ThrowErrno("cannot create " + what + " " + path, errno);
  }
  WriteThroughDescriptor(file, content, mode, what + " " + path);
}

void ReplaceFile(const std::string& path, std::string_view content, const std::string& what) {
  const std::string temporary = path + ".new";
  ::unlink(temporary.c_str());
  WriteNewFile(temporary, content, 0644, what);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    ThrowErrno("cannot put " + what + " in place at " + path, error);
  }
}

void MakeFolders(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) {
    throw ToolError("cannot create folder " + path + ": " + error.message());
  }
}

bool PathExists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace vexo::tool
