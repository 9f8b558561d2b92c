#include "image/mxdos/write.h"

#include <algorithm>
#include <bitset>
#include <functional>
#include <utility>
#include <vector>

#include "image/chain.h"
#include "image/mxdos/mxdos.h"
#include "image/record.h"

namespace odi::mxdos {
namespace {

constexpr int kRootIndex = 12;    // the root catalogue's sector, 3000h
constexpr int kSystemCells = 12;  // track 0 and the two sectors of the DOS's area and the FAT
constexpr int kSelfRow = kMaxRecords - 1;   // where a sub-catalogue keeps a record of itself
constexpr std::int64_t kNameText = 0x296B;  // 8Bh " A:\" name 00h, as the DOS's screen has it
constexpr unsigned char kFiller = 0xE5;
constexpr unsigned char kDeleted = 0x08;   // byte 0 of a slot a removed record left
constexpr unsigned char kFileMark = 0x8C;  // byte 0Fh of a file record
constexpr unsigned char kCatalogueMark = 0x8B;
constexpr unsigned char kCatalogueCell = 0xEB;
constexpr unsigned char kSystemCell = 0x53;

WriteResult refused(std::string m) {
  return {kRefused, std::move(m), -1};
}
WriteResult no_entry(std::string m) {
  return {kNoEntry, std::move(m), -1};
}

std::string hex4(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

// An entry's name for a message: its exact name, NAME.EXT, in UTF-8.
std::string shown(std::string_view field) {
  std::string s = exact_text(field.substr(0, 8));
  const std::string ext = exact_text(field.substr(9, 3));
  if (!ext.empty()) s += "." + ext;
  return s;
}

// The 12-byte name field as the disk stores it: name, space, extension, space padded. MX_DOS
// keeps in a name whatever bytes it was given ("CP/M", "P+Q", lower case, KOI-8 letters); only
// control codes have no place there, nor FFh, which reads back as the machine's line end, CR.
std::optional<std::string> name_field(std::string_view name8, std::string_view ext3,
                                      std::string& why) {
  if (name8.size() > 8 || ext3.size() > 3) {
    why = "name too long: at most 8 bytes and an extension of 3";
    return std::nullopt;
  }
  if (trim_spaces(name8).empty()) {
    why = "empty name";
    return std::nullopt;
  }
  for (const char ch : std::string(name8) + std::string(ext3)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0xFF) {
      why = "byte " + hex4(c).substr(2) + "h cannot stand in an MX_DOS name (bytes 20h..FEh)";
      return std::nullopt;
    }
  }
  std::string f(12, ' ');
  f.replace(0, name8.size(), name8);
  f.replace(9, ext3.size(), ext3);
  return f;
}

std::int64_t cell_offset(int k) {
  return kFatOffset + 2 * std::int64_t{k};
}
int index_of(const Record& r) {
  return 10 * r.first_track() + r.first_sector() - 1;
}
std::int64_t offset_of(int k) {
  return std::int64_t{k} * kSectorSize;
}
void set_address(Record& r, int k) {
  r.b[0x13] = static_cast<unsigned char>(k % 10 + 1);
  r.b[0x14] = static_cast<unsigned char>(k / 10);
}
void set_word(Record& r, int at, unsigned v) {
  r.b[static_cast<size_t>(at)] = static_cast<unsigned char>(v & 0xFF);
  r.b[static_cast<size_t>(at) + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void set_name(Record& r, std::string_view field) {
  std::copy(field.begin(), field.end(), r.b.begin() + 3);
}

// The sector a catalogue record names, when it is one files and catalogues may use.
std::optional<int> catalogue_sector(const Record& r) {
  if (!r.is_catalogue() || r.first_sector() == kAddressEnd ||
      !KON_FAT(r.first_sector(), r.first_track()))
    return std::nullopt;
  return index_of(r);
}

// A record as MX_DOS writes it: the marker, the name, the kind mark, the date; the rest by caller.
Record base_record(std::string_view field, bool catalogue, std::array<unsigned char, 3> date) {
  Record r;
  r.b.fill(0);
  r.b[0] = r.b[1] = r.b[2] = 0xD3;
  set_name(r, field);
  r.b[0x0F] = catalogue ? kCatalogueMark : kFileMark;
  std::copy(date.begin(), date.end(), r.b.begin() + 0x10);
  if (catalogue) {
    r.b[0x17] = 0xFF;
    // A catalogue's address and checksum words mean nothing; fresh ones hold the filler.
    std::fill(r.b.begin() + 0x18, r.b.begin() + 0x1D, kFiller);
  }
  return r;
}

// The entries of a catalogue: its list, less the record of itself that a full sub-catalogue's
// list runs into at row 31.
std::vector<Record> entries_of(const Image& img, std::int64_t cat) {
  std::vector<Record> recs = read_catalogue(img, cat);
  if (!recs.empty() && is_self_record(recs.back(), static_cast<int>(recs.size()) - 1, cat))
    recs.pop_back();
  return recs;
}

// The disk being changed, in place: a refusal found half way puts every byte back (ImageChange).
// Every offset used lies inside the 819200 bytes (the callers check the size first and only ever
// touch sectors 0..799).
class Disk {
 public:
  explicit Disk(std::string& bytes) : c_(bytes) {}
  Image view() const { return Image(c_.bytes()); }
  std::int64_t size() const { return static_cast<std::int64_t>(c_.bytes().size()); }
  void keep() { c_.keep(); }

  unsigned char at(std::int64_t off) const {
    return static_cast<unsigned char>(c_.bytes()[pos(off)]);
  }
  void set(std::int64_t off, unsigned char c) { c_.fill(pos(off), 1, static_cast<char>(c)); }
  void fill(std::int64_t off, std::int64_t len, unsigned char c) {
    c_.fill(pos(off), static_cast<size_t>(len), static_cast<char>(c));
  }
  void write(std::int64_t off, std::string_view s) { c_.write(pos(off), s); }

  // FAT cell k: its two bytes.
  unsigned char cell0(int k) const { return at(cell_offset(k)); }
  unsigned char cell1(int k) const { return at(cell_offset(k) + 1); }
  bool cell_is(int k, unsigned char b0, unsigned char b1) const {
    return cell0(k) == b0 && cell1(k) == b1;
  }
  void set_cell(int k, unsigned char b0, unsigned char b1) {
    set(cell_offset(k), b0);
    set(cell_offset(k) + 1, b1);
  }
  bool is_catalogue_sector(int k) const { return cell_is(k, kCatalogueCell, 0); }

  Record record(std::int64_t cat, int row) const {
    return Record::from(std::string_view(c_.bytes()).substr(pos(cat + 32 * std::int64_t{row}), 32));
  }
  void put(std::int64_t cat, int row, const Record& r) {
    write(cat + 32 * std::int64_t{row}, r.raw());
  }

  std::vector<Record> entries(std::int64_t cat) const { return entries_of(view(), cat); }

  // Writes the list back from slot 0; slots past it are left as they are.
  void write_list(std::int64_t cat, const std::vector<Record>& recs) {
    for (size_t i = 0; i < recs.size(); ++i) put(cat, static_cast<int>(i), recs[i]);
  }

 private:
  static size_t pos(std::int64_t off) { return static_cast<size_t>(off); }
  ImageChange c_;
};

// The catalogue written into, and the records of the catalogues above it (catalogue, row), from
// the root down, whose size words hold totals.
struct Target {
  std::int64_t pos = kRootOffset;
  bool root = true;
  int level = 0;
  std::vector<std::pair<std::int64_t, int>> up;
  std::bitset<kSectorCount> path;  // the catalogue sectors from the root to `pos`
};

WriteResult check_disk(const Disk& d) {
  if (d.size() != kImageSize)
    return refused("not an MX_DOS disk image: " + std::to_string(d.size()) + " bytes, not 819200");
  if (!d.is_catalogue_sector(kRootIndex))
    return refused("no MX_DOS file system: the FAT does not mark the root catalogue");
  return {};
}

WriteResult resolve(const Disk& d, const CatalogueStack& where, Target& t) {
  if (where.KAT_LEV < 0 || where.KAT_LEV > kMaxLevel || where.KAT_POS[0] != kRootOffset)
    return refused("not a catalogue of this disk");
  t.path.set(kRootIndex);
  for (int i = 0; i < where.KAT_LEV; ++i) {
    const auto lev = static_cast<size_t>(i);
    const std::vector<Record> recs = d.entries(where.KAT_POS[lev]);
    const int row = where.KAT_IDX[lev];
    if (row < 0 || row >= static_cast<int>(recs.size()))
      return no_entry("no catalogue at row " + std::to_string(row) + " of level " +
                      std::to_string(i));
    const Record& r = recs[static_cast<size_t>(row)];
    const auto k = catalogue_sector(r);
    if (!k || *k < kFirstUser) return refused(shown(r.name_field()) + " is not a catalogue");
    if (offset_of(*k) != where.KAT_POS[lev + 1] || t.path.test(static_cast<size_t>(*k)))
      return refused("the catalogue path does not lead through " + shown(r.name_field()));
    if (!d.is_catalogue_sector(*k))
      return refused("the FAT does not mark the sector of " + shown(r.name_field()) +
                     " as a catalogue's (a damaged disk): nothing is written into it");
    t.up.emplace_back(where.KAT_POS[lev], row);
    t.path.set(static_cast<size_t>(*k));
  }
  t.pos = where.KAT_POS[static_cast<size_t>(where.KAT_LEV)];
  t.root = where.KAT_LEV == 0;
  t.level = where.KAT_LEV;
  return {};
}

// A catalogue record's size word is the total of its contents' size words, all the way up.
void add_size(Disk& d, const Target& t, int delta) {
  for (auto [cat, row] : t.up) {
    Record r = d.record(cat, row);
    set_word(r, 0x15, static_cast<unsigned>(std::clamp(r.size_kb() + delta, 0, 0xFFFF)));
    d.put(cat, row, r);
  }
}

int capacity(const Target& t) {
  return t.root ? kMaxRecords : kMaxRecords - 1;
}

int find_field(const std::vector<Record>& recs, std::string_view field) {
  for (size_t i = 0; i < recs.size(); ++i)
    if (recs[i].name_field() == field) return static_cast<int>(i);
  return -1;
}

// Lists are kept in the byte order of the name field, as MX_DOS keeps them.
size_t sorted_place(const std::vector<Record>& recs, std::string_view field) {
  size_t at = 0;
  while (at < recs.size() && recs[at].name_field() <= field) ++at;
  return at;
}

// The `n` lowest free sectors, or fewer when the disk has no more.
std::vector<int> lowest_free(const Disk& d, int n) {
  std::vector<int> out;
  for (int k = kFirstUser; k < kSectorCount && static_cast<int>(out.size()) < n; ++k)
    if (d.cell_is(k, 0, 0)) out.push_back(k);
  return out;
}

// The sector for a new catalogue: the lowest free one with no catalogue sector beside it, else the
// lowest free one. A full list (32 records) stops at its sector's end, but a reader that scans on
// would run into the next sector, and a catalogue there starts with the record marker: the check
// calls that damage, so two catalogues are not placed back to back when the disk has a choice.
std::vector<int> new_catalogue_sector(const Disk& d) {
  auto is_catalogue = [&](int k) { return k < kSectorCount && d.is_catalogue_sector(k); };
  for (int k = kFirstUser; k < kSectorCount; ++k)
    if (d.cell_is(k, 0, 0) && !is_catalogue(k - 1) && !is_catalogue(k + 1)) return {k};
  return lowest_free(d, 1);
}

// Frees the sectors of a file's chain whose cells are links or ends: a chain that runs into a
// catalogue's or the system's sector (a damaged disk) does not free that sector.
void free_chain(Disk& d, const Record& r) {
  const ChainWalk w = walk_chain(d.view(), r);
  for (const Piece& p : w.pieces) {
    const int k = p.sector_index;
    if (k >= kFirstUser && KON_FAT(d.cell0(k), d.cell1(k))) d.set_cell(k, 0, 0);
  }
}

// Frees a catalogue sector (marked EBh 00h) and all it holds. `seen` keeps out the catalogues of
// the path and those already freed: a damaged disk may lead back into them.
void free_catalogue(Disk& d, int k, std::bitset<kSectorCount>& seen) {
  if (k < kFirstUser || seen.test(static_cast<size_t>(k)) || !d.is_catalogue_sector(k)) return;
  seen.set(static_cast<size_t>(k));
  for (const Record& r : d.entries(offset_of(k))) {
    if (r.is_file()) {
      free_chain(d, r);
    } else if (const auto sub = catalogue_sector(r)) {
      free_catalogue(d, *sub, seen);
    }
  }
  d.set_cell(k, 0, 0);
}

// Takes the entry at `row` out of the list and frees what it holds. The records behind it move
// up one slot; the slot the last one left keeps its bytes but for byte 0, which becomes 08h.
WriteResult remove_at(Disk& d, const Target& t, std::vector<Record>& recs, int row,
                      bool recursive) {
  const Record r = recs[static_cast<size_t>(row)];
  if (r.is_file()) {
    free_chain(d, r);
  } else if (const auto k = catalogue_sector(r); k && *k >= kFirstUser &&
                                                 d.is_catalogue_sector(*k) &&
                                                 !t.path.test(static_cast<size_t>(*k))) {
    const size_t inside = d.entries(offset_of(*k)).size();
    if (inside > 0 && !recursive)
      return refused("catalogue not empty: " + shown(r.name_field()) + " holds " +
                     std::to_string(inside) + (inside == 1 ? " entry" : " entries"));
    std::bitset<kSectorCount> seen = t.path;
    free_catalogue(d, *k, seen);
  }
  const size_t count = recs.size();
  recs.erase(recs.begin() + row);
  d.write_list(t.pos, recs);
  d.set(t.pos + 32 * static_cast<std::int64_t>(count - 1), kDeleted);
  add_size(d, t, -static_cast<int>(r.size_kb()));
  return {};
}

// Puts `r` into the list at its sorted place, stamping bytes 1Eh-1Fh with the address the DOS
// gives the record's slot in its buffer (E000h + 32 x slot).
int insert_sorted(Disk& d, const Target& t, std::vector<Record>& recs, Record r) {
  const size_t at = sorted_place(recs, r.name_field());
  set_word(r, 0x1E, 0xE000u + 32u * static_cast<unsigned>(at));
  recs.insert(recs.begin() + static_cast<std::ptrdiff_t>(at), r);
  d.write_list(t.pos, recs);
  return static_cast<int>(at);
}

struct Begun {
  WriteResult result;
  Target target;
  std::vector<Record> recs;
};

// The checks every change of a catalogue starts with.
Begun begin(const Disk& d, const CatalogueStack& where) {
  Begun b;
  b.result = check_disk(d);
  if (b.result.ok()) b.result = resolve(d, where, b.target);
  if (b.result.ok()) b.recs = d.entries(b.target.pos);
  return b;
}

WriteResult entry_at(const Begun& b, int row) {
  if (row < 0 || row >= static_cast<int>(b.recs.size()))
    return no_entry("no entry at row " + std::to_string(row));
  return {};
}

// A catalogue's record of itself (slot 31 of its own sector) carries its name and date too: the
// same change is made there when the record `r` of `b`'s list is a catalogue that keeps one.
void change_self_record(Disk& d, const Begun& b, const Record& r,
                        const std::function<void(Record&)>& change) {
  const auto k = catalogue_sector(r);
  if (!k || *k < kFirstUser || !d.is_catalogue_sector(*k) ||
      b.target.path.test(static_cast<size_t>(*k)))
    return;
  Record self = d.record(offset_of(*k), kSelfRow);
  if (self.has_marker() && self.is_catalogue() && index_of(self) == *k) {
    change(self);
    d.put(offset_of(*k), kSelfRow, self);
  }
}

WriteResult room_for_one_more(const Begun& b) {
  if (static_cast<int>(b.recs.size()) >= capacity(b.target))
    return refused("catalogue full: it holds " + std::to_string(b.recs.size()) + " entries");
  return {};
}

}  // namespace

WriteResult new_disk(std::string& image, std::string_view disk_name, const Image* system_from) {
  if (disk_name.size() > static_cast<size_t>(kDiskNameLength))
    return refused("disk name too long: at most 6 bytes");
  std::string out(static_cast<size_t>(kImageSize), static_cast<char>(kFiller));
  if (system_from != nullptr) {
    // Track 0 is the DOS; the two sectors after it hold the DOS's screen and working area, then
    // the FAT. Everything before the FAT goes over; the FAT is the new disk's.
    const auto sys = system_from->read(0, kFatOffset);
    if (!sys) return refused("the system disk is too short to hold a DOS");
    out.replace(0, sys->size(), *sys);
  }
  std::string name(disk_name);
  name.resize(static_cast<size_t>(kDiskNameLength), ' ');
  out.replace(static_cast<size_t>(kNameText), 12, "\x8B A:\\" + name + '\0');
  for (int k = 0; k < kSectorCount; ++k) {
    const auto at = static_cast<size_t>(cell_offset(k));
    const unsigned char b0 = k < kSystemCells ? kSystemCell : k == kRootIndex ? kCatalogueCell : 0;
    out[at] = static_cast<char>(b0);
    out[at + 1] = static_cast<char>(k < kSystemCells ? kSystemCell : 0);
  }
  // The 16 bytes between the FAT and the root are zero on every disk seen.
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(kFatOffset + kFatSize),
              kRootOffset - kFatOffset - kFatSize, '\0');
  image = std::move(out);
  return {};
}

WriteResult put_file(std::string& image, const CatalogueStack& where, const NewFile& f,
                     bool replace) {
  std::string why;
  const auto field = name_field(f.name8, f.ext3, why);
  if (!field) return refused(why);
  const auto len = static_cast<std::int64_t>(f.body.size());
  if (len > kMaxBody)
    return refused("too large: " + std::to_string(len) + " bytes; a file holds at most 65536");
  if (f.start + len > kMaxBody)
    return refused("too large: " + std::to_string(len) + " bytes from the start address " +
                   hex4(f.start) + "h run past FFFFh");

  Disk d(image);
  Begun b = begin(d, where);
  if (!b.result.ok()) return b.result;
  if (const int same = find_field(b.recs, *field); same >= 0) {
    const Record& old = b.recs[static_cast<size_t>(same)];
    if (!replace) return refused("name taken: " + shown(*field) + " is already in the catalogue");
    if (!old.is_file())
      return refused(shown(*field) + " is a catalogue; a file does not replace it");
    remove_at(d, b.target, b.recs, same, false);
  }
  if (auto full = room_for_one_more(b); !full.ok()) return full;

  const int n = static_cast<int>((len + kSectorSize - 1) / kSectorSize);
  const std::vector<int> sectors = lowest_free(d, n);
  if (static_cast<int>(sectors.size()) < n)
    return refused("no room: " + shown(*field) + " needs " + std::to_string(n) + " sectors, " +
                   std::to_string(free_sectors(d.view())) + " are free");

  for (size_t i = 0; i < sectors.size(); ++i) {
    const std::int64_t from = static_cast<std::int64_t>(i) * kSectorSize;
    const std::string_view part = std::string_view(f.body).substr(static_cast<size_t>(from),
                                                                  static_cast<size_t>(kSectorSize));
    // The bytes after the body in its last sector: the filler of a freshly formatted disk.
    d.write(offset_of(sectors[i]), part);
    d.fill(offset_of(sectors[i]) + static_cast<std::int64_t>(part.size()),
           kSectorSize - static_cast<std::int64_t>(part.size()), kFiller);
    if (i + 1 < sectors.size())
      d.set_cell(sectors[i], static_cast<unsigned char>(sectors[i + 1] % 10 + 1),
                 static_cast<unsigned char>(sectors[i + 1] / 10));
    else
      d.set_cell(sectors[i], kAddressEnd, 0);
  }

  Record r = base_record(*field, false, f.date);
  if (n > 0) {
    set_address(r, sectors[0]);
  } else {
    r.b[0x13] = kAddressEnd;  // no sector: the end mark, which the walk accepts for size 0
  }
  set_word(r, 0x15, static_cast<unsigned>(n));
  set_word(r, 0x18, f.start);
  set_word(r, 0x1A, static_cast<unsigned>(f.start + len - 1) & 0xFFFF);
  set_word(r, 0x1C, f.checksum.value_or(monitor_checksum(f.body)));
  const int row = insert_sorted(d, b.target, b.recs, r);
  add_size(d, b.target, n);
  d.keep();
  return {0, {}, row};
}

WriteResult make_catalogue(std::string& image, const CatalogueStack& where, std::string_view name8,
                           std::string_view ext3, std::array<unsigned char, 3> date) {
  std::string why;
  const auto field = name_field(name8, ext3, why);
  if (!field) return refused(why);
  Disk d(image);
  Begun b = begin(d, where);
  if (!b.result.ok()) return b.result;
  if (b.target.level >= kMaxLevel)
    return refused("too deep: catalogues open at most " + std::to_string(kMaxLevel) +
                   " levels below the root");
  if (find_field(b.recs, *field) >= 0)
    return refused("name taken: " + shown(*field) + " is already in the catalogue");
  if (auto full = room_for_one_more(b); !full.ok()) return full;
  const std::vector<int> sector = new_catalogue_sector(d);
  if (sector.empty()) return refused("no room: a catalogue needs a sector, none is free");

  const int k = sector[0];
  Record r = base_record(*field, true, date);
  set_address(r, k);
  // The new sector: filler (an empty list), and in slot 31 the catalogue's record of itself.
  d.fill(offset_of(k), kSectorSize, kFiller);
  d.put(offset_of(k), kSelfRow, r);
  d.set_cell(k, kCatalogueCell, 0);
  const int row = insert_sorted(d, b.target, b.recs, r);
  d.keep();
  return {0, {}, row};
}

WriteResult remove_entry(std::string& image, const CatalogueStack& where, int row, bool recursive) {
  Disk d(image);
  Begun b = begin(d, where);
  if (!b.result.ok()) return b.result;
  if (auto e = entry_at(b, row); !e.ok()) return e;
  if (auto r = remove_at(d, b.target, b.recs, row, recursive); !r.ok()) return r;
  d.keep();
  return {};
}

WriteResult set_date(std::string& image, const CatalogueStack& where, int row,
                     std::array<unsigned char, 3> date) {
  Disk d(image);
  Begun b = begin(d, where);
  if (!b.result.ok()) return b.result;
  if (auto e = entry_at(b, row); !e.ok()) return e;
  const auto set = [&](Record& r) { std::copy(date.begin(), date.end(), r.b.begin() + 0x10); };
  Record r = b.recs[static_cast<size_t>(row)];
  set(r);
  d.put(b.target.pos, row, r);
  change_self_record(d, b, r, set);
  d.keep();
  return {0, {}, row};
}

WriteResult rename_entry(std::string& image, const CatalogueStack& where, int row,
                         std::string_view name8, std::string_view ext3) {
  std::string why;
  const auto field = name_field(name8, ext3, why);
  if (!field) return refused(why);
  Disk d(image);
  Begun b = begin(d, where);
  if (!b.result.ok()) return b.result;
  if (auto e = entry_at(b, row); !e.ok()) return e;
  const int same = find_field(b.recs, *field);
  if (same >= 0 && same != row)
    return refused("name taken: " + shown(*field) + " is already in the catalogue");

  Record r = b.recs[static_cast<size_t>(row)];
  set_name(r, *field);
  change_self_record(d, b, r, [&](Record& self) { set_name(self, *field); });
  b.recs.erase(b.recs.begin() + row);
  const size_t at = sorted_place(b.recs, *field);
  b.recs.insert(b.recs.begin() + static_cast<std::ptrdiff_t>(at), r);
  d.write_list(b.target.pos, b.recs);
  d.keep();
  return {0, {}, static_cast<int>(at)};
}

int free_sectors(const Image& img) {
  const auto fat = img.read(kFatOffset, kFatSize);
  if (!fat) return 0;
  int n = 0;
  for (int k = kFirstUser; k < kSectorCount; ++k)
    if ((*fat)[2 * static_cast<size_t>(k)] == 0 && (*fat)[2 * static_cast<size_t>(k) + 1] == 0) ++n;
  return n;
}

int find_row(const Image& img, std::int64_t pos, std::string_view name8, std::string_view ext3) {
  std::string why;
  const auto field = name_field(name8, ext3, why);
  if (!field) return -1;
  return find_field(entries_of(img, pos), *field);
}

}  // namespace odi::mxdos
