// Names from the disk: list rows, PC file and folder names, output file names.
#include <gtest/gtest.h>
#include <iconv.h>

#include "extract/target.h"
#include "image/catalogue.h"
#include "state/cp1251.h"

using namespace odi;

namespace {
Record rec(std::string_view name12, int kind = 0, std::uint16_t size = 1) {
  Record r = Record::blank();
  r.b[0] = r.b[1] = r.b[2] = 0xD3;
  for (size_t i = 0; i < 12; ++i) r.b[3 + i] = static_cast<unsigned char>(name12[i]);
  r.b[0x15] = static_cast<unsigned char>(size & 0xFF);
  r.b[0x16] = static_cast<unsigned char>(size >> 8);
  r.b[0x17] = static_cast<unsigned char>(kind);
  return r;
}
}  // namespace

TEST(Names, NamWinByteClassesAndPrn) {
  EXPECT_EQ(NAM_WIN(std::string("\x00\x1F !\",-./09:@AZ[\\]^_`az{|}~\x7F\xBF", 29)),
            "^^ ^^^-._09~~AZ---^_`az---~\x7F\xBF");
  EXPECT_EQ(NAM_WIN("*"), "^");
  EXPECT_EQ(NAM_WIN("\xC1\xE1\xFF"), "\xE0\xC0\x0D");  // а А and FFh as CR
  // "prn" in any case gets a caret, but only as the whole three-character name.
  EXPECT_EQ(NAM_WIN("PRN"), "PRN^");
  EXPECT_EQ(NAM_WIN("pRn"), "pRn^");
  EXPECT_EQ(cp1251_to_utf8(list_row(rec("PRN         "))), "PRN          1K");
  EXPECT_EQ(list_row(rec("BIG      DAT", 0, 0xFFFF)), "BIG      DAT 65535K");
}

// No name leaves the target root; the suffixes of a copy's name follow the boxes whatever the type,
// after the trimmed name field.
TEST(Names, PcNamesAndOutputNames) {
  EXPECT_EQ(pc_folder_name(""), "^");
  EXPECT_EQ(pc_folder_name("."), "^");
  EXPECT_EQ(pc_folder_name("a.b"), "a.b");
  EXPECT_EQ(pc_folder_name("A/B"), "A_B");
  EXPECT_EQ(pc_folder_name("\xFF"), "^");       // CR cannot stand in a name
  EXPECT_EQ(pc_file_name("\xF0\xD2"), "Пр");    // CP1251 decoded to UTF-8
  EXPECT_EQ(pc_file_name("\x98"), "\xC2\x98");  // undefined in CP1251: U+0098
  EXPECT_EQ(pc_file_name(".."), "..");          // a file name gets an extension after it
  Options o;
  EXPECT_EQ(output_name(rec("GAME     COM"), o), "GAME     COM.txt");
  o.txt = false, o.rks = true;
  EXPECT_EQ(output_name(rec("  X\xFF     C  "), o), "X^     C.rks");
  o.rks = false, o.bin = true, o.dos = o.koi7 = true, o.win = false;
  EXPECT_EQ(output_name(rec("GAME     COM"), o), "GAME     COMd7.bin");
}

TEST(Names, TargetRootAndFolders) {
  EXPECT_EQ(target_root("/img/disk1.odi"), fs::path("/img/disk1"));
  EXPECT_EQ(target_root("/img/disk1.ODI"), fs::path("/img/disk1"));
  EXPECT_FALSE(target_root("/img/disk1.odi1"));
  EXPECT_FALSE(target_root("/img/.odi"));
  CatalogueStack st;
  st.reset_root("DISK");
  ASSERT_TRUE(st.enter(rec("DOCS       ", 0xFF), 3));
  ASSERT_TRUE(st.enter(rec("..         ", 0xFF), 0));
  EXPECT_EQ(target_dir("/img/disk1", st), fs::path("/img/disk1/DOCS/^^"));
  EXPECT_EQ(st.path_text(), "\\DISK\\DOCS\\..");
  EXPECT_EQ(st.KAT_IDX[0], 3);
}

// The built-in CP1251 table is the system's: every byte decodes as iconv decodes it (98h, which
// CP1251 leaves undefined, as itself), and every character comes back as its byte.
TEST(Names, Cp1251TableIsTheSystems) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8] = {};
    char* inp = &in;
    char* outp = out;
    size_t inleft = 1, outleft = sizeof out;
    const std::string byte(1, in);
    const std::string want = iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1)
                                 ? "\xC2\x98"
                                 : std::string(out, sizeof out - outleft);
    EXPECT_EQ(cp1251_to_utf8(byte), want) << b;
    EXPECT_EQ(utf8_to_cp1251(want), byte) << b;
  }
  iconv_close(cd);
}
