// Writing into CP/M disks: the bytes CP/M and cpmtools fix (the first sector, the extent bytes,
// the tail of the last block), the limits of the directory and the disk, the names CP/M takes,
// and cpmcp and cpmrm leaving our disk byte for byte as our writer does. After every change the
// disk must read back exactly with nothing for check() to find; a refusal leaves every byte.
// Random sequences of writes against a model are in model_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>

#include "cli/harness.h"
#include "image/cpm/cpm.h"
#include "image/cpm/write.h"

using namespace odi;

namespace {

const cpm::CpmWriter kWriter;
const std::vector<size_t> kSizes{0, 1, 127, 128, 129, 16384, 16385, 40000};

std::string body(size_t n, int seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251 + seed);
  return s;
}
NewFile file(std::string name, size_t n, std::string ext = "", int seed = 1) {
  return {std::move(name), std::move(ext), 0x100, body(n, seed), {}, {}};
}
std::string fresh() {
  std::string img;
  EXPECT_TRUE(cpm::new_disk(img).ok());
  return img;
}
CatalogueStack user(int u) {
  CatalogueStack s;
  s.reset_root("CPM", 0);
  if (u > 0) s.enter(u, "USER " + std::to_string(u), 0);
  return s;
}
bool put(std::string& img, int u, const NewFile& f) {
  return kWriter.put_file(img, user(u), f, false).ok();
}

// The files of user `u` as the reader gives them ("NAME.TYP" -> body; "USER n" rows -> ""),
// after checking that the disk is sound and every length exact.
std::map<std::string, std::string> files(const std::string& img, int u) {
  const Image im(img);
  const auto disk = open_file_system(im);
  EXPECT_EQ(disk->kind(), FsKind::Cpm);
  for (const Problem& p : disk->check()) ADD_FAILURE() << p.kind << " " << p.path << p.message;
  std::map<std::string, std::string> out;
  for (const Entry& e : disk->list(u)) {
    const std::string_view r(reinterpret_cast<const char*>(e.rec.b.data()), 32);
    std::string name(trim_spaces(r.substr(3, 8)));
    if (e.is_file() && !trim_spaces(r.substr(12, 3)).empty())
      name += "." + std::string(trim_spaces(r.substr(12, 3)));
    out[name] = e.is_file() ? disk->body(e) : "";
    EXPECT_EQ(e.bytes, static_cast<std::int64_t>(out[name].size()));
  }
  return out;
}

void expect_refused(std::string& img, int status, const std::function<WriteResult()>& op) {
  const std::string before = img;
  const WriteResult r = op();
  EXPECT_EQ(r.status, status) << r.message;
  EXPECT_FALSE(r.message.empty());
  EXPECT_TRUE(img == before) << r.message;
}
#define EXPECT_REFUSED(img, status, call) expect_refused(img, status, [&] { return call; })

std::string dir_entry(const std::string& img, int i) {
  return img.substr(0x5000 + 32 * static_cast<size_t>(i), 32);
}

}  // namespace

// A jump, zeros, the parameter block (SPT 40, BSH 4, BLM 0Fh, EXM 0, DSM 388, DRM 127, AL0 C0h,
// AL1 0, CKS 32, OFF 4), then E5h to the end.
TEST(CpmWrite, NewDisk) {
  std::string img = fresh();
  EXPECT_EQ(img.substr(0, 0x20), std::string("\xC3\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                             "\x28\0\x04\x0F\0\x84\x01\x7F\0\xC0\0\x20\0\x04\0\xE5",
                                             0x20));
  EXPECT_EQ(img.find_first_not_of('\xE5', 0x20), std::string::npos);
  EXPECT_TRUE(files(img, 0).empty());
  EXPECT_REFUSED(img, 1, new_disk(FsKind::Cpm, img, "NAME", nullptr));
}

TEST(CpmWrite, PutReadsBackExactly) {
  std::string img = fresh();
  std::map<std::string, std::string> want;
  for (size_t n : kSizes) {
    const NewFile f = file("F" + std::to_string(n), n, "bin");  // a lower-case type: capitals
    const WriteResult r = kWriter.put_file(img, user(0), f, false);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.row, static_cast<int>(want.size()));  // the lowest free entry: the end
    want["F" + std::to_string(n) + ".BIN"] = f.body;
    EXPECT_EQ(files(img, 0), want);
  }
  // F40000: 3 extents in entries 8..10, the last with EX 2, S1 64, RC 57; blocks lowest first.
  EXPECT_EQ(dir_entry(img, 10).substr(0, 16), std::string("\0F40000  BIN\x02\x40\0\x39", 16));
  EXPECT_EQ(dir_entry(img, 0).substr(12), std::string(20, '\0'));  // F0: RC 0, no block
  EXPECT_EQ(dir_entry(img, 1).substr(12, 6), std::string("\0\x01\0\x01\x02\0", 6));
  EXPECT_EQ(img.substr(0x6000, 2048), body(1) + std::string(2047, '\0'));  // tail: 00h

  // The last user area (the model writes into 1 to 3): a USER row at the root once it holds files.
  ASSERT_TRUE(put(img, 15, file("X", 20000)));
  want["USER 15"] = "";
  EXPECT_EQ(files(img, 0), want);
  EXPECT_EQ(files(img, 15).at("X"), body(20000));
}

TEST(CpmWrite, FullDirectoryAndFullDisk) {
  std::string img = fresh();
  for (int i = 0; i < 126; ++i) ASSERT_TRUE(put(img, i % 16, file("E" + std::to_string(i), 0)));
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(1), file("BIG", 40000), false));  // needs 3
  ASSERT_TRUE(put(img, 1, file("TWO", 20000)));
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(0), file("NONE", 0), false));
  EXPECT_EQ(files(img, 1).size(), 9u);

  img = fresh();
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(0), file("HUGE", 387 * 2048 + 1), false));
  ASSERT_TRUE(put(img, 0, file("ALL", 387 * 2048 - 1)));  // every data block, 49 entries: S2 1
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(0), file("ONE", 1), false));
  ASSERT_TRUE(put(img, 0, file("EMPTY", 0)));
  EXPECT_EQ(files(img, 0).at("ALL"), body(387 * 2048 - 1));
}

// Names in capitals whatever case they come in; a replaced file's blocks are free for the new
// one; what cpmcp refuses is refused, what it takes is taken.
TEST(CpmWrite, NamesReplacedAndRefused) {
  std::string img = fresh();
  ASSERT_TRUE(put(img, 0, file("hello", 5000, "txt")));
  ASSERT_TRUE(kWriter.put_file(img, user(0), file("Hello", 3000, "TxT", 9), true).ok());
  EXPECT_EQ(files(img, 0).at("HELLO.TXT"), body(3000, 9));
  EXPECT_EQ(dir_entry(img, 0).substr(16, 4), std::string("\x02\0\x03\0", 4));
  for (const char* n8 :
       {"", "NINECHARS", " AB", "A.B", "A,B", "A\x7F", "\xF0\xD2\xC9", "A\t", "A<B"}) {
    EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(0), file(n8, 1), false));
    EXPECT_REFUSED(img, 1, kWriter.rename_entry(img, user(0), 0, n8, ""));
  }
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, user(0), file("A", 1, "TEXT"), false));
  EXPECT_REFUSED(img, 1, kWriter.rename_entry(img, user(0), 0, "A", "T*"));
  ASSERT_TRUE(put(img, 0, file("$$$-1!#", 1, "{~}")));  // CP/M takes these
  ASSERT_TRUE(put(img, 0, file("a b_%|+", 1, "(/\\")));
  EXPECT_EQ(files(img, 0).count("A B_%|+.(/\\"), 1U);
}

// Rename and remove go through every extent of a file; user areas and their limits are the
// model's (model_test.cpp).
TEST(CpmWrite, RemoveRenameAndRefusals) {
  std::string img = fresh();
  ASSERT_TRUE(put(img, 0, file("A", 40000)));
  ASSERT_TRUE(put(img, 0, file("B", 10)));
  ASSERT_TRUE(put(img, 4, file("C", 10)));
  ASSERT_TRUE(put(img, 4, file("D", 20000)));
  for (int i = 0; i < 3; ++i) img[0x5000 + 32 * i + 9] = '\xA0';  // A read-only

  // Every extent renamed; the attribute bits stay.
  ASSERT_EQ(kWriter.rename_entry(img, user(0), 0, "new", "dat").row, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dir_entry(img, i).substr(1, 11), "NEW     \xC4\x41T");
  const std::string renamed = dir_entry(img, 2);
  EXPECT_EQ(files(img, 0).at("NEW.DAT"), body(40000));

  // As CP/M erases: E5h in the user byte, the rest of each entry left as it was.
  ASSERT_TRUE(kWriter.remove_entry(img, user(0), 0, false).ok());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dir_entry(img, i)[0], '\xE5');
  EXPECT_EQ(dir_entry(img, 2).substr(1), renamed.substr(1));
  EXPECT_EQ(files(img, 0), (std::map<std::string, std::string>{{"B", body(10)}, {"USER 4", ""}}));
  EXPECT_REFUSED(img, 65, kWriter.remove_entry(img, user(0), 2, false));

  // Nothing is written below a user area, nor into a disk that is not a CP/M disk image.
  CatalogueStack deep = user(7);
  deep.enter(7, "X", 0);
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, deep, file("X", 1), false));
  CatalogueStack u16 = user(1);
  u16.KAT_POS[1] = 16;
  EXPECT_REFUSED(img, 1, kWriter.put_file(img, u16, file("X", 1), false));
  std::string mx;
  ASSERT_TRUE(new_disk(FsKind::MxDos, mx, "MX", nullptr).ok());
  EXPECT_REFUSED(mx, 1, kWriter.put_file(mx, user(0), file("X", 1), false));
  std::string cut = img.substr(1);
  EXPECT_REFUSED(cut, 1, kWriter.put_file(cut, user(0), file("X", 1), false));
}

// cpmcp writing into our new disk leaves it byte for byte as our writer does (entries, blocks,
// EX, S1, S2, RC, the 00h tail), and cpmrm as our remove; our reader reads cpmcp's files exactly.
// cpmtools finds the definition "specmx" only in the current folder, tests/cpm.
TEST(CpmWrite, CpmtoolsWriteWhatWeWrite) {
  const auto sh = [](const std::string& cmd) {
    return std::system(("cd '" CPM_DISKDEFS_DIR "' && " + cmd + " >/dev/null 2>&1").c_str());
  };
  if (sh("command -v cpmcp cpmrm") != 0) GTEST_SKIP() << "cpmtools not on PATH";
  const clitest::TempDir t;
  const std::string theirs = (t / "t.odi").string(), f = (t / "f").string();
  std::string ours = fresh();
  clitest::spit(theirs, ours);
  for (size_t n : kSizes) {
    const int u = n % 2 ? 5 : 0;
    const NewFile nf = file("T" + std::to_string(n), n, "DAT", static_cast<int>(n % 13));
    clitest::spit(f, nf.body);
    ASSERT_EQ(sh("cpmcp -f specmx " + theirs + " " + f + " " + std::to_string(u) + ":t" +
                 std::to_string(n) + ".dat"),
              0);
    ASSERT_TRUE(put(ours, u, nf));
  }
  EXPECT_TRUE(clitest::slurp(theirs) == ours);
  EXPECT_EQ(files(clitest::slurp(theirs), 5).at("T16385.DAT"), body(16385, 16385 % 13));
  ASSERT_EQ(sh("cpmrm -f specmx " + theirs + " 0:T16384.DAT"), 0);
  ASSERT_TRUE(kWriter.remove_entry(ours, user(0), 2, false).ok());
  EXPECT_TRUE(clitest::slurp(theirs) == ours);
}
