#include "extract/text.h"

namespace odi {

TextBody::TextBody(const Options& opt) : opt_(opt) {
  // The Windows and the DOS recoding are tested one by one, as the boxes are; with both set
  // (which the panel never allows) the text would pass through both, in that order.
  ByteMap m{};
  for (int c = 0; c < 256; ++c) m[static_cast<size_t>(c)] = static_cast<unsigned char>(c);
  if (opt.win) {
    const ByteMap w = fil_map(KOI_WIN, opt.koi7, opt.koi8);
    for (auto& v : m) v = w[v];
  }
  if (opt.dos) {
    const ByteMap d = fil_map(KOI_DOS, opt.koi7, opt.koi8);
    for (auto& v : m) v = d[v];
  }
  map_ = m;
  recode_ = opt.win || opt.dos;
}

void TextBody::FIL_TXT(std::string& sec) {
  if (recode_) apply_map(map_, sec);

  // Only the new bytes can hold a CR: what was carried is the tail after the last one.
  const size_t carried = TXT_REM.size();
  const size_t last_cr_in_sec = sec.rfind('\r');
  if (last_cr_in_sec == std::string::npos) {
    TXT_REM += sec;
    sec.clear();
    return;
  }
  std::string text = std::move(TXT_REM);
  text += sec;
  const size_t last_cr = carried + last_cr_in_sec;

  std::string work;
  work.reserve(last_cr + last_cr / 8 + 16);
  for (size_t i = 0; i <= last_cr; ++i) {
    const char c = text[i];
    if (c == '\t') {
      work.append(4, ' ');
    } else if (c == '\r') {
      work += '\r';
      // The look-ahead stops at the end of what has been read so far.
      if (i + 1 >= text.size() || text[i + 1] != '\n') work += '\n';
    } else {
      work += c;
    }
  }
  TXT_REM.assign(text, last_cr + 1);
  sec = std::move(work);
}

void TextBody::END_TXT(std::string& out, const Record& rec, std::uint16_t size_kb,
                       std::string_view dat_txt) const {
  std::string name = "Name: '";
  name += rec.name_field();
  name += "' \\ ";
  name += std::to_string(size_kb);
  name += 'K';
  if (opt_.win) KOD_WIN(name);
  if (opt_.dos) KOD_DOS(name);
  out += TXT_REM;
  out += "\r\n";
  out += name;
  out += "\r\nData: ";
  out += dat_txt;
}

}  // namespace odi
