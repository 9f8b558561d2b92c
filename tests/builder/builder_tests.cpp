// Pins the bytes of the builder's MX_DOS disks that the reader does not read, so no reader test
// would notice them wrong: the filler, the FAT cells of the system area, of catalogues and of a
// chain's end, and a file record's whole 32 bytes. Everything the reader reads is pinned by the
// reader's tests on builder disks, and the reader by its tests on real disks.
#include <gtest/gtest.h>

#include "builder/odibuild.h"

using namespace odibuild;

namespace {

std::string bytes(std::initializer_list<unsigned> list) {
  return {list.begin(), list.end()};
}

}  // namespace

TEST(Builder, DiskLayout) {
  DiskBuilder disk;
  disk.setDiskName("WORK");
  const File f = disk.addFile(
      disk.root(), fileSpec("GAME", "COM", 0x9000, std::string(3000, '\x01'), Date::of(22, 9, 92)));
  const Cat games = disk.addCatalogue(disk.root(), "GAMES", Date::of(1, 2, 93));
  const std::string& img = disk.image();
  ASSERT_EQ(img.size(), 819200u);
  EXPECT_EQ(img.substr(5, 11), "Dos_MX V3.6");
  EXPECT_EQ(img.substr(0x296D, 9), "A:\\WORK  ");
  EXPECT_EQ(img.substr(0x29B0, 24), std::string(24, '\x53'));        // track 0 and the DOS's area
  EXPECT_EQ(img.substr(fatCellOffset(12), 2), bytes({0xEB, 0x00}));  // the root catalogue
  // 3000 bytes of 01h: low = 3000 mod 256 = B8h; high = 2999 + 11 carries = C2h.
  ASSERT_EQ(disk.recordOffset(f), 0x3000u);
  EXPECT_EQ(img.substr(0x3000, 32),
            bytes({0xD3, 0xD3, 0xD3, 'G',  'A',  'M',  'E',  ' ',  ' ',  ' ',  ' ',
                   ' ',  'C',  'O',  'M',  0x00, 0x22, 0x09, 0x92, 0x04, 0x01, 0x03,
                   0x00, 0x00, 0x00, 0x90, 0xB7, 0x9B, 0xB8, 0xC2, 0,    0}));
  EXPECT_EQ(disk.chain(f), (std::vector<int>{13, 14, 15}));
  EXPECT_EQ(img.substr(fatCellOffset(13), 6), bytes({0x05, 0x01, 0x06, 0x01, 0xAA, 0x00}));
  EXPECT_EQ(img.substr(fatCellOffset(16), 4), bytes({0xEB, 0x00, 0x00, 0x00}));  // GAMES, free
  EXPECT_EQ(disk.catalogueOffset(games), 16 * 1024u);
  EXPECT_EQ(img.substr(0x3040, 32), std::string(32, '\xE5'));  // the list ends in filler
  // A catalogue's sector: filler, and in slot 31 its record of itself, pointing at itself.
  EXPECT_EQ(img.substr(disk.catalogueOffset(games), 31 * 32), std::string(31 * 32, '\xE5'));
  EXPECT_EQ(img.substr(disk.catalogueOffset(games) + 31 * 32, 32), img.substr(0x3020, 32));
  EXPECT_EQ(DiskBuilder().setCatalogueFiller(0).image().substr(0x3000, 1024),
            std::string(1024, '\0'));
}
