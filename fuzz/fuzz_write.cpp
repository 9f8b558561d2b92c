// Sequences of writes chosen by the fuzz input, against the model of fuzz/write_model.h: after
// every step the disk lists and holds what the model says, check() finds no damage, and every
// refusal is one the model expects and leaves the image as it was. The first byte chooses the
// file system and what the sequence leans to; each later choice takes one to three bytes.
#include "fuzz_image.h"
#include "write_model.h"

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
  writemodel::Model model((data[0] & 1) != 0 ? odi::FsKind::Cpm : odi::FsKind::MxDos, data[0] >> 1);
  for (int steps = 0; steps < 100 && !done; ++steps) {
    const auto bad = model.step(pick);
    if (bad) std::fprintf(stderr, "%s\n", bad->c_str());
    FUZZ_CHECK(!bad);
  }
  return 0;
}
