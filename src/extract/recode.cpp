#include "extract/recode.h"

namespace odi {

unsigned char BYT_HEX(unsigned char c) {
  switch (c) {
    case 0x0B:
      return 0x18;
    case 0x0E:
      return 0x1A;
    case 0x0F:
      return 0x19;
    case 0x1D:
      return 0x1B;
    case 0x1E:
      return 0x0B;
    case 0x1C:
      return '*';
    default:
      break;
  }
  if ((c >= 0x10 && c <= 0x17) || (c >= 0x80 && c <= 0x86)) return '*';
  return c;
}

ByteMap fil_map(const KoiTable& table, bool koi7, bool koi8) {
  ByteMap m{};
  for (int c = 0; c < 256; ++c) {
    auto out = BYT_HEX(static_cast<unsigned char>(c));
    if (koi7 && c >= 0x60 && c <= 0x7E) out = table[static_cast<size_t>(c - 0x40)];
    if (koi8 && c >= 0xC0) out = table[static_cast<size_t>(c - 0xC0)];
    m[static_cast<size_t>(c)] = out;
  }
  return m;
}

ByteMap kod_map(const KoiTable& table) {
  ByteMap m{};
  for (int c = 0; c < 256; ++c)
    m[static_cast<size_t>(c)] =
        c >= 0xC0 ? table[static_cast<size_t>(c - 0xC0)] : static_cast<unsigned char>(c);
  return m;
}

const ByteMap& text_map(const Options& opt) {
  // 16 settings of win, dos, koi7 and koi8; each table is 256 bytes.
  static const auto maps = [] {
    std::array<ByteMap, 16> all{};
    for (unsigned k = 0; k < 16; ++k) {
      const bool win = (k & 1U) != 0;
      const bool dos = (k & 2U) != 0;
      const bool koi7 = (k & 4U) != 0;
      const bool koi8 = (k & 8U) != 0;
      ByteMap m{};
      for (int c = 0; c < 256; ++c) m[static_cast<size_t>(c)] = static_cast<unsigned char>(c);
      if (win) {
        const ByteMap w = fil_map(KOI_WIN, koi7, koi8);
        for (auto& v : m) v = w[v];
      }
      if (dos) {
        const ByteMap d = fil_map(KOI_DOS, koi7, koi8);
        for (auto& v : m) v = d[v];
      }
      all[k] = m;
    }
    return all;
  }();
  return maps[(opt.win ? 1U : 0U) | (opt.dos ? 2U : 0U) | (opt.koi7 ? 4U : 0U) |
              (opt.koi8 ? 8U : 0U)];
}

void FIL_WIN(std::string& sec, const Options& opt) {
  apply_map(fil_map(KOI_WIN, opt.koi7, opt.koi8), sec);
}
void FIL_DOS(std::string& sec, const Options& opt) {
  apply_map(fil_map(KOI_DOS, opt.koi7, opt.koi8), sec);
}
void KOD_WIN(std::string& sec) {
  static const ByteMap m = kod_map(KOI_WIN);
  apply_map(m, sec);
}
void KOD_DOS(std::string& sec) {
  static const ByteMap m = kod_map(KOI_DOS);
  apply_map(m, sec);
}

}  // namespace odi
