// Sector chains and extraction on disks made by the builder, sound and damaged.
#include "image/chain.h"

#include <gtest/gtest.h>

#include <functional>

#include "builder/odibuild.h"
#include "extract/copy_buf.h"
#include "image/catalogue.h"
#include "state/texts.h"

using namespace odi;
using odibuild::DiskBuilder;
using odibuild::fileSpec;
using odibuild::rec::kSector;
using odibuild::rec::kSize;
using odibuild::rec::kTrack;

namespace {

std::string body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 1024);
  return s;
}

Record first_record(const std::string& img) {
  return read_catalogue(Image(img), kRootOffset).at(0);
}

Options bin() {
  Options o;
  o.txt = false;
  o.bin = true;
  return o;
}

CopyResult extract(const std::string& img, const Options& o = bin()) {
  return COPY_BUF(Image(img), first_record(img), o, "01.02.03");
}

}  // namespace

TEST(Chain, AddressesAndKonFat) {
  EXPECT_EQ(sector_offset(1, 1), 0x2800);
  EXPECT_EQ(sector_offset(1, 3), 0x3000);
  EXPECT_EQ(sector_offset(79, 10), 0xC7C00);
  for (auto [s, t] : {std::pair{0xAA, 200}, {1, 1}, {10, 79}}) EXPECT_TRUE(KON_FAT(s, t));
  for (auto [s, t] : {std::pair{0, 5}, {11, 5}, {5, 0}, {5, 80}, {0x53, 0x53}, {0, 0}, {0xEB, 0}})
    EXPECT_FALSE(KON_FAT(s, t)) << s << "," << t;
}

TEST(Chain, BodyLengthsFollowTheAddresses) {
  struct Case {
    std::uint16_t start;
    size_t len;
    std::vector<int> sectors;  // empty: the next free ones
  };
  // 3000 bytes over three sectors, and 2500 scattered over the disk through the FAT; exactly
  // 2048 (second sector whole); 1024; one byte into a second sector; 256 bytes at 0100h; the
  // largest body, 65536 bytes in 64 sectors.
  for (const Case& c : {Case{0, 3000, {}},
                        {0, 2500, {799, 13, 400}},
                        {0, 2048, {}},
                        {0, 1024, {}},
                        {0, 1025, {}},
                        {0x100, 256, {}},
                        {0, 65536, {}}}) {
    DiskBuilder d;
    const std::string b = body(c.len);
    d.addFile(d.root(), fileSpec("F", "BIN", c.start, b).inSectors(c.sectors));
    const CopyResult r = extract(d.image());
    EXPECT_EQ(r.ERR_COP, 0) << c.len;
    EXPECT_EQ(r.BUF_FIL, b) << c.len;
  }
}

TEST(Chain, DamagedChainsGiveTheirErrorTextsAndNeverRunAway) {
  struct Case {
    const char* what;
    std::function<void(DiskBuilder&, odibuild::File)> damage;
    int err;
    std::string body;  // BUF_FIL, or the error text
  };
  const std::string b = body(3000);
  const Case cases[] = {
      {"first sector on track 0", [](auto& d, auto f) { d.setRecordByte(f, kTrack, 0); },
       kCopyBadFirst, texts::err_catalogue()},
      {"first sector AAh with a size: AAh marks an end, it is not a sector",
       [](auto& d, auto f) { d.setRecordByte(f, kSector, 0xAA); }, kCopyBadFirst,
       texts::err_catalogue()},
      {"size 0 with first sector AAh: nothing to read, no error, even txt has no trailer",
       [](auto& d, auto f) {
         d.setRecordByte(f, kSector, 0xAA);
         d.setRecordWord(f, kSize, 0);
       },
       0, ""},
      {"a chain running into a free cell after two sectors",
       [](auto& d, auto f) { d.setFatCell(d.chain(f)[1], 0, 0); }, kCopyBadFat, texts::err_fat()},
      {"the FAT leading back to the first sector: a loop is a bad FAT",
       [](auto& d, auto f) {
         const auto c = d.chain(f);
         d.setRecordWord(f, kSize, 10);
         d.setFatCell(c[2], static_cast<std::uint8_t>(odibuild::sectorOf(c[0])),
                      static_cast<std::uint8_t>(odibuild::trackOf(c[0])));
       },
       kCopyBadFat, texts::err_fat()},
      {"AAh at the second of five sectors: the walk stops there; 2999 - 4 x 1024 + 1 is negative, "
       "so the last sector gives nothing",
       [](auto& d, auto f) {
         d.setRecordWord(f, kSize, 5);
         d.setFatCell(d.chain(f)[1], 0xAA, 0);
       },
       0, b.substr(0, 1024)},
      {"size 1, the first sector's link AAh, addresses for 3000 bytes: one sector read whole",
       [](auto& d, auto f) {
         d.setRecordWord(f, kSize, 1);
         d.setFatCell(d.chain(f)[0], 0xAA, 0);
       },
       0, b.substr(0, 1024)},
      {"a chain longer than the size word: n sectors, the last read whole",
       [](auto& d, auto f) { d.setRecordWord(f, kSize, 2); }, 0, b.substr(0, 2048)},
  };
  for (const Case& c : cases) {
    DiskBuilder d;
    c.damage(d, d.addFile(d.root(), fileSpec("F", "BIN", 0, b)));
    const CopyResult r = extract(d.image(), c.err == 0 && !c.body.empty() ? bin() : Options{});
    EXPECT_EQ(r.ERR_COP, c.err) << c.what;
    EXPECT_EQ(r.BUF_FIL, c.body) << c.what;
  }
}

TEST(Chain, ShortImagesAreReportedNotReadPast) {
  DiskBuilder d;
  d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).inSectors({13, 14, 700}));
  std::string img = d.image();
  img.resize(0x3400 + 2048);  // the third sector is gone
  CopyResult r = COPY_BUF(Image(img), first_record(img), Options{}, "x");
  EXPECT_EQ(r.ERR_COP, kCopyShort);
  EXPECT_EQ(r.BUF_FIL, texts::err_read());
  // The FAT itself cut short.
  const Record rec = first_record(img);
  img.resize(0x2A00);
  EXPECT_EQ(COPY_BUF(Image(img), rec, Options{}, "x").ERR_COP, kCopyShort);
}

TEST(Rks, FrameAroundTheBody) {
  DiskBuilder d;
  d.addFile(d.root(),
            fileSpec("P", "COM", 0x9000, std::string("\x3E\x01\xC9\x00", 4)).withChecksum(0x1234));
  Options o;
  o.txt = false;
  o.rks = true;
  EXPECT_EQ(extract(d.image(), o).BUF_FIL,
            std::string("\x00\x90\x03\x00\x3E\x01\xC9\x00\x34\x12", 10));
  // A 64 KB body: the size field keeps the low 16 bits of end - start (FFFFh).
  DiskBuilder big;
  big.addFile(big.root(), fileSpec("P", "COM", 0, body(65536)));
  const std::string r = extract(big.image(), o).BUF_FIL;
  EXPECT_EQ(r.substr(0, 4), std::string("\x00\x00\xFF\xFF", 4));
  EXPECT_EQ(r.size(), 65536u + 6);
  // With txt as well: header, text, trailer, checksum.
  o.txt = true;
  DiskBuilder t;
  t.addFile(t.root(), fileSpec("T", "TXT", 0x0100, "AB\r").withChecksum(0xBEEF));
  EXPECT_EQ(extract(t.image(), o).BUF_FIL,
            std::string("\x00\x01\x02\x00", 4) +
                "AB\r\n\r\nName: 'T        TXT' \\ 1K\r\nData: 01.02.03\xEF\xBE");
}

TEST(Checksum, MonitorSum) {
  EXPECT_EQ(monitor_checksum(""), 0);
  EXPECT_EQ(monitor_checksum("\x05"), 0x0005);
  EXPECT_EQ(monitor_checksum("\xFF\x01"), 0xFF00);
  EXPECT_EQ(monitor_checksum("\xFF\x01\x01"), 0x0101);
  const std::string b = body(5000);
  EXPECT_EQ(monitor_checksum(b), odibuild::monitorChecksum(b));
}
