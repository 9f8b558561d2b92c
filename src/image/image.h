// An ODI image: the bytes of a Specialist MX floppy disk as MX_DOS wrote them, 80 tracks of 10
// sectors of 1024 bytes (each track: 5 sectors of the lower side, then 5 of the upper side), with
// no header. The core never opens files itself while it parses: callers load the bytes (see
// read_image_file) and hand them over as an Image, a bounds-checked view. Nothing here ever reads
// outside those bytes, whatever the disk says.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace odi {

inline constexpr std::int64_t kSectorSize = 1024;
inline constexpr std::int64_t kImageSize = 819200;   // C8000h
inline constexpr std::int64_t kSignatureArea = 288;  // bytes searched for "Dos_MX"
inline constexpr std::int64_t kVersionLength = 13;   // "Dos_MX V3.6" and two bytes more
inline constexpr std::int64_t kDiskNameOffset = 0x2970;
inline constexpr std::int64_t kDiskNameLength = 6;
inline constexpr std::int64_t kFatOffset = 0x29B0;  // 800 cells of 2 bytes, one per sector
inline constexpr std::int64_t kFatSize = 1600;
inline constexpr std::int64_t kRootOffset = 0x3000;  // track 1, sector 3
inline constexpr int kAddressEnd = 0xAA;             // FAT cell byte 0: last sector of a chain

// Image offset of a sector: index k = 10 x track + sector - 1, k x 1024. Any byte values are
// accepted (a record may say anything); the result may then lie outside the image, or below 0.
constexpr std::int64_t sector_offset(int track, int sector) {
  return (10 * std::int64_t{track} + sector - 1) * kSectorSize;
}

class Image {
 public:
  Image() = default;
  explicit Image(std::string_view bytes) : bytes_(bytes) {}

  std::int64_t size() const { return static_cast<std::int64_t>(bytes_.size()); }
  std::string_view bytes() const { return bytes_; }

  // The `len` bytes at `offset`, or nothing when any of them lies outside the image.
  std::optional<std::string_view> read(std::int64_t offset, std::int64_t len) const {
    if (offset < 0 || len < 0 || offset > size() || len > size() - offset) return std::nullopt;
    return bytes_.substr(static_cast<size_t>(offset), static_cast<size_t>(len));
  }

  // Up to `len` bytes at `offset`: as many of them as exist (possibly none).
  std::string_view head(std::int64_t offset, std::int64_t len) const {
    if (offset < 0 || offset >= size() || len <= 0) return {};
    return bytes_.substr(static_cast<size_t>(offset),
                         static_cast<size_t>(std::min(len, size() - offset)));
  }

 private:
  std::string_view bytes_;
};

// The most of a file that can ever matter: no sector address a record can hold (track and sector
// bytes up to FFh) reaches past this, so a huge file that merely ends in ".odi" costs no more.
inline constexpr std::int64_t kMaxImageRead = std::int64_t{4} * 1024 * 1024;

struct LoadedImage {
  std::string bytes;    // the first kMaxImageRead bytes of the file at most
  std::string error;    // empty when the file was read; otherwise the system's reason (UTF-8)
  bool folder = false;  // the name is a folder's (error says so too)
  bool ok() const { return error.empty(); }
};

// Memory that one reader keeps from image to image (an extraction job): taken once, never
// cleared again. With `large_pages`, for a reader of many images, it lies in 2 MB pages where the
// system gives them; the copy of each image into it and the copies of its files out of it then
// cross one page-table entry instead of two hundred, worth about 1% of a run of many images. One
// image does not repay clearing a 2 MB page, so a reader of one asks for small ones.
class ImageMemory {
 public:
  explicit ImageMemory(bool large_pages = false) : large_(large_pages) {}
  ImageMemory(ImageMemory&& other) noexcept;
  ImageMemory& operator=(ImageMemory&&) = delete;
  ImageMemory(const ImageMemory&) = delete;
  ~ImageMemory();

  // Room for `n` bytes (n <= kMaxImageRead), its pages already in place; nullptr without memory.
  char* room(size_t n);

 private:
  bool large_;
  char* base_ = nullptr;
  size_t touched_ = 0;  // bytes whose pages are in place
};

// An image read into an ImageMemory: `bytes` lasts until the next read into the same memory.
struct ImageView {
  std::string_view bytes;
  std::string error;    // as LoadedImage's
  bool folder = false;  // as LoadedImage's
  bool ok() const { return error.empty(); }
};
ImageView read_image_file(const std::filesystem::path& path, ImageMemory& memory);

// Reads an image file once, whole (up to kMaxImageRead). Never creates or changes the file.
// `buffer`: the bytes of an image read before, whose memory the new one may take over (a run of
// images then neither allocates nor clears 800 KB for each).
LoadedImage read_image_file(const std::filesystem::path& path, std::string buffer = {});

// The same through a descriptor the caller keeps open, from the file's first byte: a writer reads
// the image through its locked descriptor, because on NFS the lock is a POSIX record lock, which
// the close of any other descriptor of the file would drop.
LoadedImage read_image_fd(int fd, std::string buffer = {});

}  // namespace odi
