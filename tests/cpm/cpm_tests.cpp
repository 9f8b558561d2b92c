// The CP/M writer against cpmtools, both ways, with the definition "specmx" in diskdefs here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "builder/cpmbuild.h"

using namespace odibuild;
namespace fs = std::filesystem;

namespace {

// cpmtools finds diskdefs only in the current directory: every command runs there.
int run(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = popen(("cd '" CPM_DISKDEFS_DIR "' && " + cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::string text;
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
  if (out) *out = text;
  return pclose(p);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
  return s;
}

// "PERMISSIONS SIZE" of one file in cpmls -l, empty when not listed.
std::string listed(const std::string& img, const std::string& file) {
  std::string ls, line, perm, size;
  run("cpmls -f specmx -l " + img + " " + file, &ls);
  std::istringstream in(ls);
  while (std::getline(in, line))
    if (std::istringstream(line) >> perm >> size && perm.size() == 10) return perm + " " + size;
  return "";
}

const std::string kHello = "Hello, CP/M\r\n" + std::string(287, 'h');  // 300: 3 records
const std::string kBig = pattern(40000, 1);                            // 3 extents
const std::string kSys = pattern(128, 2);

class Cpmtools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run("command -v cpmls mkfs.cpm cpmcp cpmchattr >/dev/null") != 0)
      GTEST_SKIP() << "cpmtools not on PATH";
    dir = fs::path(::testing::TempDir()) /
          ("cpm_" + std::to_string(::getpid()) +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  fs::path dir;
};

}  // namespace

TEST(CpmBuilder, FirstSectorAndErrors) {
  const std::string img = CpmDiskBuilder().image();
  ASSERT_EQ(img.size(), kImageSize);
  EXPECT_EQ(img.substr(0, 0x20), std::string("\xC3\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"
                                             "\x28\0\x04\x0F\0\x84\x01\x7F\0\xC0\0\x20\0\x04\0\xE5",
                                             0x20));
  EXPECT_EQ(CpmDiskBuilder({.withParameterBlock = false}).image(), std::string(kImageSize, '\xE5'));
  CpmDiskBuilder d;
  EXPECT_THROW(d.addFile(16, "A", "", ""), std::runtime_error);
  EXPECT_THROW(d.addFile(0, "NINECHARS", "", ""), std::runtime_error);
  EXPECT_THROW(d.addFile(0, "A", "", "", {.lastRecordBytes = 128}), std::runtime_error);
  EXPECT_THROW(d.addFile(0, "FULL", "", std::string(388 * 2048, 'x')), std::runtime_error);
  EXPECT_THROW(d.setEntryByte(128, 0, 0), std::runtime_error);
}

TEST(CpmBuilder, JsonGivesTheSameDisk) {
  CpmDiskBuilder d({.withParameterBlock = false});
  d.addFile(2, "HELLO", "TXT", koi8("Привет") + "\r\n\x1A", {.system = true, .lastRecordBytes = 9});
  d.addFile(0, "F", "", std::string(3000, '\x55'));
  d.addDeletedEntry("OLD", "BAK", "\x01\x02");
  EXPECT_EQ(imageFromJsonText(R"({"filesystem": "cpm", "parameter_block": false,
      "files": [{"user": 2, "name": "HELLO", "type": "TXT", "text": "Привет\n", "eof": true,
                 "sys": true, "last_record_bytes": 9},
                {"name": "F", "fill": {"byte": "55", "count": 3000}}],
      "deleted": [{"name": "OLD", "type": "BAK", "hex": "01 02"}]})"),
            d.image());
  EXPECT_EQ(d.entryBytes(2).substr(0, 12), "\xE5OLD     BAK");
  EXPECT_EQ(d.block(5).substr(0, 3), "\x01\x02\xE5");
}

// cpmtools reads our disk: names, users, exact sizes where S1 is set, whole last records
// where it is not, attributes; the erased file stays hidden and fsck finds nothing wrong.
TEST_F(Cpmtools, ReadsBuiltDisk) {
  CpmDiskBuilder d;
  d.addDeletedEntry("GONE", "BAK", std::string(5000, 'g'));  // its blocks go to BIG
  d.addFile(0, "HELLO", "TXT", kHello);
  d.addFile(3, "BIG", "DAT", kBig, {.readOnly = true, .lastRecordBytes = 40000 % 128});
  d.addFile(15, "SYS", "COM", kSys, {.system = true, .archive = true});
  d.writeTo(path("b.odi"));
  EXPECT_EQ(listed(path("b.odi"), "0:HELLO.TXT"), "-rw-rw-rw- 384");  // 300 -> 3 records
  EXPECT_EQ(listed(path("b.odi"), "3:BIG.DAT"), "-r--r--r-- 40000");
  EXPECT_EQ(listed(path("b.odi"), "15:SYS.COM").substr(10), " 128");
  EXPECT_EQ(listed(path("b.odi"), "0:GONE.BAK"), "");
  std::string ls;
  ASSERT_EQ(run("cpmls -f specmx -F " + path("b.odi"), &ls), 0);
  EXPECT_NE(ls.find("SYS      COM     2k      1      SA "), std::string::npos) << ls;
  EXPECT_EQ(run("fsck.cpm -n -f specmx " + path("b.odi"), &ls), 0) << ls;
  ASSERT_EQ(
      run("cpmcp -f specmx " + path("b.odi") + " 0:HELLO.TXT 3:BIG.DAT 15:SYS.COM " + dir.string()),
      0);
  // The last record counts whole; its tail holds what the erased file left there.
  EXPECT_EQ(readFile(dir / "hello.txt"), kHello + std::string(84, 'g'));
  EXPECT_EQ(readFile(dir / "big.dat"), kBig);
  EXPECT_EQ(readFile(dir / "sys.com"), kSys);
}

// cpmtools writes a disk: its directory is byte for byte ours when S1 is given as cpmtools
// sets it (an empty file: one entry, RC 0; 16 KB: one full extent); mkfs.cpm writes E5h
// over the reserved tracks and the directory, nothing beyond.
TEST_F(Cpmtools, WritesTheSameDirectory) {
  const std::string img = path("m.odi");
  ASSERT_EQ(run("mkfs.cpm -f specmx " + img), 0);
  EXPECT_EQ(readFile(img), std::string(0x6000, '\xE5'));
  const std::string k16 = pattern(16384, 3);
  const std::pair<std::string, const std::string*> files[] = {{"0:HELLO.TXT", &kHello},
                                                              {"3:BIG.DAT", &kBig},
                                                              {"15:SYS.COM", &kSys},
                                                              {"0:E", nullptr},
                                                              {"2:X.16K", &k16}};
  for (const auto& [name, body] : files) {
    std::ofstream(path("f"), std::ios::binary) << (body ? *body : "");
    ASSERT_EQ(run("cpmcp -f specmx " + img + " " + path("f") + " " + name), 0) << name;
  }
  ASSERT_EQ(run("cpmchattr -f specmx " + img + " r 3:BIG.DAT"), 0);
  CpmDiskBuilder d({.withParameterBlock = false});
  d.addFile(0, "HELLO", "TXT", kHello, {.lastRecordBytes = 300 % 128});
  const CpmFile big = d.addFile(3, "BIG", "DAT", kBig, {.readOnly = true, .lastRecordBytes = 64});
  d.addFile(15, "SYS", "COM", kSys);
  d.addFile(0, "E", "", "");
  d.addFile(2, "X", "16K", k16);
  const std::string theirs = readFile(img);
  EXPECT_EQ(theirs.substr(0x5000, 0x1000), d.image().substr(0x5000, 0x1000));
  EXPECT_EQ(big.blocks.front(), 3);
  EXPECT_EQ(theirs.substr(cpm::blockOffset(3), kBig.size()), kBig);
}

// The benchmark's full disk: 60 files in 748 KB, sound for fsck.
TEST_F(Cpmtools, FullDiskIsSound) {
  std::ofstream(path("full.odi"), std::ios::binary) << cpmFullDiskImage();
  std::string out;
  EXPECT_EQ(run("fsck.cpm -n -f specmx " + path("full.odi"), &out), 0) << out;
  ASSERT_EQ(run("cpmls -f specmx -D " + path("full.odi"), &out), 0);
  EXPECT_NE(out.find("60 Files occupying    748K"), std::string::npos) << out;
}
