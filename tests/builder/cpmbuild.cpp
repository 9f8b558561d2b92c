#include "builder/cpmbuild.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace odibuild {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("cpmbuild: " + what);
}

void putWord(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFFu);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFFu);
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

}  // namespace

CpmDiskBuilder::CpmDiskBuilder(CpmDiskOptions options)
    : image_(kImageSize, static_cast<char>(cpm::kUnused)),
      blockUsed_(cpm::kBlockCount, false),
      entryTaken_(cpm::kEntryCount, false) {
  for (int b = 0; b < cpm::kDirBlocks; ++b) blockUsed_[static_cast<std::size_t>(b)] = true;
  if (!options.withParameterBlock) return;
  std::string head(0x1F, '\0');
  head[0] = '\xC3';
  const std::size_t d = cpm::kDpbOffset;
  putWord(head, d + 0, 40);                              // SPT: records per 5 KB track
  head[d + 2] = 4, head[d + 3] = 0x0F, head[d + 4] = 0;  // BSH, BLM: 2 KB blocks; EXM
  putWord(head, d + 5, cpm::kBlockCount - 1);            // DSM
  putWord(head, d + 7, cpm::kEntryCount - 1);            // DRM
  head[d + 9] = '\xC0', head[d + 10] = 0;                // AL0, AL1: blocks 0, 1
  putWord(head, d + 11, cpm::kEntryCount / 4);           // CKS: removable disk
  putWord(head, d + 13, 4);                              // OFF: reserved tracks
  poke(0, head);
}

int CpmDiskBuilder::takeEntry() {
  for (std::size_t i = 0; i < entryTaken_.size(); ++i)
    if (!entryTaken_[i]) {
      entryTaken_[i] = true;
      return static_cast<int>(i);
    }
  fail("directory full");
}

int CpmDiskBuilder::takeBlock() {
  for (std::size_t b = 0; b < blockUsed_.size(); ++b)
    if (!blockUsed_[b]) {
      blockUsed_[b] = true;
      return static_cast<int>(b);
    }
  fail("disk full");
}

CpmFile CpmDiskBuilder::addFile(int user, std::string_view name, std::string_view type,
                                std::string_view body, CpmFileOptions options) {
  if (user < 0 || user > 15) fail("user " + std::to_string(user) + " outside 0..15");
  if (options.lastRecordBytes >= cpm::kRecordSize) fail("last record bytes above 127");
  std::string head = static_cast<char>(user) + field(name, 8, "name") + field(type, 3, "type");
  if (options.readOnly) head[9] = static_cast<char>(head[9] | 0x80);
  if (options.system) head[10] = static_cast<char>(head[10] | 0x80);
  if (options.archive) head[11] = static_cast<char>(head[11] | 0x80);
  CpmFile file;
  const std::size_t extents =
      body.empty() ? 1 : (body.size() + cpm::kExtentSize - 1) / cpm::kExtentSize;
  for (std::size_t x = 0; x < extents; ++x) {
    const std::string_view part =
        body.substr(std::min(body.size(), x * cpm::kExtentSize), cpm::kExtentSize);
    std::string entry = head + std::string(20, '\0');
    entry[cpm::kEx] = static_cast<char>(x & 0x1F);
    entry[cpm::kS2] = static_cast<char>((x >> 5) & 0x3F);
    if (x + 1 == extents) entry[cpm::kS1] = static_cast<char>(options.lastRecordBytes);
    entry[cpm::kRc] = static_cast<char>((part.size() + cpm::kRecordSize - 1) / cpm::kRecordSize);
    for (std::size_t at = 0, k = 0; at < part.size(); at += cpm::kBlockSize, ++k) {
      const int b = takeBlock();
      file.blocks.push_back(b);
      putWord(entry, cpm::kBlocks + 2 * k, static_cast<unsigned>(b));
      poke(cpm::blockOffset(b), part.substr(at, cpm::kBlockSize));
    }
    const int index = takeEntry();
    file.entries.push_back(index);
    setEntry(index, entry);
  }
  return file;
}

CpmFile CpmDiskBuilder::addDeletedEntry(std::string_view name, std::string_view type,
                                        std::string_view body) {
  CpmFile file = addFile(0, name, type, body);
  for (int i : file.entries) setEntryByte(i, cpm::kUser, cpm::kUnused);
  for (int b : file.blocks) blockUsed_[static_cast<std::size_t>(b)] = false;
  return file;
}

std::string CpmDiskBuilder::entryBytes(int index) const {
  if (index < 0 || index >= cpm::kEntryCount) fail("no directory entry " + std::to_string(index));
  return image_.substr(cpm::entryOffset(index), cpm::kEntrySize);
}

CpmDiskBuilder& CpmDiskBuilder::setEntryByte(int index, std::size_t field, std::uint8_t value) {
  if (field >= cpm::kEntrySize) fail("entry field " + std::to_string(field) + " outside 0..31");
  entryBytes(index);  // checks the index
  return poke(cpm::entryOffset(index) + field, std::string(1, static_cast<char>(value)));
}

CpmDiskBuilder& CpmDiskBuilder::setEntry(int index, std::string_view bytes32) {
  if (bytes32.size() != cpm::kEntrySize) fail("an entry is 32 bytes");
  entryBytes(index);
  entryTaken_[static_cast<std::size_t>(index)] = true;
  return poke(cpm::entryOffset(index), bytes32);
}

CpmDiskBuilder& CpmDiskBuilder::poke(std::size_t offset, std::string_view bytes) {
  if (offset > image_.size() || bytes.size() > image_.size() - offset)
    throw std::out_of_range("cpmbuild: write past the end of the image at offset " +
                            std::to_string(offset));
  image_.replace(offset, bytes.size(), bytes);
  return *this;
}

void CpmDiskBuilder::writeTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) fail("cannot create " + path);
  out.write(image_.data(), static_cast<std::streamsize>(image_.size()));
  if (!out.flush()) fail("cannot write " + path);
}

}  // namespace odibuild
