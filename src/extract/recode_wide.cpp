#include "extract/recode_wide.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ODI_WIDE_LOOPS 1
#endif

namespace odi {

TableRows::TableRows(const ByteMap& map) {
  // Row g, entry l is the table's entry for byte 16g + l: the table's own order.
  static_assert(sizeof(row) == sizeof(ByteMap));
  std::memcpy(row.data(), map.data(), map.size());
  for (std::size_t g = 0; g < 16; ++g) {
    bool same = true;
    for (std::size_t l = 0; l < 16; ++l)
      same &= row[g][l] == static_cast<unsigned char>(g * 16 + l);
    if (!same) changed[static_cast<std::size_t>(n_changed++)] = static_cast<unsigned char>(g);
  }
}

#ifdef ODI_WIDE_LOOPS

bool wide_loops() {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  return avx2;
}

__attribute__((target("avx2"))) std::size_t recode_wide(char* dst, const unsigned char* src,
                                                        std::size_t n, const TableRows& rows) {
  // Each byte starts as itself; for each changing row, the bytes of that high half-byte take
  // the row's entry at their low half-byte.
  __m256i table[16];
  __m256i high[16];
  for (int k = 0; k < rows.n_changed; ++k) {
    const int g = rows.changed[k];
    table[k] = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(rows.row[g].data())));
    high[k] = _mm256_set1_epi8(static_cast<char>(g));
  }
  const __m256i low4 = _mm256_set1_epi8(0x0F);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i lo = _mm256_and_si256(v, low4);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), low4);
    __m256i out = v;
    for (int k = 0; k < rows.n_changed; ++k)
      out = _mm256_blendv_epi8(out, _mm256_shuffle_epi8(table[k], lo),
                               _mm256_cmpeq_epi8(hi, high[k]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), out);
  }
  return i;
}

__attribute__((target("avx2"))) const char* find_tab_or_cr_wide(const char* p, const char* end) {
  const __m256i tab = _mm256_set1_epi8('\t');
  const __m256i cr = _mm256_set1_epi8('\r');
  for (; end - p >= 32; p += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const auto hits = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(v, tab), _mm256_cmpeq_epi8(v, cr))));
    if (hits != 0) return p + std::countr_zero(hits);
  }
  return p;
}

#else

bool wide_loops() {
  return false;
}
std::size_t recode_wide(char*, const unsigned char*, std::size_t, const TableRows&) {
  return 0;
}
const char* find_tab_or_cr_wide(const char* p, const char*) {
  return p;
}

#endif

}  // namespace odi
