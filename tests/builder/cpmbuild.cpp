#include "builder/cpmbuild.h"

#include <algorithm>
#include <stdexcept>

namespace odibuild {

namespace {

constexpr std::size_t kDirOffset = 0x5000, kBlockSize = 2048, kEntrySize = 32;
constexpr std::size_t kRecordSize = 128, kExtentSize = 16384;  // 8 blocks, 128 records
constexpr int kBlockCount = 389, kEntryCount = 128;            // DSM 388 + 1, DRM 127 + 1
constexpr char kUnused = '\xE5';

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("cpmbuild: " + what);
}

// A name or type field: 7-bit bytes (the high bits carry attributes), space padded.
std::string field(std::string_view s, std::size_t width, const char* what) {
  if (s.size() > width) fail(std::string(what) + " longer than " + std::to_string(width));
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) fail(std::string(what) + " byte above 7Fh");
  std::string out(s);
  out.resize(width, ' ');
  return out;
}

int take(std::vector<bool>& used, const char* full) {
  const auto free = std::find(used.begin(), used.end(), false);
  if (free == used.end()) fail(full);
  *free = true;
  return static_cast<int>(free - used.begin());
}

std::size_t entryOffset(int index) {
  if (index < 0 || index >= kEntryCount) fail("no directory entry " + std::to_string(index));
  return kDirOffset + static_cast<std::size_t>(index) * kEntrySize;
}

}  // namespace

CpmDiskBuilder::CpmDiskBuilder(CpmDiskOptions options)
    : image_(kImageSize, kUnused), blockUsed_(kBlockCount, false), entryTaken_(kEntryCount, false) {
  blockUsed_[0] = blockUsed_[1] = true;  // the directory
  if (options.withParameterBlock)
    image_.replace(0, 31,
                   std::string("\xC3", 1) + std::string(15, '\0') +
                       std::string("\x28\0\x04\x0F\0\x84\x01\x7F\0\xC0\0\x20\0\x04\0", 15));
}

CpmFile CpmDiskBuilder::addFile(int user, std::string_view name, std::string_view type,
                                std::string_view body, CpmFileOptions options) {
  if (user < 0 || user > 15) fail("user " + std::to_string(user) + " outside 0..15");
  if (options.lastRecordBytes >= kRecordSize) fail("last record bytes above 127");
  std::string head = static_cast<char>(user) + field(name, 8, "name") + field(type, 3, "type");
  if (options.readOnly) head[9] = static_cast<char>(head[9] | 0x80);
  if (options.system) head[10] = static_cast<char>(head[10] | 0x80);
  if (options.archive) head[11] = static_cast<char>(head[11] | 0x80);
  CpmFile file;
  const std::size_t extents = body.empty() ? 1 : (body.size() + kExtentSize - 1) / kExtentSize;
  for (std::size_t x = 0; x < extents; ++x) {
    const std::string_view part = body.substr(std::min(body.size(), x * kExtentSize), kExtentSize);
    std::string entry = head + std::string(20, '\0');
    entry[cpm::kEx] = static_cast<char>(x & 0x1F);
    entry[cpm::kS2] = static_cast<char>((x >> 5) & 0x3F);
    if (x + 1 == extents) entry[cpm::kS1] = static_cast<char>(options.lastRecordBytes);
    entry[cpm::kRc] = static_cast<char>((part.size() + kRecordSize - 1) / kRecordSize);
    for (std::size_t at = 0, k = 0; at < part.size(); at += kBlockSize, ++k) {
      const int b = take(blockUsed_, "disk full");
      file.blocks.push_back(b);
      entry[cpm::kBlocks + 2 * k] = static_cast<char>(b & 0xFF);
      entry[cpm::kBlocks + 2 * k + 1] = static_cast<char>(b >> 8);
      const std::string_view data = part.substr(at, kBlockSize);
      image_.replace(kDirOffset + static_cast<std::size_t>(b) * kBlockSize, data.size(), data);
    }
    file.entries.push_back(take(entryTaken_, "directory full"));
    setEntry(file.entries.back(), entry);
  }
  return file;
}

CpmFile CpmDiskBuilder::addDeletedEntry(std::string_view name, std::string_view type,
                                        std::string_view body) {
  CpmFile file = addFile(0, name, type, body);
  for (int i : file.entries) setEntryByte(i, cpm::kUser, static_cast<std::uint8_t>(kUnused));
  for (int b : file.blocks) blockUsed_[static_cast<std::size_t>(b)] = false;
  return file;
}

std::string CpmDiskBuilder::entryBytes(int index) const {
  return image_.substr(entryOffset(index), kEntrySize);
}

CpmDiskBuilder& CpmDiskBuilder::setEntryByte(int index, std::size_t field, std::uint8_t value) {
  if (field >= kEntrySize) fail("entry field " + std::to_string(field) + " outside 0..31");
  image_[entryOffset(index) + field] = static_cast<char>(value);
  return *this;
}

CpmDiskBuilder& CpmDiskBuilder::setEntry(int index, std::string_view bytes32) {
  if (bytes32.size() != kEntrySize) fail("an entry is 32 bytes");
  image_.replace(entryOffset(index), kEntrySize, bytes32);
  entryTaken_[static_cast<std::size_t>(index)] = true;
  return *this;
}

}  // namespace odibuild
