// odi extract and odi check over images and folders of them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "harness.h"
#include "state/cp1251.h"

using namespace clitest;
using namespace odibuild;

namespace {

constexpr auto npos = std::string::npos;

// Every file below `root`: path relative to root -> content.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> t;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) t[fs::relative(e.path(), root).string()] = slurp(e.path());
  return t;
}

TEST(Extract, RootFilesNamedEntriesAndNoClobber) {
  TempDir dir;
  const std::string image = (dir / "nested.odi").string();
  nested_disk().writeTo(image);
  EXPECT_EQ(run_odi({"extract", "-q", image}).rc, 0);
  EXPECT_EQ(tree(dir / "nested").size(), 2u);  // README and BIN2, nothing below
  fs::remove_all(dir / "nested");
  EXPECT_EQ(run_odi({"extract", "-q", image, "ИГРЫ", "#0"}).rc, 0);  // a subtree and a file
  auto t = tree(dir / "nested");
  EXPECT_EQ(t.size(), 3u);
  EXPECT_TRUE(t.count("ИГРЫ/OLD/DEEP     TXT.txt") && t.count("README   TXT.txt"));
  EXPECT_EQ(run_odi({"extract", "-q", image, "NOPE"}).rc, 65);
  EXPECT_EQ(run_odi({"extract", "-q", (dir / "none.odi").string()}).rc, 66);
  EXPECT_EQ(run_odi({"extract", "-q", "--no-koi8", image}).rc, 64);
  // --no-clobber keeps a file that is there; without it the copy replaces it.
  spit(dir / "nested/README   TXT.txt", "mine");
  EXPECT_EQ(run_odi({"extract", "-q", "--no-clobber", "--all", image}).rc, 0);
  t = tree(dir / "nested");
  EXPECT_EQ(t.size(), 4u);
  EXPECT_EQ(t["README   TXT.txt"], "mine");
  EXPECT_EQ(run_odi({"extract", "-q", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "nested/README   TXT.txt"), run_odi({"cat", image, "#0"}).out);
  // Another form: other names, the bytes of cat in that form.
  EXPECT_EQ(run_odi({"extract", "-q", "--type", "rks", "--codepage", "dos", "--all", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "nested/ИГРЫ/TETRIS   COMd.rks"),
            run_odi({"cat", "--type", "rks", image, "ИГРЫ/TETRIS.COM"}).out);
}

TEST(Extract, FolderTreesOutputRootsAndJobs) {
  TempDir dir;
  fs::create_directories(dir / "in/sub/deeper");
  nested_disk().writeTo((dir / "in/a.odi").string());
  nested_disk().writeTo((dir / "in/a.ODI").string());  // the same folder as a.odi
  nested_disk().setDiskName("B").writeTo((dir / "in/sub/b.ODI").string());
  damaged_disk().writeTo((dir / "in/sub/deeper/c.Odi").string());
  spit(dir / "in/sub/notes.txt", "not an image");
  spit(dir / "in/e.odi", "");  // empty: read, nothing in it
  // Beside each image, at any depth.
  const Result r = run_odi({"extract", "--all", "--jobs", "2", (dir / "in").string()});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(tree(dir / "in/a").size(), 4u);
  EXPECT_EQ(tree(dir / "in/sub/b").size(), 4u);
  EXPECT_EQ(slurp(dir / "in/sub/deeper/c/BROKEN   BIN.txt"), odi::cp1251("ОШИБКА  FATа"));
  EXPECT_TRUE(fs::exists(dir / "in/sub/deeper/c/GOOD     BIN.txt"));
  EXPECT_NE(r.err.find("c.Odi: BROKEN   BIN: bad FAT chain"), npos) << r.err;
  EXPECT_NE(r.err.find("5 images, 14 files"), npos) << r.err;
  EXPECT_NE(r.err.find("1 damaged entry"), npos) << r.err;
  // Under -o ROOT, one folder per image, the same whatever the number of jobs.
  const std::string in = (dir / "in").string();
  const Result one = run_odi({"extract", "--all", "-j", "1", "-o", (dir / "j1").string(), in});
  const Result four = run_odi({"extract", "--all", "-j", "4", "-o", (dir / "j4").string(), in});
  EXPECT_EQ(one.rc, 1);
  EXPECT_EQ(one.err, four.err);
  EXPECT_EQ(tree(dir / "j1"), tree(dir / "j4"));
  EXPECT_EQ(tree(dir / "j1/a~2"), tree(dir / "in/a"));
  // With one image ROOT is the root itself.
  EXPECT_EQ(run_odi({"extract", "-q", "--all", "-o", (dir / "x/y").string(), in + "/a.odi"}).rc, 0);
  EXPECT_EQ(tree(dir / "x/y"), tree(dir / "in/a"));
}

// A run killed while it writes a fresh disk's tree leaves nothing under the disk's name, only the
// hidden folder, which the next run removes before it writes the tree whole. The kill is the
// system's own: a file-size limit the third file crosses.
TEST(Extract, AKilledRunLeavesNoPartTreeAndTheNextRunCleansUp) {
  TempDir dir;
  const std::string image = (dir / "k.odi").string();
  nested_disk().writeTo(image);
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 2000;  // README and BIN2 fit, TETRIS (2500 bytes) does not
  setrlimit(RLIMIT_FSIZE, &small);
  Running killed = start_odi({"extract", "-q", "--all", "--type", "bin", image});
  setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(finish_odi(killed).rc, -1);
  EXPECT_FALSE(fs::exists(dir / "k"));
  std::vector<fs::path> hidden;
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename().string().rfind(".k.odi-tmp.", 0) == 0) hidden.push_back(e.path());
  ASSERT_EQ(hidden.size(), 1u);
  EXPECT_FALSE(fs::is_empty(hidden[0]));
  // Of the same pattern but not ours to remove: a folder whose writer still runs (this test), a
  // file.
  const std::string live = ".k.odi-tmp." + std::to_string(getpid()) + ".0";
  fs::create_directory(dir / live);
  const std::string file = ".k.odi-tmp." + std::to_string(killed.pid) + ".1";
  spit(dir / file, "");
  EXPECT_EQ(run_odi({"extract", "-q", "--all", "--type", "bin", image}).rc, 0);
  EXPECT_FALSE(fs::exists(hidden[0]));
  EXPECT_TRUE(fs::exists(dir / live) && fs::exists(dir / file));
  EXPECT_EQ(tree(dir / "k").size(), 4u);
  EXPECT_EQ(slurp(dir / "k/ИГРЫ/TETRIS   COM.bin"),
            run_odi({"cat", "--type", "bin", image, "ИГРЫ/TETRIS.COM"}).out);
}

// Into a folder that is there, the disk's files replace theirs and every other file stays; the
// files are the same as those of a fresh tree, on the generated disks and the real ones.
TEST(Extract, AnExistingFolderKeepsItsOtherFilesAndFreshTreesMatchIt) {
  TempDir dir;
  std::vector<std::string> images;
  // A body in sectors apart and out of order: a fresh tree writes it from the image in pieces.
  DiskBuilder scattered;
  std::string body(3500, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 1024);
  scattered.addFile(scattered.root(), fileSpec("S", "BIN", 0, body).inSectors({13, 14, 700, 12}));
  for (const auto& [name, disk] :
       {std::pair{"n", nested_disk()}, {"d", damaged_disk()}, {"s", scattered}}) {
    images.push_back((dir / (std::string(name) + ".odi")).string());
    disk.writeTo(images.back());
  }
  if (const char* real = std::getenv("ODI_REAL_DISKS"); real != nullptr && *real != '\0')
    for (const auto& e : fs::directory_iterator(real))
      if (e.path().extension() == ".odi") images.push_back(e.path().string());
  std::vector<std::string> args{"extract", "-q", "--all", "-o", "", "--type", ""};
  args.insert(args.end(), images.begin(), images.end());
  for (const char* form : {"txt", "bin", "rks"}) {
    fs::remove_all(dir / "fresh");
    fs::remove_all(dir / "have");
    for (const std::string& image : images)
      fs::create_directories(dir / "have" / fs::path(image).stem());
    spit(dir / "have/n/mine.txt", "mine");
    spit(dir / ("have/n/README   TXT." + std::string(form)), "old");
    args[6] = form;
    args[4] = (dir / "fresh").string();
    const Result fresh = run_odi(args);
    args[4] = (dir / "have").string();
    EXPECT_EQ(run_odi(args).rc, fresh.rc);
    auto kept = tree(dir / "have");
    EXPECT_EQ(kept["n/mine.txt"], "mine");
    kept.erase("n/mine.txt");
    EXPECT_TRUE(kept == tree(dir / "fresh")) << form;  // (binary bytes: no dump of both)
  }
  EXPECT_EQ(slurp(dir / "fresh/n/README   TXT.rks"),
            run_odi({"cat", "--type", "rks", images[0], "#0"}).out);
}

// ---- check ----

TEST(Check, SilentOnASoundDiskAndNamesTheDamagedOnes) {
  TempDir dir;
  nested_disk().writeTo((dir / "good.odi").string());
  Result r = run_odi({"check", (dir / "good.odi").string()});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out + r.err, "");
  damaged_disk().writeTo((dir / "bad.odi").string());
  r = run_odi({"check", dir.path().string()});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out.find("good.odi"), npos);
  EXPECT_NE(r.out.find("bad.odi: BROKEN   BIN: the FAT cell of sector"), npos) << r.out;
  // The real disks: a data disk gets a note, the cross-linked disk its damage; the sound system
  // disks and the blank one say nothing.
  const char* real = std::getenv("ODI_REAL_DISKS");
  if (real == nullptr || *real == '\0') return;
  const std::string at = (fs::path(real) / "").string();
  r = run_odi({"check", real});
  EXPECT_EQ(r.rc, 1);
  std::string want =
      R"(@2_DISK_2.odi: note: no "Dos_MX" signature: a data disk (no system on track 0)
@AVVl_AVSh.odi: Penx_MX1/Masm_Pen COM: sector 1/4 also belongs to catalogue Penx_MX1
@AVVl_AVSh.odi: Penx_MX1/Masm_Pen COM: checksum 240A of the body differs from the stored 3FA9
@AVVl_AVSh.odi: Penx_MX1/Penx_MX  LIB: sector 2/1 also belongs to catalogue CopyDis2
@AVVl_AVSh.odi: Penx_MX1/Penx_MX  LIB: checksum 4C13 of the body differs from the stored A57C
@AVVl_AVSh.odi: Penx_MX1/Penx__2  TXT: sector 6/1 also belongs to catalogue Edit_Trs
@AVVl_AVSh.odi: Penx_MX1/Penx__2  TXT: checksum E70C of the body differs from the stored BF0A
)";
  for (size_t at_sign; (at_sign = want.find('@')) != npos;) want.replace(at_sign, 1, at);
  EXPECT_EQ(r.out, want);
  EXPECT_NE(run_odi({"info", at + "clear.odi"}).out.find("file system: blank\n"), npos);
}

TEST(Check, FindsEachKindOfDamage) {
  // One disk, each entry damaged in its own way; every file but M has three sectors at 0100h.
  DiskBuilder d;
  std::map<std::string, File> f;
  for (const char* name : {"A", "B", "C", "D", "E", "G", "H", "I", "J"})
    f[name] = d.addFile(d.root(), fileSpec(name, "", 0x100, std::string(2500, *name)));
  d.setRecordByte(f["A"], rec::kSector, 0);
  d.setFatCell(d.chain(f["B"])[0], 11, 3);
  const int d0 = d.chain(f["D"])[0];
  d.setFatCell(d.chain(f["D"])[1], static_cast<std::uint8_t>(sectorOf(d0)),
               static_cast<std::uint8_t>(trackOf(d0)));
  d.setRecordWord(f["E"], rec::kSize, 5);  // the chain ends at its third sector
  d.setRecordWord(f["G"], rec::kSize, 2);  // the second sector still links on
  d.setRecordWord(f["H"], rec::kEnd, 0x100 + 5000);
  d.setRecordWord(f["I"], rec::kChecksum, 0x1234);
  std::string k = d.image().substr(d.recordOffset(f["J"]), 32);
  d.addRawRecord(d.root(), k.replace(3, 1, "K"));  // K: a second chain over J's sectors
  RecordFields up;                                 // a catalogue that lists the root
  up.name = "UP", up.kind = kKindCatalogue, up.sector = 3, up.track = 1;
  d.addRawRecord(d.addCatalogue(d.root(), "LOOP"), makeRecord(up));
  Cat c = d.root();
  for (int i = 0; i < 11; ++i) c = d.addCatalogue(c, "L" + std::to_string(i));
  // 32 records, and the next sector (M's first) carries on with a marker.
  CatalogueSpec full;
  full.name = "FULL", full.selfRecord = false;
  const Cat many = d.addCatalogue(d.root(), full);
  d.addFile(d.root(), fileSpec("M", "", 0, "\xD3\xD3\xD3"));
  RecordFields empty;
  empty.sector = 0xAA, empty.start = 0x100, empty.end = 0xFF;
  for (int i = 0; i < 32; ++i) d.addRawRecord(many, makeRecord(empty));
  // C's second sector marked free: last, as the builder would hand a free sector out again.
  d.setFatCell(d.chain(f["C"])[1], 0, 0);
  // Z lies past the end of the image; the image has no signature, but its catalogue reads: a
  // data disk, which is only a note.
  d.addFile(d.root(), fileSpec("Z", "", 0, std::string(2000, 'z')).inSectors({790, 791}));
  d.truncate(sectorOffset(791) + 10).clearSignature();

  TempDir dir;
  d.writeTo((dir / "d.odi").string());
  const Result r = run_odi({"check", "--json", (dir / "d.odi").string()});
  EXPECT_EQ(r.rc, 1);
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["sound"], false);
  std::set<std::string> found;
  for (const auto& p : j["problems"])
    found.insert(p["path"].get<std::string>() + " " + p["kind"].get<std::string>());
  EXPECT_EQ(
      found,
      (std::set<std::string>{
          " data_disk", " short_image", "A bad_first_address", "B bad_link", "C free_sector",
          "D chain_loop", "E chain_short", "E size_mismatch", "G chain_long", "G size_mismatch",
          "H size_mismatch", "I checksum", "K shared_sector", "LOOP/UP catalogue_loop",
          "L0/L1/L2/L3/L4/L5/L6/L7/L8/L9/L10 too_deep", "FULL records_past_32", "Z past_end"}));
}

}  // namespace
