// odibuild: writes ODI images of Specialist MX floppies (MX_DOS layout) for tests.
//
// This library is an independent writer of the disk format. It does not use the
// reader in src/ (odicore), so tests can cross-check the reader against it.
//
// ---------------------------------------------------------------------------
// Using the builder
// ---------------------------------------------------------------------------
// A DiskBuilder starts as a freshly formatted, blank MX_DOS disk. Entries are
// written into the image at once, as they are added; what you poke afterwards
// (damage) stays unless a later add rewrites the same bytes.
//
// 1) A sound nested disk:
//
//     using namespace odibuild;
//     DiskBuilder disk;                                  // blank, "Dos_MX V3.6" at 5
//     disk.setDiskName("WORK");
//     File readme = disk.addFile(disk.root(),
//         fileSpec("readme", "txt", 0x1100, koi8Text("Привет\n") + "\xFF", Date::of(1, 9, 92)));
//     Cat games = disk.addCatalogue(disk.root(), koi8("ИГРЫ"), Date::of(2, 9, 92));
//     Cat old   = disk.addCatalogue(games, "OLD");       // level 2
//     std::string code(2500, '\x55');                     // 3 sectors
//     disk.addFile(old, fileSpec("TETRIS", "COM", 0x9000, code));
//     disk.writeTo("nested.odi");
//
// 2) A damaged chain (the second sector's FAT cell points into track 0):
//
//     DiskBuilder disk;
//     File f = disk.addFile(disk.root(), fileSpec("BROKEN", "BIN", 0, std::string(3000, 'x')));
//     std::vector<int> chain = disk.chain(f);             // {13, 14, 15} on a fresh disk
//     disk.setFatCell(chain[1], 5, 0);                     // sector 5, track 0: invalid
//     disk.setRecordWord(f, rec::kSize, 7);                // size word lies, too
//     std::string bytes = disk.image();
//
// Scattered chains: fileSpec(...).inSectors({40, 13, 799}). Inconsistent
// records: fill a RecordFields, then putRecord(cat, slot, makeRecord(fields)),
// or putRecord(cat, slot, any 32 bytes).
// A disk from a JSON description: fromJson(json) (format documented there), or
// the tool: odi-mkimage DESC.json OUT.odi, odi-mkimage --sample OUT.odi.
//
// Names, extensions and bodies given to the C++ API are raw disk bytes; use
// koi8()/koi8Text()/koi7Text() to turn UTF-8 Russian into the machine's codes.
// Errors in use (disk full, 33rd record, bad text) throw std::runtime_error.
// ---------------------------------------------------------------------------
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace odibuild {

// ---- Disk geometry --------------------------------------------------------
// 80 tracks x 10 sectors x 1024 bytes. A sector is addressed by its index
// k = 10 x track + sector - 1 (sector 1..10, track 0..79); it lies at k x 1024.
inline constexpr std::size_t kImageSize = 819200;
inline constexpr std::size_t kSectorSize = 1024;
inline constexpr int kSectorCount = 800;
inline constexpr std::size_t kSignatureOffset = 5;      // usual place of "Dos_MX V3.6"
inline constexpr std::size_t kDiskNameOffset = 0x2970;  // 6 bytes, space padded
inline constexpr std::size_t kFatOffset = 0x29B0;       // 800 cells x 2 bytes
inline constexpr std::size_t kRootOffset = 0x3000;      // root catalogue (track 1, sector 3)
inline constexpr int kRootSector = 12;                  // its sector index
inline constexpr int kSystemSectors = 12;               // indices 0..11: DOS and FAT
inline constexpr std::size_t kRecordSize = 32;
inline constexpr int kSlotsPerCatalogue = 32;  // 1024 / 32

// FAT cell codes (byte 0; byte 1 as noted).
inline constexpr std::uint8_t kFatFree = 0x00;       // 00h 00h
inline constexpr std::uint8_t kFatSystem = 0x53;     // 53h 53h
inline constexpr std::uint8_t kFatCatalogue = 0xEB;  // EBh 00h
inline constexpr std::uint8_t kFatEnd = 0xAA;        // AAh 00h: last sector of a chain

constexpr int sectorIndex(int track, int sector) {
  return 10 * track + sector - 1;
}
constexpr int trackOf(int index) {
  return index / 10;
}
constexpr int sectorOf(int index) {
  return index % 10 + 1;
}
constexpr std::size_t sectorOffset(int index) {
  return static_cast<std::size_t>(index) * kSectorSize;
}
constexpr std::size_t fatCellOffset(int index) {
  return kFatOffset + 2 * static_cast<std::size_t>(index);
}

// ---- Catalogue record -----------------------------------------------------
// Offsets of the fields inside a 32-byte record. Words are little-endian.
namespace rec {
inline constexpr std::size_t kMarker = 0x00;      // 3 bytes D3h D3h D3h (08h D3h D3h = deleted)
inline constexpr std::size_t kName = 0x03;        // 8 bytes, space padded
inline constexpr std::size_t kDot = 0x0B;         // 1 byte, a space
inline constexpr std::size_t kExt = 0x0C;         // 3 bytes, space padded
inline constexpr std::size_t kReserved0F = 0x0F;  // 1 byte
inline constexpr std::size_t kDate = 0x10;        // 3 BCD bytes: day, month, year
inline constexpr std::size_t kSector = 0x13;      // first sector number 1..10
inline constexpr std::size_t kTrack = 0x14;       // first track
inline constexpr std::size_t kSize = 0x15;        // word: size in KB (sectors in chain)
inline constexpr std::size_t kKind = 0x17;        // 00h file, FFh catalogue
inline constexpr std::size_t kStart = 0x18;       // word: load address
inline constexpr std::size_t kEnd = 0x1A;         // word: address of the last byte
inline constexpr std::size_t kChecksum = 0x1C;    // word: monitor sum of the body
inline constexpr std::size_t kReserved1E = 0x1E;  // word
}  // namespace rec

inline constexpr std::uint8_t kKindFile = 0x00;
inline constexpr std::uint8_t kKindCatalogue = 0xFF;

// ---- Checksum -------------------------------------------------------------
// The sum the machine's monitor computes over a body: the low byte is the sum
// of all bytes mod 256; the high byte is the sum, over all bytes but the last,
// of each byte plus the carry out of adding that byte to the running low byte,
// mod 256. Empty body -> 0.
std::uint16_t monitorChecksum(std::string_view body);

// ---- Dates ----------------------------------------------------------------
std::uint8_t bcd(int value);  // 0..99 -> BCD byte (high nibble tens)

struct Date {
  std::uint8_t day = 0x01, month = 0x01, year = 0x90;  // BCD bytes as stored; default 01.01.90
  static Date of(int day, int month, int year2);       // from numbers, e.g. of(22, 9, 92)
  static Date parse(std::string_view ddmmyy);          // "DD.MM.YY"
};

// ---- Text codes -----------------------------------------------------------
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

// ---- Raw records ----------------------------------------------------------
// Every field of a record, to compose a consistent or an inconsistent one.
struct RecordFields {
  std::string marker = "\xD3\xD3\xD3";  // 3 bytes
  std::string name;                     // padded / cut to 8 bytes with spaces
  std::string ext;                      // padded / cut to 3 bytes with spaces
  std::uint8_t dot = 0x20;
  std::uint8_t reserved0F = 0x00;
  Date date;
  std::uint8_t sector = 1, track = 1;  // first sector address
  std::uint16_t sizeKb = 0;
  std::uint8_t kind = kKindFile;
  std::uint16_t start = 0, end = 0, checksum = 0;
  std::uint16_t reserved1E = 0;
};
std::string makeRecord(const RecordFields& fields);  // exactly 32 bytes

// ---- Handles --------------------------------------------------------------
// Handles name entries of one DiskBuilder. Root is the catalogue with id 0
// (it has no record of its own).
struct Entry {
  int id = 0;
};
struct Cat : Entry {};
struct File : Entry {};

// What a file is made of. Only name/ext/start/body are usually needed; the
// optional fields override what the builder would compute.
struct FileSpec {
  std::string name;  // disk bytes, up to 8 (space padded)
  std::string ext;   // disk bytes, up to 3 (space padded)
  Date date;
  std::uint16_t start = 0;                // load address
  std::string body;                       // the bytes; end = start + size - 1
  std::vector<int> sectors;               // explicit chain (sector indices); empty: next free
                                          // sectors, consecutive; must hold ceil(body/1024)
  std::optional<std::uint16_t> checksum;  // default monitorChecksum(body)
  std::optional<std::uint16_t> sizeKb;    // default ceil(body / 1024)
  std::optional<std::uint16_t> end;       // default start + body.size() - 1
  std::uint8_t reserved0F = 0;
  std::uint16_t reserved1E = 0;

  // Chained modifiers (designated initializers would do, but GCC 12 warns
  // about every field left out with -Wextra).
  FileSpec& dated(Date d) {
    date = d;
    return *this;
  }
  FileSpec& inSectors(std::vector<int> indices) {
    sectors = std::move(indices);
    return *this;
  }
  FileSpec& withChecksum(std::uint16_t value) {
    checksum = value;
    return *this;
  }
  FileSpec& withSize(std::uint16_t kb) {
    sizeKb = kb;
    return *this;
  }
  FileSpec& withEnd(std::uint16_t address) {
    end = address;
    return *this;
  }
};
// The usual file: name and extension (disk bytes), load address, body.
inline FileSpec fileSpec(std::string_view name, std::string_view ext, std::uint16_t start,
                         std::string body, Date date = {}) {
  FileSpec f;
  f.name = std::string(name);
  f.ext = std::string(ext);
  f.start = start;
  f.body = std::move(body);
  f.date = date;
  return f;
}
// An empty body takes no sector: size 0, end = start - 1, first sector fields
// 0/0 (set them with setRecordByte if a test needs a valid address there).

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

// ---- The builder ----------------------------------------------------------
class DiskBuilder {
 public:
  DiskBuilder();  // blank formatted disk (see the .cpp for the exact bytes)

  // Disk-wide settings. Each returns *this so calls chain.
  // setSignature replaces the previous signature (its bytes become 00h).
  DiskBuilder& setSignature(std::string_view text, std::size_t offset = kSignatureOffset);
  DiskBuilder& clearSignature();                     // no "Dos_MX" anywhere in track 0
  DiskBuilder& setDiskName(std::string_view name6);  // at 2970h, padded / cut to 6
  // Filler of unused catalogue slots (E5h by default; 00h also seen). Refills
  // the unused slots of existing catalogues and applies to new ones.
  DiskBuilder& setCatalogueFiller(std::uint8_t filler);
  // Default for CatalogueSpec::selfRecord of catalogues added from now on.
  DiskBuilder& setSelfRecords(bool on);

  // Content.
  Cat root() const { return Cat{{0}}; }
  File addFile(Cat parent, const FileSpec& spec);
  Cat addCatalogue(Cat parent, const CatalogueSpec& spec);
  Cat addCatalogue(Cat parent, std::string_view name8, Date date = {});
  // Write any 32 bytes into a catalogue slot (0..31) and count the slot as
  // used. Adds always take the lowest unused slot, so a raw record written
  // beyond the end of the list leaves a gap (readers stop there) until later
  // adds fill it. Returns a handle for recordOffset / setRecord*.
  Entry putRecord(Cat cat, int slot, std::string_view bytes32);
  // Append a raw record at the next slot of the list.
  Entry addRawRecord(Cat cat, std::string_view bytes32);

  // Inspection.
  std::size_t recordOffset(Entry e) const;   // image offset of the entry's record
  int slotOf(Entry e) const;                 // its slot in the parent catalogue
  std::vector<int> chain(File f) const;      // sector indices of the file's chain
  int catalogueSector(Cat c) const;          // sector index of the catalogue
  std::size_t catalogueOffset(Cat c) const;  // image offset of the catalogue sector
  int recordCount(Cat c) const;              // records in its list (slot 31 self record excluded)
  int freeSectorCount() const;               // FAT cells 00h 00h
  int nextFreeSector() const;                // -1 when the disk is full

  // Damage and raw access. Offsets are image offsets; writes past the end of
  // a truncated image throw.
  DiskBuilder& poke(std::size_t offset, std::string_view bytes);
  DiskBuilder& pokeByte(std::size_t offset, std::uint8_t byte);
  DiskBuilder& setFatCell(int index, std::uint8_t b0, std::uint8_t b1);
  std::pair<std::uint8_t, std::uint8_t> fatCell(int index) const;
  DiskBuilder& setRecordByte(Entry e, std::size_t field, std::uint8_t value);
  DiskBuilder& setRecordWord(Entry e, std::size_t field, std::uint16_t value);
  DiskBuilder& setRecordBytes(Entry e, std::size_t field, std::string_view bytes);
  // Mark the record deleted (first byte 08h, so it reads 08h D3h D3h). The
  // chain stays allocated in the FAT unless freeChain.
  DiskBuilder& deleteRecord(Entry e, bool freeChain = false);
  DiskBuilder& truncate(std::size_t size);  // short image (or longer, padded with 00h)

  // Output.
  const std::string& image() const { return image_; }
  void writeTo(const std::string& path) const;  // throws on I/O failure

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
    RecordFields own;    // catalogues: their record in the parent (copied to slot 31)
  };
  int allocate() const;  // next free sector or throw
  void claim(int index, std::uint8_t b0, std::uint8_t b1);
  int takeSlot(int cat);
  void fillUnused(int cat);
  void writeSelfRecord(int cat);
  void refreshSizes(int cat);  // rewrite catalogue size words up the tree
  std::uint16_t contentKb(int cat) const;
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
DiskBuilder fromJson(const nlohmann::json& description);
DiskBuilder fromJsonText(std::string_view text);            // parses, then fromJson
std::string bodyFromJson(const nlohmann::json& fileEntry);  // the body bytes of a file ENTRY

// The bundled sample disk's description (the text of tests/builder/sample.json,
// built into the library). fromJsonText(sampleDescription()) gives the sample.
std::string_view sampleDescription();

}  // namespace odibuild
