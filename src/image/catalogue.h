// Catalogues: one 1024-byte sector of 32-byte records. The root is the sector at 3000h; a
// sub-catalogue is the sector its record's first-sector fields address (the FAT is not consulted).
// The list ends at the first record without the D3h D3h D3h marker, at a record the image cannot
// hold whole, or after the 32nd record (one sector holds no more).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "image/record.h"

namespace odi {

inline constexpr int kMaxRecords = 32;
inline constexpr int kMaxLevel = 10;  // catalogues nested below the root

// NAM_WIN: a name from the disk (KOI-8 letters) as CP1251 text that may stand in a file name.
// One byte for one, nothing trimmed; a 3-byte "prn" in any case gets "^" appended.
std::string NAM_WIN(std::string_view name);

// A name as it may stand on the PC, in UTF-8: NAM_WIN, then a CR (from name byte FFh) becomes "^".
// A folder level additionally never is empty ("^") nor only dots ("^" for each dot), so no path
// built from disk names can leave the target root.
std::string pc_file_name(std::string_view name);
std::string pc_folder_name(std::string_view name);

// How an entry is named on the command line, in listings and in check reports (UTF-8):
//   the converted trimmed name field, inner spaces kept ("TEST     TXT");
//   NAME.EXT, the trimmed name and the trimmed extension ("TEST.TXT"; just "NAME" without one).
std::string entry_name(const Record& rec);
std::string entry_short_name(const Record& rec);

// The name (8 bytes) and the extension (3) exactly as the disk holds them, in UTF-8, trailing
// blanks (the padding) trimmed: KOI-8 letters through KOI_WIN, every other byte the CP1251
// character of that code. Nothing is replaced as the list replaces it ("CP/M", "$$$.SUB" and
// control codes stay), so each byte but FFh (CR, as 0Dh reads) comes back through exact_bytes.
std::string exact_text(std::string_view bytes);
std::string exact_name(const Record& rec);
std::string exact_ext(const Record& rec);
// The way back: the disk bytes of an exact name, one a character (CP1251 letters through KOI_WIN
// backwards, every other CP1251 character its own code). Nothing when a character has none (Ъ,
// anything outside CP1251) or the text is not UTF-8. Which bytes a name may hold is the business
// of each file system's writer.
std::optional<std::string> exact_bytes(std::string_view utf8);

// KAT_LOAD, the reading half: the records of the catalogue sector at `pos` (may be any value).
std::vector<Record> read_catalogue(const Image& img, std::int64_t pos);

// A list row: converted name field, a space, the size in decimal, "K" (CP1251).
std::string list_row(const Record& rec);

// The catalogue stack: levels 0..KAT_LEV describe the path from the root to the catalogue shown.
struct CatalogueStack {
  int KAT_LEV = 0;
  std::array<std::int64_t, kMaxLevel + 1> KAT_POS{};  // catalogue sector offset per level
  std::array<std::string, kMaxLevel + 1> KAT_NAM{};   // 0: disk name; n: trimmed 8-byte name
  std::array<int, kMaxLevel + 1> KAT_IDX{};           // row to select when the level is shown

  // A newly chosen image starts at the root, row 0 (`pos`: where the file system keeps it).
  void reset_root(std::string disk_name, std::int64_t pos = kRootOffset);
  // Enter the catalogue of `rec`, remembering `row` for the current level. False at level 10:
  // there is no room for an eleventh level, and the double-click does nothing.
  bool enter(const Record& rec, int row);
  // The same for a catalogue at `pos` named `name` (trimmed, as stored), whatever file system.
  bool enter(std::int64_t pos, std::string name, int row);
  // Back up one level; false at the root.
  bool up();
  // The path label: "\" + converted name, for each level from 0 (CP1251).
  std::string path_text() const;
  // Is the catalogue at `pos` already on the path (levels 0..KAT_LEV)? Real disks keep a record
  // of each sub-catalogue inside itself; a walker that follows it would never come back.
  bool on_path(std::int64_t pos) const;
};

// What the choice of an image shows: the 13 bytes from the "Dos_MX" signature found in the first
// 288 bytes (fewer if the image ends), or "нет версии"; the disk name at 2970h, trimmed.
std::string VER_DOS(const Image& img);
std::string disk_name(const Image& img);

// FIL_DAT: the date of a file or catalogue record as DD.MM.YY (each BCD nibble in decimal, so a
// nibble above 9 gives two digits); any other row gets `today` (DD.MM.YY).
std::string FIL_DAT(const Record& rec, std::string_view today);
// Today's date from the local clock, DD.MM.YY.
std::string today_text();

}  // namespace odi
