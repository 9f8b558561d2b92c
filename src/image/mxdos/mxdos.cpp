#include "image/mxdos/mxdos.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdio>
#include <vector>

#include "image/catalogue.h"
#include "image/mxdos/write.h"
#include "state/texts.h"

namespace odi::mxdos {

namespace {

// Sector addresses as a person reads them: track/sector, the order the record stores them in
// reversed, like the list's T/S column.
std::string ts(int index) {
  return std::to_string(index / 10) + "/" + std::to_string(index % 10 + 1);
}
std::string ts(int trk, int sec) {
  return std::to_string(trk) + "/" + std::to_string(sec);
}
std::string hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

// What is wrong with an MX_DOS disk, entry by entry. Looked at: the size of the image and its
// signature; every listed entry's chain (first address, links, loops, an end before or after the
// size, the end of the image, the size against the addresses); each file's body against its
// stored checksum word; sectors that two owners claim (chains, catalogue sectors, the DOS and FAT
// area); catalogues that lead back onto their own path or lie deeper than the window can go;
// lists that would run on past the 32nd record.
class Checker {
 public:
  explicit Checker(const Image& img) : img_(img) {}

  std::vector<Problem> run(FsKind kind) {
    if (img_.size() < kImageSize)
      add("short_image", {},
          "the image holds " + std::to_string(img_.size()) + " bytes, not " +
              std::to_string(kImageSize));
    if (kind == FsKind::Blank) return {};
    if (VER_DOS(img_) == texts::no_version()) {
      // Track 0 of a data disk holds no system; its catalogue still reads. Only a disk whose
      // root reads as no catalogue at all lacks something.
      if (kind == FsKind::MxDos)
        problems_.push_back(
            {"data_disk", {}, "no \"Dos_MX\" signature: a data disk (no system on track 0)", true});
      else
        add("no_signature", {}, "no \"Dos_MX\" signature in the first 288 bytes");
    }
    for (int k = 0; k < 12; ++k) claim(k, {}, "the DOS and FAT area");
    if (img_.read(kRootOffset, kSectorSize)) claim(12, {}, "the root catalogue");
    CatalogueStack root;
    root.reset_root(disk_name(img_));
    catalogue(root, {});
    return std::move(problems_);
  }

 private:
  void add(std::string kind, const std::vector<std::string>& path, std::string message) {
    problems_.push_back({std::move(kind), join_path(path), std::move(message), false});
  }

  // Sector `k` belongs to `who`; a second owner is a cross-link.
  // Owners are kept once each, in the order they claim: a file claims all its sectors in a row.
  void claim(int k, const std::vector<std::string>& path, const std::string& who) {
    assert(k >= 0 && k < kSectorCount);  // chains and catalogue addresses are sectors (KON_FAT)
    if (k < 0 || k >= kSectorCount) return;
    int& owner = owner_[static_cast<size_t>(k)];
    if (owner < 0) {
      if (owners_.empty() || owners_.back() != who) owners_.push_back(who);
      owner = static_cast<int>(owners_.size()) - 1;
    } else if (owners_[static_cast<size_t>(owner)] != who) {
      add("shared_sector", path,
          "sector " + ts(k) + " also belongs to " + owners_[static_cast<size_t>(owner)]);
    }
  }

  void catalogue(const CatalogueStack& stack, const std::vector<std::string>& path) {
    const std::int64_t pos = stack.KAT_POS[static_cast<size_t>(stack.KAT_LEV)];
    const std::vector<Record> recs = read_catalogue(img_, pos);
    if (recs.size() == static_cast<size_t>(kMaxRecords)) {
      const auto next = img_.read(pos + kSectorSize, 32);
      if (next && Record::from(*next).has_marker())
        add("records_past_32", path,
            "all 32 records hold the marker and the list runs on into the next sector");
    }
    std::vector<std::string> sub = path;
    sub.emplace_back();
    for (size_t i = 0; i < recs.size(); ++i) {
      const Record& rec = recs[i];
      const int row = static_cast<int>(i);
      sub.back() = entry_name(rec);
      if (rec.is_file())
        file(rec, sub);
      else if (rec.is_catalogue())
        sub_catalogue(stack, rec, row, pos, sub);
    }
  }

  void sub_catalogue(const CatalogueStack& stack, const Record& rec, int row, std::int64_t pos,
                     const std::vector<std::string>& path) {
    const int sec = rec.first_sector();
    const int trk = rec.first_track();
    if (!KON_FAT(sec, trk) || sec == kAddressEnd) {
      add("bad_first_address", path, "catalogue address " + ts(trk, sec) + " is not a sector");
      return;
    }
    if (is_self_record(rec, row, pos)) return;  // the record a catalogue keeps of itself
    const std::int64_t off = sector_offset(trk, sec);
    if (stack.on_path(off)) {
      add("catalogue_loop", path,
          "leads back to the catalogue at " + ts(trk, sec) + ", which is already on its path");
      return;
    }
    if (!img_.read(off, kSectorSize)) {
      add("past_end", path, "catalogue sector " + ts(trk, sec) + " lies past the end of the image");
      return;
    }
    CatalogueStack inner = stack;
    if (!inner.enter(rec, row)) {
      add("too_deep", path, "catalogue lies deeper than 10 levels; it cannot be opened");
      return;
    }
    claim(10 * trk + sec - 1, path, "catalogue " + join_path(path));
    catalogue(inner, path);
  }

  void file(const Record& rec, const std::vector<std::string>& path) {
    const ChainWalk w = walk_chain(img_, rec);
    const std::string who = join_path(path);
    for (const Piece& p : w.pieces) claim(p.sector_index, path, who);

    const size_t before = problems_.size();
    const int last = w.pieces.empty() ? -1 : w.pieces.back().sector_index;
    switch (w.ERR_COP) {
      case kCopyBadFirst:
        if (rec.first_sector() == kAddressEnd)
          add("bad_first_address", path,
              "first-sector address is AAh, an end mark, while the size is " +
                  std::to_string(rec.size_kb()) + "K");
        else
          add("bad_first_address", path,
              "first-sector address " + ts(rec.first_track(), rec.first_sector()) +
                  " is not a sector");
        break;
      case kCopyBadFat:
        if (w.loop) {
          add("chain_loop", path,
              "the FAT cell of sector " + ts(last) +
                  " leads back to a sector the chain already holds");
        } else if (w.bad_sec == 0 && w.bad_trk == 0) {
          add("free_sector", path,
              "sector " + ts(last) + " of the chain is marked free in the FAT");
        } else {
          add("bad_link", path,
              "the FAT cell of sector " + ts(last) + " links to " + ts(w.bad_trk, w.bad_sec) +
                  ", which is not a sector");
        }
        break;
      case kCopyShort:
        add("past_end", path, "the chain runs past the end of the image");
        break;
      default:
        if (w.ended_early)
          add("chain_short", path,
              "the chain ends after " + std::to_string(w.pieces.size()) +
                  " sectors; the size says " + std::to_string(w.n) + "K");
        if (w.longer)
          add("chain_long", path,
              "the chain goes on after its " + std::to_string(w.n) +
                  "th sector, as far as the size says");
        break;
    }

    // The addresses say how many bytes the body holds, the size how many sectors carry them.
    const std::int32_t len = std::int32_t{rec.end()} - std::int32_t{rec.start()} + 1;
    const bool empty = w.n == 0 && ((rec.end() + 1) & 0xFFFF) == rec.start();
    if (!empty) {
      if (len <= 0)
        add("size_mismatch", path,
            "end address " + hex4(rec.end()) + " lies below start address " + hex4(rec.start()));
      else if ((len + 1023) / 1024 != w.n)
        add("size_mismatch", path,
            "addresses " + hex4(rec.start()) + "-" + hex4(rec.end()) + " need " +
                std::to_string((len + 1023) / 1024) + "K; the size says " + std::to_string(w.n) +
                "K");
    }

    // The checksum means something only for a body read whole.
    if (problems_.size() != before || w.ERR_COP != kCopyOk) return;
    const std::uint16_t sum = monitor_checksum(chain_body(img_, w));
    if (sum != rec.checksum())
      add("checksum", path,
          "checksum " + hex4(sum) + " of the body differs from the stored " + hex4(rec.checksum()));
  }

  const Image& img_;
  std::array<int, kSectorCount> owner_ = filled(-1);  // index into owners_, or -1
  std::vector<std::string> owners_;
  static std::array<int, kSectorCount> filled(int v) {
    std::array<int, kSectorCount> a;
    a.fill(v);
    return a;
  }
  std::vector<Problem> problems_;
};

}  // namespace

bool is_self_record(const Record& rec, int row, std::int64_t pos) {
  return row == kMaxRecords - 1 && rec.is_catalogue() &&
         sector_offset(rec.first_track(), rec.first_sector()) == pos;
}

bool root_reads_as_catalogue(const Image& img) {
  const std::vector<Record> recs = read_catalogue(img, kRootOffset);
  return !recs.empty() && std::all_of(recs.begin(), recs.end(), [](const Record& r) {
    return r.is_file() || r.is_catalogue();
  });
}

bool fat_marks_root(const Image& img) {
  const auto cells = img.read(kFatOffset, 26);
  if (!cells) return false;
  const std::string_view system = cells->substr(0, 24);
  return std::all_of(system.begin(), system.end(), [](char c) { return c == '\x53'; }) &&
         cells->substr(24) == std::string_view("\xEB\0", 2);
}

std::string MxDosFs::version_text() const {
  return kind_ == FsKind::Blank ? texts::blank_disk() : VER_DOS(image());
}

std::string MxDosFs::root_name() const {
  // A blank disk's name field is filler, not a name.
  return kind_ == FsKind::Blank ? std::string() : odi::disk_name(image());
}

Entry entry_of(const Record& rec) {
  Entry e;
  e.rec = rec;
  e.inner = sector_offset(rec.first_track(), rec.first_sector());
  // An empty file has no sector, and its end address one below its start: from address 0 that
  // is FFFFh, the same addresses as a body of 64 KB. The chain's size of 0 tells them apart.
  if (rec.is_file())
    e.bytes = rec.size_kb() == 0 ? 0 : std::max<std::int32_t>(FIL_PARAM(rec).LEN_ADR + 1, 0);
  if (rec.is_file() || rec.is_catalogue()) e.date = FIL_DAT(rec, {});
  return e;
}

std::vector<Entry> MxDosFs::list(Location where) const {
  const std::vector<Record> recs = read_catalogue(image(), where);
  std::vector<Entry> rows;
  rows.reserve(recs.size());
  for (const Record& r : recs) rows.push_back(entry_of(r));
  return rows;
}

ChainWalk MxDosFs::walk(const Entry& e) const {
  return walk_chain(image(), e.rec);
}

void MxDosFs::walk_into(const Entry& e, ChainWalk& w) const {
  walk_chain(image(), e.rec, w);
}

std::string MxDosFs::place(const Entry& e) const {
  return ts(e.rec.first_track(), e.rec.first_sector());
}

FileSystem::Space MxDosFs::space() const {
  Space s;
  s.unit = kSectorSize;
  s.total = kSectorCount - kFirstUser;
  s.free = free_sectors(image());
  s.entries = kMaxRecords;
  s.free_entries = kMaxRecords - static_cast<std::int64_t>(list(root()).size());
  return s;
}

std::vector<Problem> MxDosFs::check() const {
  return Checker(image()).run(kind_);
}

}  // namespace odi::mxdos
