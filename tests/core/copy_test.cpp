// The whole copy of an entry: folders beside the image, names, atomic writes, failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "builder/odibuild.h"
#include "extract/copy_buf.h"
#include "extract/target.h"

using namespace odi;
using odibuild::fileSpec;
using Status = CopyOutcome::Status;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// A temporary folder and a disk with GAME COM at the root and DOCS/LETTER TXT, shown at its root
// catalogue, with the bin form chosen.
class Copy : public ::testing::Test {
 protected:
  static odibuild::DiskBuilder disk() {
    odibuild::DiskBuilder d;
    d.addFile(d.root(), fileSpec("GAME", "COM", 0x9000, std::string(1500, 'g')));
    d.addFile(d.addCatalogue(d.root(), "DOCS"),
              fileSpec("LETTER", "TXT", 0x1100, "\xF0\xD2\xC9\xD7\xC5\xD4\xFF"));
    return d;
  }
  Copy() {
    fs::create_directories(t);
    st.reset_root("DISK");
    bin.txt = false;
    bin.bin = true;
  }
  ~Copy() override { fs::remove_all(t); }
  CopyOutcome copy(const std::string& image, int row, const Options& o, bool keep = false) {
    return copy_entry(t / image, img, st, root.at(static_cast<size_t>(row)), o, keep);
  }

  const fs::path t =
      fs::temp_directory_path() / ("odi-copy-" + std::to_string(::getpid()) + "-" +
                                   testing::UnitTest::GetInstance()->current_test_info()->name());
  const odibuild::DiskBuilder d = disk();
  const Image img{d.image()};
  const std::vector<Record> root = read_catalogue(img, kRootOffset);
  CatalogueStack st;
  Options bin;
};

}  // namespace

TEST_F(Copy, WritesBesideTheImageReplacesWholeAndRefusesBadNames) {
  CopyOutcome o = copy("disk1.ODI", 0, bin);
  EXPECT_EQ(o.status, Status::Written);
  EXPECT_EQ(o.path, t / "disk1" / "GAME     COM.bin");
  EXPECT_EQ(slurp(o.path), std::string(1500, 'g'));
  std::ofstream(o.path) << std::string(5000, 'z');
  EXPECT_EQ(copy("disk1.ODI", 0, bin, true).status, Status::Kept);
  EXPECT_EQ(slurp(o.path), std::string(5000, 'z'));
  EXPECT_EQ(slurp(copy("disk1.ODI", 0, bin).path), std::string(1500, 'g'));  // no tail of the old
  EXPECT_EQ(copy("d.odi1", 0, bin).status, Status::BadName);
  EXPECT_FALSE(fs::exists(t / "d.odi1"));
  EXPECT_EQ(copy("disk1.ODI", 1, bin).status, Status::Catalogue);  // the folders, nothing else

  ASSERT_TRUE(st.enter(root[1], 1));
  const Record letter = read_catalogue(img, st.KAT_POS[1]).at(0);
  Options dos7;
  dos7.win = false;
  dos7.dos = dos7.koi7 = true;
  fs::remove_all(t / "disk1");  // a level deleted meanwhile is made again
  o = copy_entry(t / "disk1.ODI", img, st, letter, dos7);
  EXPECT_EQ(o.path, t / "disk1" / "DOCS" / "LETTER   TXTd7.txt");
  EXPECT_EQ(slurp(o.path), COPY_BUF(img, letter, dos7, FIL_DAT(letter, "")).BUF_FIL);
}

TEST_F(Copy, FileSystemFailuresLeaveNothingPartial) {
  std::ofstream(t / "a") << "not a folder";  // the target root exists as a file
  CopyOutcome o = copy("a.odi", 0, bin);
  EXPECT_EQ(o.status, Status::WriteFailed);
  EXPECT_FALSE(o.error.empty());
  EXPECT_EQ(slurp(t / "a"), "not a folder");
  fs::create_directories(t / "b" / "GAME     COM.bin");  // the output's name is a folder's
  EXPECT_EQ(copy("b.odi", 0, bin).status, Status::WriteFailed);
  EXPECT_TRUE(fs::is_directory(t / "b" / "GAME     COM.bin"));
  EXPECT_EQ(std::distance(fs::directory_iterator(t / "b"), {}), 1);  // no temporary left behind
}

TEST_F(Copy, ImageFilesAreRegularFilesReadWithoutWaiting) {
  EXPECT_FALSE(read_image_file(t / "missing.odi").ok());
  EXPECT_FALSE(read_image_file(t).ok());
  ASSERT_EQ(::mkfifo((t / "pipe.odi").c_str(), 0600), 0);
  EXPECT_FALSE(read_image_file(t / "pipe.odi").ok());  // would block until a writer came
  std::ofstream(t / "short.odi") << "Dos_MX";
  const LoadedImage l = read_image_file(t / "short.odi");
  EXPECT_TRUE(l.ok());
  EXPECT_EQ(l.bytes, "Dos_MX");

  // A job's memory, image after image: each view holds that file's bytes and no more, whatever
  // was read into the memory before; a file past the most an address can reach is cut there.
  ImageMemory memory(true);
  EXPECT_TRUE(read_image_file(t, memory).folder);
  EXPECT_FALSE(read_image_file(t / "pipe.odi", memory).ok());
  std::ofstream(t / "full.odi", std::ios::binary) << d.image();
  std::ofstream(t / "huge.odi", std::ios::binary) << std::string(kMaxImageRead + 1, 'x');
  EXPECT_EQ(read_image_file(t / "full.odi", memory).bytes, d.image());
  EXPECT_EQ(read_image_file(t / "short.odi", memory).bytes, "Dos_MX");
  EXPECT_EQ(read_image_file(t / "huge.odi", memory).bytes, std::string(kMaxImageRead, 'x'));
  EXPECT_EQ(read_image_file(t / "full.odi", memory).bytes, d.image());
}

// Permission bits apply to a user, not to root: the checks run in a child process that has given
// up root (without root it simply keeps the user), and report through its exit status.
TEST_F(Copy, ReadOnlyTargetAndUnreadableImageAsAUser) {
  auto as_user = [](const std::function<bool()>& ok) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
      ::_exit(ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  fs::permissions(t, fs::perms::all);  // the user may pass and look, not write into `ro`
  fs::create_directories(t / "ro");
  std::ofstream(t / "secret.odi", std::ios::binary) << d.image();
  fs::permissions(t / "ro", static_cast<fs::perms>(0555));
  fs::permissions(t / "secret.odi", fs::perms::none);
  // A read-only target folder: the copy fails with the system's reason and leaves nothing.
  EXPECT_TRUE(as_user([&] {
    const CopyOutcome o = copy_entry(t / "ro.odi", img, st, root[0], bin);
    return o.status == Status::WriteFailed && o.error.find("denied") != std::string::npos;
  }));
  EXPECT_TRUE(fs::is_empty(t / "ro"));
  EXPECT_TRUE(as_user([&] { return !read_image_file(t / "secret.odi").ok(); }));
  fs::permissions(t / "ro", fs::perms::owner_all);
}
