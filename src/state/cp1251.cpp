#include "state/cp1251.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <unordered_map>

namespace odi {
namespace {

// One decoding table, filled once from the system's iconv; the reverse map is derived from it so
// both directions always agree.
struct Tables {
  std::array<char32_t, 256> to_ucs{};
  std::unordered_map<char32_t, unsigned char> from_ucs;

  Tables() {
    iconv_t cd = iconv_open("UTF-32LE", "CP1251");
    for (int b = 0; b < 256; ++b) {
      auto cp = static_cast<char32_t>(b);  // fallback: the byte value itself (98h -> U+0098)
      if (b >= 0x80 && cd != reinterpret_cast<iconv_t>(-1)) {
        char in = static_cast<char>(b);
        std::array<unsigned char, 8> out{};
        char* inp = &in;
        size_t inleft = 1;
        char* outp = reinterpret_cast<char*>(out.data());
        size_t outleft = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<size_t>(-1) &&
            outleft == out.size() - 4) {
          cp = static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) |
                                     (static_cast<uint32_t>(out[3]) << 24));
        }
      }
      to_ucs[static_cast<size_t>(b)] = cp;
      from_ucs.emplace(cp, static_cast<unsigned char>(b));
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
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
  const auto& t = tables();
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
      append_utf8(out, t.to_ucs[b]);
    }
  }
  return out;
}

std::string cp1251_to_utf8(std::string_view cp1251) {
  const auto& t = tables();
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (char c : cp1251) append_utf8(out, t.to_ucs[static_cast<unsigned char>(c)]);
  return out;
}

std::string utf8_to_cp1251(std::string_view utf8) {
  const auto& t = tables();
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = next_utf8(utf8, i);
    const auto it = t.from_ucs.find(cp);
    out += it == t.from_ucs.end() ? '?' : static_cast<char>(it->second);
  }
  return out;
}

}  // namespace odi
