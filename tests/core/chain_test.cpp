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
      {"a link to sector 11: no sector, though 10 x track + 11 - 1 would be one",
       [](auto& d, auto f) { d.setFatCell(d.chain(f)[0], 11, 3); }, kCopyBadFat, texts::err_fat()},
      {"a link to track 80", [](auto& d, auto f) { d.setFatCell(d.chain(f)[0], 1, 80); },
       kCopyBadFat, texts::err_fat()},
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

// A chain scattered over the disk is followed through the FAT; a cut image is never read past.
TEST(Chain, ScatteredChainsAndShortImages) {
  DiskBuilder d;
  d.addFile(d.root(), fileSpec("F", "BIN", 0, body(3000)).inSectors({13, 14, 700}));
  std::string img = d.image();
  EXPECT_EQ(extract(img).BUF_FIL, body(3000));
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
  const std::string ff(65536, '\xFF');  // the largest sum a body can make
  EXPECT_EQ(monitor_checksum(ff), odibuild::monitorChecksum(ff));
}
