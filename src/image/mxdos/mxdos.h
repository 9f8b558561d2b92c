// MX_DOS disks through the file-system interface: the catalogue sectors, FAT chains and records
// of image/record.h, chain.h and catalogue.h. Disks nobody recognises and blank disks are read
// the same way, as they always were: their lists simply come out empty or odd.
#pragma once

#include "image/fs.h"

namespace odi::mxdos {

class MxDosFs : public FileSystem {
 public:
  MxDosFs(const Image& img, FsKind kind) : FileSystem(img), kind_(kind) {}

  FsKind kind() const override { return kind_; }
  std::string version_text() const override;
  std::string root_name() const override;
  Location root() const override { return kRootOffset; }
  std::vector<Entry> list(Location where) const override;
  ChainWalk walk(const Entry& e) const override;
  void walk_into(const Entry& e, ChainWalk& w) const override;
  std::string place(const Entry& e) const override;
  std::vector<Problem> check() const override;
  Space space() const override;

 private:
  FsKind kind_;
};

// The row of a record as this file system lists it.
Entry entry_of(const Record& rec);

// Is record `row` of the catalogue at `pos` the record a sub-catalogue keeps of itself in its
// last slot (real disks do this)? Then it is no loop, it simply must not be followed.
bool is_self_record(const Record& rec, int row, std::int64_t pos);

// A root catalogue that reads as one: records with the marker, each a file or a catalogue.
bool root_reads_as_catalogue(const Image& img);

// A FAT as MX_DOS formats it: the system cells 0..11 53h 53h and the root's cell 12 EBh 00h. An
// empty data disk (no signature, nothing in its root yet) is known by this alone.
bool fat_marks_root(const Image& img);

}  // namespace odi::mxdos
