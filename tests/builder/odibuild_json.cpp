// Reading a disk description (JSON) into a DiskBuilder. The format is documented next to
// fromJson() in odibuild.h.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "builder/odibuild.h"
#include "sample_json.h"

namespace odibuild {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("odibuild json: " + what);
}

// A number given either as a JSON number or as hex text: "1100", "0x1100", "1100h".
unsigned number(const json& v, unsigned limit, const char* what) {
  unsigned long value = 0;
  if (v.is_number_unsigned()) {
    value = v.get<unsigned long>();
  } else if (v.is_string()) {
    std::string s = v.get<std::string>();
    if (!s.empty() && (s.back() == 'h' || s.back() == 'H')) s.pop_back();
    char* end = nullptr;
    value = std::strtoul(s.c_str(), &end, 16);
    if (s.empty() || !std::isxdigit(static_cast<unsigned char>(s[0])) || *end != '\0')
      fail(std::string(what) + ": not hex: " + v.get<std::string>());
  } else {
    fail(std::string(what) + ": expected a number or hex text");
  }
  if (value > limit) fail(std::string(what) + ": out of range");
  return static_cast<unsigned>(value);
}

std::uint16_t word(const json& v, const char* what) {
  return static_cast<std::uint16_t>(number(v, 0xFFFF, what));
}

Date date(const json& v) {
  const std::string text = v.get<std::string>();
  unsigned day = 0, month = 0, year = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%2u.%2u.%2u%c", &day, &month, &year, &rest) != 3 ||
      !std::isdigit(static_cast<unsigned char>(text[0])))
    fail("date is not DD.MM.YY: " + text);
  return Date::of(static_cast<int>(day), static_cast<int>(month), static_cast<int>(year));
}

// "text" and "koi7" take one string or an array of lines (each line gets a CR).
std::string joinedText(const json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (!v.is_array()) fail("text: expected a string or an array of lines");
  std::string out;
  for (const auto& line : v) out += line.get<std::string>() + "\n";
  return out;
}

std::string hexBytes(const std::string& text) {
  std::string digits, out;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2 != 0 || digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos)
    fail("hex: expected pairs of hex digits: " + text);
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return out;
}

std::string body(const json& e) {
  int kinds = 0;
  std::string body;
  if (e.contains("text")) ++kinds, body = koi8Text(joinedText(e["text"]));
  if (e.contains("koi7")) ++kinds, body = koi7Text(joinedText(e["koi7"]));
  if (e.contains("hex")) ++kinds, body = hexBytes(e["hex"].get<std::string>());
  if (e.contains("fill")) {
    ++kinds;
    const std::size_t count = e["fill"].at("count").get<std::size_t>();
    if (count > kImageSize) fail("fill: count larger than a disk");
    body = std::string(count, static_cast<char>(number(e["fill"].at("byte"), 0xFF, "fill byte")));
  }
  if (kinds > 1) fail("file has more than one body (text, koi7, hex, fill)");
  // Texts on real disks end in a byte after the last line.
  if (e.value("eof", false)) body.push_back('\xFF');
  return body;
}

void addEntries(DiskBuilder& disk, Cat parent, const json& entries) {
  if (!entries.is_array()) fail("entries: expected an array");
  for (const auto& e : entries) {
    const Date when = e.contains("date") ? date(e["date"]) : Date{};
    const std::string ext = koi8(e.value("ext", std::string()));
    if (e.contains("catalogue")) {
      CatalogueSpec spec{koi8(e["catalogue"].get<std::string>()), ext, when, {}, {}, {}};
      if (e.contains("size")) spec.sizeKb = word(e["size"], "size");
      if (e.contains("sector")) spec.sector = e["sector"].get<int>();
      if (e.contains("self_record")) spec.selfRecord = e["self_record"].get<bool>();
      const Cat cat = disk.addCatalogue(parent, spec);
      if (e.contains("entries")) addEntries(disk, cat, e["entries"]);
    } else if (e.contains("file")) {
      FileSpec spec = fileSpec(koi8(e["file"].get<std::string>()), ext,
                               e.contains("start") ? word(e["start"], "start") : 0, body(e), when);
      if (e.contains("checksum")) spec.checksum = word(e["checksum"], "checksum");
      if (e.contains("size")) spec.sizeKb = word(e["size"], "size");
      if (e.contains("end")) spec.end = word(e["end"], "end");
      if (e.contains("sectors")) spec.sectors = e["sectors"].get<std::vector<int>>();
      disk.addFile(parent, spec);
    } else {
      fail("entry without \"file\" or \"catalogue\": " + e.dump());
    }
  }
}

}  // namespace

DiskBuilder fromJson(std::string_view text) {
  const json d = json::parse(text);
  if (!d.is_object()) fail("description: expected an object");
  DiskBuilder disk;
  if (d.contains("signature") && d["signature"].is_null())
    disk.clearSignature();
  else if (d.contains("signature") || d.contains("signature_offset"))
    disk.setSignature(d.value("signature", std::string("Dos_MX V3.6")),
                      d.value("signature_offset", kSignatureOffset));
  if (d.contains("disk_name")) disk.setDiskName(koi8(d["disk_name"].get<std::string>()));
  if (d.contains("filler"))
    disk.setCatalogueFiller(static_cast<std::uint8_t>(number(d["filler"], 0xFF, "filler")));
  if (d.contains("self_records")) disk.setSelfRecords(d["self_records"].get<bool>());
  if (d.contains("entries")) addEntries(disk, disk.root(), d["entries"]);
  return disk;
}

// Built into the library so that the tool needs no file beside it to write the sample.
std::string_view sampleDescription() {
  return {kSampleJson, sizeof kSampleJson - 1};
}

}  // namespace odibuild
