#include "extract/image_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace odi {
namespace {

// Does `fd` still stand for the file that `path` names?
bool names_same_file(int fd, const std::filesystem::path& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

ImageLock::~ImageLock() {
  if (fd_ >= 0) ::close(fd_);
}

ImageLock::Status ImageLock::acquire(const std::filesystem::path& path,
                                     std::chrono::milliseconds wait, std::string& why) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + wait;
  std::chrono::milliseconds pause{1};
  for (;;) {
    // Every write gives the path a new file: a lock on the one it named before is no lock.
    if (fd_ >= 0 && !names_same_file(fd_, path)) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
      fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
      why = std::strerror(errno);
      return Status::NoImage;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      if (names_same_file(fd_, path)) return Status::Held;
      continue;  // replaced between the open and the lock
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      why = std::strerror(errno);
      return Status::NoImage;
    }
    if (Clock::now() >= until) return Status::Busy;
    // Polled rather than blocked in flock: a wait bounded by a timer would need a signal, and a
    // writer holds the lock for milliseconds.
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, until - Clock::now()));
    pause = std::min(pause * 2, std::chrono::milliseconds{20});
  }
}

}  // namespace odi
