#include "builder/odibuild.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace odibuild {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("odibuild: " + what);
}

std::uint8_t lo(unsigned v) {
  return static_cast<std::uint8_t>(v & 0xFFu);
}
char ch(unsigned v) {
  return static_cast<char>(lo(v));
}

std::string padded(std::string_view s, std::size_t width) {
  std::string out(s.substr(0, std::min(s.size(), width)));
  out.resize(width, ' ');
  return out;
}

// The machine's KOI-8 letter order; small letters at C0h, capitals at E0h.
constexpr std::u16string_view kSmall = u"юабцдефгхийклмнопярстужвьызшэщчъ";
constexpr std::u16string_view kCapital = u"ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ";

std::vector<char32_t> decodeUtf8(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1Fu, extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0Fu, extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07u, extra = 3;
    } else {
      fail("bad UTF-8 in text");
    }
    if (i + static_cast<std::size_t>(extra) >= s.size() && extra > 0)
      fail("truncated UTF-8 in text");
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) fail("bad UTF-8 in text");
      cp = (cp << 6) | (c & 0x3Fu);
    }
    out.push_back(cp);
    i += 1 + static_cast<std::size_t>(extra);
  }
  return out;
}

enum class Code { Koi8, Koi7 };

std::string encode(std::string_view utf8, Code code, bool lineEnds) {
  const auto cps = decodeUtf8(utf8);
  std::string out;
  out.reserve(cps.size());
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t c = cps[i];
    if (lineEnds && (c == U'\r' || c == U'\n')) {
      out.push_back('\x0D');
      if (c == U'\r' && i + 1 < cps.size() && cps[i + 1] == U'\n') ++i;  // CR LF -> one CR
      continue;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const auto cap = kCapital.find(static_cast<char16_t>(c));
    const auto small = kSmall.find(static_cast<char16_t>(c));
    if (c <= 0xFFFF && cap != std::u16string_view::npos) {
      out.push_back(ch(static_cast<unsigned>((code == Code::Koi8 ? 0xE0 : 0x60) + cap)));
    } else if (c <= 0xFFFF && small != std::u16string_view::npos && code == Code::Koi8) {
      out.push_back(ch(static_cast<unsigned>(0xC0 + small)));
    } else {
      fail("character U+" + std::to_string(static_cast<unsigned long>(c)) +
           (code == Code::Koi8 ? " has no KOI-8 code" : " has no KOI-7 code"));
    }
  }
  return out;
}

}  // namespace

// ---- free functions -------------------------------------------------------

std::uint16_t monitorChecksum(std::string_view body) {
  unsigned low = 0, high = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const unsigned b = static_cast<unsigned char>(body[i]);
    const unsigned sum = low + b;
    low = sum & 0xFFu;
    // The monitor adds the byte with carry into the high byte for every byte
    // except the last one: its loop tests for the end between the two adds.
    if (i + 1 < body.size()) high = (high + b + (sum >> 8)) & 0xFFu;
  }
  return static_cast<std::uint16_t>((high << 8) | low);
}

std::uint8_t bcd(int value) {
  if (value < 0 || value > 99) fail("BCD value out of 0..99: " + std::to_string(value));
  return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

Date Date::of(int day, int month, int year2) {
  return Date{bcd(day), bcd(month), bcd(year2)};
}

Date Date::parse(std::string_view ddmmyy) {
  const std::string_view text = ddmmyy;
  int parts[3] = {0, 0, 0};
  int n = 0;
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      parts[n] = parts[n] * 10 + (c - '0');
      digit = true;
    } else if (c == '.' && digit && n < 2) {
      ++n, digit = false;
    } else {
      fail("date is not DD.MM.YY: " + std::string(text));
    }
  }
  if (n != 2 || !digit) fail("date is not DD.MM.YY: " + std::string(text));
  return of(parts[0], parts[1], parts[2]);
}

std::string koi8(std::string_view utf8) {
  return encode(utf8, Code::Koi8, false);
}
std::string koi8Text(std::string_view utf8) {
  return encode(utf8, Code::Koi8, true);
}
std::string koi7Text(std::string_view utf8) {
  return encode(utf8, Code::Koi7, true);
}

std::string makeRecord(const RecordFields& f) {
  std::string r = padded(f.marker, 3) + padded(f.name, 8);
  r += static_cast<char>(f.dot);
  r += padded(f.ext, 3);
  r += static_cast<char>(f.reserved0F);
  r += {static_cast<char>(f.date.day), static_cast<char>(f.date.month),
        static_cast<char>(f.date.year)};
  r += {static_cast<char>(f.sector), static_cast<char>(f.track)};
  r += {ch(f.sizeKb), ch(f.sizeKb >> 8u), static_cast<char>(f.kind)};
  for (unsigned w :
       {unsigned{f.start}, unsigned{f.end}, unsigned{f.checksum}, unsigned{f.reserved1E}})
    r += {ch(w), ch(w >> 8u)};
  return r;
}

// ---- DiskBuilder ----------------------------------------------------------

// A fresh disk as this builder formats it:
//   track 0: 00h bytes with "Dos_MX V3.6" at 5 (there is no DOS code in it);
//   2800h..29AFh: 00h, with "A:\" just before the disk name, as the DOS's
//     screen picture carries it, and the name "DISK  " at 2970h;
//   FAT: cells 0..11 53h 53h, cell 12 (root catalogue) EBh 00h, the rest free;
//   root catalogue at 3000h: all slots filler (E5h);
//   user sectors: E5h, as a freshly formatted floppy reads.
DiskBuilder::DiskBuilder() : image_(kImageSize, '\xE5') {
  std::fill_n(image_.begin(), kRootOffset, '\0');
  poke(kDiskNameOffset - 3, "A:\\");
  setDiskName("DISK");
  setSignature("Dos_MX V3.6");
  for (int k = 0; k < kSystemSectors; ++k) setFatCell(k, kFatSystem, kFatSystem);
  setFatCell(kRootSector, kFatCatalogue, 0);
  Node root;
  root.catalogue = true;
  root.sector = kRootSector;
  nodes_.push_back(root);
  fillUnused(0);
}

DiskBuilder& DiskBuilder::setSignature(std::string_view text, std::size_t offset) {
  clearSignature();
  poke(offset, text);
  signature_ = {offset, text.size()};
  return *this;
}

DiskBuilder& DiskBuilder::clearSignature() {
  if (signature_.second > 0) poke(signature_.first, std::string(signature_.second, '\0'));
  signature_ = {0, 0};
  return *this;
}

DiskBuilder& DiskBuilder::setDiskName(std::string_view name6) {
  return poke(kDiskNameOffset, padded(name6, 6));
}

DiskBuilder& DiskBuilder::setCatalogueFiller(std::uint8_t filler) {
  filler_ = filler;
  for (std::size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].catalogue) fillUnused(static_cast<int>(i));
  return *this;
}

DiskBuilder& DiskBuilder::setSelfRecords(bool on) {
  selfRecords_ = on;
  return *this;
}

int DiskBuilder::nextFreeSector() const {
  for (int k = 0; k < kSectorCount; ++k)
    if (fatCell(k) == std::pair<std::uint8_t, std::uint8_t>{kFatFree, kFatFree}) return k;
  return -1;
}

int DiskBuilder::freeSectorCount() const {
  int n = 0;
  for (int k = 0; k < kSectorCount; ++k)
    if (fatCell(k) == std::pair<std::uint8_t, std::uint8_t>{kFatFree, kFatFree}) ++n;
  return n;
}

int DiskBuilder::allocate() const {
  const int k = nextFreeSector();
  if (k < 0) fail("disk full");
  return k;
}

int DiskBuilder::takeSlot(int cat) {
  for (int s = 0; s < kSlotsPerCatalogue; ++s)
    if (!(nodes_[static_cast<std::size_t>(cat)].taken & (1u << s))) return s;
  fail("catalogue full (32 records)");
}

void DiskBuilder::fillUnused(int cat) {
  const Node& n = nodes_[static_cast<std::size_t>(cat)];
  const std::size_t base = sectorOffset(n.sector);
  for (int s = 0; s < kSlotsPerCatalogue; ++s) {
    if (n.taken & (1u << s)) continue;
    if (s == kSlotsPerCatalogue - 1 && n.selfRecord) continue;
    poke(base + kRecordSize * static_cast<std::size_t>(s),
         std::string(kRecordSize, static_cast<char>(filler_)));
  }
}

void DiskBuilder::writeSelfRecord(int cat) {
  // Real disks keep, in the last slot of a sub-catalogue, a copy of the
  // catalogue's own record pointing at its own sector, with size 0.
  Node& n = nodes_[static_cast<std::size_t>(cat)];
  RecordFields self = n.own;
  self.sizeKb = 0;
  poke(sectorOffset(n.sector) + kRecordSize * (kSlotsPerCatalogue - 1), makeRecord(self));
}

std::uint16_t DiskBuilder::contentKb(int cat) const {
  // The DOS keeps in a catalogue's record the total size of what it holds:
  // here the sum of the size words of the live records in its list.
  const Node& n = nodes_[static_cast<std::size_t>(cat)];
  const std::size_t base = sectorOffset(n.sector);
  unsigned total = 0;
  for (int s = 0; s < kSlotsPerCatalogue; ++s) {
    if (!(n.taken & (1u << s))) continue;
    const std::size_t r = base + kRecordSize * static_cast<std::size_t>(s);
    if (r + kRecordSize > image_.size() || image_.compare(r, 3, "\xD3\xD3\xD3") != 0) continue;
    total += static_cast<unsigned char>(image_[r + rec::kSize]) +
             256u * static_cast<unsigned char>(image_[r + rec::kSize + 1]);
  }
  return static_cast<std::uint16_t>(std::min(total, 0xFFFFu));
}

void DiskBuilder::refreshSizes(int cat) {
  while (cat > 0) {
    const Node& n = nodes_[static_cast<std::size_t>(cat)];
    const std::uint16_t size = n.fixedSize ? *n.fixedSize : contentKb(cat);
    nodes_[static_cast<std::size_t>(cat)].own.sizeKb = size;
    setRecordWord(Entry{cat}, rec::kSize, size);
    cat = n.parent;
  }
}

File DiskBuilder::addFile(Cat parent, const FileSpec& spec) {
  const Node& p = node(parent);
  if (!p.catalogue) fail("addFile: parent is not a catalogue");
  const int slot = takeSlot(parent.id);
  const std::size_t needed = (spec.body.size() + kSectorSize - 1) / kSectorSize;

  std::vector<int> chain = spec.sectors;
  if (chain.empty()) {
    for (std::size_t i = 0; i < needed; ++i) {
      const int k = allocate();
      claim(k, kFatEnd, 0);  // taken now so the next allocation moves on
      chain.push_back(k);
    }
  } else if (chain.size() < needed) {
    fail("addFile: explicit chain shorter than the body");
  }
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const int k = chain[i];
    if (k < 0 || k >= kSectorCount) fail("addFile: sector index out of range");
    if (i + 1 < chain.size())
      claim(k, static_cast<std::uint8_t>(sectorOf(chain[i + 1])),
            static_cast<std::uint8_t>(trackOf(chain[i + 1])));
    else
      claim(k, kFatEnd, 0);
    const std::size_t from = i * kSectorSize;
    if (from < spec.body.size())
      poke(sectorOffset(k), std::string_view(spec.body).substr(from, kSectorSize));
  }

  RecordFields f;
  f.name = spec.name;
  f.ext = spec.ext;
  f.reserved0F = spec.reserved0F;
  f.reserved1E = spec.reserved1E;
  f.date = spec.date;
  f.sector = chain.empty() ? 0 : static_cast<std::uint8_t>(sectorOf(chain.front()));
  f.track = chain.empty() ? 0 : static_cast<std::uint8_t>(trackOf(chain.front()));
  f.sizeKb = spec.sizeKb ? *spec.sizeKb : static_cast<std::uint16_t>(needed);
  f.kind = kKindFile;
  f.start = spec.start;
  f.end = spec.end ? *spec.end : static_cast<std::uint16_t>(spec.start + spec.body.size() - 1);
  f.checksum = spec.checksum ? *spec.checksum : monitorChecksum(spec.body);

  Node n;
  n.parent = parent.id;
  n.slot = slot;
  n.chain = chain;
  nodes_.push_back(n);
  nodes_[static_cast<std::size_t>(parent.id)].taken |= 1u << slot;
  const File handle{{static_cast<int>(nodes_.size() - 1)}};
  poke(recordOffset(handle), makeRecord(f));
  refreshSizes(parent.id);
  return handle;
}

Cat DiskBuilder::addCatalogue(Cat parent, std::string_view name8, Date date) {
  CatalogueSpec spec;
  spec.name = std::string(name8);
  spec.date = date;
  return addCatalogue(parent, spec);
}

Cat DiskBuilder::addCatalogue(Cat parent, const CatalogueSpec& spec) {
  if (!node(parent).catalogue) fail("addCatalogue: parent is not a catalogue");
  const int slot = takeSlot(parent.id);
  const int k = spec.sector ? *spec.sector : allocate();
  if (k < 0 || k >= kSectorCount) fail("addCatalogue: sector index out of range");
  claim(k, kFatCatalogue, 0);

  Node n;
  n.parent = parent.id;
  n.slot = slot;
  n.catalogue = true;
  n.sector = k;
  n.fixedSize = spec.sizeKb;
  n.selfRecord = spec.selfRecord.value_or(selfRecords_);
  n.own.name = spec.name;
  n.own.ext = spec.ext;
  n.own.date = spec.date;
  n.own.sector = static_cast<std::uint8_t>(sectorOf(k));
  n.own.track = static_cast<std::uint8_t>(trackOf(k));
  n.own.kind = kKindCatalogue;
  n.own.sizeKb = spec.sizeKb.value_or(0);
  nodes_.push_back(n);
  nodes_[static_cast<std::size_t>(parent.id)].taken |= 1u << slot;
  const int id = static_cast<int>(nodes_.size() - 1);
  const Cat handle{{id}};

  fillUnused(id);
  if (n.selfRecord) writeSelfRecord(id);
  poke(recordOffset(handle), makeRecord(n.own));
  refreshSizes(parent.id);
  return handle;
}

Entry DiskBuilder::putRecord(Cat cat, int slot, std::string_view bytes32) {
  if (!node(cat).catalogue) fail("putRecord: not a catalogue");
  if (bytes32.size() != kRecordSize) fail("putRecord: a record is 32 bytes");
  if (slot < 0 || slot >= kSlotsPerCatalogue) fail("putRecord: slot out of 0..31");
  Node n;
  n.parent = cat.id;
  n.slot = slot;
  nodes_.push_back(n);
  nodes_[static_cast<std::size_t>(cat.id)].taken |= 1u << slot;
  const Entry handle{static_cast<int>(nodes_.size() - 1)};
  poke(recordOffset(handle), bytes32);
  refreshSizes(cat.id);
  return handle;
}

Entry DiskBuilder::addRawRecord(Cat cat, std::string_view bytes32) {
  if (!node(cat).catalogue) fail("addRawRecord: not a catalogue");
  return putRecord(cat, takeSlot(cat.id), bytes32);
}

const DiskBuilder::Node& DiskBuilder::node(Entry e) const {
  if (e.id < 0 || static_cast<std::size_t>(e.id) >= nodes_.size()) fail("unknown handle");
  return nodes_[static_cast<std::size_t>(e.id)];
}

std::size_t DiskBuilder::recordOffset(Entry e) const {
  const Node& n = node(e);
  if (n.parent < 0) fail("the root catalogue has no record");
  return sectorOffset(nodes_[static_cast<std::size_t>(n.parent)].sector) +
         kRecordSize * static_cast<std::size_t>(n.slot);
}

int DiskBuilder::slotOf(Entry e) const {
  return node(e).slot;
}

std::vector<int> DiskBuilder::chain(File f) const {
  return node(f).chain;
}

int DiskBuilder::catalogueSector(Cat c) const {
  if (!node(c).catalogue) fail("not a catalogue");
  return node(c).sector;
}

std::size_t DiskBuilder::catalogueOffset(Cat c) const {
  return sectorOffset(catalogueSector(c));
}

int DiskBuilder::recordCount(Cat c) const {
  int n = 0;
  for (int s = 0; s < kSlotsPerCatalogue; ++s)
    if (node(c).taken & (1u << s)) ++n;
  return n;
}

DiskBuilder& DiskBuilder::poke(std::size_t offset, std::string_view bytes) {
  if (offset > image_.size() || bytes.size() > image_.size() - offset)
    throw std::out_of_range("odibuild: write past the end of the image at offset " +
                            std::to_string(offset));
  image_.replace(offset, bytes.size(), bytes);
  return *this;
}

DiskBuilder& DiskBuilder::pokeByte(std::size_t offset, std::uint8_t byte) {
  return poke(offset, std::string(1, static_cast<char>(byte)));
}

void DiskBuilder::claim(int index, std::uint8_t b0, std::uint8_t b1) {
  setFatCell(index, b0, b1);
}

DiskBuilder& DiskBuilder::setFatCell(int index, std::uint8_t b0, std::uint8_t b1) {
  if (index < 0 || index >= kSectorCount) fail("FAT cell index out of 0..799");
  return poke(fatCellOffset(index), std::string{static_cast<char>(b0), static_cast<char>(b1)});
}

std::pair<std::uint8_t, std::uint8_t> DiskBuilder::fatCell(int index) const {
  const std::size_t o = fatCellOffset(index);
  if (index < 0 || index >= kSectorCount || o + 2 > image_.size())
    fail("FAT cell out of the image");
  return {static_cast<std::uint8_t>(image_[o]), static_cast<std::uint8_t>(image_[o + 1])};
}

DiskBuilder& DiskBuilder::setRecordByte(Entry e, std::size_t field, std::uint8_t value) {
  if (field >= kRecordSize) fail("record field offset out of 0..31");
  return pokeByte(recordOffset(e) + field, value);
}

DiskBuilder& DiskBuilder::setRecordWord(Entry e, std::size_t field, std::uint16_t value) {
  if (field + 1 >= kRecordSize) fail("record word offset out of 0..30");
  return poke(recordOffset(e) + field, std::string{ch(value), ch(value >> 8u)});
}

DiskBuilder& DiskBuilder::setRecordBytes(Entry e, std::size_t field, std::string_view bytes) {
  if (field + bytes.size() > kRecordSize) fail("record bytes run past the record");
  return poke(recordOffset(e) + field, bytes);
}

DiskBuilder& DiskBuilder::deleteRecord(Entry e, bool freeChain) {
  // MX_DOS marks a deleted entry by overwriting the first marker byte.
  pokeByte(recordOffset(e), 0x08);
  const Node& n = node(e);
  if (freeChain) {
    for (int k : n.chain) setFatCell(k, kFatFree, kFatFree);
    if (n.catalogue) setFatCell(n.sector, kFatFree, kFatFree);
  }
  refreshSizes(n.parent);
  return *this;
}

DiskBuilder& DiskBuilder::truncate(std::size_t size) {
  image_.resize(size, '\0');
  return *this;
}

void DiskBuilder::writeTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) fail("cannot create " + path);
  out.write(image_.data(), static_cast<std::streamsize>(image_.size()));
  if (!out.flush()) fail("cannot write " + path);
}

}  // namespace odibuild
