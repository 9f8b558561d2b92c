// COPY_BUF: one entry of an image, read along its chain into the content that a copy writes or a
// preview shows, in the form the options choose:
//   bin, rom  the body as stored
//   rks       ZAG_RKS header (start address, end - start, little-endian), body, END_RKS checksum
//             (the two stored bytes at record offsets 1Ch, 1Dh, copied, never recomputed)
//   txt       the text body and its trailer (text.h); with rks as well: header, text, checksum
// When the chain cannot be followed the content is an error text instead, and ERR_COP says why.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "image/chain.h"
#include "image/fs.h"
#include "image/image.h"
#include "image/record.h"
#include "state/options.h"

namespace odi {

struct CopyResult {
  std::string BUF_FIL;  // the bytes to write, or the error text
  int ERR_COP = kCopyOk;
};

// `dat_txt` is the entry's date text for the txt trailer (FIL_DAT of the record).
CopyResult COPY_BUF(const Image& img, const Record& rec, const Options& opt,
                    std::string_view dat_txt);
// The same for an entry of any file system. A text of a file system that marks a text's end
// with 1Ah stops there; an rks frame refuses a body that would load past FFFFh (ERR_COP 4).
CopyResult COPY_BUF(const FileSystem& fs, const Entry& e, const Options& opt,
                    std::string_view dat_txt);

// The forms whose content is the body as stored (bin and rom: no frame, no recoding) need not be
// copied into one string: the body's pieces as they lie in the image, for a writer that gathers
// them, runs of adjacent sectors joined. False for the other forms and for a chain whose copy is an
// error text (COPY_BUF gives it).
bool body_in_place(const FileSystem& fs, const Entry& e, const Options& opt,
                   std::vector<std::string_view>& pieces);

// The rks frame pieces.
std::string ZAG_RKS(const ChainParams& p);
std::string END_RKS(const Record& rec);

// DAMP_TXT: the first 8192 bytes of `buf` as a hex dump, 16 bytes a line:
//   "AAAA:" + " HH" per byte + blanks to column 55 + the bytes as characters + CR LF
// Characters below 20h, 7Fh and FFh show as "."; with `win`, C0h..FEh are recoded by KOD_WIN.
std::string DAMP_TXT(std::string_view buf, bool win);

}  // namespace odi
