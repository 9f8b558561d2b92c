// odi extract and odi check over images and folders of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>

#include "extract/target.h"
#include "harness.h"
#include "image/catalogue.h"

using namespace clitest;
using namespace odibuild;

namespace {

// The names the window's copy gives the nested disk's files, as txt (the default form).
const std::vector<std::pair<std::string, std::string>> kNestedFiles = {
    {"README   TXT.txt", "README.TXT"},
    {"BIN2     DAT.txt", "BIN2.DAT"},
    {"ИГРЫ/TETRIS   COM.txt", "ИГРЫ/TETRIS.COM"},
    {"ИГРЫ/OLD/DEEP     TXT.txt", "ИГРЫ/OLD/DEEP.TXT"},
};

TEST(Extract, NestedDiskBesideTheImageMatchesCat) {
  TempDir dir;
  const std::string image = (dir / "nested.odi").string();
  nested_disk().writeTo(image);
  const Result r = run_odi({"extract", "--all", image});
  EXPECT_EQ(r.rc, 0) << r.err;
  const auto t = tree(dir / "nested");
  EXPECT_EQ(t.size(), kNestedFiles.size());
  for (const auto& [file, entry] : kNestedFiles) {
    ASSERT_TRUE(t.count(file)) << file;
    EXPECT_EQ(t.at(file), run_odi({"cat", image, entry}).out) << file;
  }
  EXPECT_NE(r.err.find("1 image, 4 files"), std::string::npos) << r.err;

  // Another form: other names, the bytes of cat in that form.
  EXPECT_EQ(run_odi({"extract", "-q", "--type", "rks", "--codepage", "dos", "--all", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "nested/ИГРЫ/TETRIS   COMd.rks"),
            run_odi({"cat", "--type", "rks", image, "ИГРЫ/TETRIS.COM"}).out);
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

void expect_same_as_window(const fs::path& image, const TempDir& scratch) {
  const std::string bytes = slurp(image);
  const odi::Image img(bytes);
  const fs::path copy = scratch / "window.odi";
  fs::copy_file(image, copy);
  odi::CatalogueStack stack;
  stack.reset_root(odi::disk_name(img));
  window_copy_all(copy, img, stack);
  run_odi({"extract", "-q", "--all", "-o", (scratch / "odi").string(), image.string()});
  EXPECT_FALSE(tree(scratch / "window").empty());
  EXPECT_EQ(tree(scratch / "odi"), tree(scratch / "window"));
}

TEST(Extract, SameTreeAsTheWindowsCopyButton) {
  TempDir dir, scratch;
  nested_disk().writeTo((dir / "nested.odi").string());
  expect_same_as_window(dir / "nested.odi", scratch);
  const char* real = std::getenv("ODI_REAL_DISKS");
  if (real != nullptr && *real != '\0') {
    TempDir again;
    expect_same_as_window(fs::path(real) / "bst_mx.odi", again);
  }
}

TEST(Extract, RootFilesOrNamedEntries) {
  TempDir dir;
  const std::string image = (dir / "nested.odi").string();
  nested_disk().writeTo(image);
  EXPECT_EQ(run_odi({"extract", "-q", image}).rc, 0);
  EXPECT_EQ(tree(dir / "nested").size(), 2u);  // README and BIN2, nothing below
  fs::remove_all(dir / "nested");

  EXPECT_EQ(run_odi({"extract", "-q", image, "ИГРЫ", "#0"}).rc, 0);  // a subtree and a file
  const auto t = tree(dir / "nested");
  EXPECT_EQ(t.size(), 3u);
  EXPECT_TRUE(t.count("ИГРЫ/OLD/DEEP     TXT.txt"));
  EXPECT_TRUE(t.count("README   TXT.txt"));

  EXPECT_EQ(run_odi({"extract", "-q", image, "NOPE"}).rc, 65);
  EXPECT_EQ(run_odi({"extract", "-q", (dir / "none.odi").string()}).rc, 66);
  EXPECT_EQ(run_odi({"extract", "-q", "--no-koi8", image}).rc, 64);
}

TEST(Extract, AllOverAFolderTree) {
  TempDir dir;
  nested_disk().writeTo((dir / "a.odi").string());
  fs::create_directories(dir / "sub/deeper");
  nested_disk().setDiskName("B").writeTo((dir / "sub/b.ODI").string());
  nested_disk().writeTo((dir / "sub/deeper/c.Odi").string());
  spit(dir / "sub/notes.txt", "not an image");
  const Result r = run_odi({"extract", "--all", dir.path().string()});
  EXPECT_EQ(r.rc, 0) << r.err;
  for (const char* root : {"a", "sub/b", "sub/deeper/c"})
    EXPECT_EQ(tree(dir / root).size(), kNestedFiles.size()) << root;
  EXPECT_NE(r.err.find("3 images, 12 files"), std::string::npos) << r.err;
}

TEST(Extract, DamagedDiskAmongSoundOnes) {
  TempDir dir;
  nested_disk().writeTo((dir / "1.odi").string());
  damaged_disk().writeTo((dir / "2.odi").string());
  nested_disk().writeTo((dir / "3.odi").string());
  spit(dir / "4.odi", "");  // empty: read, nothing in it
  const Result r = run_odi({"extract", "--all", "--jobs", "2", dir.path().string()});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("2.odi: BROKEN   BIN: bad FAT chain"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 damaged entry"), std::string::npos) << r.err;
  EXPECT_EQ(tree(dir / "1").size(), 4u);
  EXPECT_EQ(tree(dir / "3").size(), 4u);
  EXPECT_EQ(slurp(dir / "2/BROKEN   BIN.txt"), cp1251("ОШИБКА  FATа"));
  EXPECT_TRUE(fs::exists(dir / "2/GOOD     BIN.txt"));
}

TEST(Extract, OutputRootForOneAndForSeveralImages) {
  TempDir dir;
  nested_disk().writeTo((dir / "one.odi").string());
  nested_disk().writeTo((dir / "two.odi").string());
  EXPECT_EQ(run_odi({"extract", "-q", "--all", "-o", (dir / "out1/x").string(),
                     (dir / "one.odi").string()})
                .rc,
            0);
  EXPECT_EQ(tree(dir / "out1/x").size(), 4u);  // ROOT is the root itself
  EXPECT_EQ(run_odi({"extract", "-q", "--all", "-o", (dir / "out2").string(),
                     (dir / "one.odi").string(), (dir / "two.odi").string()})
                .rc,
            0);
  EXPECT_EQ(tree(dir / "out2/one"), tree(dir / "out1/x"));
  EXPECT_EQ(tree(dir / "out2/two"), tree(dir / "out1/x"));
  EXPECT_FALSE(fs::exists(dir / "one"));  // nothing beside the images
}

TEST(Extract, NoClobberKeepsExistingFiles) {
  TempDir dir;
  const std::string image = (dir / "n.odi").string();
  nested_disk().writeTo(image);
  spit(dir / "n/README   TXT.txt", "mine");
  EXPECT_EQ(run_odi({"extract", "-q", "--no-clobber", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "n/README   TXT.txt"), "mine");
  EXPECT_TRUE(fs::exists(dir / "n/BIN2     DAT.txt"));
  EXPECT_EQ(run_odi({"extract", "-q", image}).rc, 0);
  EXPECT_EQ(slurp(dir / "n/README   TXT.txt"), run_odi({"cat", image, "#0"}).out);
}

TEST(Extract, OneJobOrFourGiveTheSameTree) {
  TempDir dir;
  fs::create_directories(dir / "in");
  for (int i = 0; i < 6; ++i) {
    DiskBuilder d = i % 3 == 2 ? damaged_disk() : nested_disk();
    d.writeTo((dir / ("in/d" + std::to_string(i) + ".odi")).string());
  }
  nested_disk().writeTo((dir / "in/d0.ODI").string());  // the same folder as d0.odi
  const Result one = run_odi(
      {"extract", "--all", "--jobs", "1", "-o", (dir / "j1").string(), (dir / "in").string()});
  const Result four = run_odi(
      {"extract", "--all", "--jobs", "4", "-o", (dir / "j4").string(), (dir / "in").string()});
  EXPECT_EQ(one.rc, 1);
  EXPECT_EQ(four.rc, 1);
  EXPECT_EQ(one.err, four.err);
  EXPECT_EQ(tree(dir / "j1"), tree(dir / "j4"));
  EXPECT_TRUE(fs::exists(dir / "j1/d0~2"));
}

// ---- check ----

std::set<std::string> kinds_of(const DiskBuilder& disk) {
  TempDir dir;
  const std::string image = (dir / "d.odi").string();
  disk.writeTo(image);
  const Result r = run_odi({"check", "--json", image});
  std::set<std::string> kinds;
  const auto j = nlohmann::json::parse(r.out);
  for (const auto& p : j["problems"]) kinds.insert(p["kind"].get<std::string>());
  EXPECT_EQ(r.rc, kinds.empty() ? 0 : 1);
  EXPECT_EQ(j["sound"], kinds.empty());
  return kinds;
}

TEST(Check, SaysNothingOfASoundDisk) {
  TempDir dir;
  nested_disk().writeTo((dir / "n.odi").string());
  const Result r = run_odi({"check", (dir / "n.odi").string()});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Check, FindsEachKindOfDamage) {
  auto three = [](DiskBuilder& d) {
    return d.addFile(d.root(), file_spec("F", "BIN", {}, 0x100, std::string(2500, 'f')));
  };
  auto expect = [](const DiskBuilder& d, std::set<std::string> want) {
    EXPECT_EQ(kinds_of(d), want);
  };
  {
    DiskBuilder d;
    d.setRecordByte(three(d), rec::kSector, 0);
    expect(d, {"bad_first_address"});
  }
  {
    DiskBuilder d;
    const File f = three(d);
    d.setFatCell(d.chain(f)[0], 11, 3);
    expect(d, {"bad_link"});
  }
  {
    DiskBuilder d;
    const File f = three(d);
    d.setFatCell(d.chain(f)[1], 0, 0);
    expect(d, {"free_sector"});
  }
  {
    DiskBuilder d;
    const File f = three(d);
    const int first = d.chain(f)[0];
    d.setFatCell(d.chain(f)[1], static_cast<std::uint8_t>(sectorOf(first)),
                 static_cast<std::uint8_t>(trackOf(first)));
    expect(d, {"chain_loop"});
  }
  {
    DiskBuilder d;
    d.setRecordWord(three(d), rec::kSize, 5);  // the chain ends at its third sector
    expect(d, {"chain_short", "size_mismatch"});
  }
  {
    DiskBuilder d;
    d.setRecordWord(three(d), rec::kSize, 2);  // the second sector still links on
    expect(d, {"chain_long", "size_mismatch"});
  }
  {
    DiskBuilder d;
    d.setRecordWord(three(d), rec::kEnd, 0x100 + 5000);
    expect(d, {"size_mismatch"});
  }
  {
    DiskBuilder d;
    d.setRecordWord(three(d), rec::kChecksum, 0x1234);
    expect(d, {"checksum"});
  }
  {
    DiskBuilder d;
    const File f = three(d);
    d.truncate(sectorOffset(d.chain(f)[2]) + 10);
    expect(d, {"past_end", "short_image"});
  }
  {
    DiskBuilder d;
    d.truncate(400000);
    expect(d, {"short_image"});
  }
  {
    // No signature, nothing in the root and no FAT as MX_DOS formats one: no known file system.
    // (With the FAT it is an empty MX_DOS data disk: a note, no damage.)
    DiskBuilder d;
    d.clearSignature();
    d.setFatCell(12, 0, 0);
    expect(d, {"no_signature"});
  }
  {
    DiskBuilder d;  // a second record of the same file: two chains over the same sectors
    const File f = three(d);
    std::string copy = d.image().substr(d.recordOffset(f), 32);
    copy.replace(3, 1, "G");
    d.addRawRecord(d.root(), copy);
    expect(d, {"shared_sector"});
  }
  {
    DiskBuilder d;  // a catalogue that lists the root
    const Cat c = d.addCatalogue(d.root(), "LOOP");
    RecordFields up;
    up.name = "UP", up.kind = kKindCatalogue, up.sector = 3, up.track = 1;
    d.addRawRecord(c, makeRecord(up));
    expect(d, {"catalogue_loop"});
  }
  {
    DiskBuilder d;
    Cat c = d.root();
    for (int i = 0; i < 11; ++i) c = d.addCatalogue(c, "L" + std::to_string(i));
    expect(d, {"too_deep"});
  }
  {
    DiskBuilder d;  // 32 records and the next sector carries on with a marker
    RecordFields empty;
    empty.sector = 0xAA, empty.start = 0x100, empty.end = 0xFF;
    for (int i = 0; i < 32; ++i) {
      empty.name = "E" + std::to_string(i);
      d.addRawRecord(d.root(), makeRecord(empty));
    }
    d.poke(0x3400, "\xD3\xD3\xD3");
    expect(d, {"records_past_32"});
  }
}

TEST(Check, FolderOfImagesInText) {
  TempDir dir;
  nested_disk().writeTo((dir / "good.odi").string());
  damaged_disk().writeTo((dir / "bad.odi").string());
  const Result r = run_odi({"check", dir.path().string()});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out.find("good.odi"), std::string::npos);
  EXPECT_NE(r.out.find("bad.odi: BROKEN   BIN: the FAT cell of sector"), std::string::npos)
      << r.out;
}

TEST(Check, RealDisks) {
  const char* where = std::getenv("ODI_REAL_DISKS");
  if (where == nullptr || *where == '\0') GTEST_SKIP() << "ODI_REAL_DISKS is not set";
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
