// Text recoding of the Specialist MX's Russian codes. Every procedure works in place, one byte for
// one, so lengths never change.
//
//   BYT_HEX  screen control codes: 0Bh->18h, 0Eh->1Ah, 0Fh->19h, 1Dh->1Bh, 1Eh->0Bh;
//            10h..17h, 1Ch and 80h..86h -> "*"
//   FIL_WIN  BYT_HEX, then KOI-7 letters (60h..7Eh, when the кои7 option is on), then KOI-8
//            letters (C0h..FFh, when кои8 is on), all through KOI_WIN; FIL_DOS the same with
//            KOI_DOS
//   KOD_WIN  only C0h..FFh through KOI_WIN, whatever the options; KOD_DOS with KOI_DOS
//
// Each byte is tested by its code as read, so it changes at most once per pass; a second pass of
// KOD_WIN would change letters again, which is why every byte passes one recoding only.
#pragma once

#include <array>
#include <string>

#include "state/koi.h"
#include "state/options.h"

namespace odi {

using ByteMap = std::array<unsigned char, 256>;

// The whole of FIL_WIN / FIL_DOS for one option setting, as a lookup table.
ByteMap fil_map(const KoiTable& table, bool koi7, bool koi8);
// The same tables, made once: the text recoding of a whole file for the given options (the
// Windows, then the DOS recoding, each when its option is set; identity for neither).
const ByteMap& text_map(const Options& opt);
ByteMap kod_map(const KoiTable& table);

inline void apply_map(const ByteMap& m, std::string& s) {
  for (char& c : s) c = static_cast<char>(m[static_cast<unsigned char>(c)]);
}

void FIL_WIN(std::string& sec, const Options& opt);
void FIL_DOS(std::string& sec, const Options& opt);
void KOD_WIN(std::string& sec);
void KOD_DOS(std::string& sec);
// The control-code substitution of one byte code; other codes come back unchanged.
unsigned char BYT_HEX(unsigned char c);

}  // namespace odi
