// odi info, ls, cat: golden outputs, the bytes of each form, exit statuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "extract/copy_buf.h"
#include "harness.h"
#include "image/catalogue.h"

using namespace clitest;
using namespace odibuild;

namespace {

// Golden tables of the nested disk.
#define ROOT_TABLE                                                         \
  "ROW  NAME          SIZE  KIND       DATE      T/S  START  END   SUM\n"  \
  "  0  README   TXT    1K  file       01.09.92  1/4  1100   111C  D6C4\n" \
  "  1  ИГРЫ            4K  catalogue  02.09.92  1/5\n"                \
  "  2  BIN2     DAT    1K  file       31.12.99  2/1  0000   03FF  4800\n"
#define GAMES_TABLE                                                        \
  "ROW  NAME          SIZE  KIND       DATE      T/S  START  END   SUM\n"  \
  "  0  TETRIS   COM    3K  file       03.10.93  1/6  9000   99C3  D656\n" \
  "  1  OLD             1K  catalogue  04.11.94  1/9\n"

class Browse : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = nested_disk();
    image_ = (dir_ / "nested.odi").string();
    disk_.writeTo(image_);
  }
  // The record of `row` in the catalogue at `pos` of the disk.
  odi::Record record(std::int64_t pos, int row) const {
    return odi::read_catalogue(odi::Image(disk_.image()), pos).at(static_cast<size_t>(row));
  }
  std::string copy_buf(const odi::Record& rec, const odi::Options& opt) const {
    return odi::COPY_BUF(odi::Image(disk_.image()), rec, opt, odi::FIL_DAT(rec, odi::today_text()))
        .BUF_FIL;
  }

  TempDir dir_;
  DiskBuilder disk_;
  std::string image_;
};

TEST_F(Browse, InfoShowsVersionAndDiskName) {
  const Result r = run_odi({"info", image_});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "version: Dos_MX V3.6\ndisk name: WORK\nfile system: MX_DOS\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Browse, LsTableOfTheRootAndOfACatalogue) {
  const Result r = run_odi({"ls", image_});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, ROOT_TABLE);
  const Result sub = run_odi({"ls", image_, "ИГРЫ"});
  EXPECT_EQ(sub.rc, 0);
  EXPECT_EQ(sub.out, GAMES_TABLE);
}

TEST_F(Browse, LsRecursiveTable) {
  const Result r = run_odi({"ls", "-R", image_});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "/:\n" ROOT_TABLE "\nИГРЫ:\n" GAMES_TABLE
                   "\nИГРЫ/OLD:\n"
                   "ROW  NAME          SIZE  KIND  DATE      T/S   START  END   SUM\n"
                   "  0  DEEP     TXT    1K  file  05.12.95  1/10  1100   110E  4F49\n");
}

TEST_F(Browse, LsJsonRecursive) {
  const Result r = run_odi({"ls", "--json", "-R", image_});
  ASSERT_EQ(r.rc, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  std::vector<std::string> paths;
  for (const auto& e : j) paths.push_back(e["path"]);
  // The self-records in slot 31 stand after a gap: never listed, never followed.
  EXPECT_EQ(paths, (std::vector<std::string>{"README   TXT", "ИГРЫ", "ИГРЫ/TETRIS   COM",
                                             "ИГРЫ/OLD", "ИГРЫ/OLD/DEEP     TXT", "BIN2     DAT"}));
  const auto& tetris = j[2];
  EXPECT_EQ(tetris["row"], 0);
  EXPECT_EQ(tetris["text"], "TETRIS   COM 3K");
  EXPECT_EQ(tetris["name"], "TETRIS   COM");
  EXPECT_EQ(tetris["kind"], "file");
  EXPECT_EQ(tetris["size_kb"], 3);
  EXPECT_EQ(tetris["date"], "03.10.93");
  EXPECT_EQ(tetris["start"], 0x9000);
  EXPECT_EQ(tetris["end"], 0x9000 + 2499);
  EXPECT_EQ(tetris["checksum_ok"], true);
  EXPECT_TRUE(j[1]["checksum_ok"].is_null());
  EXPECT_EQ(j[1]["kind"], "catalogue");
  // ИГРЫ is the second entry the disk was given.
  EXPECT_EQ(j[1]["first_track"].get<int>() * 10 + j[1]["first_sector"].get<int>() - 1,
            disk_.catalogueSector(Cat{{2}}));
}

TEST_F(Browse, LsRecursiveNeverEntersACatalogueOnItsPath) {
  // OLD lists a record of ИГРЫ, its parent: -R shows it and goes no further.
  const auto games = odi::read_catalogue(odi::Image(disk_.image()), 0x3000).at(1);
  std::string up(games.raw());
  disk_.addRawRecord(Cat{{4}}, up);  // OLD: the fourth entry added
  disk_.writeTo(image_);
  const Result r = run_odi({"ls", "--json", "-R", image_});
  ASSERT_EQ(r.rc, 0);
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j.size(), 7u);
  EXPECT_EQ(j[5]["path"], "ИГРЫ/OLD/ИГРЫ");
}

TEST_F(Browse, LsRecursiveStopsAtLevelTen) {
  DiskBuilder deep;
  Cat c = deep.root();
  for (int i = 0; i < 12; ++i) c = deep.addCatalogue(c, "L" + std::to_string(i));
  deep.writeTo(image_);
  const auto j = nlohmann::json::parse(run_odi({"ls", "--json", "-R", image_}).out);
  // Levels 1..10 are entered and listed; the record of level 11 shows in level 10, unopened.
  ASSERT_EQ(j.size(), 11u);
  EXPECT_EQ(j.back()["path"], "L0/L1/L2/L3/L4/L5/L6/L7/L8/L9/L10");
}

TEST_F(Browse, CatGivesWhatCopyBufBuildsInEveryForm) {
  const odi::Record readme = record(0x3000, 0);
  struct Form {
    std::vector<std::string> flags;
    odi::Options opt;
  };
  odi::Options txt_dos;
  txt_dos.win = false, txt_dos.dos = true;
  odi::Options txt_none;
  txt_none.win = false;
  odi::Options koi7 = txt_dos;
  koi7.koi8 = false, koi7.koi7 = true;
  odi::Options both;
  both.koi7 = true;
  odi::Options bin, rom, rks;
  bin.txt = rom.txt = rks.txt = false;
  bin.bin = rom.rom = rks.rks = true;
  const std::vector<Form> forms = {
      {{}, odi::Options{}},
      {{"--type", "txt", "--codepage", "dos"}, txt_dos},
      {{"--codepage", "none"}, txt_none},
      {{"--codepage", "dos", "--no-koi8", "--koi7"}, koi7},
      {{"--koi7"}, both},
      {{"--type", "bin"}, bin},
      {{"--type", "rom"}, rom},
      {{"--type", "rks"}, rks},
  };
  for (const Form& f : forms) {
    std::vector<std::string> args = {"cat"};
    args.insert(args.end(), f.flags.begin(), f.flags.end());
    args.insert(args.end(), {image_, "README.TXT"});
    const Result r = run_odi(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, copy_buf(readme, f.opt)) << testing::PrintToString(f.flags);
    args.insert(args.begin() + 1, "--dump");
    EXPECT_EQ(run_odi(args).out, odi::DAMP_TXT(copy_buf(readme, f.opt), f.opt.win));
  }
}

TEST_F(Browse, CatNamesEntriesInEachWay) {
  const std::string deep = run_odi({"cat", "--type", "bin", image_, "ИГРЫ/OLD/DEEP     TXT"}).out;
  EXPECT_FALSE(deep.empty());
  for (const std::string name :
       {"ИГРЫ/OLD/DEEP.TXT", "#1/#1/#0", "ИГРЫ/old/deep.txt", "/ИГРЫ//OLD/#0"}) {
    const Result r = run_odi({"cat", "--type", "bin", image_, name});
    EXPECT_EQ(r.rc, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out, deep) << name;
  }
}

TEST_F(Browse, ExitStatuses) {
  EXPECT_EQ(run_odi({}).rc, 64);
  EXPECT_EQ(run_odi({"frobnicate"}).rc, 64);
  EXPECT_EQ(run_odi({"cat", image_}).rc, 64);
  EXPECT_EQ(run_odi({"cat", "--type", "exe", image_, "#0"}).rc, 64);
  const Result both_off = run_odi({"cat", "--no-koi8", image_, "#0"});
  EXPECT_EQ(both_off.rc, 64);
  EXPECT_NE(both_off.err.find("koi"), std::string::npos);
  EXPECT_EQ(run_odi({"cat", image_, "NOPE.TXT"}).rc, 65);
  EXPECT_EQ(run_odi({"cat", image_, "ИГРЫ"}).rc, 65);  // a catalogue is not a file
  EXPECT_EQ(run_odi({"cat", image_, "#9"}).rc, 65);
  EXPECT_EQ(run_odi({"ls", image_, "README.TXT"}).rc, 65);
  const Result missing = run_odi({"info", (dir_ / "none.odi").string()});
  EXPECT_EQ(missing.rc, 66);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);
  EXPECT_EQ(run_odi({"ls", dir_.path().string()}).rc, 66);
  EXPECT_EQ(run_odi({"cat", (dir_ / "none.odi").string(), "#0"}).rc, 66);
  EXPECT_EQ(run_odi({"--help"}).rc, 0);
  EXPECT_EQ(run_odi({"extract", "--help"}).rc, 0);
  EXPECT_EQ(run_odi({"--version"}).out.rfind("odi ", 0), 0u);
}

TEST_F(Browse, CatExitsWithTheErrorCodeOfTheCopy) {
  damaged_disk().writeTo(image_);
  Result r = run_odi({"cat", image_, "BROKEN.BIN"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.out, cp1251("ОШИБКА  FATа"));
  EXPECT_NE(r.err.find("BROKEN   BIN"), std::string::npos);

  DiskBuilder first = nested_disk();
  first.pokeByte(0x3000 + odibuild::rec::kSector, 0);
  first.writeTo(image_);
  r = run_odi({"cat", image_, "#0"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out, cp1251("ОШИБКА  в заголовке каталога"));

  DiskBuilder shortened = nested_disk();
  shortened.truncate(0x3400 + 10);  // the README's one sector is cut short
  shortened.writeTo(image_);
  EXPECT_EQ(run_odi({"cat", image_, "#0"}).rc, 3);
}

}  // namespace
