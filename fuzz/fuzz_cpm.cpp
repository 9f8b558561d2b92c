// The CP/M reader on any directory and any parameter block: detection, the listing of every user
// area, each file's walk and copy forms, and the check, with properties: pieces lie inside the
// image, a sound walk gives exactly the bytes the listing promises, an error always comes with
// its error text, and the check never trips over what the listing accepted.
//
// Input: byte 0 chooses the layout (bit 0: the first sector holds the input's parameter block;
// bit 7: the image ends where the input ends); then 32 bytes for the start of the first sector,
// then the directory at 5000h and the blocks after it.
#include <cstdint>
#include <string>

#include "extract/copy_buf.h"
#include "fuzz_image.h"
#include "image/cpm/cpm.h"
#include "image/fs.h"
#include "state/texts.h"

namespace {

std::string cpm_image(const std::uint8_t* data, std::size_t size) {
  std::string img(static_cast<size_t>(odi::kImageSize), '\xE5');
  if (size == 0) return img;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  const size_t head = std::min<size_t>(size, 32);
  if (mode & 1) img.replace(0, head, reinterpret_cast<const char*>(data), head);
  const size_t n = std::min(size - head, img.size() - 0x5000);
  img.replace(0x5000, n, reinterpret_cast<const char*>(data + head), n);
  if (mode & 0x80) img.resize(0x5000 + n);
  return img;
}

void copy_forms(const odi::FileSystem& disk, const odi::Entry& e) {
  const odi::ChainWalk w = disk.walk(e);
  std::int64_t total = 0;
  for (const odi::Piece& p : w.pieces) {
    FUZZ_CHECK(disk.image().read(p.offset, p.length).has_value());
    total += p.length;
  }
  if (w.ERR_COP == odi::kCopyOk) FUZZ_CHECK(total == e.bytes);
  for (int f = 0; f < 3; ++f) {
    odi::Options o;
    o.txt = f == 2;
    o.bin = f == 0;
    o.rks = f == 1;
    const odi::CopyResult r = odi::COPY_BUF(disk, e, o, e.date);
    if (r.ERR_COP != 0)
      FUZZ_CHECK(r.BUF_FIL == odi::texts::err_fat() || r.BUF_FIL == odi::texts::err_read() ||
                 r.BUF_FIL == odi::texts::err_catalogue() ||
                 r.BUF_FIL == odi::texts::err_too_large());
    else if (f == 0)
      FUZZ_CHECK(static_cast<std::int64_t>(r.BUF_FIL.size()) == e.bytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = cpm_image(data, size);
  const odi::Image img(bytes);
  const auto disk = odi::open_file_system(img);
  for (const odi::Entry& e : disk->list(disk->root())) {
    if (e.is_file()) copy_forms(*disk, e);
    if (!e.is_catalogue()) continue;
    FUZZ_CHECK(disk->kind() == odi::FsKind::Cpm || disk->kind() == odi::FsKind::MxDos);
    if (disk->kind() != odi::FsKind::Cpm) continue;
    for (const odi::Entry& inner : disk->list(e.inner)) {
      FUZZ_CHECK(inner.is_file() && inner.user == e.inner);
      copy_forms(*disk, inner);
    }
  }
  (void)disk->check();
  return 0;
}
