// Writes the full benchmark disk: `odi-bench-disks DIR N` makes DIR/disk000.odi .. N copies;
// with a third word `cpm`, of the full CP/M disk (60 files in four user areas).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "fulldisk.h"

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "cpm") == 0)) {
    std::fprintf(stderr, "usage: odi-bench-disks DIR COUNT [cpm]\n");
    return 2;
  }
  const std::string img = argc == 4 ? cpm_full_disk_image() : full_disk_image();
  const int n = std::stoi(argv[2]);
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/disk%03d.odi", i);
    std::ofstream(std::string(argv[1]) + name, std::ios::binary)
        .write(img.data(), static_cast<long>(img.size()));
  }
  return 0;
}
