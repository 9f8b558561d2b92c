// odi-mkimage: writes an ODI image from a JSON description, or the sample disk.
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "builder/odibuild.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr
        << "usage: odi-mkimage DESC.json OUT.odi\n"
           "       odi-mkimage --sample OUT.odi\n"
           "Writes an 819200-byte MX_DOS disk image (Specialist MX) described by DESC.json,\n"
           "or the bundled sample disk. The description format is documented in odibuild.h.\n";
    return 2;
  }
  const std::string what = argv[1];
  try {
    std::string text(odibuild::sampleDescription());
    if (what != "--sample") {
      std::ifstream in(what, std::ios::binary);
      if (!in) throw std::runtime_error("cannot open " + what);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    odibuild::fromJson(text).writeTo(argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "odi-mkimage: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
