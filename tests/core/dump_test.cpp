// The preview dump: boundary lengths and special bytes pinned as literal lines.
#include <gtest/gtest.h>

#include "extract/copy_buf.h"

using namespace odi;

TEST(Dump, BoundaryLengthsAndSpecialBytes) {
  EXPECT_EQ(DAMP_TXT("", true), "");
  EXPECT_EQ(DAMP_TXT(std::string(15, 'A'), false),
            "0000: 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41    AAAAAAAAAAAAAAA\r\n");
  const std::string full =
      "0000: 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F 0123456789:;<=>?\r\n";
  EXPECT_EQ(DAMP_TXT("0123456789:;<=>?", false), full);
  EXPECT_EQ(DAMP_TXT("0123456789:;<=>?@", false),
            full + "0010: 40" + std::string(46, ' ') + "@\r\n");
  // The column, recoded for Windows or not: control bytes, 7Fh and FFh shown as dots.
  EXPECT_EQ(DAMP_TXT("\x48\x49\x0D\x0A\xC1", true),
            "0000: 48 49 0D 0A C1" + std::string(34, ' ') + "HI..\xE0\r\n");
  EXPECT_EQ(DAMP_TXT(std::string("\x00\x7F\xFF\x80\xBF\xC1\xFE\x0a", 8), false),
            "0000: 00 7F FF 80 BF C1 FE 0A" + std::string(25, ' ') + "...\x80\xBF\xC1\xFE.\r\n");
  EXPECT_EQ(DAMP_TXT("\xFE\xFF", true), "0000: FE FF" + std::string(43, ' ') + "\xD7.\r\n");
}

TEST(Dump, StopsAt8192Bytes) {
  const std::string d = DAMP_TXT(std::string(10000, 'x'), false);
  EXPECT_EQ(d.size(), 512u * 72u);
  EXPECT_EQ(d.substr(d.size() - 72, 5), "1FF0:");
}
