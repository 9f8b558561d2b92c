// The two loops of a text's conversion, 32 bytes at a time where the processor has AVX2: the
// recoding through a byte table and the search for the next TAB or CR. Elsewhere, and for the
// last bytes, the callers' own loops do the work; the results are the same byte for byte.
#pragma once

#include <array>
#include <cstddef>

#include "extract/recode.h"

namespace odi {

// A recoding table cut into 16 rows of 16 bytes, one per high half-byte, and the rows in which
// the table changes some byte: only those are looked up (a text's recoding changes few: the
// control codes, 80h..86h, the KOI letters).
struct TableRows {
  explicit TableRows(const ByteMap& map);
  alignas(16) std::array<std::array<unsigned char, 16>, 16> row{};
  std::array<unsigned char, 16> changed{};
  int n_changed = 0;
};

// Can this processor take the wide loops?
bool wide_loops();

// Recodes the first bytes of src[0, n) into dst, a multiple of 32 of them; gives how many.
std::size_t recode_wide(char* dst, const unsigned char* src, std::size_t n, const TableRows& rows);

// The first TAB or CR in [p, end) among its first whole 32-byte blocks; where there is none, the
// start of the bytes left to search.
const char* find_tab_or_cr_wide(const char* p, const char* end);

}  // namespace odi
