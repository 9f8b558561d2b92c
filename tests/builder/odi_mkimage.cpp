// odi-mkimage: writes an ODI image from a JSON description, or the sample disk.
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "builder/odibuild.h"

namespace {

int usage() {
  std::cerr << "usage: odi-mkimage DESC.json OUT.odi\n"
               "       odi-mkimage --sample OUT.odi\n"
               "Writes an 819200-byte MX_DOS disk image (Specialist MX) described by DESC.json,\n"
               "or the bundled sample disk. The description format is documented in odibuild.h.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return usage();
  const std::string what = argv[1], out = argv[2];
  try {
    std::string text;
    if (what == "--sample") {
      text = std::string(odibuild::sampleDescription());
    } else {
      std::ifstream in(what, std::ios::binary);
      if (!in) {
        std::cerr << "odi-mkimage: cannot open " << what << "\n";
        return 1;
      }
      std::ostringstream buf;
      buf << in.rdbuf();
      text = buf.str();
    }
    const std::string image = odibuild::fromJsonText(text).image();
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!file.flush()) {
      std::cerr << "odi-mkimage: cannot write " << out << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "odi-mkimage: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
