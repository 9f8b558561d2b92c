// odibuild: writes ODI images of Specialist MX floppies (MX_DOS layout) for tests. An
// independent writer of the format: it does not use the reader in src/ (odicore), so tests can
// cross-check the reader against it. A DiskBuilder starts as a blank formatted disk; entries are
// written into the image as they are added, and damage poked in afterwards stays unless a later
// add rewrites the same bytes. Names, extensions and bodies are raw disk bytes (koi8() and its
// kin turn UTF-8 into the machine's codes). Errors in use (disk full, 33rd record, bad text)
// throw std::runtime_error; writes past the end of a truncated image std::out_of_range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace odibuild {

// 80 tracks x 10 sectors x 1024 bytes. A sector is addressed by its index
// k = 10 x track + sector - 1 (sector 1..10, track 0..79); it lies at k x 1024.
inline constexpr std::size_t kImageSize = 819200;
inline constexpr std::size_t kSignatureOffset = 5;  // usual place of "Dos_MX V3.6"
constexpr int trackOf(int index) {
  return index / 10;
}
constexpr int sectorOf(int index) {
  return index % 10 + 1;
}
constexpr std::size_t sectorOffset(int index) {
  return static_cast<std::size_t>(index) * 1024;
}
// The FAT at 29B0h: a 2-byte cell per sector. 00h 00h free, 53h 53h system (track 0 and the
// DOS's area, sectors 0..11), EBh 00h catalogue, AAh 00h the last sector of a chain; otherwise
// the sector and track of the next sector of the chain.
constexpr std::size_t fatCellOffset(int index) {
  return 0x29B0 + 2 * static_cast<std::size_t>(index);
}

// A catalogue record, 32 bytes, words little-endian: 00h marker D3h D3h D3h (08h D3h D3h:
// deleted), 03h name (8 bytes, space padded), 0Bh a space, 0Ch extension (3), 0Fh 00h, 10h date
// (BCD day, month, year), 13h first sector 1..10, 14h first track, 15h size word in KB (the
// sectors of the chain), 17h kind (00h file, FFh catalogue), 18h load address, 1Ah address of the
// last byte, 1Ch the monitor's checksum of the body, 1Eh 00h 00h.
namespace rec {
inline constexpr std::size_t kSector = 0x13, kTrack = 0x14, kSize = 0x15, kEnd = 0x1A,
                             kChecksum = 0x1C;
}  // namespace rec
inline constexpr std::uint8_t kKindFile = 0x00, kKindCatalogue = 0xFF;

// The sum the machine's monitor computes over a body: the low byte is the sum of all bytes mod
// 256; the high byte is the sum, over all bytes but the last, of each byte plus the carry out of
// adding that byte to the running low byte, mod 256. Empty body -> 0.
std::uint16_t monitorChecksum(std::string_view body);

struct Date {
  std::uint8_t day = 0x01, month = 0x01, year = 0x90;  // BCD bytes as stored; default 01.01.90
  static Date of(int day, int month, int year2);       // from numbers, e.g. of(22, 9, 92)
};

// KOI-8 as the machine uses it: C0h..DFh small "юабцдефгхийклмнопярстужвьызшэщчъ",
// E0h..FEh capitals "ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ". ASCII is kept as is.
// Other characters (Ё, capital Ъ, ...) throw.
std::string koi8(std::string_view utf8);
// As koi8(), and line ends ("\n", "\r\n", "\r") become CR (0Dh). TABs stay 09h.
std::string koi8Text(std::string_view utf8);
// KOI-7: Cyrillic capitals become 60h..7Eh (60h = Ю, 61h = А, ... 7Eh = Ч);
// ASCII is kept (so Latin small letters read as Cyrillic on the machine);
// small Cyrillic letters throw. Line ends become CR.
std::string koi7Text(std::string_view utf8);

// The fields of a record that vary, to compose a consistent or an inconsistent one.
struct RecordFields {
  std::string name;  // padded / cut to 8 bytes with spaces
  std::string ext;   // padded / cut to 3 bytes with spaces
  Date date;
  std::uint8_t sector = 1, track = 1;  // first sector address
  std::uint16_t sizeKb = 0;
  std::uint8_t kind = kKindFile;
  std::uint16_t start = 0, end = 0, checksum = 0;
};
std::string makeRecord(const RecordFields& fields);  // exactly 32 bytes

// Handles name entries of one DiskBuilder. Root is the catalogue with id 0 (it has no record).
struct Entry {
  int id = 0;
};
struct Cat : Entry {};
struct File : Entry {};

// What a file is made of; the optional fields override what the builder would compute.
struct FileSpec {
  std::string name;  // disk bytes, up to 8 (space padded)
  std::string ext;   // disk bytes, up to 3 (space padded)
  Date date;
  std::uint16_t start = 0;   // load address
  std::string body;          // the bytes
  std::vector<int> sectors;  // explicit chain (sector indices); empty: the next free sectors,
                             // consecutive; must hold ceil(body/1024)
  std::optional<std::uint16_t> checksum;  // default monitorChecksum(body)
  std::optional<std::uint16_t> sizeKb;    // default ceil(body / 1024)
  std::optional<std::uint16_t> end;       // default start + body.size() - 1

  FileSpec& inSectors(std::vector<int> indices) {
    sectors = std::move(indices);
    return *this;
  }
  FileSpec& withChecksum(std::uint16_t value) {
    checksum = value;
    return *this;
  }
};
// The usual file: name and extension (disk bytes), load address, body. An empty body takes no
// sector: size 0, end = start - 1, first sector fields 0/0.
inline FileSpec fileSpec(std::string_view name, std::string_view ext, std::uint16_t start,
                         std::string body, Date date = {}) {
  return {std::string(name), std::string(ext), date, start, std::move(body), {}, {}, {}, {}};
}

struct CatalogueSpec {
  std::string name;  // disk bytes, up to 8
  std::string ext;   // usually empty (3 spaces)
  Date date;
  std::optional<int> sector;            // sector index of the catalogue; default next free
  std::optional<std::uint16_t> sizeKb;  // default: sum of the size words of its records,
                                        // kept up to date as entries are added
  std::optional<bool> selfRecord;       // record of itself in slot 31; default: the
                                        // builder's setting (on, like real disks)
};

void writeFile(const std::string& path, std::string_view bytes);  // throws on I/O failure

class DiskBuilder {
 public:
  // A fresh disk: track 0 00h bytes with "Dos_MX V3.6" at 5 (no DOS code in it); 2800h..29AFh
  // 00h but "A:\" and the disk name "DISK  " at 2970h, as the DOS's screen picture carries
  // them; the FAT of a blank disk; the root catalogue at 3000h (track 1, sector 3, index 12) all
  // filler E5h; user sectors E5h, as a freshly formatted floppy reads.
  DiskBuilder();

  // setSignature replaces the previous signature (its bytes become 00h).
  DiskBuilder& setSignature(std::string_view text, std::size_t offset = kSignatureOffset);
  DiskBuilder& clearSignature();                     // no "Dos_MX" anywhere in track 0
  DiskBuilder& setDiskName(std::string_view name6);  // at 2970h, padded / cut to 6
  // Filler of unused catalogue slots (E5h by default; 00h also seen), in the catalogues there
  // are and those to come.
  DiskBuilder& setCatalogueFiller(std::uint8_t filler);
  // Default for CatalogueSpec::selfRecord of catalogues added from now on.
  DiskBuilder& setSelfRecords(bool on) {
    selfRecords_ = on;
    return *this;
  }

  Cat root() const { return Cat{{0}}; }
  File addFile(Cat parent, const FileSpec& spec);
  Cat addCatalogue(Cat parent, const CatalogueSpec& spec);
  Cat addCatalogue(Cat parent, std::string_view name8, Date date = {});
  // Any 32 bytes at the next slot of the list; a handle for recordOffset / setRecord*.
  Entry addRawRecord(Cat cat, std::string_view bytes32);

  std::size_t recordOffset(Entry e) const;  // image offset of the entry's record
  std::vector<int> chain(File f) const { return node(f).chain; }  // sector indices
  std::size_t catalogueOffset(Cat c) const;  // image offset of the catalogue sector

  // Damage and raw access, at image offsets.
  DiskBuilder& poke(std::size_t offset, std::string_view bytes);
  DiskBuilder& pokeByte(std::size_t offset, std::uint8_t byte);
  DiskBuilder& setFatCell(int index, std::uint8_t b0, std::uint8_t b1);
  DiskBuilder& setRecordByte(Entry e, std::size_t field, std::uint8_t value);
  DiskBuilder& setRecordWord(Entry e, std::size_t field, std::uint16_t value);
  DiskBuilder& truncate(std::size_t size);  // short image (or longer, padded with 00h)

  const std::string& image() const { return image_; }
  void writeTo(const std::string& path) const { writeFile(path, image_); }

 private:
  struct Node {
    int parent = -1;
    int slot = -1;  // slot in the parent catalogue, -1 for root
    bool catalogue = false;
    int sector = -1;                         // catalogue sector (catalogues)
    std::vector<int> chain;                  // file chain
    std::optional<std::uint16_t> fixedSize;  // explicit size word (catalogues)
    bool selfRecord = false;
    unsigned taken = 0;  // catalogues: bit i set when slot i holds a record we put there
  };
  int allocate() const;  // next free sector or throw
  int addNode(Entry parent, Node n);
  void fillUnused(int cat);
  void refreshSizes(int cat);  // rewrite catalogue size words up the tree
  const Node& node(Entry e) const;

  std::string image_;
  std::vector<Node> nodes_;
  std::pair<std::size_t, std::size_t> signature_{0, 0};  // offset, length of the last signature
  std::uint8_t filler_ = 0xE5;
  bool selfRecords_ = true;
};

// ---- JSON descriptions ----------------------------------------------------
// {
//   "signature": "Dos_MX V3.6",   // text, or null for none; default as shown
//   "signature_offset": 5,
//   "disk_name": "SAMPLE",        // UTF-8, KOI-8 on disk
//   "filler": "E5",               // unused catalogue slots: number or hex text
//   "self_records": true,
//   "entries": [ ENTRY... ]       // the root catalogue, in order
// }
// ENTRY, a catalogue: {"catalogue": "ИГРЫ", "date": "DD.MM.YY", "ext": "",
//                      "size": 12, "self_record": true, "sector": 40, "entries": [...]}
// ENTRY, a file:      {"file": "README", "ext": "TXT", "date": "DD.MM.YY",
//                      "start": "1100",   // number, or hex text ("1100", "0x1100", "1100h")
//                      one body: "text": "..." or [lines]  (UTF-8 -> KOI-8; each array
//                                                           line ends in CR)
//                                "koi7": "..." or [lines]  (capitals -> KOI-7)
//                                "hex": "C3 00 90 ..."     (spaces allowed)
//                                "fill": {"byte": 229, "count": 3000}
//                      "eof": true,        // append a byte FFh, like real texts
//                      optional "checksum", "size", "end", "sectors": [13, 40, ...]}
// Names are UTF-8 (Cyrillic -> KOI-8). Every field but "file"/"catalogue" is optional.
DiskBuilder fromJson(std::string_view text);

// The bundled sample disk's description (the text of tests/builder/sample.json, built into the
// library): fromJson(sampleDescription()) gives the sample.
std::string_view sampleDescription();

}  // namespace odibuild
