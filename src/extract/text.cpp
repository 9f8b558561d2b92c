#include "extract/text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "extract/recode_wide.h"

namespace odi {
namespace {

// The first TAB or CR in [p, end), or end. Lines of text are short, so this runs once or twice a
// line: eight bytes at a time, with the usual test for a zero byte in a word (the lowest flagged
// byte is always a true match).
const char* find_tab_or_cr(const char* p, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    while (end - p >= 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, p, 8);
      const std::uint64_t t = w ^ (kOnes * '\t');
      const std::uint64_t c = w ^ (kOnes * '\r');
      const std::uint64_t hit = ((t - kOnes) & ~t & kHighs) | ((c - kOnes) & ~c & kHighs);
      if (hit != 0) return p + (std::countr_zero(hit) >> 3);
      p += 8;
    }
  }
  while (p < end && *p != '\t' && *p != '\r') ++p;
  return p;
}

// dst[i] = map[src[i]] for n bytes. Eight looked-up bytes go out in one store: a store per byte
// (which the compiler must also assume may change the table) was most of a text's conversion.
void recode_into(char* dst, const unsigned char* src, size_t n, const ByteMap& map) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w = 0;
      for (size_t k = 0; k < 8; ++k) w |= std::uint64_t{map[src[i + k]]} << (8 * k);
      std::memcpy(dst + i, &w, 8);
    }
  }
  for (; i < n; ++i) dst[i] = static_cast<char>(map[src[i]]);
}

}  // namespace

TextBody::TextBody(const Options& opt)
    : opt_(opt), map_(&text_map(opt)), rows_(*map_), wide_(wide_loops()) {}

void TextBody::FIL_TXT(std::string& sec) {
  std::string out;
  FIL_TXT(sec, out);
  sec.swap(out);
}

void TextBody::FIL_TXT(std::string_view sector, std::string& out) {
  // The sector is recoded on its way into the carried text; only the new bytes can hold a CR,
  // since what was carried is the tail after the last one.
  const size_t carried = TXT_REM.size();
  TXT_REM.resize(carried + sector.size());
  char* const text = TXT_REM.data();
  const ByteMap& map = *map_;
  const auto* src = reinterpret_cast<const unsigned char*>(sector.data());
  const size_t wide = wide_ ? recode_wide(text + carried, src, sector.size(), rows_) : 0;
  recode_into(text + carried + wide, src + wide, sector.size() - wide, map);

  const char* const text_end = text + TXT_REM.size();
  const void* last_cr = ::memrchr(text + carried, '\r', sector.size());
  if (last_cr == nullptr) return;  // no CR yet: the line goes on
  const char* const lines_end = static_cast<const char*>(last_cr) + 1;

  const char* p = text;
  while (p < lines_end) {
    const char* q = find_tab_or_cr(wide_ ? find_tab_or_cr_wide(p, lines_end) : p, lines_end);
    out.append(p, static_cast<size_t>(q - p));
    if (q == lines_end) break;
    if (*q == '\t') {
      out.append(4, ' ');
    } else {
      out += '\r';
      // The look-ahead stops at the end of what has been read so far.
      if (q + 1 == text_end || q[1] != '\n') out += '\n';
    }
    p = q + 1;
  }
  TXT_REM.erase(0, static_cast<size_t>(lines_end - text));
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
