#include "extract/put_form.h"

#include <array>
#include <vector>

#include "extract/recode.h"
#include "image/catalogue.h"

namespace odi {
namespace {

std::string hex2(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
}

bool fits(const DiskName& n) {
  return !n.name8.empty() && n.name8.size() <= 8 && n.ext3.size() <= 3;
}

std::string_view strip_prefix(std::string_view s, std::string_view prefix, bool& ok) {
  ok = ok && s.substr(0, prefix.size()) == prefix;
  return ok ? s.substr(prefix.size()) : s;
}

// The text without its trailer, when it ends in one as END_TXT writes it.
std::string_view without_trailer(std::string_view text) {
  static constexpr std::string_view kName = "\r\nName: '";
  const size_t at = text.rfind(kName);
  if (at == std::string_view::npos) return text;
  std::string_view rest = text.substr(at + kName.size());
  if (rest.size() < 12) return text;
  bool ok = true;
  rest = strip_prefix(rest.substr(12), "' \\ ", ok);
  const size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
  ok = ok && digits > 0;
  rest = strip_prefix(rest.substr(ok ? digits : 0), "K\r\nData: ", ok);
  // DD.MM.YY, or "--.--.--" where the file system keeps no date (CP/M).
  ok = ok && !rest.empty() && rest.find_first_not_of("0123456789.-") == std::string_view::npos;
  return ok ? text.substr(0, at) : text;
}

// For each PC byte the disk byte the text recoding turns into it, or -1: a KOI-8 letter (C0h..FEh)
// first, since a letter of the code page may also read back as itself (CP866 puts letters at
// 80h..AFh, which the recoding leaves alone); else the byte itself where it reads back unchanged
// (CR stays 0Dh, though FFh reads as CR too); else any other byte that becomes it.
std::array<int, 256> recoding_backwards(const ByteMap& m) {
  std::array<int, 256> back{};
  back.fill(-1);
  for (int s = 0xFF; s >= 0; --s) back[m[static_cast<size_t>(s)]] = s;
  for (int b = 0; b < 256; ++b)
    if (m[static_cast<size_t>(b)] == b) back[static_cast<size_t>(b)] = b;
  for (int s = 0xFE; s >= 0xC0; --s) back[m[static_cast<size_t>(s)]] = s;
  return back;
}

}  // namespace

std::optional<DiskName> disk_name_from_utf8(std::string_view utf8, std::string& why) {
  const std::string quoted = "\"" + std::string(utf8) + "\"";
  if (utf8.empty()) {
    why = "empty name";
    return std::nullopt;
  }
  const auto bytes = exact_bytes(utf8);
  if (!bytes) {
    why = quoted + " holds a character that no byte of a disk name reads back as";
    return std::nullopt;
  }
  const std::string& k = *bytes;
  std::vector<DiskName> tries;
  if (k.back() == '.') {
    tries.push_back({k.substr(0, k.size() - 1), ""});
  } else if (const size_t dot = k.rfind('.'); dot != std::string::npos) {
    tries.push_back({k.substr(0, dot), k.substr(dot + 1)});
  }
  tries.push_back({k, ""});
  if (k.size() >= 10 && k.size() <= 12 && k[8] == ' ') {
    std::string field = k.substr(0, 8);
    field.erase(field.find_last_not_of(' ') + 1);  // the padding; leading blanks are the name's
    tries.push_back({field, k.substr(9)});
  }
  for (const DiskName& t : tries)
    if (fits(t)) return t;
  why = quoted + " does not fit a name of 8 characters and an extension of 3";
  return std::nullopt;
}

std::optional<RksParts> read_rks(std::string_view file, std::string& why) {
  RksParts p;
  if (file.empty()) return p;
  auto word = [&](size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(file[at]) |
                                      (static_cast<unsigned char>(file[at + 1]) << 8));
  };
  if (file.size() < 7) {
    why = "not an rks file: " + std::to_string(file.size()) +
          " bytes cannot hold an address, a size, a body and a checksum";
    return std::nullopt;
  }
  const size_t len = size_t{word(2)} + 1;
  if (file.size() != len + 6) {
    why = "not an rks file: its frame says " + std::to_string(len) + " bytes of body, it holds " +
          std::to_string(file.size() - 6);
    return std::nullopt;
  }
  p.start = word(0);
  p.body.assign(file.substr(4, len));
  p.checksum = word(4 + len);
  return p;
}

std::optional<std::string> read_txt(std::string_view file, const Options& opt, std::string& why) {
  const std::array<int, 256> back = recoding_backwards(text_map(opt));
  const std::string_view text = without_trailer(file);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int b = back[c];
    if (b < 0) {
      why = "byte " + hex2(c) + "h at offset " + std::to_string(i) +
            " has no code on the disk that reads back as it";
      return std::nullopt;
    }
    out += static_cast<char>(b);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

}  // namespace odi
