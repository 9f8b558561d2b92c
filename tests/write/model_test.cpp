// Seeded random sequences of writes against a model of the disk (fuzz/write_model.h): what the
// disk lists and holds after every step, and whether each change was done or refused.
#include <gtest/gtest.h>

#include <random>

#include "write_model.h"

namespace {

void run(odi::FsKind kind, unsigned seeds, int steps) {
  for (unsigned seed = 1; seed <= seeds; ++seed) {
    std::mt19937 gen(seed);
    const writemodel::Pick pick = [&](unsigned n) {
      return std::uniform_int_distribution<unsigned>(0, n - 1)(gen);
    };
    writemodel::Model model(kind, seed);
    for (int i = 0; i < steps; ++i) {
      const auto bad = model.step(pick);
      ASSERT_FALSE(bad) << "seed " << seed << ", step " << i << ": " << *bad;
    }
  }
}

TEST(WriteModel, MxDosRandomSequences) {
  run(odi::FsKind::MxDos, 6, 150);
}

TEST(WriteModel, CpmRandomSequences) {
  run(odi::FsKind::Cpm, 6, 150);
}

}  // namespace
