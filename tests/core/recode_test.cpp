// Recoding of Specialist MX text: KOI-8, KOI-7, screen control codes.
#include "extract/recode.h"

#include <gtest/gtest.h>

#include <vector>

#include "extract/recode_wide.h"
#include "state/cp1251.h"

using namespace odi;

TEST(Recode, TablesSpellTheAlphabetInKoiOrder) {
  std::string small, caps;
  for (size_t i = 0; i < 32; ++i) small += static_cast<char>(KOI_WIN[i]);
  for (size_t i = 32; i < 63; ++i) caps += static_cast<char>(KOI_WIN[i]);
  EXPECT_EQ(cp1251_to_utf8(small), "юабцдефгхийклмнопярстужвьызшэщчъ");
  EXPECT_EQ(cp1251_to_utf8(caps), "ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ");
  // CP866: а..п at A0h, then р..я at E0h (the other letters are pinned by the cases below).
  EXPECT_EQ(KOI_DOS[18], 0xE0);
}

TEST(Recode, KoiSourcesAndTargetsAndControlCodes) {
  struct Case {
    bool dos, koi8, koi7;
    std::string in, want;
  };
  const Case cases[] = {
      {false, true, false, "\xC1\xC2\xD7\xFF", "\xE0\xE1\xE2\x0D"},
      {true, true, false, "\xC1\xC2\xD7\xFF", "\xA0\xA1\xA2\x0D"},
      // KOI-7 capitals only when asked; C1h stays while KOI-8 is off.
      {false, false, true, "\x60\x61\x7E\x7F\x5F\xC1", "\xDE\xC0\xD7\x7F\x5F\xC1"},
      {true, false, true, "\x60\x61\x7E", "\x9E\x80\x97"},
      // Screen control codes are substituted even with both KOI codes off.
      {false, false, false, "\x0B\x0E\x0F\x1D\x1E\x10\x17\x1C\x80\x86\x87\x09\x0A\x0D\x18\x1F",
       "\x18\x1A\x19\x1B\x0B*****\x87\x09\x0A\x0D\x18\x1F"},
      // Each byte changes once per pass: 1Eh becomes 0Bh, which must not then become 18h.
      {false, true, true, "\x1E", "\x0B"},
  };
  for (const Case& c : cases) {
    Options o;
    o.win = !c.dos, o.dos = c.dos, o.koi8 = c.koi8, o.koi7 = c.koi7;
    std::string s = c.in;
    if (c.dos)
      FIL_DOS(s, o);
    else
      FIL_WIN(s, o);
    EXPECT_EQ(s, c.want) << testing::PrintToString(c.in);
  }
  // The trailer's recoding ignores the options, and a second pass changes a letter again:
  // E0h is itself >= C0h, the capital Ю.
  std::string s = "\xC1";
  KOD_WIN(s);
  EXPECT_EQ(s, "\xE0");
  KOD_WIN(s);
  EXPECT_EQ(s, "\xDE");
}

// The wide loops give what the byte table gives: every byte value at every position of a block,
// under every setting; and the first TAB or CR of the whole blocks, wherever it stands.
TEST(Recode, WideLoopsMatchTheTable) {
  if (!wide_loops()) GTEST_SKIP() << "no wide loops on this processor";
  std::vector<unsigned char> src(256 + 31);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i * 7 + i / 256);
  for (unsigned k = 0; k < 16; ++k) {
    Options o;
    o.win = (k & 1U) != 0, o.dos = (k & 2U) != 0, o.koi7 = (k & 4U) != 0, o.koi8 = (k & 8U) != 0;
    const ByteMap& map = text_map(o);
    std::string got(src.size(), '\0');
    ASSERT_EQ(recode_wide(got.data(), src.data(), src.size(), TableRows(map)), 256u);
    for (size_t i = 0; i < 256; ++i)
      ASSERT_EQ(static_cast<unsigned char>(got[i]), map[src[i]]) << k << " at " << i;
  }
  for (size_t at = 0; at < 64; ++at) {
    std::string text(70, '\x89');
    text[at] = at % 2 ? '\t' : '\r';
    EXPECT_EQ(find_tab_or_cr_wide(text.data(), text.data() + text.size()), text.data() + at);
  }
  const std::string none(70, '\x8D');
  EXPECT_EQ(find_tab_or_cr_wide(none.data(), none.data() + none.size()), none.data() + 64);
}
