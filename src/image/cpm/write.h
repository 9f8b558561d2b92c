// Writing into a CP/M 2.2 disk held in memory: a fresh disk, a file put into a user area, a file
// or a whole user area removed, a file renamed. Each operation either changes the image as CP/M
// (or cpmtools) would have left it, or refuses and leaves every byte as it was. The choices
// (names, the last record, the filler, what a removed entry keeps) are written up under "Writing"
// in cpm/FORMAT.md beside this file.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "image/catalogue.h"
#include "image/write.h"

namespace odi::cpm {

// A fresh 819200-byte disk in `image`: E5h everywhere but the first sector's first 31 bytes, a
// jump (C3h 00h 00h), zeros up to 0Fh and at 10h the parameter block of kSpecialistDpb.
WriteResult new_disk(std::string& image);

// The 11 name bytes a directory entry stores for `name8`, `ext3` (trailing spaces are padding),
// lower-case Latin letters made capitals as the CCP and cpmtools make them; nothing, with the
// reason in `why`, for a name cpmcp would not write either: a blank first, a byte outside
// 20h..7Eh, or one of < > . , ; : = ? * [ ].
std::optional<std::string> name_bytes(std::string_view name8, std::string_view ext3,
                                      std::string& why);

// Writes into a disk whose parameters come from its first sector, or the usual layout when its
// directory reads as CP/M (what open_file_system decides); any other disk is refused. `where`
// names a user area: level 0 is user 0, level 1 with KAT_POS[1] = n is user n (1..15). Rows are
// those CpmFs::list gives: the files of the user in the order of their first directory entry,
// then at the root the "USER n" rows.
class CpmWriter : public DiskWriter {
 public:
  // The lowest free directory entries and blocks; one entry per 16 KB (EXM + 1 extents). `start`,
  // `date` and `checksum` have no place in a CP/M directory and are not kept.
  WriteResult put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                       bool replace) const override;
  // CP/M 2.2 has no catalogues: only "USER 1".."USER 15" at the root are accepted, and they
  // change nothing (a user area exists as soon as it holds a file).
  WriteResult make_catalogue(std::string& image, const CatalogueStack& where,
                             std::string_view name8, std::string_view ext3,
                             std::array<unsigned char, 3> date) const override;
  // A file's directory entries get E5h in byte 0. A "USER n" row goes only with `recursive`,
  // and then with every file of that user.
  WriteResult remove_entry(std::string& image, const CatalogueStack& where, int row,
                           bool recursive) const override;
  // Every extent of the file gets the new name; the attribute bits stay.
  WriteResult rename_entry(std::string& image, const CatalogueStack& where, int row,
                           std::string_view name8, std::string_view ext3) const override;
  // The read-only attribute: the high bit of the type's first byte, in every extent of the file.
  WriteResult set_read_only(std::string& image, const CatalogueStack& where, int row,
                            bool on) const override;
  // Latin small letters as capitals.
  void stored_name(std::string& name8, std::string& ext3) const override;
  // The free blocks' bytes; with `replace`, every block outside the directory.
  std::int64_t largest_body(const std::string& image, bool replace) const override;
};

}  // namespace odi::cpm
