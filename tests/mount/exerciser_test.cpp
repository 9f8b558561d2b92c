// The exerciser: random operations on one file in the mount and the same operations on a model
// file in a plain folder of the PC, with the sizes (fstat of the open file, stat by path) and
// the whole content (through the open descriptor and a fresh one) compared after every one.
// Fixed seeds, so a failure repeats; its message gives the seed and the operations so far.
// The "plain" case points the exerciser at a second plain folder (or at $ODI_EXERCISE_DIR): it
// checks the harness.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>

#include "mounted.h"

using namespace clitest;

namespace {

enum class Op {
  Write,
  PwritePast,
  Read,
  Ftruncate,
  TruncatePath,
  MapRead,
  MapWrite,
  Fsync,
  Close,
  Reopen
};
const char* const kOpNames[] = {
    "write",     "pwrite past the end", "read",  "ftruncate", "truncate by path",
    "mmap read", "mmap write",          "fsync", "close",     "close+reopen"};

// Files stay well under what a file may hold on either disk (MX_DOS: 64 KB).
constexpr size_t kMaxSize = 48000;

struct Step {
  Op op;
  size_t off = 0, len = 0;  // the place of a write or read; the size of a truncate
  unsigned char seed = 0;   // what the bytes written are made of
  std::string text() const {
    const std::string name = kOpNames[static_cast<int>(op)];
    if (op == Op::Ftruncate || op == Op::TruncatePath) return name + " to " + std::to_string(len);
    if (op == Op::MapRead || op >= Op::Fsync) return name;
    return name + " at " + std::to_string(off) + ", " + std::to_string(len) + " bytes";
  }
};

std::string bytes_of(const Step& s, size_t n) {
  std::string b(n, '\0');
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<char>(s.seed + i * 7 + (i >> 8));
  return b;
}

// One file under test: its path and its descriptor (-1 while it is closed).
struct Subject {
  fs::path path;
  int fd = -1;
};

sigjmp_buf bus_jump;
volatile sig_atomic_t in_mapping = 0;
void on_bus(int sig) {
  if (in_mapping != 0) siglongjmp(bus_jump, 1);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

off_t fstat_size(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

// A mapping of the size fstat gives, so that a size other than the bytes shows as SIGBUS or as
// other bytes. `change` writes `with` at `at` (clipped to the size) and msyncs.
std::string through_mapping(int fd, bool change, size_t at, const std::string& with) {
  const off_t size = fstat_size(fd);
  if (size <= 0) return "size " + std::to_string(size);
  const int prot = change ? PROT_READ | PROT_WRITE : PROT_READ;
  void* m = ::mmap(nullptr, static_cast<size_t>(size), prot, MAP_SHARED, fd, 0);
  if (m == MAP_FAILED) return "mmap: " + std::string(std::strerror(errno));
  auto* p = static_cast<char*>(m);
  std::string seen(static_cast<size_t>(size), '\0');
  in_mapping = 1;
  if (sigsetjmp(bus_jump, 1) != 0) {
    in_mapping = 0;
    ::munmap(m, static_cast<size_t>(size));
    return "SIGBUS inside the size fstat gave (" + std::to_string(size) + ")";
  }
  if (change) {
    at %= static_cast<size_t>(size);
    std::copy_n(with.data(), std::min(with.size(), static_cast<size_t>(size) - at), p + at);
    seen = ::msync(m, static_cast<size_t>(size), MS_SYNC) == 0 ? "msync" : "msync failed";
  } else {
    std::copy_n(p, seen.size(), seen.data());
  }
  in_mapping = 0;
  ::munmap(m, static_cast<size_t>(size));
  return seen;
}

std::string outcome(ssize_t rc) {
  return rc < 0 ? std::string(std::strerror(errno)) : std::to_string(rc);
}

// Does the step to one subject; what it says (counts, errors, bytes read) must be the same for
// the mount and the model.
std::string apply(Subject& s, const Step& st) {
  const std::string data = bytes_of(st, st.len);
  switch (st.op) {
    case Op::Write:
      if (::lseek(s.fd, static_cast<off_t>(st.off), SEEK_SET) < 0) return "lseek failed";
      return outcome(::write(s.fd, data.data(), data.size()));
    case Op::PwritePast:
      return outcome(::pwrite(s.fd, data.data(), data.size(), static_cast<off_t>(st.off)));
    case Op::Read: {
      std::string buf(st.len, '\0');
      const ssize_t n = ::pread(s.fd, buf.data(), buf.size(), static_cast<off_t>(st.off));
      return n < 0 ? outcome(n) : buf.substr(0, static_cast<size_t>(n));
    }
    case Op::Ftruncate:
      return outcome(::ftruncate(s.fd, static_cast<off_t>(st.len)));
    case Op::TruncatePath:
      return outcome(::truncate(s.path.c_str(), static_cast<off_t>(st.len)));
    case Op::MapRead:
      return through_mapping(s.fd, false, 0, {});
    case Op::MapWrite:
      return through_mapping(s.fd, true, st.off, data);
    case Op::Fsync:
      return outcome(::fsync(s.fd));
    case Op::Close: {
      const int rc = ::close(s.fd);
      s.fd = -1;
      return outcome(rc);
    }
    case Op::Reopen:
      if (s.fd >= 0) ::close(s.fd);
      s.fd = ::open(s.path.c_str(), O_RDWR);
      return s.fd < 0 ? outcome(-1) : "open";
  }
  return {};
}

std::string read_all(int fd) {
  std::string out;
  char buf[8192];
  for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
    out.append(buf, static_cast<size_t>(n));
  return out;
}

std::string fresh_read(const fs::path& p) {
  const int fd = ::open(p.c_str(), O_RDONLY);
  if (fd < 0) return "cannot open: " + std::string(std::strerror(errno));
  std::string out = read_all(fd);
  ::close(fd);
  return out;
}

std::string first_difference(const std::string& what, const std::string& a, const std::string& b) {
  if (a == b) return {};
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
  return what + " differ from byte " + std::to_string(at) + " (" + std::to_string(a.size()) +
         " bytes, the model " + std::to_string(b.size()) + ")";
}

// Where the file in the mount differs from the model, or "".
std::string differs(const Subject& m, const Subject& model) {
  const auto sizes = [](const std::string& what, off_t a, off_t b) {
    return a == b ? std::string() : what + " " + std::to_string(a) + ", model " + std::to_string(b);
  };
  struct stat a {
  }, b{};
  ::stat(m.path.c_str(), &a);
  ::stat(model.path.c_str(), &b);
  std::string d = m.fd >= 0 ? sizes("fstat size", fstat_size(m.fd), fstat_size(model.fd)) : "";
  if (d.empty()) d = sizes("stat size", a.st_size, b.st_size);
  if (d.empty() && m.fd >= 0)
    d = first_difference("the bytes read through the open descriptor", read_all(m.fd),
                         read_all(model.fd));
  if (d.empty())
    d = first_difference("the bytes read through a fresh descriptor", fresh_read(m.path),
                         fresh_read(model.path));
  return d;
}

// The next step, from the model's size; a closed file is reopened or truncated by path.
Step next_step(std::mt19937& rng, const Subject& model) {
  const auto size = static_cast<size_t>(fs::file_size(model.path));
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  Step s{model.fd < 0 ? (pick(3) == 0 ? Op::TruncatePath : Op::Reopen) : static_cast<Op>(pick(10))};
  s.seed = static_cast<unsigned char>(rng());
  s.len = 1 + pick(4000);
  switch (s.op) {
    case Op::Write:
      s.off = pick(size + 1);
      s.len = std::min(s.len, kMaxSize - s.off);
      break;
    case Op::PwritePast:
      s.off = size + 1 + pick(3000);
      if (s.off + s.len > kMaxSize) s = {Op::Ftruncate, 0, pick(size + 1)};
      break;
    case Op::Read:
    case Op::MapWrite:
      s.off = pick(size + 100);
      break;
    case Op::Ftruncate:
    case Op::TruncatePath:
      s.len = pick(kMaxSize - 8000);
      break;
    default:
      break;
  }
  return s;
}

// Runs `steps` random steps from `seed` on NAME in `dir` and in a model folder; "" when all
// agree, else the seed, the steps so far and the first difference.
std::string exercise(const fs::path& dir, const std::string& name, unsigned seed, int steps) {
  TempDir models;
  Subject m{dir / name}, model{models / name};
  for (Subject* s : {&m, &model}) s->fd = ::open(s->path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (m.fd < 0) return "cannot create " + m.path.string() + ": " + std::strerror(errno);
  std::mt19937 rng(seed);
  std::ostringstream log;
  std::string failure;
  for (int i = 0; i < steps && failure.empty(); ++i) {
    const Step st = next_step(rng, model);
    log << "  " << i << ": " << st.text() << "\n";
    const std::string got = apply(m, st), want = apply(model, st);
    if (got != want)
      failure = st.text() + " said \"" + got.substr(0, 60) + "\", the model \"" +
                want.substr(0, 60) + "\"";
    else
      failure = differs(m, model);
  }
  for (Subject* s : {&m, &model})
    if (s->fd >= 0) ::close(s->fd);
  if (failure.empty()) return {};
  return "seed " + std::to_string(seed) + ": " + failure + "\nsteps:\n" + log.str();
}

class Exerciser : public ::testing::TestWithParam<std::string> {};

TEST_P(Exerciser, SizesAndBytesAgreeWithAPlainFileAfterEveryOperation) {
  struct sigaction bus {};
  bus.sa_handler = on_bus;
  ::sigaction(SIGBUS, &bus, nullptr);
  TempDir dir;
  std::unique_ptr<Mounted> mount;
  // ODI_EXERCISE_DIR points the plain case at another folder: another FUSE file system, say.
  const char* other = std::getenv("ODI_EXERCISE_DIR");
  fs::path where = other != nullptr ? fs::path(other) : dir.path();
  if (GetParam() != "plain") {
    REQUIRE_FUSE();
    const std::string image = (dir / "d.odi").string();
    const std::vector<std::string> args = GetParam() == "cpm"
                                              ? std::vector<std::string>{"new", "--cpm", image}
                                              : std::vector<std::string>{"new", image};
    ASSERT_EQ(run_odi(args).rc, 0);
    mount = std::make_unique<Mounted>(image);
    ASSERT_TRUE(mount->up());
    where = mount->path();
  }
  for (const unsigned seed : {1U, 2U, 3U, 4U}) {
    const std::string failure = exercise(where, "EX" + std::to_string(seed) + ".BIN", seed, 60);
    EXPECT_TRUE(failure.empty()) << failure;
  }
}

INSTANTIATE_TEST_SUITE_P(Mount, Exerciser, ::testing::Values("plain", "mx_dos", "cpm"),
                         [](const auto& p) { return p.param; });

}  // namespace
