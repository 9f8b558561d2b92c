#include "builder/odibuild.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace odibuild {

namespace {

constexpr std::size_t kDiskNameOffset = 0x2970;  // 6 bytes, space padded
constexpr std::size_t kRootOffset = 0x3000;
constexpr int kRootSector = 12, kSystemSectors = 12, kSectorCount = 800;
constexpr std::size_t kRecordSize = 32;
constexpr int kSlots = 32;  // records in a catalogue sector
constexpr std::uint8_t kFatSystem = 0x53, kFatCatalogue = 0xEB, kFatEnd = 0xAA;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("odibuild: " + what);
}

char ch(unsigned v) {
  return static_cast<char>(v & 0xFFu);
}
std::string word(unsigned v) {  // little-endian
  return {ch(v), ch(v >> 8u)};
}

std::string padded(std::string_view s, std::size_t width) {
  std::string out(s.substr(0, std::min(s.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::uint8_t bcd(int value) {
  if (value < 0 || value > 99) fail("BCD value out of 0..99: " + std::to_string(value));
  return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

// The machine's KOI-8 letters from C0h: 32 small ones, then the capitals from E0h (FFh has none).
constexpr std::u16string_view kLetters =
    u"юабцдефгхийклмнопярстужвьызшэщчъЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ";

std::string encode(std::string_view utf8, bool koi7, bool lineEnds) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i++]);
    const std::size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : 3;
    if ((b & 0xC0) == 0x80 || (b & 0xF8) == 0xF8 || i + extra > utf8.size())
      fail("bad UTF-8 in text");
    char32_t c = b & (extra == 0 ? 0x7Fu : 0x3Fu >> extra);
    for (std::size_t k = 0; k < extra; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i++]);
      if ((next & 0xC0) != 0x80) fail("bad UTF-8 in text");
      c = (c << 6) | (next & 0x3Fu);
    }
    if (lineEnds && (c == U'\r' || c == U'\n')) {
      out.push_back('\x0D');
      if (c == U'\r' && i < utf8.size() && utf8[i] == '\n') ++i;  // CR LF -> one CR
      continue;
    }
    const auto at = c > 0xFFFF ? kLetters.npos : kLetters.find(static_cast<char16_t>(c));
    if (c < 0x80)
      out.push_back(static_cast<char>(c));
    else if (at != kLetters.npos && (!koi7 || at >= 32))  // KOI-7 has capitals only, from 60h
      out.push_back(ch(static_cast<unsigned>((koi7 ? 0x40 : 0xC0) + at)));
    else
      fail("character U+" + std::to_string(static_cast<unsigned long>(c)) + " has no " +
           (koi7 ? "KOI-7" : "KOI-8") + " code");
  }
  return out;
}

}  // namespace

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

Date Date::of(int day, int month, int year2) {
  return Date{bcd(day), bcd(month), bcd(year2)};
}

std::string koi8(std::string_view utf8) {
  return encode(utf8, false, false);
}
std::string koi8Text(std::string_view utf8) {
  return encode(utf8, false, true);
}
std::string koi7Text(std::string_view utf8) {
  return encode(utf8, true, true);
}

std::string makeRecord(const RecordFields& f) {
  std::string r = "\xD3\xD3\xD3" + padded(f.name, 8) + ' ' + padded(f.ext, 3) + '\0';
  r += {ch(f.date.day), ch(f.date.month), ch(f.date.year), ch(f.sector), ch(f.track)};
  r += word(f.sizeKb) + ch(f.kind) + word(f.start) + word(f.end) + word(f.checksum) + word(0);
  return r;
}

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
  clearSignature().poke(offset, text);
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

int DiskBuilder::allocate() const {
  for (int k = 0; k < kSectorCount; ++k)
    if (image_.compare(fatCellOffset(k), 2, std::string_view("\0\0", 2)) == 0) return k;
  fail("disk full");
}

int DiskBuilder::addNode(Entry parent, Node n) {
  if (!node(parent).catalogue) fail("the parent is not a catalogue");
  unsigned& taken = nodes_[static_cast<std::size_t>(parent.id)].taken;
  n.parent = parent.id;
  for (n.slot = 0; taken & (1u << n.slot); ++n.slot)
    if (n.slot == kSlots - 1) fail("catalogue full (32 records)");
  taken |= 1u << n.slot;
  nodes_.push_back(std::move(n));
  return static_cast<int>(nodes_.size() - 1);
}

void DiskBuilder::fillUnused(int cat) {
  const Node& n = nodes_[static_cast<std::size_t>(cat)];
  for (int s = 0; s < kSlots; ++s)
    if (!(n.taken & (1u << s)) && !(s == kSlots - 1 && n.selfRecord))
      poke(sectorOffset(n.sector) + kRecordSize * static_cast<std::size_t>(s),
           std::string(kRecordSize, static_cast<char>(filler_)));
}

void DiskBuilder::refreshSizes(int cat) {
  // The DOS keeps in a catalogue's record the total size of what it holds: here the sum of the
  // size words of the live records in its list, unless the size was given.
  for (; cat > 0; cat = nodes_[static_cast<std::size_t>(cat)].parent) {
    const Node& n = nodes_[static_cast<std::size_t>(cat)];
    unsigned total = 0;
    for (int s = 0; s < kSlots; ++s) {
      const std::size_t r = sectorOffset(n.sector) + kRecordSize * static_cast<std::size_t>(s);
      if (!(n.taken & (1u << s)) || r + kRecordSize > image_.size() ||
          image_.compare(r, 3, "\xD3\xD3\xD3") != 0)
        continue;
      total += static_cast<unsigned char>(image_[r + rec::kSize]) +
               256u * static_cast<unsigned char>(image_[r + rec::kSize + 1]);
    }
    setRecordWord(Entry{cat}, rec::kSize, n.fixedSize.value_or(std::min(total, 0xFFFFu)));
  }
}

File DiskBuilder::addFile(Cat parent, const FileSpec& spec) {
  const std::size_t needed = (spec.body.size() + 1023) / 1024;
  std::vector<int> chain = spec.sectors;
  if (chain.empty()) {
    for (std::size_t i = 0; i < needed; ++i) {
      chain.push_back(allocate());
      setFatCell(chain.back(), kFatEnd, 0);  // taken now so the next allocation moves on
    }
  } else if (chain.size() < needed) {
    fail("addFile: explicit chain shorter than the body");
  }
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const int k = chain[i], next = i + 1 < chain.size() ? chain[i + 1] : -1;
    if (next < 0)
      setFatCell(k, kFatEnd, 0);
    else
      setFatCell(k, static_cast<std::uint8_t>(sectorOf(next)),
                 static_cast<std::uint8_t>(trackOf(next)));
    if (i * 1024 < spec.body.size())
      poke(sectorOffset(k), std::string_view(spec.body).substr(i * 1024, 1024));
  }

  const std::uint8_t sector = chain.empty() ? 0 : static_cast<std::uint8_t>(sectorOf(chain[0]));
  const std::uint8_t track = chain.empty() ? 0 : static_cast<std::uint8_t>(trackOf(chain[0]));
  const auto size = spec.sizeKb.value_or(static_cast<std::uint16_t>(needed));
  const auto end = spec.end.value_or(static_cast<std::uint16_t>(spec.start + spec.body.size() - 1));
  const auto sum = spec.checksum.value_or(monitorChecksum(spec.body));
  const RecordFields f{spec.name, spec.ext,  spec.date,  sector, track,
                       size,      kKindFile, spec.start, end,    sum};
  Node n;
  n.chain = chain;
  const File handle{{addNode(parent, n)}};
  poke(recordOffset(handle), makeRecord(f));
  refreshSizes(parent.id);
  return handle;
}

Cat DiskBuilder::addCatalogue(Cat parent, std::string_view name8, Date date) {
  return addCatalogue(parent, CatalogueSpec{std::string(name8), "", date, {}, {}, {}});
}

Cat DiskBuilder::addCatalogue(Cat parent, const CatalogueSpec& spec) {
  const int k = spec.sector ? *spec.sector : allocate();
  setFatCell(k, kFatCatalogue, 0);
  Node n;
  n.catalogue = true;
  n.sector = k;
  n.fixedSize = spec.sizeKb;
  n.selfRecord = spec.selfRecord.value_or(selfRecords_);
  const Cat handle{{addNode(parent, n)}};
  const auto sector = static_cast<std::uint8_t>(sectorOf(k));
  const auto track = static_cast<std::uint8_t>(trackOf(k));
  RecordFields own{spec.name, spec.ext, spec.date, sector, track, 0, kKindCatalogue, 0, 0, 0};
  fillUnused(handle.id);
  // Real disks keep, in the last slot of a sub-catalogue, a copy of the catalogue's own record
  // pointing at its own sector, with size 0.
  if (n.selfRecord) poke(sectorOffset(k) + kRecordSize * (kSlots - 1), makeRecord(own));
  own.sizeKb = spec.sizeKb.value_or(0);
  poke(recordOffset(handle), makeRecord(own));
  refreshSizes(parent.id);
  return handle;
}

Entry DiskBuilder::addRawRecord(Cat cat, std::string_view bytes32) {
  if (bytes32.size() != kRecordSize) fail("addRawRecord: a record is 32 bytes");
  const Entry handle{addNode(cat, Node{})};
  poke(recordOffset(handle), bytes32);
  refreshSizes(cat.id);
  return handle;
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

std::size_t DiskBuilder::catalogueOffset(Cat c) const {
  if (!node(c).catalogue) fail("not a catalogue");
  return sectorOffset(node(c).sector);
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

DiskBuilder& DiskBuilder::setFatCell(int index, std::uint8_t b0, std::uint8_t b1) {
  if (index < 0 || index >= kSectorCount) fail("sector index out of 0..799");
  return poke(fatCellOffset(index), std::string{static_cast<char>(b0), static_cast<char>(b1)});
}

DiskBuilder& DiskBuilder::setRecordByte(Entry e, std::size_t field, std::uint8_t value) {
  if (field >= kRecordSize) fail("record field offset out of 0..31");
  return pokeByte(recordOffset(e) + field, value);
}

DiskBuilder& DiskBuilder::setRecordWord(Entry e, std::size_t field, std::uint16_t value) {
  if (field + 1 >= kRecordSize) fail("record word offset out of 0..30");
  return poke(recordOffset(e) + field, word(value));
}

DiskBuilder& DiskBuilder::truncate(std::size_t size) {
  image_.resize(size, '\0');
  return *this;
}

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) fail("cannot write " + path);
}

}  // namespace odibuild
