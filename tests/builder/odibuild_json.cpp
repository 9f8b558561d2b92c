// Reading a disk description (JSON) into a DiskBuilder. The format is
// documented next to fromJson() in odibuild.h.
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "builder/odibuild.h"

namespace odibuild {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("odibuild json: " + what);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number given either as a JSON number or as hex text: "1100", "0x1100", "1100h".
unsigned number(const json& v, unsigned limit, const char* what) {
  unsigned long value = 0;
  if (v.is_number_unsigned()) {
    value = v.get<unsigned long>();
  } else if (v.is_string()) {
    std::string s = v.get<std::string>();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    if (!s.empty() && (s.back() == 'h' || s.back() == 'H')) s.pop_back();
    if (s.empty()) fail(std::string(what) + ": empty number");
    for (char c : s) {
      const int d = hexDigit(c);
      if (d < 0) fail(std::string(what) + ": not hex: " + v.get<std::string>());
      value = value * 16 + static_cast<unsigned>(d);
      if (value > limit) break;
    }
  } else {
    fail(std::string(what) + ": expected a number or hex text");
  }
  if (value > limit) fail(std::string(what) + ": out of range");
  return static_cast<unsigned>(value);
}

std::uint16_t word(const json& v, const char* what) {
  return static_cast<std::uint16_t>(number(v, 0xFFFF, what));
}
std::uint8_t byte(const json& v, const char* what) {
  return static_cast<std::uint8_t>(number(v, 0xFF, what));
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
  std::string out;
  int pending = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') continue;
    const int d = hexDigit(c);
    if (d < 0) fail("hex: bad digit '" + std::string(1, c) + "'");
    if (pending < 0) {
      pending = d;
    } else {
      out.push_back(static_cast<char>(pending * 16 + d));
      pending = -1;
    }
  }
  if (pending >= 0) fail("hex: odd number of digits");
  return out;
}

void addEntries(DiskBuilder& disk, Cat parent, const json& entries) {
  if (!entries.is_array()) fail("entries: expected an array");
  for (const auto& e : entries) {
    const Date date = e.contains("date") ? Date::parse(e["date"].get<std::string>()) : Date{};
    const std::string ext = e.contains("ext") ? koi8(e["ext"].get<std::string>()) : std::string();
    if (e.contains("catalogue")) {
      CatalogueSpec spec;
      spec.name = koi8(e["catalogue"].get<std::string>());
      spec.ext = ext;
      spec.date = date;
      if (e.contains("size")) spec.sizeKb = word(e["size"], "size");
      if (e.contains("sector")) spec.sector = e["sector"].get<int>();
      if (e.contains("self_record")) spec.selfRecord = e["self_record"].get<bool>();
      const Cat cat = disk.addCatalogue(parent, spec);
      if (e.contains("entries")) addEntries(disk, cat, e["entries"]);
    } else if (e.contains("file")) {
      FileSpec spec;
      spec.name = koi8(e["file"].get<std::string>());
      spec.ext = ext;
      spec.date = date;
      if (e.contains("start")) spec.start = word(e["start"], "start");
      spec.body = bodyFromJson(e);
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

std::string bodyFromJson(const json& e) {
  int kinds = 0;
  std::string body;
  if (e.contains("text")) ++kinds, body = koi8Text(joinedText(e["text"]));
  if (e.contains("koi7")) ++kinds, body = koi7Text(joinedText(e["koi7"]));
  if (e.contains("hex")) ++kinds, body = hexBytes(e["hex"].get<std::string>());
  if (e.contains("fill")) {
    ++kinds;
    const json& f = e["fill"];
    const std::size_t count = f.at("count").get<std::size_t>();
    if (count > kImageSize) fail("fill: count larger than a disk");
    body = std::string(count, static_cast<char>(byte(f.at("byte"), "fill byte")));
  }
  if (kinds > 1) fail("file has more than one body (text, koi7, hex, fill)");
  // Texts on real disks end in a byte after the last line.
  if (e.value("eof", false)) body.push_back('\xFF');
  return body;
}

DiskBuilder fromJson(const json& description) {
  const json& d = description;
  if (!d.is_object()) fail("description: expected an object");
  DiskBuilder disk;
  if (d.contains("signature")) {
    if (d["signature"].is_null())
      disk.clearSignature();
    else
      disk.setSignature(d["signature"].get<std::string>(),
                        d.value("signature_offset", kSignatureOffset));
  } else if (d.contains("signature_offset")) {
    disk.setSignature("Dos_MX V3.6", d["signature_offset"].get<std::size_t>());
  }
  if (d.contains("disk_name")) disk.setDiskName(koi8(d["disk_name"].get<std::string>()));
  if (d.contains("filler")) disk.setCatalogueFiller(byte(d["filler"], "filler"));
  if (d.contains("self_records")) disk.setSelfRecords(d["self_records"].get<bool>());
  if (d.contains("entries")) addEntries(disk, disk.root(), d["entries"]);
  return disk;
}

DiskBuilder fromJsonText(std::string_view text) {
  return fromJson(json::parse(text));
}

}  // namespace odibuild
