#include "image/write.h"

#include <cassert>
#include <cstring>

#include "image/cpm/write.h"
#include "image/mxdos/write.h"

namespace odi {

void ImageChange::save(size_t off, size_t len) {
  assert(off <= b_.size() && len <= b_.size() - off);
  undo_.emplace_back(off, len);
  old_.append(b_, off, len);
}

void ImageChange::write(size_t off, std::string_view s) {
  save(off, s.size());
  if (!s.empty()) std::memmove(b_.data() + off, s.data(), s.size());  // an empty view may be null
}

void ImageChange::fill(size_t off, size_t len, char c) {
  save(off, len);
  std::memset(b_.data() + off, c, len);
}

void ImageChange::undo() noexcept {
  // Latest first, so that bytes written twice get back what they held before either write.
  size_t end = old_.size();
  for (size_t i = undo_.size(); i-- > 0;) {
    const auto [off, len] = undo_[i];
    end -= len;
    std::memcpy(b_.data() + off, old_.data() + end, len);
  }
  keep();
}

std::unique_ptr<DiskWriter> writer_for(FsKind kind) {
  switch (kind) {
    case FsKind::MxDos:
      return std::make_unique<mxdos::MxDosWriter>();
    case FsKind::Cpm:
      return std::make_unique<cpm::CpmWriter>();
    case FsKind::Blank:
    case FsKind::Unknown:
      break;
  }
  return nullptr;
}

WriteResult new_disk(FsKind kind, std::string& image, std::string_view name,
                     const Image* system_from) {
  if (kind == FsKind::MxDos) return mxdos::new_disk(image, name, system_from);
  if (kind == FsKind::Cpm) {
    // Neither has a place on a CP/M disk: refused rather than dropped without a word.
    if (!name.empty()) return {kRefused, "a CP/M disk keeps no disk name", -1};
    if (system_from != nullptr)
      return {kRefused, "a CP/M disk is made without a system: its reserved tracks stay E5h", -1};
    return cpm::new_disk(image);
  }
  return {kRefused, "no disk of that kind can be made", -1};
}

}  // namespace odi
