// Every errno the mount answers, each with the call that draws it: programs tell their users what
// went wrong from these alone, and a wrong one (a success above all) hides a change that never
// reached the disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "mounted.h"

using namespace clitest;

namespace {

// The errno of a call that fails, 0 for one that succeeds.
int err_of(int rc) {
  return rc < 0 ? errno : 0;
}

int open_close(const fs::path& p, int flags) {
  const int fd = ::open(p.c_str(), flags, 0644);
  if (fd < 0) return errno;
  return err_of(::close(fd));
}

// Writes `bytes` bytes into a new file; the errno of the write or of the close that puts it.
int write_file(const fs::path& p, size_t bytes) {
  const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return errno;
  const std::string body(bytes, 'x');
  if (::write(fd, body.data(), body.size()) < 0) {
    const int e = errno;
    ::close(fd);
    return e;
  }
  return err_of(::close(fd));
}

struct Case {
  const char* what;
  std::function<int()> call;
  int expected;
};

void expect_all(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const int got = c.call();
    EXPECT_EQ(got, c.expected) << c.what << ": " << std::strerror(got) << " instead of "
                               << std::strerror(c.expected);
  }
}

}  // namespace

TEST(MountErrno, MxDos) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string image = (dir / "d.odi").string();
  spit(dir / "A.TXT", "alpha");
  ASSERT_EQ(run_odi({"new", image}).rc, 0);
  ASSERT_EQ(run_odi({"mkdir", image, "CAT"}).rc, 0);
  ASSERT_EQ(run_odi({"mkdir", image, "OTHER"}).rc, 0);
  ASSERT_EQ(run_odi({"put", image, "/", (dir / "A.TXT").string()}).rc, 0);
  ASSERT_EQ(run_odi({"put", "--as", "B.TXT", image, "/", (dir / "A.TXT").string()}).rc, 0);
  ASSERT_EQ(run_odi({"put", image, "CAT", (dir / "A.TXT").string()}).rc, 0);
  Mounted m(image);
  ASSERT_TRUE(m.up());
  const auto at = [&](const char* p) { return m / p; };
  expect_all({
      {"open of no such file", [&] { return open_close(at("NONE.TXT"), O_RDONLY); }, ENOENT},
      {"a path through a file", [&] { return open_close(at("A.TXT/X"), O_RDONLY); }, ENOTDIR},
      {"a catalogue opened to write", [&] { return open_close(at("CAT"), O_WRONLY); }, EISDIR},
      {"mkdir of a taken name", [&] { return err_of(::mkdir(at("CAT").c_str(), 0755)); }, EEXIST},
      {"mkdir past 8 + 3", [&] { return err_of(::mkdir(at("LONGNAME12345").c_str(), 0755)); },
       ENAMETOOLONG},
      {"mkdir of a name no disk byte holds",
       [&] { return err_of(::mkdir(at("\u2603").c_str(), 0755)); }, EINVAL},
      {"rmdir of a catalogue that holds files", [&] { return err_of(::rmdir(at("CAT").c_str())); },
       ENOTEMPTY},
      {"rmdir of a file", [&] { return err_of(::rmdir(at("A.TXT").c_str())); }, ENOTDIR},
      {"unlink of a catalogue", [&] { return err_of(::unlink(at("OTHER").c_str())); }, EISDIR},
      {"rename without replacing over a file",
       [&] {
         return err_of(::renameat2(AT_FDCWD, at("A.TXT").c_str(), AT_FDCWD, at("B.TXT").c_str(),
                                   RENAME_NOREPLACE));
       },
       EEXIST},
      {"rename exchanging two files",
       [&] {
         return err_of(::renameat2(AT_FDCWD, at("A.TXT").c_str(), AT_FDCWD, at("B.TXT").c_str(),
                                   RENAME_EXCHANGE));
       },
       EINVAL},
      {"a catalogue moved into another",
       [&] { return err_of(::rename(at("OTHER").c_str(), at("CAT/OTHER").c_str())); }, EXDEV},
      {"a file renamed past 8 + 3",
       [&] { return err_of(::rename(at("B.TXT").c_str(), at("VERYLONGNAME.TXT").c_str())); },
       ENAMETOOLONG},
      {"a file over 64 KB, at its close", [&] { return write_file(at("BIG.DAT"), 70000); }, EFBIG},
      {"a file past what the mount holds open",
       [&] { return write_file(at("HUGE.DAT"), size_t{5} << 20); }, EFBIG},
  });
  // Nothing refused reached the disk, and what was there is still there.
  EXPECT_EQ(run_odi({"cat", "--type", "bin", image, "B.TXT"}).out, "alpha");
  EXPECT_NE(run_odi({"cat", image, "BIG.DAT"}).rc, 0);
  EXPECT_EQ(run_odi({"check", image}).rc, 0);
}

TEST(MountErrno, CpmAndReadOnly) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string cpm = (dir / "c.odi").string();
  spit(dir / "A.TXT", "alpha");
  ASSERT_EQ(run_odi({"new", "--cpm", cpm}).rc, 0);
  ASSERT_EQ(run_odi({"put", cpm, "/", (dir / "A.TXT").string()}).rc, 0);
  {
    Mounted m(cpm);
    ASSERT_TRUE(m.up());
    ASSERT_EQ(::chmod((m / "A.TXT").c_str(), 0444), 0);
    expect_all({
        {"a read-only file opened to write", [&] { return open_close(m / "A.TXT", O_WRONLY); },
         EACCES},
        {"a read-only file truncated by path",
         [&] { return err_of(::truncate((m / "A.TXT").c_str(), 1)); }, EACCES},
        {"a catalogue CP/M cannot have",
         [&] { return err_of(::mkdir((m / "GAMES").c_str(), 0755)); }, EINVAL},
        {"a Cyrillic name", [&] { return write_file(m / "\u0424.TXT", 1); }, EINVAL},
    });
  }
  Mounted ro(cpm, {"--read-only"});
  ASSERT_TRUE(ro.up());
  expect_all({
      {"a file made in a read-only mount",
       [&] { return open_close(ro / "NEW.TXT", O_CREAT | O_WRONLY); }, EROFS},
      {"a file opened to write there", [&] { return open_close(ro / "A.TXT", O_RDWR); }, EROFS},
  });
}
