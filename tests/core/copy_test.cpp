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
using odibuild::DiskBuilder;
using odibuild::fileSpec;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() /
           ("odi-copy-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  static inline int counter = 0;
};

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

struct Disk {
  DiskBuilder d;
  odibuild::Cat docs;
  Disk() {
    d.addFile(d.root(), fileSpec("GAME", "COM", 0x9000, std::string(1500, 'g')));
    docs = d.addCatalogue(d.root(), "DOCS");
    d.addFile(docs, fileSpec("LETTER", "TXT", 0x1100, "\xF0\xD2\xC9\xD7\xC5\xD4\xFF"));
  }
};

// A temporary folder and the disk above, at its root catalogue, with the bin form chosen.
struct CopyCase {
  TempDir t;
  Disk disk;
  Image img{disk.d.image()};
  CatalogueStack st;
  std::vector<Record> root;
  Options bin;
  CopyCase() {
    st.reset_root("DISK");
    root = read_catalogue(img, kRootOffset);
    bin.txt = false;
    bin.bin = true;
  }
};

}  // namespace

TEST(Copy, WritesBesideTheImageInCatalogueFolders) {
  CopyCase c;
  auto& [t, disk, img, st, root, bin] = c;
  const fs::path image = t.path / "disk1.ODI";
  CopyOutcome o = copy_entry(image, img, st, root[0], bin);
  EXPECT_EQ(o.status, CopyOutcome::Status::Written);
  EXPECT_EQ(o.path, t.path / "disk1" / "GAME     COM.bin");
  EXPECT_EQ(slurp(o.path), std::string(1500, 'g'));

  // A catalogue entry: the folders exist afterwards, nothing else.
  EXPECT_EQ(copy_entry(image, img, st, root[1], bin).status, CopyOutcome::Status::Catalogue);

  ASSERT_TRUE(st.enter(root[1], 1));
  const auto docs = read_catalogue(img, st.KAT_POS[1]);
  Options dos7;
  dos7.win = false;
  dos7.dos = dos7.koi7 = true;
  fs::remove_all(t.path / "disk1");  // a level deleted meanwhile is made again
  o = copy_entry(image, img, st, docs[0], dos7);
  EXPECT_EQ(o.path, t.path / "disk1" / "DOCS" / "LETTER   TXTd7.txt");
  EXPECT_EQ(slurp(o.path), COPY_BUF(img, docs[0], dos7, FIL_DAT(docs[0], "")).BUF_FIL);
}

TEST(Copy, ReplacesWholeAndRefusesBadNames) {
  CopyCase c;
  auto& [t, disk, img, st, root, bin] = c;
  fs::create_directories(t.path / "d");
  std::ofstream(t.path / "d" / "GAME     COM.bin") << std::string(5000, 'z');
  const CopyOutcome o = copy_entry(t.path / "d.odi", img, st, root[0], bin);
  EXPECT_EQ(slurp(o.path), std::string(1500, 'g'));  // no tail of the longer file

  EXPECT_EQ(copy_entry(t.path / "d.odi1", img, st, root[0], bin).status,
            CopyOutcome::Status::BadName);
  EXPECT_FALSE(fs::exists(t.path / "d.odi1"));
  EXPECT_EQ(copy_entry(t.path / "d.odi", img, st, root[0], bin, true).status,
            CopyOutcome::Status::Kept);
}

TEST(Copy, FileSystemFailuresLeaveNothingPartial) {
  CopyCase c;
  auto& [t, disk, img, st, root, bin] = c;

  // The target root exists as a file.
  std::ofstream(t.path / "a") << "not a folder";
  CopyOutcome o = copy_entry(t.path / "a.odi", img, st, root[0], bin);
  EXPECT_EQ(o.status, CopyOutcome::Status::WriteFailed);
  EXPECT_FALSE(o.error.empty());
  EXPECT_EQ(slurp(t.path / "a"), "not a folder");

  // The output file name is taken by a folder.
  fs::create_directories(t.path / "b" / "GAME     COM.bin");
  o = copy_entry(t.path / "b.odi", img, st, root[0], bin);
  EXPECT_EQ(o.status, CopyOutcome::Status::WriteFailed);
  EXPECT_TRUE(fs::is_directory(t.path / "b" / "GAME     COM.bin"));
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(t.path / "b")) ++files;
  EXPECT_EQ(files, 1u);  // no temporary left behind
}

TEST(ImageFile, ReadsRegularFilesOnlyAndNeverWaits) {
  TempDir t;
  EXPECT_FALSE(read_image_file(t.path / "missing.odi").ok());
  EXPECT_FALSE(read_image_file(t.path).ok());
  const fs::path fifo = t.path / "pipe.odi";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(read_image_file(fifo).ok());  // would block until a writer came
  std::ofstream(t.path / "short.odi") << "Dos_MX";
  const LoadedImage l = read_image_file(t.path / "short.odi");
  EXPECT_TRUE(l.ok());
  EXPECT_EQ(l.bytes, "Dos_MX");
}

namespace {

// Runs `body` in a child process that has given up root, so that permission bits apply as they
// do to a user; returns the child's exit status. Without root the child simply keeps the user.
int as_user(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

}  // namespace

TEST(Copy, ReadOnlyTargetAndUnreadableImageAsAUser) {
  CopyCase c;
  auto& [t, disk, img, st, root, bin] = c;
  fs::permissions(t.path, fs::perms::all);  // the user may pass and look, not write below `ro`
  const std::string& bytes = disk.d.image();
  const fs::path ro = t.path / "ro";
  fs::create_directories(ro / "d");
  std::ofstream(ro / "d.odi", std::ios::binary) << bytes;
  const auto read_only = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(ro / "d", read_only);
  fs::permissions(ro, read_only);

  // A read-only target folder: the copy fails with the system's reason and leaves nothing.
  const int wrote = as_user([&] {
    const CopyOutcome o = copy_entry(ro / "d.odi", img, st, root[0], bin);
    return o.status == CopyOutcome::Status::WriteFailed &&
                   o.error.find("denied") != std::string::npos
               ? 0
               : 1;
  });
  EXPECT_EQ(wrote, 0);
  EXPECT_TRUE(fs::is_empty(ro / "d"));
  fs::permissions(ro, fs::perms::owner_all);
  fs::permissions(ro / "d", fs::perms::owner_all);

  // An image the user may not read.
  const fs::path secret = t.path / "secret.odi";
  std::ofstream(secret, std::ios::binary) << bytes;
  fs::permissions(secret, fs::perms::none);
  EXPECT_EQ(as_user([&] { return read_image_file(secret).ok() ? 1 : 0; }), 0);
}
