#include "image/cpm/cpm.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "image/catalogue.h"

namespace odi::cpm {

namespace {

int word(std::string_view b, size_t at) {
  return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint16_t kb_of(std::int64_t bytes) {
  return static_cast<std::uint16_t>(std::min<std::int64_t>((bytes + 1023) / 1024, 0xFFFF));
}

// The text CP/M 2.2 has in place of a date: it keeps none.
constexpr std::string_view kNoDate = "--.--.--";

}  // namespace

int Dpb::dir_blocks() const {
  return std::countl_one(static_cast<std::uint16_t>((al0 << 8) | al1));
}

bool consistent(const Dpb& d, std::int64_t image_size) {
  if (d.bsh < 3 || d.bsh > 7 || d.blm != (1 << d.bsh) - 1) return false;
  if (d.spt < 1 || d.dsm < 1 || d.drm < 0 || d.off < 0) return false;
  // CP/M's rule for EXM: the logical extents of 16 KB one entry's block pointers cover, less one.
  const int exm_shift = d.wide() ? d.bsh - 4 : d.bsh - 3;
  if (exm_shift < 0 || d.exm != (1 << exm_shift) - 1) return false;
  // The directory's blocks are the leading one bits of AL0 AL1, with no gap.
  const auto al = static_cast<std::uint16_t>((d.al0 << 8) | d.al1);
  const int n = d.dir_blocks();
  if (n == 0 || std::popcount(al) != n || n > d.dsm) return false;
  if (std::int64_t{d.drm} + 1 > n * d.block_size() / kEntrySize) return false;
  const std::int64_t end = d.data_offset() + (std::int64_t{d.dsm} + 1) * d.block_size();
  return end <= std::max(image_size, kImageSize);
}

std::optional<Dpb> read_dpb(const Image& img) {
  const auto b = img.read(kDpbOffset, 15);
  if (!b) return std::nullopt;
  Dpb d;
  d.spt = word(*b, 0);
  d.bsh = static_cast<unsigned char>((*b)[2]);
  d.blm = static_cast<unsigned char>((*b)[3]);
  d.exm = static_cast<unsigned char>((*b)[4]);
  d.dsm = word(*b, 5);
  d.drm = word(*b, 7);
  d.al0 = static_cast<unsigned char>((*b)[9]);
  d.al1 = static_cast<unsigned char>((*b)[10]);
  d.cks = word(*b, 11);
  d.off = word(*b, 13);
  if (!consistent(d, img.size())) return std::nullopt;
  return d;
}

bool directory_validates(const Image& img, const Dpb& d) {
  const auto dir = img.read(d.block_offset(0), (std::int64_t{d.drm} + 1) * kEntrySize);
  if (!dir) return false;
  int used = 0;
  for (size_t at = 0; at < dir->size(); at += kEntrySize) {
    DirEntry e;
    std::copy_n(dir->begin() + static_cast<std::ptrdiff_t>(at), kEntrySize, e.b.begin());
    if (e.user() == kUnused) continue;
    if (!e.used() || e.rc() > 128 || (e.b[12] & 0xE0) != 0) return false;
    for (int i = 1; i <= 11; ++i) {
      const int c = e.b[i] & 0x7F;
      if (c < 0x20 || c == 0x7F) return false;
    }
    for (int i = 0; i < d.pointers(); ++i)
      if (e.block(i, d) > d.dsm) return false;
    ++used;
  }
  return used > 0;
}

std::string DirEntry::name8() const {
  std::string s(8, ' ');
  for (size_t i = 0; i < 8; ++i) s[i] = static_cast<char>(b[1 + i] & 0x7F);
  return s;
}

std::string DirEntry::type3() const {
  std::string s(3, ' ');
  for (size_t i = 0; i < 3; ++i) s[i] = static_cast<char>(b[9 + i] & 0x7F);
  return s;
}

CpmFs::CpmFs(const Image& img, const Dpb& d, bool from_sector)
    : FileSystem(img), dpb_(d), from_sector_(from_sector) {
  read_directory();
}

int CpmFs::entry_count() const {
  return dpb_.drm + 1;
}

DirEntry CpmFs::entry(int i) const {
  DirEntry e;
  e.b.fill(kUnused);  // an entry the image cannot hold reads as unused
  const std::string_view s =
      image().head(dpb_.block_offset(0) + std::int64_t{i} * kEntrySize, kEntrySize);
  // Past the end of a short image the view is empty and may point nowhere: nothing to copy.
  if (!s.empty()) std::memcpy(e.b.data(), s.data(), std::min(e.b.size(), s.size()));
  return e;
}

void CpmFs::read_directory() {
  // A file is known by its user byte and its 11 name bytes without attribute bits; the key holds
  // them as they stand, so that looking one up makes no strings (the directory is read again
  // after every file a put writes).
  std::map<std::array<unsigned char, 12>, size_t> by_name;
  std::vector<std::vector<std::pair<int, int>>> extents;  // per file: (extent, entry number)
  for (int i = 0; i < entry_count(); ++i) {
    const DirEntry e = entry(i);
    if (e.user() == kUnused) continue;
    if (!e.used()) {
      odd_.push_back(i);
      continue;
    }
    std::array<unsigned char, 12> key{};
    key[0] = e.b[0];
    for (size_t k = 1; k < key.size(); ++k) key[k] = e.b[k] & 0x7F;
    auto [it, fresh] = by_name.emplace(key, files_.size());
    if (fresh) {
      files_.push_back({e.user(), e.name8() + e.type3(), {}, {}, 0, 0, false});
      extents.emplace_back();
    }
    extents[it->second].emplace_back(e.extent(), i);
  }
  const int per_entry = dpb_.exm + 1;
  for (size_t f = 0; f < files_.size(); ++f) {
    File& file = files_[f];
    auto& ex = extents[f];
    // The pairs differ in their entry numbers, so any sort gives the one order; a stable sort
    // would ask for a buffer for every file of every reading.
    std::sort(ex.begin(), ex.end());
    int expect = 0;  // the next entry number (extent / (EXM + 1)) a whole file has
    for (const auto& [extent, i] : ex) {
      const int number = extent / per_entry;
      if (number < expect) {
        file.duplicates.push_back(i);
        continue;
      }
      if (number > expect) file.missing = true;
      file.entries.push_back(i);
      expect = number + 1;
    }
    const DirEntry last = entry(file.entries.back());
    file.records = std::int64_t{last.extent()} * 128 + std::min(last.rc(), 128);
    file.bytes = file.records * 128;
    // cpmtools keeps the bytes used in the last record in S1; CP/M itself leaves it 0.
    if (file.records > 0 && last.s1() > 0 && last.s1() < 128) file.bytes -= 128 - last.s1();
  }
}

std::int64_t CpmFs::records_of(const File& f, size_t pos) const {
  const DirEntry e = entry(f.entries[pos]);
  const std::int64_t first = std::int64_t{e.extent() / (dpb_.exm + 1)} * dpb_.records_per_entry();
  return std::clamp<std::int64_t>(f.records - first, 0, dpb_.records_per_entry());
}

Entry CpmFs::make_entry(const File& f, int index) const {
  Entry e;
  e.date = kNoDate;
  e.index = index;
  e.user = f.user;
  e.bytes = f.bytes;
  const DirEntry first = entry(f.entries.front());
  if (first.read_only()) e.attributes += 'R';
  if (first.system()) e.attributes += 'S';
  if (first.archive()) e.attributes += 'A';
  Record& r = e.rec;
  r.b.fill(0);
  r.b[0] = r.b[1] = r.b[2] = 0xD3;
  std::copy_n(f.name.begin(), 8, r.b.begin() + 3);
  r.b[11] = ' ';
  std::copy_n(f.name.begin() + 8, 3, r.b.begin() + 12);
  r.b[0x0F] = 0x8C;
  const std::uint16_t kb = kb_of(f.bytes);
  r.b[0x15] = static_cast<unsigned char>(kb & 0xFF);
  r.b[0x16] = static_cast<unsigned char>(kb >> 8);
  // As the rks form loads it: at 0100h, where CP/M runs a program.
  const auto end = static_cast<std::uint16_t>(0x0100 + f.bytes - 1);
  r.b[0x18] = 0x00;
  r.b[0x19] = 0x01;
  r.b[0x1A] = static_cast<unsigned char>(end & 0xFF);
  r.b[0x1B] = static_cast<unsigned char>(end >> 8);
  return e;
}

Entry CpmFs::complete(const Entry& e) const {
  Entry full = e;
  if (!e.is_file()) return full;
  const std::uint16_t sum = monitor_checksum(body(e));
  full.rec.b[0x1C] = static_cast<unsigned char>(sum & 0xFF);
  full.rec.b[0x1D] = static_cast<unsigned char>(sum >> 8);
  return full;
}

Entry CpmFs::make_user_row(int user, std::int64_t kb) {
  Entry e;
  e.date = kNoDate;
  e.user = user;
  e.inner = user;
  Record& r = e.rec;
  r.b.fill(' ');
  r.b[0] = r.b[1] = r.b[2] = 0xD3;
  const std::string name = "USER " + std::to_string(user);
  std::copy(name.begin(), name.end(), r.b.begin() + 3);
  r.b[0x0F] = 0x8B;
  std::fill(r.b.begin() + 0x10, r.b.end(), 0);
  const auto size = static_cast<std::uint16_t>(std::min<std::int64_t>(kb, 0xFFFF));
  r.b[0x15] = static_cast<unsigned char>(size & 0xFF);
  r.b[0x16] = static_cast<unsigned char>(size >> 8);
  r.b[0x17] = 0xFF;
  return e;
}

std::vector<Entry> CpmFs::list(Location where) const {
  std::vector<Entry> rows;
  if (where < 0 || where > kMaxUser) return rows;
  std::array<std::int64_t, kMaxUser + 1> kb{};
  std::array<bool, kMaxUser + 1> has{};
  for (size_t i = 0; i < files_.size(); ++i) {
    const File& f = files_[i];
    const auto u = static_cast<size_t>(f.user);
    has[u] = true;
    kb[u] += kb_of(f.bytes);
    if (f.user == where) rows.push_back(make_entry(f, static_cast<int>(i)));
  }
  // User 0 is the root; every other user area with files is a catalogue row of the root.
  if (where == 0)
    for (int u = 1; u <= kMaxUser; ++u)
      if (has[static_cast<size_t>(u)]) rows.push_back(make_user_row(u, kb[static_cast<size_t>(u)]));
  return rows;
}

ChainWalk CpmFs::walk(const Entry& e) const {
  ChainWalk w;
  if (!e.is_file() || e.index < 0 || e.index >= static_cast<int>(files_.size())) {
    w.ERR_COP = kCopyBadFirst;
    return w;
  }
  const File& f = files_[static_cast<size_t>(e.index)];
  w.n = kb_of(f.bytes);
  std::int64_t left = f.bytes;
  for (size_t pos = 0; pos < f.entries.size() && left > 0; ++pos) {
    const DirEntry d = entry(f.entries[pos]);
    const std::int64_t first =
        std::int64_t{d.extent() / (dpb_.exm + 1)} * dpb_.records_per_entry() * 128;
    if (first != f.bytes - left) {  // an extent before this one is missing
      w.ERR_COP = kCopyBadFat;
      return w;
    }
    std::int64_t here = std::min(left, records_of(f, pos) * 128);
    left -= here;
    for (int i = 0; i < dpb_.pointers() && here > 0; ++i) {
      const int block = d.block(i, dpb_);
      if (block == 0 || block > dpb_.dsm) {  // fewer blocks than the record count needs
        w.ERR_COP = kCopyBadFat;
        w.bad_sec = block;
        return w;
      }
      const auto take = static_cast<std::int32_t>(std::min(here, dpb_.block_size()));
      if (!image().read(dpb_.block_offset(block), take)) {
        w.ERR_COP = kCopyShort;
        return w;
      }
      w.pieces.push_back({dpb_.block_offset(block), take, block});
      w.last_len = take;
      here -= take;
    }
    if (here > 0) {
      w.ERR_COP = kCopyBadFat;
      return w;
    }
  }
  if (left > 0) w.ERR_COP = kCopyBadFat;
  return w;
}

std::string CpmFs::place(const Entry& e) const {
  if (!e.is_file() || e.index < 0 || e.index >= static_cast<int>(files_.size())) return {};
  const File& f = files_[static_cast<size_t>(e.index)];
  return "B" + std::to_string(entry(f.entries.front()).block(0, dpb_));
}

std::optional<Location> CpmFs::unlisted_catalogue(Location parent, std::string_view name) const {
  if (parent != 0 || name.substr(0, 5) != "USER ") return std::nullopt;
  const std::string_view n = name.substr(5);
  if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const int user = std::stoi(std::string(n));
  if (user < 1 || user > kMaxUser) return std::nullopt;
  return user;
}

std::vector<std::pair<std::string, std::string>> CpmFs::layout_facts() const {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "SPT %d, BSH %d, BLM %d, EXM %d, DSM %d, DRM %d, AL0 %02Xh, AL1 %02Xh, CKS %d, "
                "OFF %d",
                dpb_.spt, dpb_.bsh, dpb_.blm, dpb_.exm, dpb_.dsm, dpb_.drm, dpb_.al0, dpb_.al1,
                dpb_.cks, dpb_.off);
  return {
      {"parameters", buf},
      {"parameters from", from_sector_ ? "the parameter block in the first sector"
                                       : "the usual layout (the disk holds no parameter block)"},
      {"block size", std::to_string(dpb_.block_size())},
      {"directory", std::to_string(dpb_.drm + 1) + " entries at " + [&] {
         std::snprintf(buf, sizeof buf, "%05llXh",
                       static_cast<unsigned long long>(dpb_.block_offset(0)));
         return std::string(buf);
       }()}};
}

FileSystem::Space CpmFs::space() const {
  Space s;
  s.unit = dpb_.block_size();
  std::vector<bool> taken(static_cast<size_t>(dpb_.dsm) + 1, false);
  for (int b = 0; b < dpb_.dir_blocks(); ++b) taken[static_cast<size_t>(b)] = true;
  s.entries = entry_count();
  for (int i = 0; i < entry_count(); ++i) {
    const DirEntry e = entry(i);
    // As the writer counts: any entry not E5h may hold blocks.
    if (e.user() == kUnused) {
      ++s.free_entries;
      continue;
    }
    for (int p = 0; p < dpb_.pointers(); ++p)
      if (const int b = e.block(p, dpb_); b <= dpb_.dsm) taken[static_cast<size_t>(b)] = true;
  }
  s.total = dpb_.dsm + 1 - dpb_.dir_blocks();
  s.free = std::count(taken.begin(), taken.end(), false);
  return s;
}

std::vector<Problem> CpmFs::check() const {
  std::vector<Problem> out;
  auto add = [&](std::string kind, std::string path, std::string message) {
    out.push_back({std::move(kind), std::move(path), std::move(message), false});
  };
  if (image().size() < kImageSize)
    add("short_image", {},
        "the image holds " + std::to_string(image().size()) + " bytes, not " +
            std::to_string(kImageSize));
  for (int i : odd_)
    add("bad_entry", {},
        "directory entry " + std::to_string(i) + " has user byte " +
            std::to_string(entry(i).user()) + ", which CP/M 2.2 does not use");

  // The owner of each block: 0 the directory, 1 + n file n, -1 none.
  std::vector<int> owner(static_cast<size_t>(dpb_.dsm) + 1, -1);
  std::vector<std::string> owners{"the directory"};
  for (int b = 0; b < dpb_.dir_blocks() && b <= dpb_.dsm; ++b) owner[static_cast<size_t>(b)] = 0;
  for (size_t fi = 0; fi < files_.size(); ++fi) {
    const File& f = files_[fi];
    const Entry e = make_entry(f, static_cast<int>(fi));
    const std::string path =
        (f.user ? "USER " + std::to_string(f.user) + "/" : std::string()) + entry_name(e.rec);
    owners.push_back(path);
    if (f.missing) add("missing_extent", path, "an extent before the last one is missing");
    for (int i : f.duplicates)
      add("duplicate_extent", path,
          "directory entry " + std::to_string(i) + " repeats an extent the file already has");
    for (size_t pos = 0; pos < f.entries.size(); ++pos) {
      const DirEntry d = entry(f.entries[pos]);
      const bool last = pos + 1 == f.entries.size();
      const std::int64_t records = records_of(f, pos);
      const std::int64_t needed = (records * 128 + dpb_.block_size() - 1) / dpb_.block_size();
      int held = 0;
      for (int i = 0; i < dpb_.pointers(); ++i) {
        const int b = d.block(i, dpb_);
        if (b == 0) continue;
        ++held;
        if (b > dpb_.dsm) {
          add("bad_block", path,
              "block " + std::to_string(b) + " lies past the last block " +
                  std::to_string(dpb_.dsm));
          continue;
        }
        int& o = owner[static_cast<size_t>(b)];
        if (o >= 0)
          add("shared_block", path,
              "block " + std::to_string(b) + " also belongs to " + owners[static_cast<size_t>(o)]);
        else
          o = static_cast<int>(fi) + 1;
      }
      const std::string where = "extent " + std::to_string(d.extent()) + ": ";
      if (d.rc() > 128)
        add("record_count", path,
            where + "record count " + std::to_string(d.rc()) + " is over 128");
      else if (!last && (d.rc() != 128 || d.extent() % (dpb_.exm + 1) != dpb_.exm))
        add("record_count", path, where + "an extent before the last one is not full");
      else if (held != needed)
        add("record_count", path,
            where + std::to_string(records) + " records need " + std::to_string(needed) +
                " blocks; the entry holds " + std::to_string(held));
      if (last && (d.s1() > 128 || (d.s1() != 0 && records == 0)))
        add("last_record_bytes", path,
            where + "S1 says " + std::to_string(d.s1()) + " bytes of the last record are used");
    }
  }
  return out;
}

}  // namespace odi::cpm
