// Pins the disk layout the builder writes, and its checksum against real disks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "builder/odibuild.h"

using namespace odibuild;

namespace {

unsigned u8(const std::string& img, std::size_t o) {
  return static_cast<unsigned char>(img.at(o));
}
unsigned u16(const std::string& img, std::size_t o) {
  return u8(img, o) | u8(img, o + 1) << 8;
}
std::string bytes(std::initializer_list<unsigned> list) {
  std::string s;
  for (unsigned b : list) s.push_back(static_cast<char>(b));
  return s;
}

// A minimal reader, written separately from the builder: the body of the
// record at image offset r, walked along the FAT for size-word sectors.
std::string readBody(const std::string& img, std::size_t r) {
  unsigned sec = u8(img, r + rec::kSector), trk = u8(img, r + rec::kTrack);
  const unsigned n = u16(img, r + rec::kSize);
  const std::size_t len = u16(img, r + rec::kEnd) - u16(img, r + rec::kStart) + 1u;
  std::string body;
  for (unsigned i = 0; i < n && sec != 0xAA; ++i) {
    const std::size_t k = 10 * trk + sec - 1;
    body += img.substr(k * 1024, 1024);
    sec = u8(img, kFatOffset + 2 * k), trk = u8(img, kFatOffset + 2 * k + 1);
  }
  return body.substr(0, len);
}

// Records of the catalogue sector at offset c, up to the first without the marker.
std::vector<std::size_t> listRecords(const std::string& img, std::size_t c) {
  std::vector<std::size_t> out;
  for (std::size_t r = c; r < c + 1024 && img.compare(r, 3, "\xD3\xD3\xD3") == 0; r += 32)
    out.push_back(r);
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(Builder, BlankDiskLayout) {
  const std::string img = DiskBuilder().setDiskName("WORK").image();
  ASSERT_EQ(img.size(), 819200u);
  EXPECT_EQ(img.substr(5, 11), "Dos_MX V3.6");
  EXPECT_EQ(img.substr(0x296D, 9), "A:\\WORK  ");
  for (int k = 0; k < 12; ++k) EXPECT_EQ(u16(img, 0x29B0 + 2 * k), 0x5353u) << k;
  EXPECT_EQ(img.substr(0x29C8, 4), bytes({0xEB, 0x00, 0x00, 0x00}));  // root cell, then free
  EXPECT_EQ(img.substr(0x3000, 1024), std::string(1024, '\xE5'));
  EXPECT_EQ(DiskBuilder().setCatalogueFiller(0).image().substr(0x3000, 1024),
            std::string(1024, '\0'));
  EXPECT_EQ(DiskBuilder().clearSignature().image().find("Dos_MX"), std::string::npos);
}

TEST(Builder, FileRecordAndChain) {
  DiskBuilder disk;
  const File f = disk.addFile(
      disk.root(), fileSpec("GAME", "COM", 0x9000, std::string(3000, '\x01'), Date::of(22, 9, 92)));
  const std::string& img = disk.image();
  ASSERT_EQ(disk.recordOffset(f), 0x3000u);
  // 3000 bytes of 01h: low = 3000 mod 256 = B8h; high = 2999 + 11 carries = C2h.
  EXPECT_EQ(img.substr(0x3000, 32),
            bytes({0xD3, 0xD3, 0xD3, 'G',  'A',  'M',  'E',  ' ',  ' ',  ' ',  ' ',
                   ' ',  'C',  'O',  'M',  0x00, 0x22, 0x09, 0x92, 0x04, 0x01, 0x03,
                   0x00, 0x00, 0x00, 0x90, 0xB7, 0x9B, 0xB8, 0xC2, 0,    0}));
  EXPECT_EQ(disk.chain(f), (std::vector<int>{13, 14, 15}));
  EXPECT_EQ(img.substr(0x29B0 + 26, 6), bytes({0x05, 0x01, 0x06, 0x01, 0xAA, 0x00}));
  EXPECT_EQ(readBody(img, 0x3000), std::string(3000, '\x01'));
  EXPECT_EQ(img[0x3020], '\xE5');  // the next slot is filler: the list ends
}

TEST(Builder, NestedCatalogues) {
  DiskBuilder disk;
  const Cat games = disk.addCatalogue(disk.root(), "GAMES", Date::of(1, 2, 93));
  const Cat old = disk.addCatalogue(games, "OLD");
  disk.addFile(old, fileSpec("A", "", 0, std::string(1025, 'a')));
  disk.addFile(games, fileSpec("B", "", 0, "b"));
  const std::string& img = disk.image();
  EXPECT_EQ(disk.catalogueSector(games), 13);
  EXPECT_EQ(img.substr(fatCellOffset(13), 2), bytes({0xEB, 0x00}));
  EXPECT_EQ(img.substr(fatCellOffset(14), 2), bytes({0xEB, 0x00}));
  EXPECT_EQ(img.substr(0x3013, 5),
            bytes({0x04, 0x01, 0x03, 0x00, 0xFF}));  // sector 4 track 1, 3 KB, catalogue
  EXPECT_EQ(u16(img, disk.recordOffset(old) + rec::kSize), 2u);
  EXPECT_EQ(listRecords(img, disk.catalogueOffset(games)).size(), 2u);
  // The catalogue's own record in slot 31 of its sector, pointing at itself.
  const std::size_t self = disk.catalogueOffset(games) + 31 * 32;
  EXPECT_EQ(img.substr(self, 8), bytes({0xD3, 0xD3, 0xD3, 'G', 'A', 'M', 'E', 'S'}));
  EXPECT_EQ(img.substr(self + rec::kSector, 5), bytes({0x04, 0x01, 0x00, 0x00, 0xFF}));
}

TEST(Builder, ScatteredChainAndDamage) {
  DiskBuilder disk;
  const File f =
      disk.addFile(disk.root(), fileSpec("S", "", 0, std::string(2048, 's')).inSectors({40, 20}));
  EXPECT_EQ(disk.image().substr(fatCellOffset(40), 2), bytes({0x01, 0x02}));  // -> track 2 sector 1
  EXPECT_EQ(disk.image().substr(fatCellOffset(20), 2), bytes({0xAA, 0x00}));
  EXPECT_EQ(disk.image().substr(0x3013, 2), bytes({0x01, 0x04}));  // index 40: track 4 sector 1
  RecordFields bad;
  bad.name = "BAD", bad.sector = 0xAA, bad.track = 0;
  const Entry raw = disk.addRawRecord(disk.root(), makeRecord(bad));
  EXPECT_EQ(disk.recordOffset(raw), 0x3020u);
  disk.setFatCell(40, 5, 0).setRecordWord(f, rec::kEnd, 0x0010).deleteRecord(f).truncate(0x3100);
  EXPECT_EQ(disk.image().substr(0x3000, 3), bytes({0x08, 0xD3, 0xD3}));
  EXPECT_EQ(disk.image().size(), 0x3100u);
  EXPECT_THROW(disk.pokeByte(0x3100, 0), std::out_of_range);
}

TEST(Builder, MonitorChecksum) {
  EXPECT_EQ(monitorChecksum(""), 0x0000);
  EXPECT_EQ(monitorChecksum(bytes({0x05})), 0x0005);
  EXPECT_EQ(monitorChecksum(bytes({0x01, 0x02, 0x03})), 0x0306);  // last byte only in the low sum
  EXPECT_EQ(monitorChecksum(bytes({0xFF, 0x01})), 0xFF00);        // carry of the last byte is lost
  EXPECT_EQ(monitorChecksum(bytes({0xFF, 0xFF, 0x01})), 0xFFFF);  // FFh + FFh + carry 1
  EXPECT_EQ(monitorChecksum(bytes({0x80, 0x80, 0x80, 0x00})), 0x8180);
}

TEST(Builder, TextCodes) {
  EXPECT_EQ(koi8("юЮАЧъ a"), bytes({0xC0, 0xE0, 0xE1, 0xFE, 0xDF, ' ', 'a'}));
  EXPECT_EQ(koi8Text("я\r\nЯ\n\t"), bytes({0xD1, 0x0D, 0xF1, 0x0D, 0x09}));
  EXPECT_EQ(koi7Text("ЮАЧ\n"), bytes({0x60, 0x61, 0x7E, 0x0D}));
  EXPECT_THROW(koi8("Ё"), std::runtime_error);
  EXPECT_THROW(koi7Text("а"), std::runtime_error);
  EXPECT_EQ(Date::parse("07.11.91").day, 0x07);
  EXPECT_EQ(Date::parse("07.11.91").year, 0x91);
}

TEST(Builder, SampleRoundTrip) {
  const auto desc = nlohmann::json::parse(readFile(ODIBUILD_SAMPLE_JSON_PATH));
  const std::string img = fromJson(desc).image();
  EXPECT_EQ(img, fromJsonText(sampleDescription()).image());  // the bundled copy is current
  EXPECT_EQ(img.substr(0x2970, 6), "SAMPLE");
  // Every entry of the description is found, in order, with its name, body and checksum.
  int files = 0, catalogues = 0;
  std::function<void(std::size_t, const nlohmann::json&, int)> check =
      [&](std::size_t cat, const nlohmann::json& entries, int level) {
        const auto recs = listRecords(img, cat);
        ASSERT_EQ(recs.size(), entries.size());
        for (std::size_t i = 0; i < recs.size(); ++i) {
          const auto& e = entries[i];
          const std::size_t r = recs[i];
          const bool isCat = e.contains("catalogue");
          EXPECT_EQ(img.substr(r + 3, 8).substr(
                        0, koi8(e.value(isCat ? "catalogue" : "file", "")).size()),
                    koi8(e.value(isCat ? "catalogue" : "file", "")));
          if (isCat) {
            ++catalogues;
            EXPECT_EQ(u8(img, r + rec::kKind), 0xFFu);
            const std::size_t k = 10 * u8(img, r + rec::kTrack) + u8(img, r + rec::kSector) - 1;
            EXPECT_EQ(img.substr(kFatOffset + 2 * k, 2), bytes({0xEB, 0x00}));
            check(k * 1024, e["entries"], level + 1);
          } else {
            ++files;
            const std::string body = readBody(img, r);
            EXPECT_EQ(body, bodyFromJson(e));
            EXPECT_EQ(u16(img, r + rec::kChecksum), monitorChecksum(body));
            if (level == 2) {
              EXPECT_EQ(img.substr(r + 0x0C, 3), "dat");
            }
          }
        }
      };
  check(0x3000, desc["entries"], 0);
  EXPECT_EQ(files, 5);
  EXPECT_EQ(catalogues, 2);
  // The long text: a line runs across the first sector boundary, and it ends in FFh.
  const std::string text = readBody(img, 0x3000);
  ASSERT_GT(text.size(), 2048u);
  EXPECT_NE(text[1023], '\x0D');
  EXPECT_NE(text[1024], '\x0D');
  EXPECT_EQ(text.back(), '\xFF');
  EXPECT_NE(text.find('\t'), std::string::npos);
}

// With ODI_REAL_DISKS set: the monitor sum matches every file in the root
// tree of bst_mx.odi (a sound system disk).
TEST(Builder, ChecksumOnRealDisk) {
  const char* dir = std::getenv("ODI_REAL_DISKS");
  if (!dir || !*dir) GTEST_SKIP() << "ODI_REAL_DISKS not set";
  const std::string img = readFile(std::string(dir) + "/bst_mx.odi");
  if (img.size() != kImageSize) GTEST_SKIP() << "bst_mx.odi not found in " << dir;
  int files = 0, matches = 0;
  std::function<void(std::size_t, int)> walk = [&](std::size_t cat, int depth) {
    for (std::size_t r : listRecords(img, cat)) {
      const std::size_t k = 10 * u8(img, r + rec::kTrack) + u8(img, r + rec::kSector) - 1;
      if (u8(img, r + rec::kKind) == 0xFF) {
        if (depth < 10 && k * 1024 != cat) walk(k * 1024, depth + 1);
        continue;
      }
      ++files;
      if (monitorChecksum(readBody(img, r)) == u16(img, r + rec::kChecksum)) ++matches;
    }
  };
  walk(0x3000, 0);
  EXPECT_GT(files, 90);
  EXPECT_EQ(matches, files);
}
