// The CP/M reader: what a disk is taken for, exact bodies and copy forms, the listing odi prints,
// damage the check finds, and the reader against cpmtools.
#include <gtest/gtest.h>

#include "builder/cpmbuild.h"
#include "cli/harness.h"
#include "extract/copy_buf.h"
#include "image/cpm/cpm.h"
#include "image/fs.h"

using namespace odibuild;
using clitest::cpmtools;
using clitest::run_odi;
using clitest::TempDir;

namespace {

struct Disk {
  std::string bytes;
  odi::Image img;
  std::unique_ptr<odi::FileSystem> fs;
  explicit Disk(std::string b) : bytes(std::move(b)), img(bytes), fs(odi::open_file_system(img)) {}
  std::vector<odi::Entry> root() const { return fs->list(fs->root()); }
};

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
  return s;
}

std::vector<std::string> kinds(const std::vector<odi::Problem>& ps) {
  std::vector<std::string> k;
  for (const auto& p : ps) k.push_back(p.path + ": " + p.kind);
  return k;
}

}  // namespace

TEST(CpmDetect, EachKindOfDisk) {
  CpmDiskBuilder with;
  with.addFile(0, "A", "", "a");
  CpmDiskBuilder without({.withParameterBlock = false});
  without.addFile(2, "B", "COM", "b");
  const Disk a(with.image()), b(without.image());
  EXPECT_EQ(a.fs->kind(), odi::FsKind::Cpm);
  EXPECT_EQ(a.fs->layout_facts()[1].second, "the parameter block in the first sector");
  EXPECT_EQ(b.fs->kind(), odi::FsKind::Cpm);
  EXPECT_EQ(b.fs->layout_facts()[1].second, "the usual layout (the disk holds no parameter block)");
  EXPECT_EQ(Disk(CpmDiskBuilder({.withParameterBlock = false}).image()).fs->kind(),
            odi::FsKind::Blank);
  EXPECT_EQ(Disk(DiskBuilder().image()).fs->kind(), odi::FsKind::MxDos);
  EXPECT_EQ(Disk(pattern(819200)).fs->kind(), odi::FsKind::Unknown);
  // A parameter block that contradicts itself (BLM not 2^BSH - 1) is not taken; the directory
  // behind it still is.
  std::string odd = with.image();
  odd[0x13] = 0x07;
  EXPECT_EQ(Disk(odd).fs->layout_facts()[1].second,
            "the usual layout (the disk holds no parameter block)");
}

// S1 0 (CP/M's own) counts the last record whole, with what the disk held behind the body; S1 as
// cpmtools writes it gives the exact length (lengths around record, block and extent sizes are
// read back in tests/write). Extents go by their numbers, not by their places in the directory.
TEST(CpmRead, WholeRecordsAndExtentOrder) {
  CpmDiskBuilder d;
  const CpmFile big = d.addFile(1, "BIG", "", pattern(39999), {.lastRecordBytes = 39999 % 128});
  d.addFile(0, "WHOLE", "", "abc");
  const std::string first = d.entryBytes(big.entries[0]);
  d.setEntry(big.entries[0], d.entryBytes(big.entries[2])).setEntry(big.entries[2], first);
  const Disk disk(d.image());
  EXPECT_EQ(disk.fs->body(disk.root()[0]), "abc" + std::string(125, '\xE5'));
  EXPECT_EQ(disk.fs->walk(disk.fs->list(1)[0]).ERR_COP, 0);
  EXPECT_EQ(disk.fs->body(disk.fs->list(1)[0]), pattern(39999));
  EXPECT_TRUE(disk.fs->check().empty());
}

// txt stops at the first 1Ah; rks loads at 0100h and ends in the monitor's sum; a body that
// would load past FFFFh has no rks form.
TEST(CpmRead, CopyForms) {
  CpmDiskBuilder d;
  d.addFile(0, "T", "TXT", "AB\r\n\x1A junk", {.lastRecordBytes = 11});
  d.addFile(0, "C", "COM", "\x01\x02\x03", {.lastRecordBytes = 3});
  d.addFile(0, "HUGE", "", pattern(0xFF01), {.lastRecordBytes = 0xFF01 % 128});
  const Disk disk(d.image());
  const auto rows = disk.root();
  odi::Options txt, rks;
  rks.txt = false;
  rks.rks = true;
  EXPECT_EQ(odi::COPY_BUF(*disk.fs, rows[0], txt, rows[0].date).BUF_FIL,
            "AB\r\n\r\nName: 'T        TXT' \\ 1K\r\nData: --.--.--");
  EXPECT_EQ(odi::COPY_BUF(*disk.fs, rows[1], rks, rows[1].date).BUF_FIL,
            std::string("\x00\x01\x02\x00\x01\x02\x03\x06\x03", 9));
  const odi::CopyResult huge = odi::COPY_BUF(*disk.fs, rows[2], rks, rows[2].date);
  EXPECT_EQ(huge.ERR_COP, odi::kCopyTooLarge);
}

TEST(CpmRead, ListingAndExtract) {
  TempDir t;
  CpmDiskBuilder d;
  d.addFile(0, "HELLO", "TXT", "hi", {.lastRecordBytes = 2});
  d.addFile(3, "GAME", "COM", pattern(3000), {.system = true, .archive = true});
  d.addFile(0, "RO", "", pattern(20000), {.readOnly = true, .lastRecordBytes = 20000 % 128});
  d.writeTo((t / "c.odi").string());
  EXPECT_EQ(run_odi({"ls", "-R", (t / "c.odi").string()}).out,
            "/:\n"
            "ROW  NAME            SIZE  KIND       DATE      T/S  START  END   SUM\n"
            "  0  HELLO    TXT      1K  file       --.--.--  B2   0100   0101  68D1\n"
            "  1  RO           R   20K  file       --.--.--  B5   0100   4F1F  F8F0\n"
            "  2  USER 3            3K  catalogue  --.--.--\n"
            "\nUSER 3:\n"
            "ROW  NAME             SIZE  KIND  DATE      T/S  START  END   SUM\n"
            "  0  GAME     COM SA    3K  file  --.--.--  B3   0100   0CFF  F1C4\n");
  EXPECT_EQ(run_odi({"extract", "-q", "--all", "--type", "bin", (t / "c.odi").string()}).rc, 0);
  EXPECT_EQ(clitest::slurp(t / "c" / "USER 3" / "GAME     COM.bin").size(), 3072u);
}

// Each kind of damage, found once, on the file it belongs to; a sound disk is silent.
TEST(CpmCheck, Damage) {
  CpmDiskBuilder d;
  const CpmFile a = d.addFile(0, "A", "", pattern(40000));  // 3 extents
  const CpmFile b = d.addFile(0, "B", "", pattern(3000));
  const CpmFile c = d.addFile(1, "C", "", pattern(100), {.lastRecordBytes = 100});
  const CpmFile e = d.addFile(0, "E", "", pattern(5000));
  d.addFile(0, "OK", "", pattern(5000));
  d.setEntryByte(a.entries[1], cpm::kUser, 0xE5);     // a missing middle extent
  d.setEntryByte(b.entries[0], cpm::kBlocks + 2, 2);  // B's second block is A's first
  d.setEntryByte(b.entries[0], cpm::kBlocks + 3, 0);
  d.setEntryByte(c.entries[0], cpm::kS1, 200);           // S1 past a record
  d.setEntryByte(e.entries[0], cpm::kRc, 0x50);          // more records than blocks
  d.setEntryByte(e.entries[0], cpm::kBlocks + 4, 0x90);  // a block past DSM
  d.setEntryByte(e.entries[0], cpm::kBlocks + 5, 0x01);
  const Disk disk(d.image());
  EXPECT_EQ(
      kinds(disk.fs->check()),
      (std::vector<std::string>{"A: missing_extent", "B: shared_block",
                                "USER 1/C: last_record_bytes", "E: bad_block", "E: record_count"}));
  EXPECT_EQ(disk.fs->walk(disk.root()[0]).ERR_COP, odi::kCopyBadFat);
  TempDir t;
  d.writeTo((t / "d.odi").string());
  EXPECT_EQ(run_odi({"check", (t / "d.odi").string()}).rc, 1);
}

// On a disk the builder made (several users, three extents, an erased file, S1 set or not;
// cpmtools writing is in tests/write): cpmtools lists the files odi lists, and cpmcp copies out
// what odi cat --type bin does.
TEST(CpmRead, AgreesWithCpmtools) {
  if (cpmtools("command -v cpmls cpmcp").empty()) GTEST_SKIP() << "cpmtools not on PATH";
  TempDir t;
  CpmDiskBuilder d;
  d.addDeletedEntry("GONE", "BAK", pattern(5000));
  d.addFile(0, "HELLO", "TXT", "Hello\r\n\x1A");
  d.addFile(4, "BIG", "DAT", pattern(40000), {.readOnly = true, .lastRecordBytes = 64});
  d.addFile(15, "S", "COM", pattern(700), {.system = true});
  const std::string img = (t / "c.odi").string(), out = (t / "out").string();
  d.writeTo(img);
  EXPECT_EQ(cpmtools("cpmls -f specmx " + img), "0:\nhello.txt\n\n4:\nbig.dat\n\n15:\ns.com\n");
  EXPECT_EQ(run_odi({"ls", "-R", img}).out.find("GONE"), std::string::npos);
  for (const auto& [theirs, ours] :
       std::vector<std::pair<std::string, std::string>>{{"0:hello.txt", "HELLO.TXT"},
                                                        {"4:big.dat", "USER 4/BIG.DAT"},
                                                        {"15:s.com", "USER 15/S.COM"}}) {
    cpmtools("rm -f " + out + "; cpmcp -f specmx " + img + " " + theirs + " " + out);
    EXPECT_EQ(run_odi({"cat", "--type", "bin", img, ours}).out, clitest::slurp(out)) << ours;
  }
}
