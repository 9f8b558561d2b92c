#include "harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace clitest {

using namespace odibuild;

std::string cpmtools(const std::string& cmd) {
  FILE* p = popen(("cd '" CPM_DISKDEFS_DIR "' && " + cmd + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

Running start_odi(const std::vector<std::string>& args, int stdin_fd) {
  Running r;
  r.io = std::make_unique<TempDir>();
  const std::string out = (*r.io / "out").string(), err = (*r.io / "err").string();
  r.pid = fork();
  if (r.pid == 0) {
    dup2(stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> argv{const_cast<char*>(ODI_EXE)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ODI_EXE, argv.data());
    _exit(127);
  }
  return r;
}

Result finish_odi(Running& r) {
  int status = 0;
  rusage use{};
  wait4(r.pid, &status, 0, &use);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(*r.io / "out"), slurp(*r.io / "err"),
          use.ru_maxrss};
}

Result run_odi(const std::vector<std::string>& args) {
  Running r = start_odi(args);
  return finish_odi(r);
}

TempDir::TempDir() {
  std::string dir = (fs::temp_directory_path() / "odi-cli-test-XXXXXX").string();
  path_ = ::mkdtemp(dir.data());
}
TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string slurp(const fs::path& file) {
  std::ifstream f(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void spit(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

DiskBuilder nested_disk() {
  DiskBuilder disk;
  disk.setDiskName("WORK");
  disk.addFile(disk.root(),
               fileSpec("README", "TXT", 0x1100,
                        koi8Text("Привет, мир!\n\tвторая строка\n") + "\xFF", Date::of(1, 9, 92)));
  const Cat games = disk.addCatalogue(disk.root(), koi8("ИГРЫ"), Date::of(2, 9, 92));
  std::string bin;
  for (int i = 0; i < 2500; ++i) bin += static_cast<char>(i * 7 + 3);
  disk.addFile(games, fileSpec("TETRIS", "COM", 0x9000, bin, Date::of(3, 10, 93)));
  const Cat old = disk.addCatalogue(games, "OLD", Date::of(4, 11, 94));
  disk.addFile(old, fileSpec("DEEP", "TXT", 0x1100, koi7Text("ГЛУБОКО\nВНИЗУ\n") + "\xFF",
                             Date::of(5, 12, 95)));
  disk.addFile(disk.root(),
               fileSpec("BIN2", "DAT", 0, std::string(1024, '\xC3'), Date::of(31, 12, 99)));
  return disk;
}

DiskBuilder damaged_disk() {
  DiskBuilder disk;
  disk.setDiskName("BAD");
  const File broken =
      disk.addFile(disk.root(), fileSpec("BROKEN", "BIN", 0, std::string(3000, 'x')));
  disk.addFile(disk.root(), fileSpec("GOOD", "BIN", 0, "good"));
  disk.setFatCell(disk.chain(broken)[1], 5, 0);  // track 0 holds no file sector
  return disk;
}

}  // namespace clitest
