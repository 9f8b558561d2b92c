#include "image/write.h"

#include "image/cpm/write.h"
#include "image/mxdos/write.h"

namespace odi {

namespace {
std::string& spare() {
  thread_local std::string buffer;
  return buffer;
}
}  // namespace

std::string copy_for_change(const std::string& image) {
  std::string copy = std::move(spare());
  copy.assign(image);
  return copy;
}

void hand_back(std::string& image, std::string&& changed) {
  image.swap(changed);
  give_back(std::move(changed));
}

void give_back(std::string&& unused) {
  if (unused.capacity() > spare().capacity()) spare() = std::move(unused);
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
