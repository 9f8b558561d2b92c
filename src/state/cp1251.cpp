#include "state/cp1251.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <unordered_map>

namespace odi {
namespace {

// The upper half of CP1251, 80h..BFh (C0h..FFh are А..я in order, U+0410..U+044F). 98h is not a
// character of the code page: it stands for itself (U+0098), as the system's iconv leaves it.
constexpr char16_t kUpper[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

// The decoding table, built in (the system's iconv, loaded at every start of odi, cost more than
// a small extraction's whole conversion); the reverse map is derived from it so both directions
// always agree, and made only when a name is encoded.
constexpr std::array<char32_t, 256> kToUcs = [] {
  std::array<char32_t, 256> t{};
  for (std::size_t b = 0; b < 256; ++b)
    t[b] = b < 0x80   ? static_cast<char32_t>(b)
           : b < 0xC0 ? static_cast<char32_t>(kUpper[b - 0x80])
                      : static_cast<char32_t>(0x0410 + (b - 0xC0));
  return t;
}();

// (std::all_of, not std::ranges::all_of: the web build's C++ library has no ranges yet.)
static_assert(std::all_of(kToUcs.begin(), kToUcs.end(), [](char32_t c) { return c < 0x10000; }),
              "every character of the table takes at most three bytes of UTF-8");

// How many bytes of UTF-8 each byte becomes.
constexpr std::array<unsigned char, 256> kUtf8Length = [] {
  std::array<unsigned char, 256> n{};
  for (std::size_t b = 0; b < 256; ++b) n[b] = kToUcs[b] < 0x80 ? 1 : kToUcs[b] < 0x800 ? 2 : 3;
  return n;
}();

const std::unordered_map<char32_t, unsigned char>& from_ucs() {
  static const auto m = [] {
    std::unordered_map<char32_t, unsigned char> r;
    for (std::size_t b = 0; b < 256; ++b) r.emplace(kToUcs[b], static_cast<unsigned char>(b));
    return r;
  }();
  return m;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i. Returns U+FFFD for a malformed sequence.
char32_t next_utf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return 0xFFFD;
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

}  // namespace

std::string view_text(std::string_view cp1251) {
  static constexpr char32_t kControlPictures[32] = {
      U'\u25A1', U'\u263A', U'\u263B', U'\u2665', U'\u2666', U'\u2663', U'\u2660', U'\u2022',
      U'\u25D8', U'\t',     U'\n',     U'\u2642', U'\u2640', U'\n',     U'\u266B', U'\u263C',
      U'\u25BA', U'\u25C4', U'\u2195', U'\u203C', U'\u00B6', U'\u00A7', U'\u25AC', U'\u21A8',
      U'\u2191', U'\u2193', U'\u2192', U'\u2190', U'\u221F', U'\u2194', U'\u25B2', U'\u25BC'};
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (size_t i = 0; i < cp1251.size(); ++i) {
    const auto b = static_cast<unsigned char>(cp1251[i]);
    if (b == '\r') {
      out += '\n';
      if (i + 1 < cp1251.size() && cp1251[i + 1] == '\n') ++i;
    } else if (b < 0x20) {
      append_utf8(out, kControlPictures[b]);
    } else if (b == 0x7F) {
      append_utf8(out, U'\u2302');
    } else {
      append_utf8(out, kToUcs[b]);
    }
  }
  return out;
}

namespace {

// Writes the UTF-8 of `bytes`, each through `to_cp1251` first, at `d`; gives the end.
char* put_utf8(std::string_view bytes, const std::array<unsigned char, 256>& to_cp1251, char* d) {
  for (const char c : bytes) {
    const char32_t cp = kToUcs[to_cp1251[static_cast<unsigned char>(c)]];
    if (cp < 0x80) {
      *d++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
      *d++ = static_cast<char>(0xC0 | (cp >> 6));
      *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *d++ = static_cast<char>(0xE0 | (cp >> 12));
      *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return d;
}

}  // namespace

std::string cp1251_to_utf8(std::string_view bytes,
                           const std::array<unsigned char, 256>& to_cp1251) {
  // A name (the conversion runs for every file of an extraction) goes through a buffer on the
  // stack into a string made once; a longer text has its exact length counted first.
  constexpr size_t kShort = 64;
  if (bytes.size() <= kShort) {
    std::array<char, 3 * kShort> buf;  // written before it is read
    return {buf.data(), put_utf8(bytes, to_cp1251, buf.data())};
  }
  size_t length = 0;
  for (const char c : bytes) length += kUtf8Length[to_cp1251[static_cast<unsigned char>(c)]];
  std::string out(length, '\0');
  put_utf8(bytes, to_cp1251, out.data());
  return out;
}

std::string cp1251_to_utf8(std::string_view cp1251) {
  static constexpr auto kSame = [] {
    std::array<unsigned char, 256> t{};
    for (std::size_t b = 0; b < 256; ++b) t[b] = static_cast<unsigned char>(b);
    return t;
  }();
  return cp1251_to_utf8(cp1251, kSame);
}

std::string utf8_to_cp1251(std::string_view utf8) {
  const auto& t = from_ucs();
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = next_utf8(utf8, i);
    const auto it = t.find(cp);
    out += it == t.end() ? '?' : static_cast<char>(it->second);
  }
  return out;
}

}  // namespace odi
