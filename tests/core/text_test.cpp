// The txt form: lines cut across sectors, TABs, LF completion, the trailer.
#include "extract/text.h"

#include <gtest/gtest.h>

using namespace odi;

namespace {

Options plain() {  // no recoding at all: bytes pass unchanged
  Options o;
  o.win = false;
  return o;
}

Record named(std::string_view name12) {
  Record r = Record::blank();
  for (size_t i = 0; i < 12; ++i) r.b[3 + i] = static_cast<unsigned char>(name12[i]);
  return r;
}

std::string convert(const Options& o, std::initializer_list<std::string> sectors,
                    std::uint16_t size = 1, std::string_view name = "PROGRAM  TXT") {
  TextBody t(o);
  std::string out;
  for (std::string s : sectors) {
    t.FIL_TXT(s);
    out += s;
  }
  t.END_TXT(out, named(name), size, "21.05.91");
  return out;
}

const std::string kTrailer = "\r\nName: 'PROGRAM  TXT' \\ 1K\r\nData: 21.05.91";

}  // namespace

TEST(TextBody, WorkedExampleTabLineEndsAndCarriedRest) {
  TextBody t(plain());
  std::string sec("A\tB\rC\r\nDD");
  t.FIL_TXT(sec);
  EXPECT_EQ(sec, "A    B\r\nC\r");
  std::string out;
  t.END_TXT(out, named("PROGRAM  TXT"), 12, "21.05.91");
  EXPECT_EQ(out, "\nDD\r\nName: 'PROGRAM  TXT' \\ 12K\r\nData: 21.05.91");
}

TEST(TextBody, LineEndsAtSectorBoundaries) {
  // CR closing one sector and LF opening the next: the look-ahead cannot see it.
  EXPECT_EQ(convert(plain(), {"A\r", "\nB\r"}), "A\r\n\nB\r\n" + kTrailer);
  // A line running across the boundary is put out whole, once.
  EXPECT_EQ(convert(plain(), {"AB\tC", "D\rE"}), "AB    CD\r\nE" + kTrailer);
  // No CR at all: everything is the unfinished line, TABs kept.
  EXPECT_EQ(convert(plain(), {"a\tb", "\tc"}), "a\tb\tc" + kTrailer);
}

TEST(TextBody, Koi8TextWithFFLineEndsForWindows) {
  Options o;  // txt, win, koi8
  EXPECT_EQ(convert(o, {"\xF0\xD2\xC9\xD7\xC5\xD4\xFF\xCD\xC9\xD2\xFF"}),
            "\xCF\xF0\xE8\xE2\xE5\xF2\r\n\xEC\xE8\xF0\r\n" + kTrailer);
}

TEST(TextBody, TrailerSizesAndRecodedName) {
  EXPECT_EQ(convert(plain(), {}, 0), "\r\nName: 'PROGRAM  TXT' \\ 0K\r\nData: 21.05.91");
  EXPECT_EQ(convert(plain(), {}, 65535), "\r\nName: 'PROGRAM  TXT' \\ 65535K\r\nData: 21.05.91");
  // The name field passes KOD_WIN whatever the KOI options say.
  Options o;
  o.koi8 = false;
  o.koi7 = true;
  EXPECT_EQ(convert(o, {}, 5, "\xF4\xC5\xD3\xD4     TXT"),
            "\r\nName: '\xD2\xE5\xF1\xF2     TXT' \\ 5K\r\nData: 21.05.91");
  o.win = false;
  o.dos = true;
  EXPECT_EQ(convert(o, {}, 5, "\xF4\xC5\xD3\xD4     TXT"),
            "\r\nName: '\x92\xA5\xE1\xE2     TXT' \\ 5K\r\nData: 21.05.91");
}

TEST(TextBody, TabsAndLineEndsAtEveryPositionOfALongLine) {
  // Bytes that differ from TAB and CR only in the high bit must not count as either.
  for (size_t pos = 0; pos < 40; ++pos) {
    const std::string before(pos, '\x89'), after(39 - pos, '\x8D');
    TextBody t(plain());
    std::string sec = before + "\t" + after + "\r" + before + "\rZ";
    t.FIL_TXT(sec);
    EXPECT_EQ(sec, before + "    " + after + "\r\n" + before + "\r\n") << pos;
  }
}
