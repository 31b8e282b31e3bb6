#include "platform/linux/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace k2t::linux_platform {

namespace {

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Overwrites an existing file; 0 or the errno of the failure. The space is
// reserved before the first byte changes, so a full disk leaves the old
// content whole.
int WriteInPlace(const std::string& target, const void* data, std::size_t size) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = size > 0 ? ::posix_fallocate(fd, 0, static_cast<off_t>(size)) : 0;
  if (error == EOPNOTSUPP || error == EINVAL) error = 0;
  if (!error && (!WriteAll(fd, data, size) || ::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::fsync(fd) != 0))
    error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  return error;
}

// The whole content, for writing in place (its size is reserved first).
int WriteInPlace(const std::string& target, const ContentSource& produce) {
  std::string content;
  const bool made = produce([&content](const char* data, std::size_t size) {
    content.append(data, size);
    return true;
  });
  return made ? WriteInPlace(target, content.data(), content.size()) : EIO;
}

// Pieces into a file through a buffer of its own.
class FileSink {
 public:
  explicit FileSink(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }
  bool Put(const char* data, std::size_t size) {
    if (buffer_.size() + size > kCapacity && !Flush()) return false;
    if (size >= kCapacity) return ok_ = ok_ && WriteAll(fd_, data, size);
    buffer_.append(data, size);
    return ok_;
  }
  bool Flush() {
    ok_ = ok_ && WriteAll(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kCapacity = 1 << 16;
  int fd_;
  std::string buffer_;
  bool ok_ = true;
};

enum class Temporary { kCreated, kRefused, kFailed };

// A new file beside the target with a short name: the target's own name may
// already be as long as a name can be.
Temporary CreateTemporary(const std::string& folder, std::string& temp, int& fd,
                          const AtomicWriteFaults* faults) {
  static unsigned counter = 0;
  if (faults && faults->refuse_temporary) {
    errno = faults->refuse_temporary;
    return Temporary::kRefused;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "/.k2t-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    // Created with the usual mode under the process umask, as a new file
    // written in place would be; an existing file's mode is copied later.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return Temporary::kCreated;
    if (errno != EEXIST) {
      const bool refused = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
      return refused ? Temporary::kRefused : Temporary::kFailed;
    }
  }
  return Temporary::kFailed;
}

// The save; 0 or the errno of the failure.
int Replace(const std::string& path, const ContentSource& produce, const AtomicWriteFaults* faults) {
  if (path.empty()) return ENOENT;
  std::string target = path;
  struct stat st{};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return errno;
  if (exists) {
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    // Replace the file a link points to, not the link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    if (st.st_nlink > 1) return WriteInPlace(target, produce);
  }
  std::string temp;
  int fd = -1;
  switch (CreateTemporary(FolderOf(target), temp, fd, faults)) {
    case Temporary::kCreated: break;
    case Temporary::kRefused: return exists ? WriteInPlace(target, produce) : errno;
    case Temporary::kFailed: return errno ? errno : EEXIST;
  }
  bool ok = true;
  int error = 0;
  const auto fail = [&ok, &error] {
    if (ok) error = errno;
    ok = false;
  };
  if (exists) {
    struct stat made{};
    if (::fstat(fd, &made) != 0) fail();
    if (ok && (made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
        ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not ours to give away: the file keeps its owner by being written in place.
      ::close(fd);
      ::unlink(temp.c_str());
      return WriteInPlace(target, produce);
    }
    // After the owner: changing it clears the set-id bits.
    if (ok && ::fchmod(fd, st.st_mode & 07777) != 0) fail();
  }
  if (ok) {
    FileSink file(fd);
    errno = EIO;  // a source that fails says nothing of its own
    if (!produce([&file](const char* data, std::size_t size) { return file.Put(data, size); }) || !file.Flush())
      fail();
  }
  if (ok && ::fsync(fd) != 0) fail();
  if (::close(fd) != 0) fail();
  if (ok && faults && faults->fail_before_rename) {
    errno = EIO;
    fail();
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) fail();
  if (!ok) {
    ::unlink(temp.c_str());
    return error;
  }
  SyncFolder(FolderOf(target));
  return 0;
}

}  // namespace

bool AtomicWriteFile(const std::string& path, const void* data, std::size_t size,
                     const AtomicWriteFaults* faults, int* error) {
  return AtomicWriteFile(
      path, [data, size](const ContentSink& sink) { return sink(static_cast<const char*>(data), size); },
      faults, error);
}

bool AtomicWriteFile(const std::string& path, const ContentSource& produce, const AtomicWriteFaults* faults,
                     int* error) {
  int ignored = 0;
  int& failure = error ? *error : ignored;
  failure = Replace(path, produce, faults);
  return failure == 0;
}

}  // namespace k2t::linux_platform
