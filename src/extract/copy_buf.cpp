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

namespace {

// The content of a walked chain in the form the options choose.
CopyResult copy_walk(const Image& img, const ChainWalk& w, const Record& rec, const Options& opt,
                     std::string_view dat_txt, bool stop_at_eof_mark) {
  CopyResult r;
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
    for (const Piece& p : w.pieces) {
      std::string_view bytes = *img.read(p.offset, p.length);
      const size_t eof = stop_at_eof_mark ? bytes.find('\x1A') : std::string_view::npos;
      text.FIL_TXT(bytes.substr(0, eof), r.BUF_FIL);
      if (eof != std::string_view::npos) break;
    }
    text.END_TXT(r.BUF_FIL, rec, w.n, dat_txt);
  } else {
    append_chain_body(img, w, r.BUF_FIL);
  }
  if (opt.rks) r.BUF_FIL += END_RKS(rec);
  return r;
}

}  // namespace

CopyResult COPY_BUF(const Image& img, const Record& rec, const Options& opt,
                    std::string_view dat_txt) {
  return copy_walk(img, walk_chain(img, rec), rec, opt, dat_txt, false);
}

CopyResult COPY_BUF(const FileSystem& fs, const Entry& e, const Options& opt,
                    std::string_view dat_txt) {
  if (opt.rks && e.is_file() && std::int64_t{e.rec.start()} + e.bytes > 0x10000) {
    CopyResult r;
    r.ERR_COP = kCopyTooLarge;
    r.BUF_FIL = texts::err_too_large();
    return r;
  }
  // Only the rks frame carries the checksum; the other forms need not read the body for it.
  const Record rec = opt.rks ? fs.complete(e).rec : e.rec;
  return copy_walk(fs.image(), fs.walk(e), rec, opt, dat_txt, fs.text_stops_at_eof_mark());
}

bool body_in_place(const FileSystem& fs, const Entry& e, const Options& opt,
                   std::vector<std::string_view>& pieces) {
  if (opt.rks || opt.txt) return false;
  thread_local ChainWalk w;  // its memory serves every file the thread copies
  fs.walk_into(e, w);
  if (w.ERR_COP != kCopyOk) return false;
  pieces.clear();
  // Sectors that follow one another in the image go out as one piece: a file written on a fresh
  // disk is mostly one run of them.
  std::int64_t at = 0;
  std::int64_t length = 0;  // the run so far; none before the first sector
  auto put_run = [&] {
    const auto bytes = fs.image().read(at, length);  // each sector of it was read by the walk
    if (bytes) pieces.push_back(*bytes);
    return bytes.has_value();
  };
  for (const Piece& p : w.pieces) {
    if (length > 0 && p.offset == at + length) {
      length += p.length;
      continue;
    }
    if (length > 0 && !put_run()) return false;
    at = p.offset;
    length = p.length;
  }
  return length == 0 || put_run();
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
