// Turns fuzz input into a disk image. Mutating a whole 800 KB image wastes most of the effort on
// bytes nothing reads, so the input is laid over a blank disk from the FAT (29B0h) on: the FAT,
// the root catalogue at 3000h right after it, and the first user sectors. The first input byte
// chooses the length: with bit 7 set the image ends where the input ends (a short image),
// otherwise it is a full 819200 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image.h"

inline std::string fuzz_image(const std::uint8_t* data, std::size_t size) {
  std::string img(static_cast<size_t>(odi::kImageSize), '\0');
  img.replace(5, 11, "Dos_MX V3.6");
  img.replace(static_cast<size_t>(odi::kDiskNameOffset), 6, "FUZZ  ");
  if (size == 0) return img;
  const bool short_image = (data[0] & 0x80) != 0;
  const size_t n = std::min(size - 1, img.size() - static_cast<size_t>(odi::kFatOffset));
  img.replace(static_cast<size_t>(odi::kFatOffset), n, reinterpret_cast<const char*>(data + 1), n);
  if (short_image) img.resize(static_cast<size_t>(odi::kFatOffset) + n);
  return img;
}

#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      __builtin_trap();                                                                 \
    }                                                                                   \
  } while (0)
