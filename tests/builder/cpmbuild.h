// cpmbuild: writes ODI images of Specialist MX floppies in the CP/M 2.2 layout, for tests.
//
// Like the MX_DOS builder in odibuild.h, a writer of its own that does not use the reader in
// src/, so tests can cross-check the two; cpmtools reads its disks with the definition "specmx"
// in tests/cpm/diskdefs. The layout (819200 bytes, E5h on a blank disk): 20 KB of reserved
// tracks, whose first sector may hold the parameter block at 10h; from 5000h blocks of 2 KB,
// numbers 0..388, blocks 0 and 1 the directory of 128 entries of 32 bytes: user 0..15 (E5h
// unused), name 8, type 3 (high bits: read-only, system, archive), EX, S1, S2, RC, 8 block
// numbers of 16 bits. One extent maps 16 KB.
//
// Names and types are raw 7-bit bytes, bodies raw bytes, written from the start of the first
// block; the rest of the last record and block keep the disk's bytes. Errors in use throw
// std::runtime_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "builder/odibuild.h"

namespace odibuild {

namespace cpm {
// Fields of a directory entry.
inline constexpr std::size_t kUser = 0, kEx = 12, kS1 = 13, kS2 = 14, kRc = 15, kBlocks = 16;
}  // namespace cpm

struct CpmDiskOptions {
  // The first sector opens with C3h 00h 00h (a jump; its target on real disks is not known),
  // 00h up to 0Fh (the geometry bytes of real disks are not known either) and the parameter
  // block at 10h: SPT 40 (records per 5 KB track), BSH 4, BLM 0Fh (2 KB blocks), EXM 0, DSM 388,
  // DRM 127, AL0 C0h, AL1 0 (blocks 0, 1), CKS 32 (a removable disk), OFF 4 (reserved tracks).
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
  CpmFile addDeletedEntry(std::string_view name, std::string_view type, std::string_view body);

  // Raw access for damage. Entry indices 0..127.
  std::string entryBytes(int index) const;
  CpmDiskBuilder& setEntryByte(int index, std::size_t field, std::uint8_t value);
  CpmDiskBuilder& setEntry(int index, std::string_view bytes32);  // counts the entry as taken

  const std::string& image() const { return image_; }
  void writeTo(const std::string& path) const { writeFile(path, image_); }

 private:
  std::string image_;
  std::vector<bool> blockUsed_;
  std::vector<bool> entryTaken_;
};

}  // namespace odibuild
