// CP/M 2.2 disks in ODI images (the Specialist MX's and the Orion-128's CP/M use the same layout).
// Format notes: cpm/FORMAT.md beside this file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/fs.h"

namespace odi::cpm {

// The disk parameter block, as the BIOS keeps it and as the first sector of the disk holds it at
// 10h: SPT (word), BSH, BLM, EXM, DSM (word), DRM (word), AL0, AL1, CKS (word), OFF (word).
struct Dpb {
  int spt = 40;  // 128-byte records per track: a 5 KB track, one side of the disk
  int bsh = 4;   // block = 128 << BSH bytes: 2 KB
  int blm = 15;
  int exm = 0;
  int dsm = 388;  // highest block number
  int drm = 127;  // highest directory entry number
  int al0 = 0xC0;
  int al1 = 0;
  int cks = 32;
  int off = 4;  // reserved tracks: the directory starts at 5000h

  std::int64_t block_size() const { return std::int64_t{128} << bsh; }
  std::int64_t data_offset() const { return std::int64_t{off} * spt * 128; }
  std::int64_t block_offset(int block) const { return data_offset() + block * block_size(); }
  // Blocks the directory takes: the leading one bits of AL0, AL1.
  int dir_blocks() const;
  // More than 256 blocks: block numbers are words, 8 to an entry; else bytes, 16 to an entry.
  bool wide() const { return dsm > 255; }
  int pointers() const { return wide() ? 8 : 16; }
  // Records one directory entry can map: EXM + 1 logical extents of 128 records.
  int records_per_entry() const { return (exm + 1) * 128; }
  bool operator==(const Dpb&) const = default;
};

// The layout of the Specialist MX's CP/M disks, used when the first sector holds no parameter
// block (a disk that cpmtools or another tool formatted).
inline constexpr Dpb kSpecialistDpb{};
inline constexpr std::int64_t kDpbOffset = 0x10;
inline constexpr int kEntrySize = 32;
inline constexpr int kUnused = 0xE5;
inline constexpr int kMaxUser = 15;

// Is the block self-consistent and does the disk it describes fit in `image_size` bytes?
bool consistent(const Dpb& d, std::int64_t image_size);
// The parameter block in the first sector, when it is a consistent one.
std::optional<Dpb> read_dpb(const Image& img);
// Does the directory that `d` places read as CP/M: at least one file, every used entry with a
// sound user number, printable name, extent and record count, and blocks inside the disk?
bool directory_validates(const Image& img, const Dpb& d);

// One 32-byte directory entry.
struct DirEntry {
  std::array<unsigned char, 32> b{};

  int user() const { return b[0]; }
  bool used() const { return b[0] <= kMaxUser; }
  // Name and type with the attribute bits cleared, as they are compared and shown.
  std::string name8() const;
  std::string type3() const;
  bool read_only() const { return (b[9] & 0x80) != 0; }
  bool system() const { return (b[10] & 0x80) != 0; }
  bool archive() const { return (b[11] & 0x80) != 0; }
  // Logical extent number: S2 x 32 + EX.
  int extent() const { return (b[14] & 0x3F) * 32 + (b[12] & 0x1F); }
  int s1() const { return b[13]; }
  int rc() const { return b[15]; }
  int block(int i, const Dpb& d) const {
    return d.wide() ? b[16 + 2 * i] | (b[17 + 2 * i] << 8) : b[16 + i];
  }
};

class CpmFs : public FileSystem {
 public:
  // `from_sector`: the parameter block was read from the first sector (else the usual one).
  CpmFs(const Image& img, const Dpb& d, bool from_sector);

  FsKind kind() const override { return FsKind::Cpm; }
  std::string version_text() const override { return "CP/M 2.2"; }
  std::string root_name() const override { return "CPM"; }
  std::string disk_name() const override { return {}; }
  Location root() const override { return 0; }
  std::vector<Entry> list(Location where) const override;
  Entry complete(const Entry& e) const override;
  ChainWalk walk(const Entry& e) const override;
  bool text_stops_at_eof_mark() const override { return true; }
  std::string place(const Entry& e) const override;
  std::optional<Location> unlisted_catalogue(Location parent, std::string_view name) const override;
  std::vector<Problem> check() const override;
  Space space() const override;
  std::vector<std::pair<std::string, std::string>> layout_facts() const override;

  const Dpb& dpb() const { return dpb_; }

 private:
  // A file: all extents of one user and name, in extent order.
  struct File {
    int user = 0;
    std::string name;             // name8 + type3, attribute bits cleared
    std::vector<int> entries;     // directory entry numbers, by extent
    std::vector<int> duplicates;  // entries repeating an extent already held
    std::int64_t records = 0;     // records the last extent says the file holds
    std::int64_t bytes = 0;       // exact length
    bool missing = false;         // an extent before the last one is absent
  };

  DirEntry entry(int i) const;
  int entry_count() const;
  void read_directory();
  Entry make_entry(const File& f, int index) const;
  static Entry make_user_row(int user, std::int64_t kb);
  // Records the directory entry `i` of file `f` maps (at most records_per_entry()).
  std::int64_t records_of(const File& f, size_t pos) const;

  Dpb dpb_;
  bool from_sector_;
  std::vector<File> files_;  // in the order of their first entry in the directory
  std::vector<int> odd_;     // used-looking entries with a user byte past 15
};

}  // namespace odi::cpm
