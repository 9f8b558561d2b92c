#include "image/image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
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

// Reads up to `want` bytes of `fd` into `p`, counting them in `got`; the system's reason on an
// error.
std::string read_into(int fd, char* p, size_t want, size_t& got) {
  got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, p + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno != 0 ? errno : EIO);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return {};
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
  std::string error = read_into(fd, bytes.data(), want, got);
  bytes.resize(got);
  return error;
}

// How much of a file of the size `st` gives is read: all of it, up to what an address can reach.
size_t read_size(const struct stat& st) {
  return static_cast<size_t>(
      std::min<std::int64_t>(std::max<std::int64_t>(st.st_size, 0), kMaxImageRead));
}

// Opens an image file for reading and tells how much of it to read; -1 with `error` (and
// `folder`) set when it is no file to read.
int open_image(const std::filesystem::path& path, size_t& want, std::string& error, bool& folder) {
  // One look by name before the file is opened: a folder, a pipe or a device that merely carries
  // an image's name would block the read or never end.
  struct stat st {};
  const bool known = ::stat(path.c_str(), &st) == 0;
  if (known && S_ISDIR(st.st_mode)) {
    folder = true;
    error = std::make_error_code(std::errc::is_a_directory).message();
    return -1;
  }
  if (known && !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  // One read of the whole file (no more than an address can reach); the size is known first so
  // that no more memory is touched than the file holds.
  const bool sized = known || ::fstat(fd, &st) == 0;
  want = sized ? read_size(st) : static_cast<size_t>(kMaxImageRead);
  return fd;
}

constexpr size_t kLargePage = size_t{2} << 20;

}  // namespace

LoadedImage read_image_file(const std::filesystem::path& path, std::string buffer) {
  LoadedImage out;
  size_t want = 0;
  const int fd = open_image(path, want, out.error, out.folder);
  if (fd < 0) return out;
  out.bytes = std::move(buffer);
  out.error = read_up_to(fd, want, out.bytes);
  ::close(fd);
  return out;
}

ImageMemory::ImageMemory(ImageMemory&& other) noexcept
    : large_(other.large_), base_(other.base_), touched_(other.touched_) {
  other.base_ = nullptr;
  other.touched_ = 0;
}

ImageMemory::~ImageMemory() {
  std::free(base_);
}

char* ImageMemory::room(size_t n) {
  assert(n <= static_cast<size_t>(kMaxImageRead));
  if (base_ == nullptr) {
    // Aligned to a large page, so that the first 2 MB can be one.
    base_ = static_cast<char*>(std::aligned_alloc(kLargePage, kMaxImageRead));
    if (base_ == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
    if (large_) ::madvise(base_, kMaxImageRead, MADV_HUGEPAGE);
#endif
  }
  if (n > touched_) {
    map_all_pages(base_ + touched_, n - touched_);
    touched_ = n;
  }
  return base_;
}

ImageView read_image_file(const std::filesystem::path& path, ImageMemory& memory) {
  ImageView out;
  size_t want = 0;
  const int fd = open_image(path, want, out.error, out.folder);
  if (fd < 0) return out;
  char* p = memory.room(want);
  size_t got = 0;
  out.error = p != nullptr ? read_into(fd, p, want, got) : std::strerror(ENOMEM);
  ::close(fd);
  out.bytes = std::string_view(p, got);
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
