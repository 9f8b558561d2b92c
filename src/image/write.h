// Writing into a disk held in memory, whatever its file system: `odi new`, `put`, `mkdir`, `rm`
// and `mv` go through this interface only. Each operation either changes the image as the disk's
// own system would have left it, or refuses and leaves every byte as it was. The window never
// writes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/catalogue.h"
#include "image/fs.h"
#include "image/image.h"

namespace odi {

inline constexpr int kRefused = 1;   // the disk cannot take it: no room, full, name taken, ...
inline constexpr int kNoEntry = 65;  // no entry at the row (or on the path) given

struct WriteResult {
  int status = 0;       // 0, kRefused or kNoEntry
  std::string message;  // English, for stderr; empty when done
  int row = -1;  // after put, mkdir and rename: the entry's row now (lists may be kept sorted)
  bool ok() const { return status == 0; }
};

struct NewFile {
  std::string name8;  // disk bytes (KOI-8), no padding: 1..8 of them
  std::string ext3;   // 0..3 bytes
  std::uint16_t start = 0;
  std::string body;
  std::array<unsigned char, 3> date{};      // BCD day, month, year (MX_DOS keeps it)
  std::optional<std::uint16_t> checksum{};  // stored as is; by default the monitor's sum
};

// `where` names a catalogue as the reader found it: KAT_POS and KAT_IDX of levels 0..KAT_LEV.
// Rows are the rows FileSystem::list gives for that catalogue.
class DiskWriter {
 public:
  DiskWriter() = default;
  DiskWriter(const DiskWriter&) = delete;
  DiskWriter& operator=(const DiskWriter&) = delete;
  virtual ~DiskWriter() = default;

  // An entry of the same name is refused, or with `replace` removed first (a catalogue never is).
  virtual WriteResult put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                               bool replace) const = 0;
  virtual WriteResult make_catalogue(std::string& image, const CatalogueStack& where,
                                     std::string_view name8, std::string_view ext3,
                                     std::array<unsigned char, 3> date) const = 0;
  // A catalogue that holds entries goes only with `recursive`, and then with all below it.
  virtual WriteResult remove_entry(std::string& image, const CatalogueStack& where, int row,
                                   bool recursive) const = 0;
  virtual WriteResult rename_entry(std::string& image, const CatalogueStack& where, int row,
                                   std::string_view name8, std::string_view ext3) const = 0;
  // The longest body one file can have on this disk now: what a source is read up to, so that a
  // file too large (or a source that never ends) is refused before it fills the memory. With
  // `replace` a file of the same name may give its room back.
  virtual std::int64_t largest_body(const std::string& image, bool replace) const = 0;
  // The date of the entry at `row`, where the file system keeps one (MX_DOS); elsewhere nothing
  // changes.
  virtual WriteResult set_date(std::string& /*image*/, const CatalogueStack& /*where*/, int /*row*/,
                               std::array<unsigned char, 3> /*date*/) const {
    return {};
  }
  // The name this file system stores for the name given, where it keeps another form of it: a
  // CP/M directory holds Latin letters in capitals, as CP/M's own commands and cpmtools write
  // them (a name in small letters cannot be typed at the CCP). Elsewhere the name stays.
  virtual void stored_name(std::string& /*name8*/, std::string& /*ext3*/) const {}
  // The read-only mark of the file at `row`, where the file system keeps one (CP/M); elsewhere
  // nothing changes.
  virtual WriteResult set_read_only(std::string& /*image*/, const CatalogueStack& /*where*/,
                                    int /*row*/, bool /*on*/) const {
    return {};
  }
};

// A writer's change, made in place on the caller's image with the bytes each write replaced, so
// that an operation refused half way puts every byte back when it ends without keep(). A change
// touches a few sectors: a copy of the whole 800 KB image for each one cost more than all the rest
// of a put, and a batch of puts or a write fuzzer makes thousands.
class ImageChange {
 public:
  explicit ImageChange(std::string& image) : b_(image) {}
  ImageChange(const ImageChange&) = delete;
  ImageChange& operator=(const ImageChange&) = delete;
  ~ImageChange() { undo(); }

  const std::string& bytes() const { return b_; }
  // `s` over the bytes at `off`, and `len` bytes `c` from `off`. Precondition: the range lies
  // inside the image (the writers check the image's size before they change anything).
  void write(size_t off, std::string_view s);
  void fill(size_t off, size_t len, char c);
  // The change is done: the image keeps it.
  void keep() {
    undo_.clear();
    old_.clear();
  }

 private:
  void save(size_t off, size_t len);
  void undo() noexcept;

  std::string& b_;
  std::vector<std::pair<size_t, size_t>> undo_;  // each write: offset, length
  std::string old_;                              // the bytes the writes replaced, in their order
};

// The writer of a file system; nothing for a blank or unknown disk (make one with new_disk).
std::unique_ptr<DiskWriter> writer_for(FsKind kind);

// A fresh 819200-byte disk of `kind` (MX_DOS or CP/M) in `image`. `name`: MX_DOS's disk name,
// up to 6 KOI-8 bytes (CP/M keeps none). `system_from`: MX_DOS only, a disk whose system is copied.
WriteResult new_disk(FsKind kind, std::string& image, std::string_view name,
                     const Image* system_from);

}  // namespace odi
