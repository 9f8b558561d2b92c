// Sequences of writes chosen by the fuzz input, against the model of fuzz/write_model.h: after
// every step the catalogue it wrote in lists and holds what the model says, the free room is what
// the model counts, and every refusal is one the model expects; every kWholeEvery steps and at the
// end the whole disk is compared, check() finds no damage and a refusal left every byte.
// The first byte chooses the file system and what the sequence leans to; each later choice takes
// one to three bytes.
#include "fuzz_image.h"
#include "write_model.h"

// Damage a step leaves stays on the disk until a later step removes what holds it, so a whole
// check now and then finds it, while checking only what each step wrote keeps a sequence cheap
// enough to run thousands of them a minute.
constexpr unsigned kWholeEvery = 16;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t at = 1;
  bool done = false;
  const writemodel::Pick pick = [&](unsigned n) {
    unsigned v = 0;
    for (unsigned range = 1; range < n; range <<= 8) {
      if (at == size) {
        done = true;
        break;
      }
      v = (v << 8) | data[at++];
    }
    return n == 0 ? 0 : v % n;
  };
  static writemodel::Model model(odi::FsKind::MxDos, 0);
  model.start((data[0] & 1) != 0 ? odi::FsKind::Cpm : odi::FsKind::MxDos, data[0] >> 1,
              kWholeEvery);
  std::optional<std::string> bad;
  for (int steps = 0; steps < 100 && !done && !bad; ++steps) bad = model.step(pick);
  if (!bad) bad = model.finish();
  if (bad) std::fprintf(stderr, "%s\n", bad->c_str());
  FUZZ_CHECK(!bad);
  return 0;
}
