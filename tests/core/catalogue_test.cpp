// Catalogues, the version signature, the disk name and entry dates.
#include "image/catalogue.h"

#include <gtest/gtest.h>

#include "builder/odibuild.h"
#include "state/cp1251.h"
#include "state/texts.h"

using namespace odi;
using odibuild::DiskBuilder;
using odibuild::fileSpec;

TEST(Catalogue, ListEndsAtAMarkerlessRecordAfter32AndAtTheImageEnd) {
  DiskBuilder d;
  std::vector<odibuild::File> files;
  for (int i = 0; i < 32; ++i)
    files.push_back(d.addFile(d.root(), fileSpec("F" + std::to_string(i), "BIN", 0, "x")));
  // The sector after the catalogue starts with a marker too: it must not be read.
  d.poke(0x3400, "\xD3\xD3\xD3");
  EXPECT_EQ(read_catalogue(Image(d.image()), kRootOffset).size(), 32u);
  // A record without the marker ends the list, even with records after it.
  d.pokeByte(d.recordOffset(files[5]), 0x08);
  EXPECT_EQ(read_catalogue(Image(d.image()), kRootOffset).size(), 5u);
  // A catalogue sector that lies (partly) outside the image, or below 0.
  const Image img(d.image());
  EXPECT_TRUE(read_catalogue(img, kImageSize - 16).empty());
  EXPECT_TRUE(read_catalogue(img, -1024).empty());
  // A root record the image cannot hold whole ends the list.
  std::string cut = d.image();
  cut.resize(0x3000 + 31);
  EXPECT_TRUE(read_catalogue(Image(cut), kRootOffset).empty());
  cut.resize(0x3000 + 32);
  EXPECT_EQ(read_catalogue(Image(cut), kRootOffset).size(), 1u);
}

TEST(Catalogue, StackEntersLeavesAndStopsAtLevelTen) {
  DiskBuilder d;
  auto c = d.root();
  for (int i = 0; i < 11; ++i) c = d.addCatalogue(c, "L" + std::to_string(i));
  const Image img(d.image());
  CatalogueStack st;
  st.reset_root(disk_name(img));
  for (int lev = 0; lev < 11; ++lev) {
    const auto recs = read_catalogue(img, st.KAT_POS[static_cast<size_t>(st.KAT_LEV)]);
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(st.enter(recs[0], 0), lev < 10) << lev;
  }
  EXPECT_EQ(st.KAT_LEV, 10);
  EXPECT_EQ(st.path_text(), "\\DISK\\L0\\L1\\L2\\L3\\L4\\L5\\L6\\L7\\L8\\L9");
  // Each sub-catalogue holds a record of itself in slot 31: that one is already on the path.
  EXPECT_TRUE(st.on_path(st.KAT_POS[10]));
  EXPECT_TRUE(st.up());
  EXPECT_EQ(st.KAT_LEV, 9);
}

TEST(Image, SignatureVersionAndDiskName) {
  DiskBuilder d;
  d.setDiskName("  AB");
  Image img(d.image());
  EXPECT_EQ(VER_DOS(img).substr(0, 11), "Dos_MX V3.6");
  EXPECT_EQ(VER_DOS(img).size(), 13u);
  EXPECT_EQ(disk_name(img), "AB");

  d.setSignature("Dos_MX V3.6", 282);  // its last byte is the 288th: found, 13 bytes read on
  EXPECT_EQ(VER_DOS(Image(d.image())).substr(0, 11), "Dos_MX V3.6");
  d.setSignature("Dos_MX V3.6", 283);
  EXPECT_EQ(VER_DOS(Image(d.image())), texts::no_version());
  d.setSignature("dos_mx V3.6", 5);
  EXPECT_EQ(cp1251_to_utf8(VER_DOS(Image(d.image()))), "нет версии");

  // Short images: only the bytes that exist.
  d.setSignature("Dos_MX V3.6", 5);
  std::string s = d.image();
  EXPECT_EQ(VER_DOS(Image(s.substr(0, 13))), "Dos_MX V");
  EXPECT_EQ(disk_name(Image(s.substr(0, 0x2973))), "A");  // "  A" of "  AB  "
  EXPECT_EQ(VER_DOS(Image("")), texts::no_version());
}

TEST(Image, EntryDates) {
  Record r = Record::blank();
  r.b[0x10] = 0x31;
  r.b[0x11] = 0x12;
  r.b[0x12] = 0x99;
  EXPECT_EQ(FIL_DAT(r, "06.12.26"), "06.12.26");  // the last row: today
  r.b[0x17] = 0x00;
  EXPECT_EQ(FIL_DAT(r, "06.12.26"), "31.12.99");
  r.b[0x17] = 0xFF;
  r.b[0x10] = 0x1A;
  r.b[0x11] = 0x05;
  EXPECT_EQ(FIL_DAT(r, ""), "110.05.99");
}
