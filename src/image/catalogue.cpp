#include "image/catalogue.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <ctime>

#include "state/cp1251.h"
#include "state/koi.h"
#include "state/texts.h"

namespace odi {
namespace {

constexpr unsigned char nam_win_byte(unsigned char c) {
  if (c == 32) return c;
  if (c <= 31 || (c >= 33 && c <= 44)) return '^';
  if (c == 47) return '_';
  if (c >= 58 && c <= 64) return '~';
  if (c == 91 || c == 92 || c == 93 || c == 123 || c == 124 || c == 125) return '-';
  if (c >= 192) return KOI_WIN[c - 192];
  return c;
}

// The same for every byte, looked up: a name's conversion runs for every file of an extraction.
constexpr auto kNamWin = [] {
  std::array<unsigned char, 256> t{};
  for (std::size_t c = 0; c < 256; ++c) t[c] = nam_win_byte(static_cast<unsigned char>(c));
  return t;
}();

// The table with the CR that KOI code FFh becomes turned into "^" as well: a name's byte as it
// stands in a PC name.
constexpr auto kPcName = [] {
  auto t = kNamWin;
  for (auto& c : t)
    if (c == '\r') c = '^';
  return t;
}();

// A name of three letters "prn" in any case of the Latin letters: a device on the PC.
bool is_prn(std::string_view name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return name.size() == 3 && lower(name[0]) == 'p' && lower(name[1]) == 'r' &&
         lower(name[2]) == 'n';
}

// NAM_WIN, a CR made "^", in UTF-8; a folder's name is never empty or only dots.
std::string pc_name(std::string_view name, bool folder) {
  std::string s = cp1251_to_utf8(name, kPcName);
  if (is_prn(name)) s += '^';
  if (folder && s.find_first_not_of('.') == std::string::npos)
    s.assign(std::max<size_t>(s.size(), 1), '^');
  return s;
}

}  // namespace

std::string NAM_WIN(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(kNamWin[static_cast<unsigned char>(c)]);
  if (is_prn(name)) out += '^';
  return out;
}

std::string pc_file_name(std::string_view name) {
  return pc_name(name, false);
}

std::string pc_folder_name(std::string_view name) {
  return pc_name(name, true);
}

std::vector<Record> read_catalogue(const Image& img, std::int64_t pos) {
  std::vector<Record> recs;
  recs.reserve(kMaxRecords);
  for (int i = 0; i < kMaxRecords; ++i) {
    const auto bytes = img.read(pos + 32 * std::int64_t{i}, 32);
    if (!bytes) break;
    const Record r = Record::from(*bytes);
    if (!r.has_marker()) break;
    recs.push_back(r);
  }
  return recs;
}

std::string entry_name(const Record& rec) {
  return cp1251_to_utf8(NAM_WIN(trim_spaces(rec.name_field())));
}

std::string entry_short_name(const Record& rec) {
  // Convert the whole field at once (12 bytes: the "prn" rule never fires) and split it after.
  const std::string conv = NAM_WIN(rec.name_field());
  const std::string_view v(conv);
  std::string out = cp1251_to_utf8(trim_spaces(v.substr(0, 8)));
  const std::string_view ext = trim_spaces(v.substr(9, 3));
  if (!ext.empty()) {
    out += '.';
    out += cp1251_to_utf8(ext);
  }
  return out;
}

std::string exact_text(std::string_view bytes) {
  while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
  std::string cp(bytes);
  for (char& c : cp) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0xC0) c = static_cast<char>(KOI_WIN[b - 0xC0U]);
  }
  return cp1251_to_utf8(cp);
}

std::string exact_name(const Record& rec) {
  return exact_text(rec.name8());
}

std::string exact_ext(const Record& rec) {
  return exact_text(rec.name_field().substr(9));
}

std::optional<std::string> exact_bytes(std::string_view utf8) {
  static const auto back = [] {
    std::array<int, 256> b{};
    b.fill(-1);
    for (int c = 0; c < 0xC0; ++c) b[static_cast<size_t>(c)] = c;
    // Entry 63 (code FFh) is CR, not a letter: CR stays 0Dh, and Ъ has no code.
    for (size_t i = 0; i + 1 < KOI_WIN.size(); ++i) b[KOI_WIN[i]] = static_cast<int>(0xC0 + i);
    return b;
  }();
  std::string cp = utf8_to_cp1251(utf8);
  if (cp1251_to_utf8(cp) != utf8) return std::nullopt;
  for (char& c : cp) {
    const int k = back[static_cast<unsigned char>(c)];
    if (k < 0) return std::nullopt;
    c = static_cast<char>(k);
  }
  return cp;
}

std::string list_row(const Record& rec) {
  return NAM_WIN(rec.name_field()) + " " + std::to_string(rec.size_kb()) + "K";
}

void CatalogueStack::reset_root(std::string disk_name, std::int64_t pos) {
  KAT_LEV = 0;
  KAT_POS[0] = pos;
  KAT_IDX[0] = 0;
  KAT_NAM[0] = std::move(disk_name);
}

bool CatalogueStack::enter(const Record& rec, int row) {
  return enter(sector_offset(rec.first_track(), rec.first_sector()),
               std::string(trim_spaces(rec.name8())), row);
}

bool CatalogueStack::enter(std::int64_t pos, std::string name, int row) {
  if (KAT_LEV >= kMaxLevel) return false;
  KAT_IDX[static_cast<size_t>(KAT_LEV)] = row;
  ++KAT_LEV;
  const auto lev = static_cast<size_t>(KAT_LEV);
  KAT_IDX[lev] = 0;
  KAT_NAM[lev] = std::move(name);
  KAT_POS[lev] = pos;
  return true;
}

bool CatalogueStack::up() {
  if (KAT_LEV <= 0) return false;
  --KAT_LEV;
  return true;
}

std::string CatalogueStack::path_text() const {
  std::string s;
  for (int i = 0; i <= KAT_LEV; ++i) {
    s += '\\';
    s += NAM_WIN(KAT_NAM[static_cast<size_t>(i)]);
  }
  return s;
}

bool CatalogueStack::on_path(std::int64_t pos) const {
  for (int i = 0; i <= KAT_LEV; ++i)
    if (KAT_POS[static_cast<size_t>(i)] == pos) return true;
  return false;
}

std::string VER_DOS(const Image& img) {
  const std::string_view area = img.head(0, kSignatureArea);
  const size_t p = area.find("Dos_MX");
  if (p == std::string_view::npos) return texts::no_version();
  return std::string(img.head(static_cast<std::int64_t>(p), kVersionLength));
}

std::string disk_name(const Image& img) {
  return std::string(trim_spaces(img.head(kDiskNameOffset, kDiskNameLength)));
}

std::string FIL_DAT(const Record& rec, std::string_view today) {
  if (!rec.is_file() && !rec.is_catalogue()) return std::string(today);
  // Each nibble as its decimal number: a BCD digit, or 10..15 as two digits on a damaged date.
  // Every entry listed has a date: written into a buffer, then made a string once.
  char s[16];
  size_t n = 0;
  for (size_t i = 0; i < 3; ++i) {
    const int b = rec.b[0x10 + i];
    for (const int v : {b / 16, b % 16}) {
      if (v >= 10) s[n++] = '1';
      s[n++] = static_cast<char>('0' + v % 10);
    }
    if (i < 2) s[n++] = '.';
  }
  return {s, n};
}

std::string today_text() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%d.%m.%y", &tm);
  return buf;
}

}  // namespace odi
