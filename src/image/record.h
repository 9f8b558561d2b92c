// The 32-byte catalogue record of MX_DOS. Records stand back to back in a catalogue sector.
//
//   00-02 marker D3h D3h D3h      10-12 date: day, month, year in BCD
//   03-0A name, space padded      13    sector (1..10) of the first sector
//   0B    space                   14    track of the first sector
//   0C-0E extension               15-16 size in KB (sectors in the chain), little-endian
//   0F    reserved                17    kind: 00h file, FFh catalogue
//   18-19 start (load) address    1A-1B end address (last byte)
//   1C-1D checksum                1E-1F reserved
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace odi {

struct Record {
  std::array<unsigned char, 32> b{};

  // The slot after the last record of a catalogue: 32 spaces, the list's last row.
  static Record blank() {
    Record r;
    r.b.fill(' ');
    return r;
  }
  static Record from(std::string_view bytes32) {
    Record r;
    if (!bytes32.empty())  // an empty view may point nowhere
      std::memcpy(r.b.data(), bytes32.data(), std::min(r.b.size(), bytes32.size()));
    return r;
  }

  std::string_view raw() const { return {reinterpret_cast<const char*>(b.data()), b.size()}; }
  bool has_marker() const { return b[0] == 0xD3 && b[1] == 0xD3 && b[2] == 0xD3; }
  // Name (8), space, extension (3): the name field as stored.
  std::string_view name_field() const { return raw().substr(3, 12); }
  std::string_view name8() const { return raw().substr(3, 8); }
  int first_sector() const { return b[0x13]; }
  int first_track() const { return b[0x14]; }
  // Unsigned everywhere: list row, sector count of the walk, text trailer.
  std::uint16_t size_kb() const { return static_cast<std::uint16_t>(b[0x15] | (b[0x16] << 8)); }
  int kind() const { return b[0x17]; }
  bool is_file() const { return b[0x17] == 0x00; }
  bool is_catalogue() const { return b[0x17] == 0xFF; }
  std::uint16_t start() const { return static_cast<std::uint16_t>(b[0x18] | (b[0x19] << 8)); }
  std::uint16_t end() const { return static_cast<std::uint16_t>(b[0x1A] | (b[0x1B] << 8)); }
  std::uint16_t checksum() const { return static_cast<std::uint16_t>(b[0x1C] | (b[0x1D] << 8)); }
};

// Leading and trailing spaces removed (only spaces: names are space padded on the disk).
inline std::string_view trim_spaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace odi
