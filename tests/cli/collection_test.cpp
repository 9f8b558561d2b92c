// odi extract and odi check over images and folders of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "extract/target.h"
#include "harness.h"
#include "image/catalogue.h"

using namespace clitest;
using namespace odibuild;

namespace {

constexpr auto npos = std::string::npos;

const char* real_disks() {
  const char* where = std::getenv("ODI_REAL_DISKS");
  return where != nullptr && *where != '\0' ? where : nullptr;
}

// What copying every file in the window gives: the copy button's code, catalogue by catalogue.
void window_copy_all(const fs::path& image, const odi::Image& img, odi::CatalogueStack& stack) {
  const auto recs = odi::read_catalogue(img, stack.KAT_POS[static_cast<size_t>(stack.KAT_LEV)]);
  for (size_t i = 0; i < recs.size(); ++i) {
    const odi::Record& rec = recs[i];
    if (rec.is_file()) odi::copy_entry(image, img, stack, rec, odi::Options{});
    if (!rec.is_catalogue() ||
        stack.on_path(odi::sector_offset(rec.first_track(), rec.first_sector())))
      continue;
    odi::CatalogueStack inner = stack;
    if (inner.enter(rec, static_cast<int>(i))) window_copy_all(image, img, inner);
  }
}

// extract --all of `image` into scratch/odi makes the tree the window makes in scratch/window.
void expect_same_as_window(const fs::path& image, const TempDir& scratch) {
  const std::string bytes = slurp(image);
  const odi::Image img(bytes);
  fs::copy_file(image, scratch / "window.odi");
  odi::CatalogueStack stack;
  stack.reset_root(odi::disk_name(img));
  window_copy_all(scratch / "window.odi", img, stack);
  run_odi({"extract", "-q", "--all", "-o", (scratch / "odi").string(), image.string()});
  EXPECT_FALSE(tree(scratch / "window").empty());
  EXPECT_EQ(tree(scratch / "odi"), tree(scratch / "window"));
}

TEST(Extract, SameTreeAsTheWindowsCopyButton) {
  TempDir dir, scratch;
  const std::string image = (dir / "nested.odi").string();
  nested_disk().writeTo(image);
  expect_same_as_window(image, scratch);
  // Beside the image by default, under the window's names.
  const Result r = run_odi({"extract", "--all", image});
  EXPECT_EQ(r.rc, 0) << r.err;
  const auto t = tree(dir / "nested");
  std::set<std::string> names;
  for (const auto& [name, bytes] : t) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"BIN2     DAT.txt", "README   TXT.txt",
                                          "ИГРЫ/OLD/DEEP     TXT.txt", "ИГРЫ/TETRIS   COM.txt"}));
  EXPECT_EQ(t, tree(scratch / "odi"));
  EXPECT_NE(r.err.find("1 image, 4 files"), npos) << r.err;
  // Another form: other names, the bytes of cat in that form.
  EXPECT_EQ(run_odi({"extract", "-q", "--type", "rks", "--codepage", "dos", "--all", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "nested/ИГРЫ/TETRIS   COMd.rks"),
            run_odi({"cat", "--type", "rks", image, "ИГРЫ/TETRIS.COM"}).out);
  if (const char* real = real_disks()) {
    TempDir again;
    expect_same_as_window(fs::path(real) / "bst_mx.odi", again);
  }
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
  EXPECT_EQ(slurp(dir / "in/sub/deeper/c/BROKEN   BIN.txt"), cp1251("ОШИБКА  FATа"));
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

TEST(Check, RealDisks) {
  const char* where = real_disks();
  if (where == nullptr) GTEST_SKIP() << "ODI_REAL_DISKS is not set";
  const fs::path real(where);
  const Result sound = run_odi({"check", (real / "bst_mx.odi").string()});
  EXPECT_EQ(sound.rc, 0);
  EXPECT_EQ(sound.out, "");
  const Result damaged = run_odi({"check", "--json", (real / "AVVl_AVSh.odi").string()});
  EXPECT_EQ(damaged.rc, 1);
  int checksums = 0, shared = 0;
  const auto report = nlohmann::json::parse(damaged.out);
  for (const auto& p : report["problems"]) {
    checksums += p["kind"] == "checksum";
    shared += p["kind"] == "shared_sector";
  }
  EXPECT_EQ(checksums, 3);
  EXPECT_GT(shared, 0);
  // A data disk (no system, a sound catalogue) is sound, with a note; a blank disk says so.
  const Result data = run_odi({"check", (real / "2_DISK_2.odi").string()});
  EXPECT_EQ(data.rc, 0);
  EXPECT_NE(data.out.find("note: no \"Dos_MX\" signature: a data disk"), std::string::npos);
  EXPECT_NE(run_odi({"info", (real / "clear.odi").string()}).out.find("file system: blank\n"),
            std::string::npos);
}

}  // namespace
