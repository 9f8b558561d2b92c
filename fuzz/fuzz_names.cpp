// Names from the disk on their way to the PC: whatever the 32 bytes of a record say, no target
// name contains "/" or NUL, no folder level is "." or "..", CP1251 survives a round trip, and
// so does an exact name.
#include <algorithm>

#include "extract/target.h"
#include "fuzz_image.h"
#include "state/cp1251.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(odi::utf8_to_cp1251(odi::cp1251_to_utf8(in)) == in);
  (void)odi::utf8_to_cp1251(in);  // arbitrary bytes as UTF-8: never crashes

  const odi::Record rec = odi::Record::from(in);
  // The exact name gives back the bytes it was read from (FFh reads as CR, which is 0Dh).
  std::string exact(rec.name8());
  exact.erase(exact.find_last_not_of(' ') + 1);
  std::replace(exact.begin(), exact.end(), '\xFF', '\r');
  FUZZ_CHECK(odi::exact_bytes(odi::exact_name(rec)) == exact);
  const std::string folder = odi::pc_folder_name(odi::trim_spaces(rec.name8()));
  FUZZ_CHECK(!folder.empty() && folder != "." && folder != "..");
  FUZZ_CHECK(folder.find('/') == std::string::npos && folder.find('\0') == std::string::npos);

  odi::Options o;
  o.dos = size > 0 && (data[0] & 1);
  o.koi7 = size > 0 && (data[0] & 2);
  const std::string file = odi::output_name(rec, o);
  FUZZ_CHECK(file.find('/') == std::string::npos && file.find('\0') == std::string::npos);

  odi::CatalogueStack st;
  st.reset_root("D");
  if (st.enter(rec, 0)) {
    const odi::fs::path dir = odi::target_dir("/root/disk", st);
    FUZZ_CHECK(dir.parent_path() == "/root/disk");
  }
  return 0;
}
