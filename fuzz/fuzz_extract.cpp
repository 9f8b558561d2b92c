// Extracting every root entry in every form, and dumping the result, with properties checked:
// the output is bounded by what the record and the image allow, a sound txt ends with its Data
// line, the dump has the fixed line shape, and an error code always comes with its error text.
#include "extract/copy_buf.h"
#include "fuzz_image.h"
#include "image/catalogue.h"
#include "state/texts.h"

namespace {

// bin, rks, txt for Windows, txt for DOS from KOI-7, txt for Windows from KOI-7 only, plain txt.
odi::Options form(int i) {
  static const char* const forms[] = {"b", "r", "tw", "td7", "tw7-", "t"};
  const std::string f = forms[i];
  odi::Options o;
  o.bin = f[0] == 'b', o.rks = f[0] == 'r', o.txt = f[0] == 't';
  o.win = f.find('w') != std::string::npos, o.dos = f.find('d') != std::string::npos;
  o.koi7 = f.find('7') != std::string::npos, o.koi8 = f.find('-') == std::string::npos;
  return o;
}

void check_dump(const std::string& d) {
  size_t pos = 0;
  while (pos < d.size()) {
    const size_t eol = d.find("\r\n", pos);
    FUZZ_CHECK(eol != std::string::npos);
    if (eol + 2 < d.size()) FUZZ_CHECK(eol - pos == 70);
    FUZZ_CHECK(eol - pos >= 55 && eol - pos <= 70);  // 54 + bytes on the line
    pos = eol + 2;
  }
  FUZZ_CHECK(d.size() <= 512 * 72);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = fuzz_image(data, size);
  const odi::Image img(bytes);
  for (const odi::Record& rec : odi::read_catalogue(img, odi::kRootOffset)) {
    const std::string dat = odi::FIL_DAT(rec, "01.01.26");
    for (int f = 0; f < 6; ++f) {
      const odi::Options o = form(f);
      const odi::CopyResult r = odi::COPY_BUF(img, rec, o, dat);
      if (r.ERR_COP != 0) {
        FUZZ_CHECK(r.BUF_FIL == odi::texts::err_catalogue() || r.BUF_FIL == odi::texts::err_fat() ||
                   r.BUF_FIL == odi::texts::err_read());
      } else {
        // Each sector is read once at most: 800 sectors of 1024 bytes, and the image itself.
        const size_t body = std::min<size_t>(800, rec.size_kb()) * 1024;
        FUZZ_CHECK(r.BUF_FIL.size() <= (o.txt ? body * 5 + 64 + dat.size() : body) + 6);
        if (o.txt && rec.size_kb() > 0)
          FUZZ_CHECK(std::string_view(r.BUF_FIL).ends_with("\r\nData: " + dat));
        if (rec.size_kb() == 0) FUZZ_CHECK(r.BUF_FIL.empty());
      }
      check_dump(odi::DAMP_TXT(r.BUF_FIL, o.win));
    }
  }
  return 0;
}
