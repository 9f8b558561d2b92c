// Writing into an MX_DOS disk held in memory: a fresh disk, a file put into a catalogue, a new
// catalogue, an entry removed or renamed. Each operation either changes the image as MX_DOS would
// have left it, or refuses and leaves every byte as it was. The layout they keep (FAT cells,
// record fields, the order of a catalogue, what a removed record leaves) is written up under
// "Writing" in src/image/FORMAT.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/catalogue.h"
#include "image/image.h"
#include "image/write.h"

namespace odi::mxdos {

// A fresh 819200-byte disk in `image`. `disk_name`: up to 6 KOI-8 bytes, space padded at 2970h.
// Without `system_from` a data disk: E5h filler, the FAT's system cells, an empty root. With it,
// the system's bytes 0000h..29AFh (track 0, the DOS's screen and working area before the FAT)
// are copied, so the disk starts the same DOS; the name and the FAT are the new disk's own.
WriteResult new_disk(std::string& image, std::string_view disk_name, const Image* system_from);

// Puts a file into the catalogue `where` names (KAT_POS and KAT_IDX of levels 0..KAT_LEV). An
// entry of the same name is refused, or with `replace` removed first (a catalogue never is).
WriteResult put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                     bool replace);

// A new, empty catalogue in `where`.
WriteResult make_catalogue(std::string& image, const CatalogueStack& where, std::string_view name8,
                           std::string_view ext3, std::array<unsigned char, 3> date);

// Removes the entry at `row` (a read_catalogue row of `where`). A catalogue that holds entries
// goes only with `recursive`, and then with everything below it.
WriteResult remove_entry(std::string& image, const CatalogueStack& where, int row, bool recursive);

// Gives the entry at `row` a new name; it moves to its place in the sorted list.
WriteResult rename_entry(std::string& image, const CatalogueStack& where, int row,
                         std::string_view name8, std::string_view ext3);

// The disk's sectors, and the first one a file or a catalogue may take (0..12: the system track,
// the FAT, the root catalogue).
inline constexpr int kSectorCount = 800;
inline constexpr int kFirstUser = 13;

// The most bytes a file holds: its end address is a 16-bit word.
inline constexpr std::int64_t kMaxBody = 65536;

// Gives the entry at `row` the BCD day, month and year `date` (a catalogue's record of itself too).
WriteResult set_date(std::string& image, const CatalogueStack& where, int row,
                     std::array<unsigned char, 3> date);

// Free FAT cells (00h 00h) among the sectors files and catalogues may use (13..799).
int free_sectors(const Image& img);

// The row of the entry whose stored name is `name8`, `ext3` (space padded for the comparison)
// in the catalogue at `pos`, or -1. A full sub-catalogue's record of itself is not an entry.
int find_row(const Image& img, std::int64_t pos, std::string_view name8, std::string_view ext3);

// The same operations behind the writer interface.
class MxDosWriter : public DiskWriter {
 public:
  WriteResult put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                       bool replace) const override {
    return mxdos::put_file(image, where, f, replace);
  }
  WriteResult make_catalogue(std::string& image, const CatalogueStack& where,
                             std::string_view name8, std::string_view ext3,
                             std::array<unsigned char, 3> date) const override {
    return mxdos::make_catalogue(image, where, name8, ext3, date);
  }
  WriteResult remove_entry(std::string& image, const CatalogueStack& where, int row,
                           bool recursive) const override {
    return mxdos::remove_entry(image, where, row, recursive);
  }
  WriteResult rename_entry(std::string& image, const CatalogueStack& where, int row,
                           std::string_view name8, std::string_view ext3) const override {
    return mxdos::rename_entry(image, where, row, name8, ext3);
  }
  WriteResult set_date(std::string& image, const CatalogueStack& where, int row,
                       std::array<unsigned char, 3> date) const override {
    return mxdos::set_date(image, where, row, date);
  }
  // MX_DOS's own limit: 64 KB a file, whatever the free space.
  std::int64_t largest_body(const std::string& /*image*/, bool /*replace*/) const override {
    return kMaxBody;
  }
};

}  // namespace odi::mxdos
