// Writes the full benchmark disk: `odi-bench-disks DIR N` makes DIR/disk000.odi .. N copies.
#include <cstdio>
#include <fstream>
#include <string>

#include "fulldisk.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: odi-bench-disks DIR COUNT\n");
    return 2;
  }
  const std::string img = full_disk_image();
  const int n = std::stoi(argv[2]);
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/disk%03d.odi", i);
    std::ofstream(std::string(argv[1]) + name, std::ios::binary)
        .write(img.data(), static_cast<long>(img.size()));
  }
  return 0;
}
