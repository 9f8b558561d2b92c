// Writers of one image at once, writers killed half way, sources that never end: no change that
// reports success is lost, no image is left half written, nothing the disk could never take is
// read into memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "harness.h"

using namespace clitest;

namespace {

// An entry's path as ls --json gives it: a file's name field trimmed, inner blanks kept.
std::string field(const std::string& name, const std::string& ext) {
  return name + std::string(9 - name.size(), ' ') + ext;
}

std::set<std::string> paths_on(const std::string& image) {
  std::set<std::string> out;
  for (const auto& e : nlohmann::json::parse(run_odi({"ls", "--json", "-R", image}).out))
    out.insert(e["path"].get<std::string>());
  return out;
}

std::vector<std::string> temporaries(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(".odi-tmp.") != std::string::npos)
      out.push_back(e.path().filename().string());
  return out;
}

class Lock : public ::testing::TestWithParam<bool> {  // the parameter: a CP/M disk
 protected:
  void SetUp() override {
    if (GetParam()) {
      ASSERT_EQ(run_odi({"new", "--cpm", image_}).rc, 0);
    } else {
      ASSERT_EQ(run_odi({"new", image_}).rc, 0);
    }
  }
  std::string file(const std::string& name, const std::string& bytes) const {
    spit(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  TempDir dir_;
  const std::string image_ = (dir_ / "d.odi").string();
};

TEST_P(Lock, ManyWritersAtOnceLoseNothing) {
  ASSERT_EQ(run_odi({"put", image_, "/", file("R1.BIN", "1"), file("R2.BIN", "2")}).rc, 0);
  std::vector<Running> writers;
  std::set<std::string> expected;
  for (int i = 10; i < 26; ++i) {
    const std::string name = "F" + std::to_string(i);
    writers.push_back(
        start_odi({"put", image_, "/", file(name + ".BIN", std::string(i * 90, 'f'))}));
    expected.insert(field(name, "BIN"));
  }
  writers.push_back(start_odi({"rm", image_, "R1.BIN", "R2.BIN"}));
  const std::string cat = GetParam() ? "USER 2" : "SUB";  // CP/M: a user area, nothing to write
  writers.push_back(start_odi({"mkdir", image_, cat}));
  if (!GetParam()) expected.insert(cat);
  for (Running& w : writers) {
    const Result r = finish_odi(w);
    EXPECT_EQ(r.rc, 0) << r.err;
  }
  EXPECT_EQ(paths_on(image_), expected);
  EXPECT_EQ(run_odi({"check", image_}).rc, 0);
}

TEST_P(Lock, KilledWritersCostNothing) {
  std::mt19937 rng(7);
  TempDir aside;
  const std::string after = (aside / "after.odi").string();
  for (int i = 0; i < 25; ++i) {
    const std::vector<std::string> put{
        "put",  "--date", "01.02.03",
        "--as", "K.BIN",  "--force",
        "",     "/",      file("k", std::string(3000 + 99 * i, 'k'))};
    // What the put makes of the image, found on a copy of it.
    fs::copy_file(image_, after, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = put;
    args[6] = after;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(run_odi(args).rc, 0);
    const auto took = std::chrono::steady_clock::now() - t0;
    const std::string before = slurp(image_), changed = slurp(after);
    args[6] = image_;
    // Killed at a moment anywhere in such a run, whatever this build's speed.
    Running w = start_odi(args);
    std::this_thread::sleep_for(took * (rng() % 1000) / 1000);
    kill(w.pid, SIGKILL);
    finish_odi(w);
    const std::string now = slurp(image_);
    EXPECT_TRUE(now == before || now == changed) << "kill " << i;
  }
  // A temporary file of a writer still running stays; one whose writer is gone goes.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string mine = "d.odi.odi-tmp." + std::to_string(getpid()) + ".9";
  file(mine, "x");
  file("d.odi.odi-tmp." + std::to_string(gone) + ".0", "x");
  EXPECT_EQ(run_odi({"mkdir", image_, GetParam() ? "USER 3" : "NEXT"}).rc, 0);
  EXPECT_EQ(temporaries(dir_.path()), std::vector<std::string>{mine});
}

TEST_P(Lock, EndlessSourcesAreCutShort) {
  std::signal(SIGPIPE, SIG_IGN);  // the feeders learn of the refusal from EPIPE
  // 128 MB, or less once odi stops reading: an odi that read it all would show in its memory.
  const auto feed = [](int fd) {
    const std::string chunk(1 << 16, '\r');
    for (int i = 0; i < 2048 && write(fd, chunk.data(), chunk.size()) > 0; ++i) {
    }
    close(fd);
  };
  const long idle_kb = run_odi({"check", image_}).peak_kb;  // sanitizers take more
  const std::string before = slurp(image_);
  const std::string fifo = (dir_ / "endless").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread from_fifo([&] { feed(open(fifo.c_str(), O_WRONLY | O_CLOEXEC)); });
  const Result r = run_odi({"put", "--as", "Z.BIN", image_, "/", fifo});
  from_fifo.join();
  EXPECT_EQ(r.rc, 1);
  EXPECT_LT(r.peak_kb, idle_kb + 40 * 1024);
  EXPECT_NE(r.err.find(fifo + ": too large: more than "), std::string::npos) << r.err;

  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  Running w = start_odi({"put", "--txt", "--as", "Y.TXT", image_, "/", "-"}, p[0]);
  close(p[0]);
  feed(p[1]);
  const Result piped = finish_odi(w);
  EXPECT_EQ(piped.rc, 1);
  EXPECT_LT(piped.peak_kb, idle_kb + 40 * 1024);
  EXPECT_EQ(slurp(image_), before);
}

INSTANTIATE_TEST_SUITE_P(Both, Lock, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Cpm" : "MxDos"; });

TEST(LockWait, BusyImageIsWaitedForThenGivenUp) {
  TempDir dir;
  const std::string image = (dir / "d.odi").string();
  ASSERT_EQ(run_odi({"new", image}).rc, 0);
  const std::string before = slurp(image);
  const int held = open(image.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const Result busy = run_odi({"mkdir", "--wait", "0.2", image, "A"});
  EXPECT_EQ(busy.rc, 75);
  EXPECT_EQ(busy.err, "odi: " + image + ": busy: another program is writing it\n");
  EXPECT_EQ(slurp(image), before);
  // The path given a new file while a writer waits: the writer turns to the new one, whose lock
  // nobody holds.
  Running w = start_odi({"mkdir", "--wait", "5", image, "B"});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string fresh = (dir / "fresh").string();
  fs::copy_file(image, fresh);
  fs::rename(fresh, image);
  EXPECT_EQ(finish_odi(w).rc, 0);
  close(held);
  EXPECT_EQ(paths_on(image), std::set<std::string>{"B"});
}

}  // namespace
