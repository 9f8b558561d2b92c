// Extracting every root entry in every form, and dumping the result, with properties checked:
// the output is bounded by what the record and the image allow, a sound txt ends with its Data
// line, the dump has the fixed line shape, and an error code always comes with its error text.
#include "extract/copy_buf.h"
#include "fuzz_image.h"
#include "image/catalogue.h"
#include "state/texts.h"

namespace {

odi::Options form(int i) {
  odi::Options o;
  o.txt = false;
  o.win = false;
  switch (i) {
    case 0:
      o.bin = true;
      break;
    case 1:
      o.rks = true;
      break;
    case 2:
      o.txt = o.win = true;
      break;
    case 3:
      o.txt = o.dos = o.koi7 = true;
      break;
    case 4:
      o.txt = o.win = o.koi7 = true;
      o.koi8 = false;
      break;
    default:
      o.txt = true;
      break;  // no code page
  }
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
      const bool is_error_text = r.BUF_FIL == odi::texts::err_catalogue() ||
                                 r.BUF_FIL == odi::texts::err_fat() ||
                                 r.BUF_FIL == odi::texts::err_read();
      if (r.ERR_COP != 0) {
        FUZZ_CHECK(is_error_text);
      } else {
        // Each sector is read once at most: 800 sectors of 1024 bytes, and the image itself.
        const size_t body = std::min<size_t>(800, rec.size_kb()) * 1024;
        size_t bound = body + 6;
        if (o.txt) bound = body * 5 + 64 + dat.size() + 6;
        FUZZ_CHECK(r.BUF_FIL.size() <= bound);
        if (o.txt && rec.size_kb() > 0) {
          const std::string tail = "\r\nData: " + dat;
          FUZZ_CHECK(r.BUF_FIL.size() >= tail.size() &&
                     r.BUF_FIL.compare(r.BUF_FIL.size() - tail.size(), tail.size(), tail) == 0);
        }
        if (rec.size_kb() == 0) FUZZ_CHECK(r.BUF_FIL.empty());
      }
      check_dump(odi::DAMP_TXT(r.BUF_FIL, o.win));
    }
  }
  return 0;
}
