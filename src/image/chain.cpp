#include "image/chain.h"

#include <algorithm>
#include <bitset>
#include <cassert>

namespace odi {

ChainParams FIL_PARAM(const Record& rec) {
  ChainParams p;
  p.ADR_BEG = rec.start();
  p.ADR_END = rec.end();
  p.LEN_ADR = p.ADR_END - p.ADR_BEG;
  p.SIZ_KB = rec.size_kb();
  p.SEC_NUM = rec.first_sector();
  p.TRK_NUM = rec.first_track();
  return p;
}

void walk_chain(const Image& img, const Record& rec, ChainWalk& w) {
  const ChainParams p = FIL_PARAM(rec);
  std::vector<Piece> memory = std::move(w.pieces);
  memory.clear();
  w = ChainWalk{};
  w.pieces = std::move(memory);
  w.n = p.SIZ_KB;
  int sec = p.SEC_NUM;
  int trk = p.TRK_NUM;

  // The first address: AAh marks an end, it is not a sector, unless there is nothing to read.
  if (!KON_FAT(sec, trk) || (sec == kAddressEnd && w.n != 0)) {
    w.ERR_COP = kCopyBadFirst;
    w.bad_sec = sec;
    w.bad_trk = trk;
    return;
  }
  if (w.n == 0) return;

  const auto fat = img.read(kFatOffset, kFatSize);
  if (!fat) {
    w.ERR_COP = kCopyShort;
    return;
  }

  std::bitset<800> seen;
  // One piece per sector, and no chain has more sectors than the disk: one allocation.
  w.pieces.reserve(std::min<size_t>(w.n, seen.size()));
  for (int cnt = 1; cnt <= w.n; ++cnt) {
    // sec is 1..10 and trk 1..79 here (checked by KON_FAT, AAh ends the walk), so k is 10..799.
    const int k = 10 * trk + sec - 1;
    assert(k >= 10 && k < 800);
    if (seen[static_cast<size_t>(k)]) {
      w.ERR_COP = kCopyBadFat;
      w.loop = true;
      return;
    }
    seen[static_cast<size_t>(k)] = true;

    const auto cell = 2 * static_cast<size_t>(k);
    sec = static_cast<unsigned char>((*fat)[cell]);
    trk = static_cast<unsigned char>((*fat)[cell + 1]);
    std::int32_t len = 1024;
    if (sec == kAddressEnd) {
      const std::int64_t last = std::int64_t{p.LEN_ADR} - (std::int64_t{w.n} - 1) * 1024 + 1;
      len = static_cast<std::int32_t>(std::clamp<std::int64_t>(last, 0, 1024));
    }
    const std::int64_t off = std::int64_t{k} * kSectorSize;
    if (off + len > img.size()) {  // the image ends before the sector does
      w.ERR_COP = kCopyShort;
      return;
    }
    w.pieces.push_back({off, len, k});
    w.last_len = len;

    if (sec == kAddressEnd) {
      w.ended_early = cnt < w.n;
      return;
    }
    if (!KON_FAT(sec, trk)) {
      w.ERR_COP = kCopyBadFat;
      w.bad_sec = sec;
      w.bad_trk = trk;
      return;
    }
  }
  w.longer = true;  // n sectors read and the last one still links onwards
}

ChainWalk walk_chain(const Image& img, const Record& rec) {
  ChainWalk w;
  walk_chain(img, rec, w);
  return w;
}

void append_chain_body(const Image& img, const ChainWalk& w, std::string& out) {
  size_t total = out.size();
  for (const Piece& p : w.pieces) total += static_cast<size_t>(p.length);
  out.reserve(total);  // one allocation, not one per doubling of a long body
  for (const Piece& p : w.pieces) out += *img.read(p.offset, p.length);
}

std::string chain_body(const Image& img, const ChainWalk& w) {
  std::string body;
  append_chain_body(img, w, body);
  return body;
}

namespace {
// The plain sum of `n` bytes. Blocks of a fixed 64 are what the compiler adds side by side at the
// optimisation the build uses; a body of 64 KB takes microseconds instead of a byte at a time.
std::uint64_t byte_sum(const unsigned char* p, size_t n) {
  std::uint64_t s = 0;
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    std::uint32_t block = 0;
    for (size_t j = 0; j < 64; ++j) block += p[i + j];
    s += block;
  }
  for (; i < n; ++i) s += p[i];
  return s;
}
}  // namespace

std::uint16_t monitor_checksum(std::string_view body) {
  // The monitor adds each byte but the last into a 16-bit sum whose carry out of the low byte goes
  // into the high byte as well: after all of them the low byte is S mod 256 and the high byte
  // (S + S / 256) mod 256, S being the plain sum. So one plain sum, which has no carry chain from
  // byte to byte, gives the same word; check() and odi ls sum every body on the disk.
  if (body.empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  const std::uint64_t s = byte_sum(p, body.size() - 1);
  const unsigned lo = (s + p[body.size() - 1]) & 0xFF;  // the last byte counts in the low byte only
  const unsigned hi = (s + (s >> 8)) & 0xFF;
  return static_cast<std::uint16_t>((hi << 8) | lo);
}

}  // namespace odi
