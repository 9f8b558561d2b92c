// Running odi as a process, and the disks the tests share.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "builder/odibuild.h"

namespace clitest {

namespace fs = std::filesystem;

struct Result {
  int rc = -1;
  std::string out, err;
  long peak_kb = 0;  // the most memory the process held
};

// What a shell command prints, run in tests/cpm: cpmtools finds its disk definitions ("specmx")
// only in the current folder.
std::string cpmtools(const std::string& cmd);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& s) const { return path_ / s; }

 private:
  fs::path path_;
};

// Runs the built odi with `args` (stdin empty, stdout and stderr captured).
Result run_odi(const std::vector<std::string>& args);
// The same started and finished apart, so that several run at once (`stdin_fd`: what the
// process reads, /dev/null when negative).
struct Running {
  pid_t pid = -1;
  std::unique_ptr<TempDir> io;  // where its output is caught
};
Running start_odi(const std::vector<std::string>& args, int stdin_fd = -1);
Result finish_odi(Running& r);

std::string slurp(const fs::path& file);
void spit(const fs::path& file, const std::string& bytes);

// WORK: README TXT (KOI-8 text) and BIN2 DAT (1024 bytes) at the root; catalogue ИГРЫ with
// TETRIS COM (2500 bytes) and catalogue OLD with DEEP TXT (KOI-7 text). Every sub-catalogue
// keeps its own record in slot 31, as real disks do.
odibuild::DiskBuilder nested_disk();
// One root file BROKEN BIN whose chain runs into a FAT cell that names no sector, beside a
// sound file GOOD BIN.
odibuild::DiskBuilder damaged_disk();

}  // namespace clitest
