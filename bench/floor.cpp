// The floor the whole-process measurements are compared with: the same I/O as an extraction, and
// nothing else. For each image it reads the file once, then (unless --read-only) makes the folder
// OUT/<image name> and writes FILES files of TOTAL bytes in all, taken from the image bytes.
// No parsing, no conversion. It also leaves out I/O that odi extract must do: one folder per
// image where odi makes one per catalogue level as well, and a hidden folder renamed into place
// once the disk's tree is whole (into a folder that exists, a link or a rename per file).
//   odi-floor [--read-only] [--files N] [--bytes TOTAL] OUT IMAGE...
// The floor of a put: read each FILE once, then write one 819200-byte IMAGE atomically (a
// temporary file beside it, fsync, rename), as `odi put` must.
//   odi-floor --put IMAGE FILE...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static int put_floor(int argc, char** argv) {
  std::string image(819200, '\xE5');
  std::vector<char> buf;
  for (int i = 3; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return 1;
    buf.resize(static_cast<size_t>(st.st_size));
    const ssize_t got = read(fd, buf.data(), buf.size());
    close(fd);
    if (got < 0) return 1;
    image[static_cast<size_t>(i) % image.size()] = got > 0 ? buf[0] : '\0';
  }
  const std::string tmp = std::string(argv[2]) + ".tmp";
  const int o = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (o < 0 || write(o, image.data(), image.size()) != static_cast<ssize_t>(image.size()) ||
      fsync(o) != 0 || close(o) != 0)
    return 1;
  return rename(tmp.c_str(), argv[2]) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc >= 3 && !std::strcmp(argv[1], "--put")) return put_floor(argc, argv);
  bool read_only = false;
  long files = 60;
  long total = 768000;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (!std::strcmp(argv[i], "--read-only"))
      read_only = true;
    else if (!std::strcmp(argv[i], "--files") && i + 1 < argc)
      files = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--bytes") && i + 1 < argc)
      total = std::atol(argv[++i]);
  }
  if (argc - i < 2) {
    std::fprintf(stderr,
                 "usage: odi-floor [--read-only] [--files N] [--bytes TOTAL] OUT IMAGE...\n");
    return 2;
  }
  const std::string out = argv[i++];
  std::vector<char> buf;
  for (; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY);
    if (fd < 0) return 1;
    struct stat st {};
    if (fstat(fd, &st) != 0) return 1;
    buf.resize(static_cast<size_t>(st.st_size));
    const ssize_t got = read(fd, buf.data(), buf.size());
    close(fd);
    if (got <= 0 || read_only) continue;
    std::string dir =
        out + "/" +
        std::string(std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i]);
    mkdir(out.c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    const long each = total / files;
    for (long f = 0; f < files; ++f) {
      const std::string path = dir + "/file" + std::to_string(f) + ".bin";
      const int o = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (o < 0) return 1;
      const long n = f + 1 == files ? total - each * (files - 1) : each;
      if (write(o, buf.data() + (f * each) % (got - n > 0 ? got - n : 1), static_cast<size_t>(n)) !=
          n)
        return 1;
      close(o);
    }
  }
  return 0;
}
