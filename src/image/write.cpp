#include "image/write.h"

#include "image/mxdos/write.h"

namespace odi {

std::unique_ptr<DiskWriter> writer_for(FsKind kind) {
  switch (kind) {
    case FsKind::MxDos:
      return std::make_unique<mxdos::MxDosWriter>();
    case FsKind::Cpm:  // the CP/M writer comes with its own folder
    case FsKind::Blank:
    case FsKind::Unknown:
      break;
  }
  return nullptr;
}

WriteResult new_disk(FsKind kind, std::string& image, std::string_view name,
                     const Image* system_from) {
  if (kind == FsKind::MxDos) return mxdos::new_disk(image, name, system_from);
  return {kRefused, "no disk of that kind can be made", -1};
}

}  // namespace odi
