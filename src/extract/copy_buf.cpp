#include "extract/copy_buf.h"

#include <algorithm>

#include "extract/recode.h"
#include "extract/text.h"
#include "state/texts.h"

namespace odi {

std::string ZAG_RKS(const ChainParams& p) {
  // The size field is one less than the body: end - start, kept to its low 16 bits.
  const auto len = static_cast<std::uint32_t>(p.LEN_ADR) & 0xFFFFu;
  const auto beg = static_cast<std::uint32_t>(p.ADR_BEG) & 0xFFFFu;
  std::string h(4, '\0');
  h[0] = static_cast<char>(beg & 0xFF);
  h[1] = static_cast<char>(beg >> 8);
  h[2] = static_cast<char>(len & 0xFF);
  h[3] = static_cast<char>(len >> 8);
  return h;
}

std::string END_RKS(const Record& rec) {
  return {static_cast<char>(rec.b[0x1C]), static_cast<char>(rec.b[0x1D])};
}

CopyResult COPY_BUF(const Image& img, const Record& rec, const Options& opt,
                    std::string_view dat_txt) {
  CopyResult r;
  const ChainWalk w = walk_chain(img, rec);
  r.ERR_COP = w.ERR_COP;
  switch (w.ERR_COP) {
    case kCopyBadFirst:
      r.BUF_FIL = texts::err_catalogue();
      return r;
    case kCopyBadFat:
      r.BUF_FIL = texts::err_fat();
      return r;
    case kCopyShort:
      r.BUF_FIL = texts::err_read();
      return r;
    default:
      break;
  }
  if (w.n == 0) return r;  // nothing to read: no frame, no trailer

  std::int64_t body = 0;
  for (const Piece& p : w.pieces) body += p.length;
  r.BUF_FIL.reserve(static_cast<size_t>(body + body / 8 + 64));

  if (opt.rks) r.BUF_FIL = ZAG_RKS(FIL_PARAM(rec));
  if (opt.txt) {
    TextBody text(opt);
    for (const Piece& p : w.pieces) text.FIL_TXT(*img.read(p.offset, p.length), r.BUF_FIL);
    text.END_TXT(r.BUF_FIL, rec, w.n, dat_txt);
  } else {
    r.BUF_FIL += chain_body(img, w);
  }
  if (opt.rks) r.BUF_FIL += END_RKS(rec);
  return r;
}

std::string DAMP_TXT(std::string_view buf, bool win) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const size_t total = std::min<size_t>(buf.size(), 8192);
  std::string out;
  out.reserve((total + 15) / 16 * 72);
  std::string chars;
  for (size_t a = 0; a < total; a += 16) {
    const size_t n = std::min<size_t>(16, total - a);
    out += kHex[(a >> 12) & 0xF];
    out += kHex[(a >> 8) & 0xF];
    out += kHex[(a >> 4) & 0xF];
    out += kHex[a & 0xF];
    out += ':';
    chars.assign(buf.substr(a, n));
    for (char& ch : chars) {
      const auto c = static_cast<unsigned char>(ch);
      out += ' ';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      if (c < 0x20 || c == 0x7F || c == 0xFF) ch = '.';
    }
    if (win) KOD_WIN(chars);
    out.append((16 - n) * 3 + 1, ' ');
    out += chars;
    out += "\r\n";
  }
  return out;
}

}  // namespace odi
