// A full disk for measurements: about 60 files and 750 KiB, as a well-used disk holds them.
// Texts (KOI-8 with TABs and CR line ends, ending in FFh) and binaries, in the root and in two
// catalogues, one of them nested.
#pragma once

#include <string>

#include "builder/cpmbuild.h"
#include "builder/odibuild.h"

inline std::string full_disk_image() {
  using namespace odibuild;
  DiskBuilder d;
  d.setDiskName("BENCH");
  const std::string line = koi8Text("\tСтрока текста для проверки скорости перекодировки,") +
                           koi8Text(" с табуляцией и русскими буквами.\n");
  auto text = [&](size_t n) {
    std::string s;
    while (s.size() + line.size() < n) s += line;
    s.resize(n - 1, ' ');
    return s + "\xFF";
  };
  auto binary = [](size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 97) & 0xFF);
    return s;
  };
  const Cat docs = d.addCatalogue(d.root(), koi8("ТЕКСТЫ"), Date::of(1, 2, 93));
  const Cat progs = d.addCatalogue(d.root(), "PROGS", Date::of(2, 3, 94));
  const Cat old = d.addCatalogue(progs, "OLD", Date::of(3, 4, 95));
  // 60 files, 768000 bytes: sizes cycle through small and large ones.
  const size_t sizes[] = {2000, 6000, 14000, 25000, 9000, 3000, 20000, 17800};
  for (int i = 0; i < 60; ++i) {
    const size_t n = sizes[i % 8];
    const bool is_text = i % 2 == 0;
    const Cat where = i < 26 ? d.root() : i < 44 ? docs : i < 54 ? progs : old;
    const std::string name = (is_text ? "TEXT" : "PROG") + std::to_string(i);
    d.addFile(where, fileSpec(name, is_text ? "TXT" : "COM", is_text ? 0x1100 : 0x9000,
                              is_text ? text(n) : binary(n, static_cast<unsigned>(i)),
                              Date::of(1 + i % 28, 1 + i % 12, 90 + i % 10)));
  }
  return d.image();
}

// The CP/M full disk: 60 files, 754600 bytes (737 KiB), in users 0, 1, 2 and 5; texts (KOI-8,
// CR LF, ending in 1Ah) and binaries; 22 of them span two extents; some read-only or system.
inline std::string cpm_full_disk_image() {
  using namespace odibuild;
  CpmDiskBuilder d;
  const std::string line =
      koi8("\tСтрока текста для проверки скорости перекодировки, с табуляцией.") + "\r\n";
  auto text = [&](std::size_t n) {
    std::string s;
    while (s.size() + line.size() < n) s += line;
    s.resize(n - 1, ' ');
    return s + "\x1A";
  };
  auto binary = [](std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
      s[i] = static_cast<char>((i * 131 + seed * 7 + i / 97) & 0xFF);
    return s;
  };
  // 60 files, 754600 bytes in 374 of the 387 data blocks and 82 of the 128 entries.
  const std::size_t sizes[] = {2000, 6100, 14300, 26600, 9000, 4000, 20400, 18400};
  const int users[] = {0, 1, 2, 5};
  for (int i = 0; i < 60; ++i) {
    const std::size_t n = sizes[i % 8];
    const bool isText = i % 2 == 0;
    d.addFile(users[i / 15], (isText ? "TEXT" : "PROG") + std::to_string(i), isText ? "TXT" : "COM",
              isText ? text(n) : binary(n, static_cast<unsigned>(i)),
              {.readOnly = i % 7 == 3, .system = i % 11 == 5});
  }
  return d.image();
}
