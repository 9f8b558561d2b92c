#include "image/fs.h"

#include <algorithm>

#include "image/catalogue.h"
#include "image/cpm/cpm.h"
#include "image/mxdos/mxdos.h"
#include "state/texts.h"

namespace odi {

namespace {

// A formatted disk with nothing on it: E5h from the FAT area on (track 0 may still carry the
// boot code of whoever formatted it).
bool blank(const Image& img) {
  const std::string_view rest = img.head(0x2800, img.size());
  return !rest.empty() && std::all_of(rest.begin(), rest.end(), [](char c) {
    return static_cast<unsigned char>(c) == cpm::kUnused;
  });
}

}  // namespace

std::string_view fs_kind_name(FsKind kind) {
  switch (kind) {
    case FsKind::MxDos:
      return "MX_DOS";
    case FsKind::Cpm:
      return "CP/M 2.2";
    case FsKind::Blank:
      return "blank";
    case FsKind::Unknown:
      break;
  }
  return "unknown";
}

std::string join_path(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : "/") + n;
  return s;
}

std::string list_row(const Entry& e) {
  std::string s = list_row(e.rec);
  if (!e.attributes.empty()) s += " " + e.attributes;
  return s;
}

CatalogueStack root_stack(const FileSystem& disk) {
  CatalogueStack s;
  s.reset_root(disk.root_name(), disk.root());
  return s;
}

bool enter(CatalogueStack& stack, const Entry& e, int row) {
  return stack.enter(e.inner, std::string(trim_spaces(e.rec.name8())), row);
}

std::unique_ptr<FileSystem> open_file_system(const Image& img) {
  if (VER_DOS(img) != texts::no_version())
    return std::make_unique<mxdos::MxDosFs>(img, FsKind::MxDos);
  if (const auto dpb = cpm::read_dpb(img)) return std::make_unique<cpm::CpmFs>(img, *dpb, true);
  if (mxdos::root_reads_as_catalogue(img) || mxdos::fat_marks_root(img))
    return std::make_unique<mxdos::MxDosFs>(img, FsKind::MxDos);
  if (cpm::directory_validates(img, cpm::kSpecialistDpb))
    return std::make_unique<cpm::CpmFs>(img, cpm::kSpecialistDpb, false);
  return std::make_unique<mxdos::MxDosFs>(img, blank(img) ? FsKind::Blank : FsKind::Unknown);
}

}  // namespace odi
