// A disk mounted with `odi mount -f` for the life of an object, and the check that FUSE is
// there at all. Needs /dev/fuse and fusermount3; without them the tests skip, except under
// CI=true, where a skip would hide that nothing was tested.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace clitest {

inline bool fuse_missing(std::string& why) {
  if (::access("/dev/fuse", R_OK | W_OK) != 0) why = "no usable /dev/fuse";
  if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) why = "no fusermount3";
  return !why.empty();
}

#define REQUIRE_FUSE()                                                                        \
  do {                                                                                        \
    std::string why;                                                                          \
    if (fuse_missing(why)) {                                                                  \
      if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true") FAIL() << why; \
      GTEST_SKIP() << why;                                                                    \
    }                                                                                         \
  } while (0)

// `odi mount -f` of an image at a fresh folder, for the life of the object.
class Mounted {
 public:
  explicit Mounted(const std::string& image, std::vector<std::string> opts = {}) {
    std::vector<std::string> args{"mount", "-f"};
    args.insert(args.end(), opts.begin(), opts.end());
    args.push_back(image);
    args.push_back(dir_.path().string());
    run_ = start_odi(args);
    struct stat in {
    }, out{};
    ::stat(dir_.path().parent_path().c_str(), &out);
    for (int i = 0; i < 500 && (::stat(dir_.path().c_str(), &in) != 0 || in.st_dev == out.st_dev);
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    up_ = in.st_dev != out.st_dev;
  }
  ~Mounted() { unmount(); }
  bool up() const { return up_; }
  pid_t pid() const { return run_.pid; }
  fs::path operator/(const std::string& s) const { return dir_.path() / s; }
  const fs::path& path() const { return dir_.path(); }
  Result unmount() {
    if (!done_) {
      std::system(("fusermount3 -u -z '" + dir_.path().string() + "' 2>/dev/null").c_str());
      result_ = finish_odi(run_);
      done_ = true;
    }
    return result_;
  }

 private:
  TempDir dir_;
  Running run_;
  bool up_ = false;
  bool done_ = false;
  Result result_;
};

}  // namespace clitest
