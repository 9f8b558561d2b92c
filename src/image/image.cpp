#include "image/image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace odi {

LoadedImage read_image_file(const std::filesystem::path& path) {
  LoadedImage out;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    out.error = std::make_error_code(std::errc::is_a_directory).message();
    return out;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    out.error = std::strerror(errno);
    return out;
  }
  out.bytes.resize(static_cast<size_t>(kImageSize));
  size_t got = std::fread(out.bytes.data(), 1, out.bytes.size(), f);
  if (got == out.bytes.size()) {
    // Longer than a disk: take what an address could still reach, in one more read.
    out.bytes.resize(static_cast<size_t>(kMaxImageRead));
    got += std::fread(out.bytes.data() + got, 1, out.bytes.size() - got, f);
  }
  if (std::ferror(f) != 0) out.error = std::strerror(errno != 0 ? errno : EIO);
  std::fclose(f);
  out.bytes.resize(got);
  return out;
}

}  // namespace odi
