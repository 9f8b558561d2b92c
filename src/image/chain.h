// Sector chains: how a file's sectors are found. A record names the first sector; the FAT cell of
// each sector (2 bytes: sector, track of the next one) names the following one; AAh in byte 0
// marks the last sector. The size word of the record says how many sectors to take; the addresses
// say how many bytes of the last one belong to the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/record.h"

namespace odi {

// FIL_PARAM: the chain parameters of a record.
struct ChainParams {
  std::int32_t ADR_BEG = 0;  // start (load) address, 0..65535
  std::int32_t ADR_END = 0;  // end address, 0..65535
  std::int32_t LEN_ADR = 0;  // ADR_END - ADR_BEG in 32 bits: a 64 KB body does not overflow
  std::uint16_t SIZ_KB = 0;  // sectors in the chain, unsigned
  int SEC_NUM = 0;           // first sector (1..10 when valid)
  int TRK_NUM = 0;           // first track (1..79 when valid)
};
ChainParams FIL_PARAM(const Record& rec);

// KON_FAT: is (sector, track) an address a chain may hold? AAh (end of chain) with any track, or
// sector 1..10 on track 1..79. Track 0 holds only the DOS, never a file sector.
constexpr bool KON_FAT(int sec_num, int trk_num) {
  return sec_num == kAddressEnd || (sec_num >= 1 && sec_num <= 10 && trk_num >= 1 && trk_num <= 79);
}

// Outcome codes of a walk (ERR_COP).
enum : int {
  kCopyOk = 0,        // the chain was followed
  kCopyBadFirst = 1,  // the record's first-sector address is not a sector
  kCopyBadFat = 2,    // a FAT cell links to no sector, or back to a sector already read
  kCopyShort = 3,     // a byte to be read lies past the end of the image file
  kCopyTooLarge = 4,  // the rks form cannot frame the body (a CP/M file loaded at 0100h past 64 KB)
};

// One piece of the body: `length` bytes at image `offset` (inside the image).
struct Piece {
  std::int64_t offset = 0;
  std::int32_t length = 0;
  int sector_index = 0;  // 10 x track + sector - 1
};

struct ChainWalk {
  int ERR_COP = kCopyOk;
  std::vector<Piece> pieces;  // in chain order; what was read before a fault is kept here
  std::uint16_t n = 0;        // the record's sector count
  // What a checker wants to know besides ERR_COP:
  bool ended_early = false;  // an AAh cell came before the n-th sector (the walk stopped there)
  bool longer = false;       // the n-th sector's link is another sector, not AAh
  bool loop = false;         // the FAT led back to a sector already read
  int bad_sec = -1, bad_trk = -1;  // the offending address when ERR_COP is 1 or 2 (not a loop)
  std::int32_t last_len = 1024;    // bytes taken from the last sector read
};

// The chain walk of an entry: at most n sectors (the size word), each read whole but the one whose
// link is AAh, which holds LEN_ADR - (n-1) x 1024 + 1 bytes (clamped into 0..1024). The walk stops
// after an AAh link even before n sectors, at a bad link (ERR_COP 2), at a sector it already read
// (a loop, ERR_COP 2), and at bytes past the end of the image (ERR_COP 3). A bad first address, or
// one that is AAh while the size is not 0, is ERR_COP 1 and nothing is read.
ChainWalk walk_chain(const Image& img, const Record& rec);
// The same into `w`, whose memory for the pieces is reused: an extraction walks every file.
void walk_chain(const Image& img, const Record& rec, ChainWalk& w);

// The body bytes a walk found, in chain order (pieces always lie inside the image).
std::string chain_body(const Image& img, const ChainWalk& w);
// The same, appended to `out`.
void append_chain_body(const Image& img, const ChainWalk& w, std::string& out);

// The checksum word the machine's monitor computes over a body: the low byte is the sum of all
// bytes modulo 256; the high byte is the sum, over all bytes but the last, of each byte plus the
// carry out of the low-byte addition for that byte, modulo 256.
std::uint16_t monitor_checksum(std::string_view body);

}  // namespace odi
