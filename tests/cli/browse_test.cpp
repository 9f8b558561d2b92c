// odi info, ls, cat: golden outputs, the bytes of each form, exit statuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "extract/copy_buf.h"
#include "harness.h"
#include "image/catalogue.h"
#include "state/cp1251.h"

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
  void SetUp() override { disk_.writeTo(image_); }
  nlohmann::json ls_json() const {
    return nlohmann::json::parse(run_odi({"ls", "--json", "-R", image_}).out);
  }

  TempDir dir_;
  DiskBuilder disk_ = nested_disk();
  std::string image_ = (dir_ / "nested.odi").string();
};

// The options the window's boxes give: type b(in), r(ks) or t(xt); code page w, d or none.
odi::Options form(char type, char cp, bool koi8 = true, bool koi7 = false) {
  odi::Options o;
  o.bin = type == 'b', o.rks = type == 'r', o.txt = type == 't';
  o.win = cp == 'w', o.dos = cp == 'd', o.koi8 = koi8, o.koi7 = koi7;
  return o;
}

TEST_F(Browse, InfoAndLsTables) {
  const Result info = run_odi({"info", image_});
  EXPECT_EQ(info.rc, 0);
  EXPECT_EQ(info.out, "version: Dos_MX V3.6\ndisk name: WORK\nfile system: MX_DOS\n");
  EXPECT_EQ(info.err, "");
  EXPECT_EQ(run_odi({"ls", image_}).out, ROOT_TABLE);
  EXPECT_EQ(run_odi({"ls", image_, "ИГРЫ"}).out, GAMES_TABLE);
  const Result r = run_odi({"ls", "-R", image_});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "/:\n" ROOT_TABLE "\nИГРЫ:\n" GAMES_TABLE
                   "\nИГРЫ/OLD:\n"
                   "ROW  NAME          SIZE  KIND  DATE      T/S   START  END   SUM\n"
                   "  0  DEEP     TXT    1K  file  05.12.95  1/10  1100   110E  4F49\n");
}

TEST_F(Browse, LsRecursiveStopsOnItsPathAndAtLevelTen) {
  // OLD lists a record of ИГРЫ, its parent: -R shows it and goes no further. The self-records
  // in slot 31 stand after a gap: never listed, never followed.
  const std::string up(odi::read_catalogue(odi::Image(disk_.image()), 0x3000).at(1).raw());
  disk_.addRawRecord(Cat{{4}}, up);  // OLD: the fourth entry added
  disk_.writeTo(image_);
  auto j = ls_json();
  std::vector<std::string> paths;
  for (const auto& e : j) paths.push_back(e["path"]);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"README   TXT", "ИГРЫ", "ИГРЫ/TETRIS   COM", "ИГРЫ/OLD",
                                      "ИГРЫ/OLD/DEEP     TXT", "ИГРЫ/OLD/ИГРЫ", "BIN2     DAT"}));
  EXPECT_EQ(j[2], nlohmann::json::parse(R"({"path": "ИГРЫ/TETRIS   COM", "ref": "#1/#0", "row": 0,
      "text": "TETRIS   COM 3K", "name": "TETRIS   COM", "disk_name": "TETRIS", "disk_ext": "COM",
      "kind": "file", "size_kb": 3, "bytes": 2500, "date": "03.10.93", "first_sector": 6,
      "first_track": 1, "start": 36864, "end": 39363, "checksum": 54870, "checksum_ok": true})"));
  EXPECT_EQ(j[1]["kind"], "catalogue");
  EXPECT_TRUE(j[1]["checksum_ok"].is_null());
  // Levels 1..10 are entered and listed; the record of level 11 shows in level 10, unopened.
  DiskBuilder deep;
  Cat c = deep.root();
  for (int i = 0; i < 12; ++i) c = deep.addCatalogue(c, "L" + std::to_string(i));
  deep.writeTo(image_);
  j = ls_json();
  ASSERT_EQ(j.size(), 11u);
  EXPECT_EQ(j.back()["path"], "L0/L1/L2/L3/L4/L5/L6/L7/L8/L9/L10");
}

TEST_F(Browse, CatGivesWhatCopyBufBuildsInEachFormAndByEachName) {
  const odi::Record readme = odi::read_catalogue(odi::Image(disk_.image()), 0x3000).at(0);
  const std::vector<std::pair<std::vector<std::string>, odi::Options>> forms = {
      {{}, form('t', 'w')},
      {{"--codepage", "none", "--koi7"}, form('t', 'n', true, true)},
      {{"--dump", "--type", "txt", "--codepage", "dos", "--no-koi8", "--koi7"},
       form('t', 'd', false, true)},
      {{"--type", "bin"}, form('b', 'w')},
      {{"--type", "rks"}, form('r', 'w')},
  };
  for (const auto& [flags, opt] : forms) {
    std::vector<std::string> args = {"cat"};
    args.insert(args.end(), flags.begin(), flags.end());
    args.insert(args.end(), {image_, "README.TXT"});
    const Result r = run_odi(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    const std::string want =
        odi::COPY_BUF(odi::Image(disk_.image()), readme, opt, odi::FIL_DAT(readme, "")).BUF_FIL;
    EXPECT_EQ(r.out, !flags.empty() && flags[0] == "--dump" ? odi::DAMP_TXT(want, false) : want)
        << testing::PrintToString(flags);
  }
  const std::string deep = run_odi({"cat", "--type", "bin", image_, "ИГРЫ/OLD/DEEP     TXT"}).out;
  EXPECT_FALSE(deep.empty());
  for (const std::string name :
       {"ИГРЫ/OLD/DEEP.TXT", "#1/#1/#0", "ИГРЫ/old/deep.txt", "/ИГРЫ//OLD/#0"})
    EXPECT_EQ(run_odi({"cat", "--type", "bin", image_, name}).out, deep) << name;
}

TEST_F(Browse, ExitStatuses) {
  const std::string none = (dir_ / "none.odi").string();
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{}, 64},
      {{"cat", "--type", "exe", image_, "#0"}, 64},
      {{"cat", image_, "NOPE.TXT"}, 65},
      {{"cat", image_, "ИГРЫ"}, 65},  // a catalogue is not a file
      {{"cat", image_, "#3"}, 65},    // one past the last row
      {{"ls", image_, "README.TXT"}, 65},
      {{"ls", dir_.path().string()}, 66},
      {{"cat", none, "#0"}, 66},
      {{"extract", "--help"}, 0},
  };
  for (const auto& [args, rc] : runs)
    EXPECT_EQ(run_odi(args).rc, rc) << testing::PrintToString(args);
  const Result both_off = run_odi({"cat", "--no-koi8", image_, "#0"});
  EXPECT_EQ(both_off.rc, 64);
  EXPECT_NE(both_off.err.find("koi"), std::string::npos);
  const Result missing = run_odi({"info", none});
  EXPECT_EQ(missing.rc, 66);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);
  EXPECT_EQ(run_odi({"--version"}).out.rfind("odi ", 0), 0u);
  // Only the subcommand named first is built; help and an unknown word still know them all.
  const std::string help = run_odi({"--help"}).out;
  for (const char* sub :
       {"info", "ls", "cat", "extract", "check", "new", "put", "mkdir", "rm", "mv", "mount"})
    EXPECT_NE(help.find(std::string("\n  ") + sub + " "), std::string::npos) << sub;
  EXPECT_EQ(run_odi({"extrakt", image_}).rc, 64);

  // cat of a damaged entry: the error text, and the copy's error code as the status.
  damaged_disk().writeTo(image_);
  Result r = run_odi({"cat", image_, "BROKEN.BIN"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.out, odi::cp1251("ОШИБКА  FATа"));
  EXPECT_NE(r.err.find("BROKEN   BIN"), std::string::npos);
  DiskBuilder first = nested_disk();
  first.pokeByte(0x3000 + rec::kSector, 0);
  first.writeTo(image_);
  r = run_odi({"cat", image_, "#0"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.out, odi::cp1251("ОШИБКА  в заголовке каталога"));
  first.truncate(0x3400 + 10);  // the README's one sector is cut short
  first.pokeByte(0x3000 + rec::kSector, 4);
  first.writeTo(image_);
  EXPECT_EQ(run_odi({"cat", image_, "#0"}).rc, 3);
}

}  // namespace
