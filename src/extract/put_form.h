// The way back from the PC to the disk, for `odi put`, `mkdir`, `mv` and `new`: names as the
// bytes the disk keeps, and the copy forms (rks, txt) undone. Each is the reverse of what the
// listing (its exact names) and the copy do, and refuses what would not come back the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "state/options.h"

namespace odi {

// A disk name: up to 8 name bytes and up to 3 extension bytes (no padding).
struct DiskName {
  std::string name8;
  std::string ext3;
};

// The disk name for `utf8`, an exact name as `odi ls --json` gives it (disk_name, disk_ext; the
// bytes through exact_bytes): NAME.EXT split at the last dot ("Almaz_2..EXE" is "Almaz_2." and
// "EXE"), a trailing dot meaning no extension ("РП.COPY2."), a dotted name of 8 bytes at most
// taken whole when the split does not fit ("РП.COPY2"), or the name field as the list shows it,
// inner spaces kept ("TEST     TXT"). Letter case is kept. Nothing, with the reason in `why`, for
// an empty name, a character that no disk byte reads back as, or a name that fits 8 + 3 none of
// these ways. Which bytes a name may hold, each file system's writer decides.
std::optional<DiskName> disk_name_from_utf8(std::string_view utf8, std::string& why);

// What an rks file (`odi cat --type rks`) holds: the load address, the body, the stored checksum.
struct RksParts {
  std::uint16_t start = 0;
  std::string body;
  std::optional<std::uint16_t> checksum;  // none for an empty file (a record of 0 bytes)
};

// Undoes the rks frame: address, size (end - start), body, checksum word, all little-endian. The
// frame must account for every byte of the file. An empty file is an empty record.
std::optional<RksParts> read_rks(std::string_view file, std::string& why);

// Undoes the txt form for the code page of `opt` (win or dos; KOI-8 letters): the trailer
// "CR LF Name: '...' \ nK CR LF Data: ..." is removed when the text ends in one, CR LF becomes
// CR, and each byte becomes the byte that the text recoding turns into it (the letters through
// the code page's table backwards, every other byte itself where it reads back unchanged). A byte
// that no disk byte reads back as is refused. TABs were expanded into blanks on the way out and
// stay blanks; the FFh that ends a text of the machine read as CR and comes back as CR (0Dh).
std::optional<std::string> read_txt(std::string_view file, const Options& opt, std::string& why);

}  // namespace odi
