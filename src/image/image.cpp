#include "image/image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace odi {

LoadedImage read_image_file(const std::filesystem::path& path) {
  LoadedImage out;
  std::error_code ec;
  const auto st = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(st)) {
    out.error = std::make_error_code(std::errc::is_a_directory).message();
    return out;
  }
  // A pipe or a device that merely carries an image's name would block the read or never end.
  if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st)) {
    out.error = "not a regular file";
    return out;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    out.error = std::strerror(errno);
    return out;
  }
  // One read of the whole file (no more than an address can reach); the size is asked first so
  // that no more memory is touched than the file holds.
  const auto size = std::filesystem::file_size(path, ec);
  const auto want = static_cast<size_t>(
      ec ? kMaxImageRead
         : std::min<std::uintmax_t>(size, static_cast<std::uintmax_t>(kMaxImageRead)));
  out.bytes.resize(want);
  size_t got = std::fread(out.bytes.data(), 1, want, f);
  if (std::ferror(f) != 0) out.error = std::strerror(errno != 0 ? errno : EIO);
  std::fclose(f);
  out.bytes.resize(got);
  return out;
}

}  // namespace odi
