// Recoding of Specialist MX text: KOI-8, KOI-7, screen control codes.
#include "extract/recode.h"

#include <gtest/gtest.h>

#include "state/cp1251.h"

using namespace odi;

namespace {
Options opts(bool win, bool dos, bool koi8, bool koi7) {
  Options o;
  o.win = win;
  o.dos = dos;
  o.koi8 = koi8;
  o.koi7 = koi7;
  return o;
}
}  // namespace

TEST(Recode, TablesSpellTheAlphabetInKoiOrder) {
  std::string small, caps;
  for (int i = 0; i < 32; ++i) small += static_cast<char>(KOI_WIN[static_cast<size_t>(i)]);
  for (int i = 32; i < 63; ++i) caps += static_cast<char>(KOI_WIN[static_cast<size_t>(i)]);
  EXPECT_EQ(cp1251_to_utf8(small), "юабцдефгхийклмнопярстужвьызшэщчъ");
  EXPECT_EQ(cp1251_to_utf8(caps), "ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ");
  EXPECT_EQ(KOI_WIN[63], 0x0D);
  EXPECT_EQ(KOI_DOS[63], 0x0D);
  // CP866: а..п at A0h, р..я at E0h, capitals at 80h.
  EXPECT_EQ(KOI_DOS[1], 0xA0);
  EXPECT_EQ(KOI_DOS[18], 0xE0);
  EXPECT_EQ(KOI_DOS[33], 0x80);
  EXPECT_EQ(KOI_DOS[62], 0x97);
}

TEST(Recode, Koi8LettersForWindowsAndDos) {
  std::string s = "\xC1\xC2\xD7\xFF";
  FIL_WIN(s, opts(true, false, true, false));
  EXPECT_EQ(s, "\xE0\xE1\xE2\x0D");
  s = "\xC1\xC2\xD7\xFF";
  FIL_DOS(s, opts(false, true, true, false));
  EXPECT_EQ(s, "\xA0\xA1\xA2\x0D");
}

TEST(Recode, Koi7CapitalsOnlyWhenAsked) {
  std::string s = "\x60\x61\x7E\x7F\x5F\xC1";
  FIL_WIN(s, opts(true, false, false, true));
  EXPECT_EQ(s, "\xDE\xC0\xD7\x7F\x5F\xC1");  // C1h stays: KOI-8 is off
  s = "\x60\x61\x7E";
  FIL_DOS(s, opts(false, true, false, true));
  EXPECT_EQ(s, "\x9E\x80\x97");
  s = "\xC1";
  KOD_WIN(s);  // the trailer recoding ignores the options
  EXPECT_EQ(s, "\xE0");
}

TEST(Recode, ControlCodesAreSubstitutedEvenWithBothKoiOff) {
  std::string s = "\x0B\x0E\x0F\x1D\x1E\x10\x17\x1C\x80\x86\x87\x09\x0A\x0D\x18\x1F";
  FIL_WIN(s, opts(true, false, false, false));
  EXPECT_EQ(s, std::string("\x18\x1A\x19\x1B\x0B*****\x87\x09\x0A\x0D\x18\x1F"));
}

TEST(Recode, EachByteChangesOncePerPassButKodTwiceChangesAgain) {
  // 1Eh becomes 0Bh, which must not then become 18h in the same pass.
  std::string s = "\x1E";
  FIL_WIN(s, opts(true, false, true, true));
  EXPECT_EQ(s, "\x0B");
  s = "\xC1";
  KOD_WIN(s);
  KOD_WIN(s);
  EXPECT_EQ(s, "\xDE");  // E0h is itself >= C0h: the capital Ю
}
