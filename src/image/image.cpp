#include "image/image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace odi {

namespace {

// Fresh memory is handed out page by page as it is first touched, each page a fault; one request
// for all the pages of a buffer costs a fraction of that. Under a virtual machine a fault can cost
// tens of microseconds: the 200 of an 800 KB image took longer than the rest of a small
// extraction. A system that cannot do it leaves the pages to come one by one, as before.
void map_all_pages(char* p, size_t n) {
#ifdef MADV_POPULATE_WRITE
  const long page = ::sysconf(_SC_PAGESIZE);
  if (n == 0 || page <= 0) return;
  const auto start = reinterpret_cast<std::uintptr_t>(p) & ~(static_cast<std::uintptr_t>(page) - 1);
  ::madvise(reinterpret_cast<void*>(start), reinterpret_cast<std::uintptr_t>(p) + n - start,
            MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)n;
#endif
}

// Reads up to `want` bytes of `fd` into `bytes` (resized to what arrived); the system's reason
// on an error.
std::string read_up_to(int fd, size_t want, std::string& bytes) {
  // A buffer of an image read before already has this size: nothing to clear again.
  if (bytes.capacity() < want) {
    bytes.reserve(want);
    map_all_pages(bytes.data(), want);
  }
  bytes.resize(want);
  size_t got = 0;
  std::string error;
  while (got < want) {
    const ssize_t n = ::read(fd, bytes.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = std::strerror(errno != 0 ? errno : EIO);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return error;
}

// How much of a file of the size `st` gives is read: all of it, up to what an address can reach.
size_t read_size(const struct stat& st) {
  return static_cast<size_t>(
      std::min<std::int64_t>(std::max<std::int64_t>(st.st_size, 0), kMaxImageRead));
}

}  // namespace

LoadedImage read_image_file(const std::filesystem::path& path, std::string buffer) {
  LoadedImage out;
  // One look by name before the file is opened: a folder, a pipe or a device that merely carries
  // an image's name would block the read or never end.
  struct stat st {};
  const bool known = ::stat(path.c_str(), &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    out.folder = true;
    out.error = std::make_error_code(std::errc::is_a_directory).message();
    return out;
  }
  if (known && !S_ISREG(st.st_mode)) {
    out.error = "not a regular file";
    return out;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    out.error = std::strerror(errno);
    return out;
  }
  // One read of the whole file (no more than an address can reach); the size is known first so
  // that no more memory is touched than the file holds.
  const bool sized = known || ::fstat(fd, &st) == 0;
  const size_t want = sized ? read_size(st) : static_cast<size_t>(kMaxImageRead);
  out.bytes = std::move(buffer);
  out.error = read_up_to(fd, want, out.bytes);
  ::close(fd);
  return out;
}

LoadedImage read_image_fd(int fd, std::string buffer) {
  LoadedImage out;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
    out.error = std::strerror(errno);
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.error = "not a regular file";
    return out;
  }
  out.bytes = std::move(buffer);
  out.error = read_up_to(fd, read_size(st), out.bytes);
  return out;
}

}  // namespace odi
