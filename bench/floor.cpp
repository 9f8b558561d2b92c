// The floor the whole-process measurements are compared with: the same I/O as an extraction, and
// nothing else. For each image it reads the file once, then (unless --read-only) makes the folder
// OUT/<image name> and writes FILES files of TOTAL bytes in all, taken from the image bytes; with
// --sizes, one file of each size given, as the extraction writes them (a file system spends a
// page, or a block, on each file's last part, so the sizes matter and not only their sum).
// No parsing, no conversion. It also leaves out I/O that odi extract must do: one folder per
// image where odi makes one per catalogue level as well, and a hidden folder renamed into place
// once the disk's tree is whole (into a folder that exists, a link or a rename per file).
//   odi-floor [--read-only] [--files N] [--bytes TOTAL | --sizes N1,...] [--folders K] OUT IMAGE...
// --folders K does that folder work as well, to show what it costs: the files go into a hidden
// folder holding K empty folders, renamed to OUT/<image name> at the end.
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
  std::vector<long> sizes;
  long folders = -1;  // no hidden folder
  bool bad = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (!std::strcmp(argv[i], "--read-only"))
      read_only = true;
    else if (!std::strcmp(argv[i], "--files") && i + 1 < argc)
      files = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--bytes") && i + 1 < argc)
      total = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--folders") && i + 1 < argc)
      folders = std::atol(argv[++i]);
    else if (!std::strcmp(argv[i], "--sizes") && i + 1 < argc)
      for (char* p = argv[++i]; *p != '\0' && !bad;) {
        char* end = nullptr;
        sizes.push_back(std::strtol(p, &end, 10));
        bad = end == p || sizes.back() < 0;
        p = *end == ',' ? end + 1 : end;
      }
  }
  if (argc - i < 2 || bad) {
    std::fprintf(stderr,
                 "usage: odi-floor [--read-only] [--files N] [--bytes TOTAL | --sizes N1,N2,...] "
                 "[--folders K] OUT IMAGE...\n");
    return 2;
  }
  const std::string out = argv[i++];
  if (sizes.empty()) {
    const long each = total / files;
    sizes.assign(static_cast<size_t>(files), each);
    sizes.back() = total - each * (files - 1);
  }
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
    const std::string name = dir;
    if (folders >= 0) {
      struct stat there {};
      if (lstat(name.c_str(), &there) == 0) return 1;
      dir = out + "/.hidden" + std::to_string(i);
    }
    mkdir(dir.c_str(), 0777);
    for (long k = 0; k < folders; ++k) mkdir((dir + "/" + std::to_string(k)).c_str(), 0777);
    long from = 0;
    for (size_t f = 0; f < sizes.size(); ++f) {
      const std::string path = dir + "/file" + std::to_string(f) + ".bin";
      const int o = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (o < 0) return 1;
      const long n = sizes[f];
      if (from + n > got) from = 0;
      if (n > got || write(o, buf.data() + from, static_cast<size_t>(n)) != n) return 1;
      from += n;
      close(o);
    }
    if (folders >= 0 && rename(dir.c_str(), name.c_str()) != 0) return 1;
  }
  return 0;
}
