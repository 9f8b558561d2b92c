// Windows Cyrillic code page CP1251 at the edges of the program.
//
// The core keeps every text as raw CP1251 bytes (what the disk names become after NAM_WIN, the
// error texts, the trailer words). Widgets, file names and the command line need Unicode; these
// two functions are the only crossing points.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace odi {

// CP1251 bytes -> UTF-8. Every byte maps to exactly one code point; byte 98h, which CP1251 leaves
// undefined, becomes U+0098 so that no byte of a name is ever lost.
std::string cp1251_to_utf8(std::string_view cp1251);
// The same for bytes that become CP1251 through `to_cp1251` first: a recoding and the decoding in
// one pass, for the names of an extraction's every file.
std::string cp1251_to_utf8(std::string_view bytes, const std::array<unsigned char, 256>& to_cp1251);

// UTF-8 -> CP1251 bytes. A character CP1251 cannot hold becomes "?"; U+0098 goes back to 98h.
// Malformed UTF-8 sequences count as one unmappable character each.
std::string utf8_to_cp1251(std::string_view utf8);

// The preview window's text of CP1251 content (UTF-8): every byte one character. CR LF, a lone CR
// and a lone LF each end a line ("\n"); TAB stays; the other codes below 20h and 7Fh show as the
// pictures a DOS screen gives them, 00h as U+25A1; all other bytes are CP1251 characters.
std::string view_text(std::string_view cp1251);

// CP1251 text of a UTF-8 literal: for the program's own fixed texts ("ОШИБКА  FATа", ...).
inline std::string cp1251(std::string_view utf8) {
  return utf8_to_cp1251(utf8);
}

}  // namespace odi
