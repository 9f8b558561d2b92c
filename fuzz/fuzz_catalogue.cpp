// Opening an image and listing every catalogue reachable from the root, as a person could by
// double-clicks (to level 10, never into a catalogue already on the path).
#include <functional>

#include "fuzz_image.h"
#include "image/catalogue.h"
#include "state/cp1251.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = fuzz_image(data, size);
  const odi::Image img(bytes);
  const std::string ver = odi::VER_DOS(img);
  FUZZ_CHECK(ver.size() <= 13);
  odi::CatalogueStack st;
  st.reset_root(odi::disk_name(img));
  FUZZ_CHECK(st.KAT_NAM[0].size() <= 6);

  int catalogues = 0;
  std::function<void()> walk = [&] {
    if (++catalogues > 2000) return;  // bounded: each level has at most 32 entries
    const auto recs = odi::read_catalogue(img, st.KAT_POS[static_cast<size_t>(st.KAT_LEV)]);
    FUZZ_CHECK(recs.size() <= 32);
    for (size_t i = 0; i < recs.size(); ++i) {
      (void)odi::cp1251_to_utf8(odi::list_row(recs[i]));
      FUZZ_CHECK(odi::FIL_DAT(recs[i], "01.01.26").size() >= 8);
      if (!recs[i].is_catalogue()) continue;
      const odi::CatalogueStack saved = st;
      if (!st.enter(recs[i], static_cast<int>(i))) {
        FUZZ_CHECK(saved.KAT_LEV == odi::kMaxLevel);
        continue;
      }
      if (!saved.on_path(st.KAT_POS[static_cast<size_t>(st.KAT_LEV)])) {
        (void)st.path_text();
        walk();
      }
      st = saved;
    }
  };
  walk();
  return 0;
}
