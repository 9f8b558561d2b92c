// cpmbuild: writes ODI images of Specialist MX floppies in the CP/M 2.2 layout, for tests.
//
// Like the MX_DOS builder in odibuild.h, this is a writer of its own: it does not use the
// reader in src/, so tests can cross-check the two. cpmtools reads these disks with the
// definition "specmx" in tests/cpm/diskdefs.
//
// The layout (819200 bytes, all E5h on a blank disk):
//   0000h  reserved tracks, 20 KB (four 5 KB tracks): boot code. The first sector may open
//          with a jump (C3h, address), geometry bytes at 08h..0Fh and the disk parameter
//          block at 10h (see CpmDiskOptions).
//   5000h  block 0: blocks of 2 KB, block b at 5000h + b x 800h, numbers 0..388 (DSM 388).
//          Blocks 0 and 1 hold the directory: 128 entries of 32 bytes.
// A directory entry (extent): user 0..15 (E5h unused), name 8, type 3 (the high bits of the
// type bytes: read-only, system, archive), EX, S1, S2, RC, then 8 block numbers of 16 bits
// (DSM > 255), little-endian, 0 = none. One extent maps 16 KB (128 records of 128 bytes).
//
//     using namespace odibuild;
//     CpmDiskBuilder disk({.withParameterBlock = true});
//     disk.addFile(0, "HELLO", "TXT", "Hello\r\n\x1A");            // last record counts whole
//     CpmFile big = disk.addFile(3, "BIG", "DAT", std::string(40000, 'b'),
//                                {.readOnly = true, .lastRecordBytes = 40000 % 128});
//     disk.addDeletedEntry("OLD", "BAK", "gone");                  // E5h, blocks left behind
//     disk.setEntryByte(big.entries[1], cpm::kRc, 0x90);           // damage
//     disk.writeTo("cpm.odi");
//
// Names and types are raw 7-bit disk bytes (space padded); bodies are raw bytes. A body is
// written from the start of its first block; the rest of its last record and block keep the
// disk's bytes (E5h on a fresh disk). Errors in use (disk or directory full, bad name or
// user) throw std::runtime_error; raw writes past the image throw std::out_of_range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "builder/odibuild.h"

namespace odibuild {

namespace cpm {
inline constexpr std::size_t kDpbOffset = 0x10;  // parameter block in the first sector
inline constexpr std::size_t kDirOffset = 0x5000;
inline constexpr std::size_t kBlockSize = 2048;
inline constexpr int kBlockCount = 389;  // DSM 388 + 1
inline constexpr int kDirBlocks = 2;
inline constexpr int kEntryCount = 128;  // DRM 127 + 1
inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::size_t kRecordSize = 128;
inline constexpr std::size_t kExtentSize = 16384;  // 8 blocks, 128 records
inline constexpr std::uint8_t kUnused = 0xE5;
// Fields of a directory entry.
inline constexpr std::size_t kUser = 0, kName = 1, kType = 9, kEx = 12, kS1 = 13, kS2 = 14,
                             kRc = 15, kBlocks = 16;

constexpr std::size_t blockOffset(int block) {
  return kDirOffset + static_cast<std::size_t>(block) * kBlockSize;
}
constexpr std::size_t entryOffset(int index) {
  return kDirOffset + static_cast<std::size_t>(index) * kEntrySize;
}
}  // namespace cpm

struct CpmDiskOptions {
  // The first sector opens with C3h 00h 00h (a jump; its target on real disks is not known),
  // 00h up to 0Fh (the geometry bytes of real disks are not known either) and the parameter
  // block: SPT 40, BSH 4, BLM 0Fh, EXM 0, DSM 388, DRM 127, AL0 C0h, AL1 0, CKS 32, OFF 4.
  // Off: the first sector stays E5h.
  bool withParameterBlock = true;
};

struct CpmFileOptions {
  bool readOnly = false, system = false, archive = false;  // T1', T2', T3'
  // S1 of the last extent: bytes used in the last record, as cpmtools writes it; 0 (as CP/M
  // 2.2 leaves it) counts the last record whole. 0..127.
  std::uint8_t lastRecordBytes = 0;
};

// What addFile wrote: the directory entries of the extents, in order, and the blocks.
struct CpmFile {
  std::vector<int> entries;
  std::vector<int> blocks;
};

class CpmDiskBuilder {
 public:
  explicit CpmDiskBuilder(CpmDiskOptions options = {});

  // A file of user 0..15 in the lowest unused entries and the lowest free blocks; one extent
  // per 16 KB (an empty file: one extent, RC 0, no blocks).
  CpmFile addFile(int user, std::string_view name, std::string_view type, std::string_view body,
                  CpmFileOptions options = {});
  // An erased file: written as addFile, then its entries get E5h in byte 0 and its blocks
  // are free again (later files may take them); names, extents and data stay behind, and
  // later files do not take its entries.
  CpmFile addDeletedEntry(std::string_view name, std::string_view type, std::string_view body = {},
                          CpmFileOptions options = {});

  // Raw access for damage. Entry indices 0..127; offsets are image offsets.
  std::string entryBytes(int index) const;
  CpmDiskBuilder& setEntryByte(int index, std::size_t field, std::uint8_t value);
  CpmDiskBuilder& setEntry(int index, std::string_view bytes32);  // counts the entry as taken
  std::string block(int number) const;                            // 2048 bytes
  CpmDiskBuilder& poke(std::size_t offset, std::string_view bytes);
  int freeBlockCount() const;

  const std::string& image() const { return image_; }
  void writeTo(const std::string& path) const;  // throws on I/O failure

 private:
  int takeEntry();
  int takeBlock();

  std::string image_;
  std::vector<bool> blockUsed_;
  std::vector<bool> entryTaken_;
};

// A full disk for measurements: 60 files, 754600 bytes (737 KiB), in users 0, 1, 2 and 5; texts
// (KOI-8, CR LF, ending in 1Ah) and binaries; 22 of them span two extents; some read-only / system.
std::string cpmFullDiskImage();

// ---- JSON descriptions ----------------------------------------------------
// {
//   "filesystem": "cpm",          // "mxdos" (the default) is the format in odibuild.h
//   "parameter_block": true,      // default true
//   "files": [ {"user": 0, "name": "HELLO", "type": "TXT",
//               one body: "text": "..." or [lines]  (UTF-8 -> KOI-8, line ends CR LF)
//                         "koi7": "..." or [lines]  (capitals -> KOI-7, line ends CR LF)
//                         "hex": "C3 00 01 ..."     (spaces allowed)
//                         "fill": {"byte": 229, "count": 3000}
//               "eof": true,                        // append a byte 1Ah, like CP/M texts
//               "ro": false, "sys": false, "arc": false,
//               "last_record_bytes": 0}, ... ],     // S1 of the last extent
//   "deleted": [ {"name": "OLD", "type": "BAK", body as above}, ... ]
// }
// Files are added in order, then the deleted ones. Every field but "name" is optional.
CpmDiskBuilder cpmFromJson(const nlohmann::json& description);
// Either filesystem, by "filesystem": the image bytes. odi-mkimage writes these.
std::string imageFromJson(const nlohmann::json& description);
std::string imageFromJsonText(std::string_view text);

}  // namespace odibuild
