#include "image/cpm/write.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "image/cpm/cpm.h"
#include "image/fs.h"
#include "image/record.h"

namespace odi::cpm {
namespace {

constexpr int kNameBytes = 11;      // name 8, type 3
constexpr int kRecord = 128;        // CP/M counts files in records of 128 bytes
constexpr unsigned char kTail = 0;  // the rest of a file's last block, as cpmtools leaves it
constexpr unsigned char kJump = 0xC3;
constexpr std::int64_t kHeadEnd = kDpbOffset + 15;  // jump, zeros, the parameter block
// Bytes a name cannot hold: the CCP's and PIP's delimiters and wildcards, which cpmcp refuses
// too ("$$$.SUB", "RAM2+.COM", "A/B" and inner blanks are names CP/M disks hold).
constexpr std::string_view kForbidden = "<>.,;:=?*[]";

WriteResult refused(std::string m) {
  return {kRefused, std::move(m), -1};
}

void set_word(std::string& s, std::int64_t at, int v) {
  s[static_cast<size_t>(at)] = static_cast<char>(v & 0xFF);
  s[static_cast<size_t>(at) + 1] = static_cast<char>((v >> 8) & 0xFF);
}

std::string hex2(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// A name for messages: NAME.TYP (the bytes are 7-bit once a name passed name_bytes).
std::string shown(std::string_view key) {
  std::string s(trim_spaces(key.substr(0, 8)));
  const std::string_view type = trim_spaces(key.substr(8));
  if (!type.empty()) s += "." + std::string(type);
  return s;
}

std::string area(int user) {
  return user == 0 ? std::string("the root (user 0)") : "USER " + std::to_string(user);
}

// The 11 name bytes of a listed file, as the directory holds them without attribute bits.
std::string key_of(const Entry& e) {
  std::string k(reinterpret_cast<const char*>(e.rec.b.data()) + 3, 8);
  k.append(reinterpret_cast<const char*>(e.rec.b.data()) + 12, 3);
  return k;
}

// The disk being changed, in place: a refusal found half way puts every byte back (ImageChange).
// The image is 819200 bytes and the parameter block a consistent one, so the directory and every
// block up to DSM lie inside it.
class Disk {
 public:
  Disk(std::string& bytes, const Dpb& d) : c_(bytes), d_(d) {}
  void keep() { c_.keep(); }

  int entry_count() const { return d_.drm + 1; }
  DirEntry entry(int i) const {
    DirEntry e;
    std::memcpy(e.b.data(), c_.bytes().data() + entry_at(i), e.b.size());
    return e;
  }
  void put(int i, const DirEntry& e) {
    c_.write(entry_at(i), {reinterpret_cast<const char*>(e.b.data()), e.b.size()});
  }
  // As CP/M erases: E5h in the user byte, the rest of the entry left as it was.
  void erase(int i) { c_.fill(entry_at(i), 1, static_cast<char>(kUnused)); }

  // The entries of one file: its user, its 11 name bytes with the attribute bits cleared (how
  // CpmFs groups extents into files).
  std::vector<int> file_entries(int user, std::string_view key) const {
    std::vector<int> out;
    for (int i = 0; i < entry_count(); ++i) {
      const DirEntry e = entry(i);
      if (e.user() == user && e.name8() + e.type3() == key) out.push_back(i);
    }
    return out;
  }
  std::vector<int> user_entries(int user) const {
    std::vector<int> out;
    for (int i = 0; i < entry_count(); ++i)
      if (entry(i).user() == user) out.push_back(i);
    return out;
  }
  std::vector<int> free_entries() const {
    std::vector<int> out;
    for (int i = 0; i < entry_count(); ++i)
      if (entry(i).user() == kUnused) out.push_back(i);
    return out;
  }
  // Blocks neither the directory nor any entry in use holds, lowest first. Every entry but an
  // E5h one counts, as the BDOS counts them when it logs a disk in: an entry with a user byte
  // past 15 keeps its blocks.
  std::vector<int> free_blocks() const {
    std::vector<bool> taken(static_cast<size_t>(d_.dsm) + 1, false);
    for (int b = 0; b < d_.dir_blocks(); ++b) taken[static_cast<size_t>(b)] = true;
    for (int i = 0; i < entry_count(); ++i) {
      const DirEntry e = entry(i);
      if (e.user() == kUnused) continue;
      for (int p = 0; p < d_.pointers(); ++p)
        if (const int b = e.block(p, d_); b <= d_.dsm) taken[static_cast<size_t>(b)] = true;
    }
    std::vector<int> out;
    for (int b = 0; b <= d_.dsm; ++b)
      if (!taken[static_cast<size_t>(b)]) out.push_back(b);
    return out;
  }
  // `part` from the start of `block`; the rest of the block holds the tail filler.
  void write_block(int block, std::string_view part) {
    const auto at = static_cast<size_t>(d_.block_offset(block));
    c_.write(at, part);
    c_.fill(at + part.size(), static_cast<size_t>(d_.block_size()) - part.size(),
            static_cast<char>(kTail));
  }

 private:
  size_t entry_at(int i) const {
    return static_cast<size_t>(d_.block_offset(0) + std::int64_t{i} * kEntrySize);
  }
  ImageChange c_;
  Dpb d_;
};

// The disk and the user area an operation starts from, read once. Stays where it is made: the
// file system keeps a reference to the image view.
class Target {
 public:
  Target(const std::string& image, const CatalogueStack& where) : img_(image) {
    if (img_.size() != kImageSize) {
      result =
          refused("not a CP/M disk image: " + std::to_string(img_.size()) + " bytes, not 819200");
      return;
    }
    fs_ = open_file_system(img_);
    const auto* cpm = dynamic_cast<const CpmFs*>(fs_.get());
    if (cpm == nullptr) {
      result = refused("no CP/M file system: the disk reads as " +
                       std::string(fs_kind_name(fs_->kind())));
      return;
    }
    dpb = cpm->dpb();
    const int lev = where.KAT_LEV;
    const bool root = lev == 0 && where.KAT_POS[0] == 0;
    const bool in_user =
        lev == 1 && where.KAT_POS[0] == 0 && where.KAT_POS[1] >= 1 && where.KAT_POS[1] <= kMaxUser;
    if (!root && !in_user) {
      result = refused("not a user area of this disk: CP/M keeps users 1..15 as the root's rows");
      return;
    }
    user = root ? 0 : static_cast<int>(where.KAT_POS[1]);
    rows = fs_->list(user);
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  Target(Target&&) = delete;
  Target& operator=(Target&&) = delete;
  ~Target() = default;

  const FileSystem& fs() const { return *fs_; }
  // The row `row`, or a result saying there is none.
  WriteResult row_check(int row) const {
    if (row < 0 || row >= static_cast<int>(rows.size()))
      return {kNoEntry, "no entry at row " + std::to_string(row) + " of " + area(user), -1};
    return {};
  }

  WriteResult result;
  Dpb dpb;
  int user = 0;
  std::vector<Entry> rows;

 private:
  Image img_;
  std::unique_ptr<FileSystem> fs_;
};

// The row of the file `key` of `user` in the listing of the changed disk. The listing shows a
// user's files in the order of their first directory entries (the user areas come after them),
// so the row is the number of other names of the user met before the file's first entry: one pass
// over the directory, instead of reading the whole disk again for each file a put writes.
int row_of(const Disk& d, int user, std::string_view key) {
  std::set<std::array<char, kNameBytes>> before;
  for (int i = 0; i < d.entry_count(); ++i) {
    const DirEntry e = d.entry(i);
    if (e.user() != user) continue;
    std::array<char, kNameBytes> name{};
    for (size_t k = 0; k < name.size(); ++k) name[k] = static_cast<char>(e.b[1 + k] & 0x7F);
    if (std::string_view(name.data(), name.size()) == key) return static_cast<int>(before.size());
    before.insert(name);
  }
  return -1;
}

// One directory entry of a new file: the `part` of the body it maps, which is entry number `k`.
DirEntry extent_entry(const Dpb& p, int user, std::string_view key, std::int64_t k,
                      std::int64_t part) {
  DirEntry e;
  e.b.fill(0);
  e.b[0] = static_cast<unsigned char>(user);
  std::copy(key.begin(), key.end(), e.b.begin() + 1);
  // The logical extent is that of the entry's last record: whole entries end at EXM, RC 80h.
  const std::int64_t records = (part + kRecord - 1) / kRecord;
  const std::int64_t within = records == 0 ? 0 : (records - 1) / 128;
  const std::int64_t x = k * (p.exm + 1) + within;
  e.b[12] = static_cast<unsigned char>(x & 0x1F);
  e.b[14] = static_cast<unsigned char>((x >> 5) & 0x3F);
  e.b[15] = static_cast<unsigned char>(records - within * 128);
  return e;
}

// Pointer `i` of an entry: a word when the disk has more than 256 blocks, else a byte.
void set_block(DirEntry& e, const Dpb& p, size_t i, int block) {
  if (p.wide()) {
    e.b[16 + 2 * i] = static_cast<unsigned char>(block & 0xFF);
    e.b[17 + 2 * i] = static_cast<unsigned char>(block >> 8);
  } else {
    e.b[16 + i] = static_cast<unsigned char>(block);
  }
}

}  // namespace

WriteResult new_disk(std::string& image) {
  std::string out(static_cast<size_t>(kImageSize), static_cast<char>(kUnused));
  std::fill_n(out.begin(), kHeadEnd, '\0');
  out[0] = static_cast<char>(kJump);
  const Dpb& p = kSpecialistDpb;
  set_word(out, kDpbOffset, p.spt);
  out[kDpbOffset + 2] = static_cast<char>(p.bsh);
  out[kDpbOffset + 3] = static_cast<char>(p.blm);
  out[kDpbOffset + 4] = static_cast<char>(p.exm);
  set_word(out, kDpbOffset + 5, p.dsm);
  set_word(out, kDpbOffset + 7, p.drm);
  out[kDpbOffset + 9] = static_cast<char>(p.al0);
  out[kDpbOffset + 10] = static_cast<char>(p.al1);
  set_word(out, kDpbOffset + 11, p.cks);
  set_word(out, kDpbOffset + 13, p.off);
  image = std::move(out);
  return {};
}

std::optional<std::string> name_bytes(std::string_view name8, std::string_view ext3,
                                      std::string& why) {
  name8 = trim_right(name8);
  ext3 = trim_right(ext3);
  if (name8.empty()) {
    why = "empty name";
    return std::nullopt;
  }
  if (name8.size() > 8 || ext3.size() > 3) {
    why = "name too long: at most 8 bytes and a type of 3";
    return std::nullopt;
  }
  if (name8.front() == ' ') {
    why = "a CP/M name cannot start with a blank";
    return std::nullopt;
  }
  for (const char ch : std::string(name8) + std::string(ext3)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      why = "byte " + hex2(c) +
            "h: CP/M names hold 7-bit bytes only (their high bits are attributes): no Cyrillic";
      return std::nullopt;
    }
    // DEL too, which cpmcp would take: a directory is known by printable names where no
    // parameter block says where it is.
    if (c < 0x20 || c == 0x7F) {
      why = "byte " + hex2(c) + "h: a CP/M name holds no control bytes";
      return std::nullopt;
    }
    if (kForbidden.find(ch) != std::string_view::npos) {
      why = std::string("a CP/M name cannot hold '") + ch + "'";
      return std::nullopt;
    }
  }
  std::string key(static_cast<size_t>(kNameBytes), ' ');
  key.replace(0, name8.size(), name8);
  key.replace(8, ext3.size(), ext3);
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  return key;
}

WriteResult CpmWriter::put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                                bool replace) const {
  std::string why;
  const auto key = name_bytes(f.name8, f.ext3, why);
  if (!key) return refused(why);
  const Target t(image, where);
  if (!t.result.ok()) return t.result;
  const Dpb& p = t.dpb;
  Disk d(image, p);
  const std::vector<int> old = d.file_entries(t.user, *key);
  if (!old.empty()) {
    if (!replace) return refused("name taken: " + shown(*key) + " is already in " + area(t.user));
    for (int i : old) d.erase(i);
  }

  const auto len = static_cast<std::int64_t>(f.body.size());
  const std::int64_t per_entry = std::int64_t{p.records_per_entry()} * kRecord;
  const std::int64_t blocks_needed = (len + p.block_size() - 1) / p.block_size();
  const std::int64_t entries_needed = std::max<std::int64_t>(1, (len + per_entry - 1) / per_entry);
  const std::vector<int> entries = d.free_entries();
  const std::vector<int> blocks = d.free_blocks();
  if (static_cast<std::int64_t>(entries.size()) < entries_needed)
    return refused("directory full: " + shown(*key) + " needs " + std::to_string(entries_needed) +
                   " directory entries, " + std::to_string(entries.size()) + " are free");
  if (static_cast<std::int64_t>(blocks.size()) < blocks_needed)
    return refused("no room: " + shown(*key) + " needs " + std::to_string(blocks_needed) +
                   " blocks of " + std::to_string(p.block_size()) + " bytes, " +
                   std::to_string(blocks.size()) + " are free");

  const std::string_view body(f.body);
  size_t next = 0;
  for (std::int64_t k = 0; k < entries_needed; ++k) {
    const std::string_view part = body.substr(static_cast<size_t>(std::min(len, k * per_entry)),
                                              static_cast<size_t>(per_entry));
    DirEntry e = extent_entry(p, t.user, *key, k, static_cast<std::int64_t>(part.size()));
    // cpmtools keeps the bytes used in the last record in S1 (0: the record is whole), so the
    // exact length survives; CP/M itself ignores the byte.
    if (k + 1 == entries_needed) e.b[13] = static_cast<unsigned char>(len % kRecord);
    for (size_t at = 0, i = 0; at < part.size(); at += static_cast<size_t>(p.block_size()), ++i) {
      const int block = blocks[next++];
      d.write_block(block, part.substr(at, static_cast<size_t>(p.block_size())));
      set_block(e, p, i, block);
    }
    d.put(entries[static_cast<size_t>(k)], e);
  }
  d.keep();
  return {0, {}, row_of(d, t.user, *key)};
}

WriteResult CpmWriter::make_catalogue(std::string& image, const CatalogueStack& where,
                                      std::string_view name8, std::string_view ext3,
                                      std::array<unsigned char, 3> /*date*/) const {
  const Target t(image, where);
  if (!t.result.ok()) return t.result;
  std::string name(trim_spaces(name8));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  if (t.user == 0 && trim_spaces(ext3).empty())
    if (const auto u = t.fs().unlisted_catalogue(0, name)) {
      for (size_t i = 0; i < t.rows.size(); ++i)
        if (t.rows[i].is_catalogue() && t.rows[i].inner == *u) return {0, {}, static_cast<int>(i)};
      return {};  // an area with no files yet: no row shows it until a file goes in
    }
  return refused(
      "CP/M 2.2 keeps no catalogues: the user areas USER 1..USER 15 at the root are the only "
      "ones, and each exists as soon as it holds a file");
}

WriteResult CpmWriter::remove_entry(std::string& image, const CatalogueStack& where, int row,
                                    bool recursive) const {
  const Target t(image, where);
  if (!t.result.ok()) return t.result;
  if (auto r = t.row_check(row); !r.ok()) return r;
  const Entry& e = t.rows[static_cast<size_t>(row)];
  Disk d(image, t.dpb);
  if (e.is_file()) {
    for (int i : d.file_entries(t.user, key_of(e))) d.erase(i);
  } else {
    const int u = static_cast<int>(e.inner);
    if (!recursive) {
      const size_t n = t.fs().list(u).size();
      return refused("user area not empty: " + area(u) + " holds " + std::to_string(n) +
                     (n == 1 ? " file" : " files"));
    }
    for (int i : d.user_entries(u)) d.erase(i);
  }
  d.keep();
  return {};
}

void CpmWriter::stored_name(std::string& name8, std::string& ext3) const {
  for (std::string* s : {&name8, &ext3})
    for (char& c : *s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

WriteResult CpmWriter::rename_entry(std::string& image, const CatalogueStack& where, int row,
                                    std::string_view name8, std::string_view ext3) const {
  std::string why;
  const auto key = name_bytes(name8, ext3, why);
  if (!key) return refused(why);
  const Target t(image, where);
  if (!t.result.ok()) return t.result;
  if (auto r = t.row_check(row); !r.ok()) return r;
  const Entry& e = t.rows[static_cast<size_t>(row)];
  if (!e.is_file())
    return refused("a user area keeps its number: " + area(static_cast<int>(e.inner)) +
                   " cannot be renamed");
  Disk d(image, t.dpb);
  const std::string old = key_of(e);
  if (*key != old && !d.file_entries(t.user, *key).empty())
    return refused("name taken: " + shown(*key) + " is already in " + area(t.user));
  for (int i : d.file_entries(t.user, old)) {
    DirEntry x = d.entry(i);
    // The high bits are the attributes (read-only, system, archive in the type): they stay.
    for (size_t j = 0; j < static_cast<size_t>(kNameBytes); ++j)
      x.b[1 + j] =
          static_cast<unsigned char>((x.b[1 + j] & 0x80) | static_cast<unsigned char>((*key)[j]));
    d.put(i, x);
  }
  d.keep();
  return {0, {}, row_of(d, t.user, *key)};
}

std::int64_t CpmWriter::largest_body(const std::string& image, bool replace) const {
  const Target t(image, CatalogueStack{});
  if (!t.result.ok()) return 0;
  // The reader counts free blocks as this writer does (any entry but E5h holds its blocks).
  const FileSystem::Space s = t.fs().space();
  return (replace ? s.total : s.free) * s.unit;
}

WriteResult CpmWriter::set_read_only(std::string& image, const CatalogueStack& where, int row,
                                     bool on) const {
  const Target t(image, where);
  if (!t.result.ok()) return t.result;
  if (auto r = t.row_check(row); !r.ok()) return r;
  const Entry& e = t.rows[static_cast<size_t>(row)];
  if (!e.is_file()) return {0, {}, row};  // a user area has no attributes
  Disk d(image, t.dpb);
  for (int i : d.file_entries(t.user, key_of(e))) {
    DirEntry x = d.entry(i);
    x.b[9] = static_cast<unsigned char>(on ? x.b[9] | 0x80 : x.b[9] & 0x7F);
    d.put(i, x);
  }
  d.keep();
  return {0, {}, row};
}

}  // namespace odi::cpm
