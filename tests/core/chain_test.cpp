// Sector chains and extraction on disks made by the builder, sound and damaged.
#include "image/chain.h"

#include <gtest/gtest.h>

#include "builder/odibuild.h"
#include "extract/copy_buf.h"
#include "image/catalogue.h"
#include "state/texts.h"

using namespace odi;
using odibuild::DiskBuilder;
using odibuild::fileSpec;

namespace {

std::string body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 1024);
  return s;
}

Record first_record(const std::string& img) {
  return read_catalogue(Image(img), kRootOffset).at(0);
}

CopyResult extract(
    const std::string& img, const Options& o = [] {
      Options b;
      b.txt = false;
      b.bin = true;
      return b;
    }()) {
  return COPY_BUF(Image(img), first_record(img), o, "01.02.03");
}

}  // namespace

TEST(Chain, AddressesAndKonFat) {
  EXPECT_EQ(sector_offset(1, 1), 0x2800);
  EXPECT_EQ(sector_offset(1, 3), 0x3000);
  EXPECT_EQ(sector_offset(79, 10), 0xC7C00);
  EXPECT_TRUE(KON_FAT(0xAA, 200));
  EXPECT_TRUE(KON_FAT(1, 1));
  EXPECT_TRUE(KON_FAT(10, 79));
  for (auto [s, t] : {std::pair{0, 5}, {11, 5}, {5, 0}, {5, 80}, {0x53, 0x53}, {0, 0}, {0xEB, 0}})
    EXPECT_FALSE(KON_FAT(s, t)) << s << "," << t;
}

TEST(Chain, BodyLengthsFollowTheAddresses) {
  struct Case {
    std::uint16_t start;
    size_t len;
  };
  // 3000 bytes over three sectors; exactly 2048 (second sector whole); 1024; one byte into a
  // second sector; 256 bytes at 0100h; the largest body, 65536 bytes in 64 sectors.
  for (Case c : {Case{0, 3000}, {0, 2048}, {0, 1024}, {0, 1025}, {0x100, 256}, {0, 65536}}) {
    DiskBuilder d;
    const std::string b = body(c.len);
    d.addFile(d.root(), fileSpec("F", "BIN", c.start, b));
    const CopyResult r = extract(d.image());
    EXPECT_EQ(r.ERR_COP, 0) << c.len;
    EXPECT_EQ(r.BUF_FIL, b) << c.len;
  }
}

TEST(Chain, ScatteredChainIsFollowedThroughTheFat) {
  DiskBuilder d;
  const std::string b = body(2500);
  d.addFile(d.root(), fileSpec("F", "BIN", 0, b).inSectors({799, 13, 400}));
  EXPECT_EQ(extract(d.image()).BUF_FIL, b);
}

TEST(Chain, BadAddressesGiveTheirErrorTexts) {
  {  // first sector on track 0
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(100)));
    d.setRecordByte(f, odibuild::rec::kTrack, 0);
    const CopyResult r = extract(d.image());
    EXPECT_EQ(r.ERR_COP, kCopyBadFirst);
    EXPECT_EQ(r.BUF_FIL, texts::err_catalogue());
  }
  {  // a chain that runs into a free cell after two sectors
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)));
    d.setFatCell(d.chain(f)[1], 0, 0);
    const CopyResult r = extract(d.image());
    EXPECT_EQ(r.ERR_COP, kCopyBadFat);
    EXPECT_EQ(r.BUF_FIL, texts::err_fat());
  }
  {  // first sector AAh with a size: AAh marks an end, it is not a sector
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(10)));
    d.setRecordByte(f, odibuild::rec::kSector, 0xAA);
    EXPECT_EQ(extract(d.image()).ERR_COP, kCopyBadFirst);
  }
  {  // size 0 with first sector AAh: nothing to read, no error
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(10)));
    d.setRecordByte(f, odibuild::rec::kSector, 0xAA);
    d.setRecordWord(f, odibuild::rec::kSize, 0);
    const CopyResult r = extract(d.image(), Options{});  // even txt: no trailer
    EXPECT_EQ(r.ERR_COP, 0);
    EXPECT_EQ(r.BUF_FIL, "");
  }
}

TEST(Chain, LoopsAndEarlyEndsNeverRunAway) {
  {  // the FAT leads back to the first sector: a loop is a bad FAT
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).withSize(60000));
    const auto c = d.chain(f);
    d.setFatCell(c[2], static_cast<std::uint8_t>(odibuild::sectorOf(c[0])),
                 static_cast<std::uint8_t>(odibuild::trackOf(c[0])));
    const ChainWalk w = walk_chain(Image(d.image()), first_record(d.image()));
    EXPECT_EQ(w.ERR_COP, kCopyBadFat);
    EXPECT_TRUE(w.loop);
    EXPECT_EQ(w.pieces.size(), 3u);
  }
  {  // AAh at the second of five sectors: stop there, no error, last-sector length clamped
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).withSize(5));
    d.setFatCell(d.chain(f)[1], 0xAA, 0);
    const ChainWalk w = walk_chain(Image(d.image()), first_record(d.image()));
    EXPECT_EQ(w.ERR_COP, 0);
    EXPECT_TRUE(w.ended_early);
    ASSERT_EQ(w.pieces.size(), 2u);
    // 2999 - 4 x 1024 + 1 is negative: the sector gives nothing.
    EXPECT_EQ(w.pieces[1].length, 0);
  }
  {  // size 1 but addresses for 3000 bytes: the one sector is read whole, not 3000 bytes
    DiskBuilder d;
    auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(900)).withEnd(2999));
    (void)f;
    const CopyResult r = extract(d.image());
    EXPECT_EQ(r.BUF_FIL.size(), 1024u);
  }
  {  // a chain longer than the size word: n sectors, the last read whole
    DiskBuilder d;
    d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).withSize(2));
    const ChainWalk w = walk_chain(Image(d.image()), first_record(d.image()));
    EXPECT_TRUE(w.longer);
    EXPECT_EQ(extract(d.image()).BUF_FIL, body(3000).substr(0, 2048));
  }
}

TEST(Chain, ShortImagesAreReportedNotReadPast) {
  DiskBuilder d;
  auto f = d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).inSectors({13, 14, 700}));
  (void)f;
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
