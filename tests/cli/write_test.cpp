// odi new, put, mkdir, rm, mv run as processes: every form there and back on both file systems,
// exact names there and back, a real disk rebuilt by odi alone, refusals that leave the image
// byte for byte as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "harness.h"

using namespace clitest;

namespace {

constexpr auto npos = std::string::npos;

class Write : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string file(const std::string& name, const std::string& bytes) const {
    spit(dir_ / name, bytes);
    return path(name);
  }
  static Result ok(const std::vector<std::string>& args) {
    Result r = run_odi(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    return r;
  }
  // A refusal: the status, a message, the image as it was and no temporary file left behind.
  std::string refused(const std::vector<std::string>& args, int rc,
                      const std::string& image) const {
    const std::string before = slurp(image);
    const Result r = run_odi(args);
    EXPECT_EQ(r.rc, rc) << args[0] << " " << args.back() << ": " << r.err;
    EXPECT_NE(r.err, "");
    EXPECT_TRUE(slurp(image) == before) << args[0] << " " << args.back();
    for (const auto& e : fs::directory_iterator(dir_.path()))
      EXPECT_EQ(e.path().string().find(".odi-tmp."), std::string::npos) << e.path();
    return r.err;
  }
  static nlohmann::json listing(const std::string& image) {
    return nlohmann::json::parse(run_odi({"ls", "--json", "-R", image}).out);
  }
  // The nested disk of the harness, as a source of real bodies and forms.
  std::string nested() const {
    const std::string n = path("nested.odi");
    if (!fs::exists(n)) nested_disk().writeTo(n);
    return n;
  }

  TempDir dir_;
};

TEST_F(Write, NewMakesSoundDisksAndNeverOverwrites) {
  const std::string mx = path("m.odi"), cpm = path("c.odi");
  ok({"new", "--name", "GAME", mx});
  ok({"new", "--cpm", cpm});
  EXPECT_EQ(ok({"info", mx}).out, "version: нет версии\ndisk name: GAME\nfile system: MX_DOS\n");
  EXPECT_NE(ok({"info", cpm}).out.find("file system: CP/M 2.2"), std::string::npos);
  EXPECT_EQ(ok({"check", mx}).out.find("note: no \"Dos_MX\""), mx.size() + 2);
  EXPECT_EQ(ok({"check", cpm}).out, "");
  refused({"new", mx}, 1, mx);
  refused({"new", "--cpm", "--name", "X", mx}, 64, mx);
  refused({"new", "--name", "ИГРА", path("x.odi")}, 1, mx);
  EXPECT_FALSE(fs::exists(path("x.odi")));
  ok({"new", "--force", "--system-from", nested(), mx});
  EXPECT_EQ(slurp(mx).substr(0, 0x2900), slurp(nested()).substr(0, 0x2900));
  EXPECT_EQ(ok({"check", mx}).out, "");
  refused({"new", "--force", "--system-from", cpm, mx}, 1, mx);
}

TEST_F(Write, EveryFormThereAndBackOnBothFileSystems) {
  const std::string rks = ok({"cat", "--type", "rks", nested(), "ИГРЫ/TETRIS.COM"}).out;
  const std::string body = ok({"cat", "--type", "bin", nested(), "ИГРЫ/TETRIS.COM"}).out;
  for (const bool cpm : {false, true}) {
    SCOPED_TRACE(cpm ? "CP/M" : "MX_DOS");
    const std::string d = path(cpm ? "c.odi" : "m.odi");
    ok({"new", cpm ? "--cpm" : "--force", d});
    ok({"put", "--start", "0x9000", "--date", "03.10.93", d, "/", file("TETRIS.COM", body)});
    EXPECT_EQ(ok({"cat", "--type", "bin", d, "TETRIS.COM"}).out, body);
    // rks: the record and the body come back exactly (CP/M keeps no address: loaded at 0100h).
    ok({"put", "--rks", "--as", "T2.COM", d, "/", file("t.rks", rks)});
    const std::string back = ok({"cat", "--type", "rks", d, "T2.COM"}).out;
    EXPECT_EQ(back.substr(4), rks.substr(4));
    EXPECT_EQ(back.substr(0, 2), cpm ? std::string("\x00\x01", 2) : rks.substr(0, 2));
    ok({"put", "--rks", "--force", "--date", "03.10.93", d, "/", file("TETRIS.COM.rks", back)});
    EXPECT_EQ(ok({"cat", "--type", "rks", d, "TETRIS.COM"}).out, back);
    // txt in both code pages: cat, put and cat again give the same file.
    for (const std::string cp : {"win", "dos"}) {
      const std::string t1 = ok({"cat", "--codepage", cp, nested(), "README.TXT"}).out;
      ok({"put", "--txt", "--codepage", cp, "--force", "--date", "01.09.92", d, "/",
          file("README.TXT.txt", t1)});
      const std::string t2 = ok({"cat", "--codepage", cp, d, "README.TXT"}).out;
      EXPECT_TRUE(cpm || t2 == t1);
      ok({"put", "--txt", "--codepage", cp, "--force", "--date", "01.09.92", d, "/",
          file("README.TXT.txt", t2)});
      EXPECT_EQ(ok({"cat", "--codepage", cp, d, "README.TXT"}).out, t2);
    }
    // TABs went out as four blanks and the closing FFh as CR: that is what comes back.
    EXPECT_EQ(ok({"cat", "--type", "bin", d, "README.TXT"}).out,
              odibuild::koi8Text("Привет, мир!\n    вторая строка\n") + "\r");
    EXPECT_EQ(ok({"check", d}).rc, 0);
  }
  EXPECT_EQ(listing(path("m.odi"))[2]["date"], "03.10.93");
}

// Exact names: what put, mkdir and mv are given comes back as disk_name and disk_ext and finds
// the entry again ("\/" for a "/" inside a name), before the name another row shows ("CP/M" shows
// as "CP_M"); the writer of each file system says which bytes a name may hold.
TEST_F(Write, NamesListBackAsGiven) {
  const std::string d = path("d.odi");
  ok({"new", d});
  ok({"put", d, "/", file("Almaz_2..EXE", "a"), file("ПЕЩЕРА Ц.EXE", "b"), file("РП.COPY2.", "c"),
      file("a:b№", "d")});
  ok({"put", "--rks", d, "/", file("GAME     COM.rks", std::string("\0\1\0\0Z\x5A\0", 7))});
  ok({"mkdir", d, "Игры.1"});
  ok({"mkdir", d, "CP\\/M"});
  ok({"mkdir", d, "CP_M"});
  ok({"mkdir", d, "CP\\/M/A\\/B"});
  ok({"put", "--as", "P+Q.DAT", d, "CP_M", file("o", "other")});
  ok({"put", d, "CP\\/M", file("P+Q.DAT", "pq"), file("$$$", "$")});
  ok({"mv", d, "CP\\/M/$$$", "x/y:$.+"});
  const auto names = [](const std::string& image) {
    std::vector<std::string> out;
    for (const auto& e : listing(image))
      out.push_back(e["disk_name"].get<std::string>() + "|" + e["disk_ext"].get<std::string>());
    return out;
  };
  EXPECT_EQ(names(d), (std::vector<std::string>{"Almaz_2.|EXE", "CP/M|", "A/B|", "P+Q|DAT",
                                                "x/y:$|+", "CP_M|", "P+Q|DAT", "GAME|COM", "a:b№|",
                                                "Игры|1", "ПЕЩЕРА Ц|EXE", "РП.COPY2|"}));
  const auto cat = [&](const std::string& image, const std::string& entry) {
    return ok({"cat", "--type", "bin", image, entry}).out;
  };
  EXPECT_EQ(cat(d, "CP_M/P+Q.DAT"), "other");
  EXPECT_EQ(cat(d, "cp_m/p+q.dat"), "other");
  EXPECT_EQ(cat(d, "CP\\/M/P+Q.DAT"), "pq");
  EXPECT_EQ(cat(d, "CP\\/M/x\\/y:$.+"), "$");
  EXPECT_NE(refused({"put", "--as", "A\x01", d, "/", path("o")}, 1, d).find("01h"), npos);
  refused({"put", d, "/", file("TOOLONGNAME.BIN", "")}, 1, d);
  refused({"put", d, "/", file("Ъ", "")}, 1, d);  // no byte reads back as it
  ok({"rm", "-r", d, "CP\\/M"});                  // found again by its exact name, not as "CP_M"
  EXPECT_EQ(cat(d, "CP_M/P+Q.DAT"), "other");

  // CP/M: what cpmcp takes, in capitals; cpmls reads the names back.
  const std::string c = path("c.odi");
  ok({"new", "--cpm", c});
  ok({"put", "--as", "p+q.dat", c, "/", path("o")});
  ok({"put", "--as", "$$$.SUB", c, "USER 3", path("o")});
  ok({"mv", c, "P+Q.DAT", "RAM2+.COM"});
  EXPECT_EQ(names(c), (std::vector<std::string>{"RAM2+|COM", "USER 3|", "$$$|SUB"}));
  EXPECT_EQ(cat(c, "USER 3/$$$.SUB"), "other");
  EXPECT_NE(refused({"put", "--as", "A<B", c, "/", path("o")}, 1, c).find("'<'"), npos);
  EXPECT_NE(refused({"mv", c, "RAM2+.COM", "A.B.C"}, 1, c).find("'.'"), npos);
  if (!cpmtools("command -v cpmls").empty()) {
    EXPECT_EQ(cpmtools("cpmls -f specmx " + c), "0:\nram2+.com\n\n3:\n$$$.sub\n");
  }
}

// bst_mx rebuilt by odi alone from its own rks copies, each name as disk_name and disk_ext give
// it, lists as the original row by row. Not compared: where the sectors lie (the writer's
// choice) and a catalogue record's address and checksum words, which hold whatever the DOS's
// buffer held (the listing shows them for files only).
TEST_F(Write, RealDiskRebuiltFromItsOwnCopies) {
  const char* real = std::getenv("ODI_REAL_DISKS");
  if (real == nullptr || *real == '\0') GTEST_SKIP() << "ODI_REAL_DISKS not set";
  const std::string orig = (fs::path(real) / "bst_mx.odi").string(), d = path("d.odi");
  const auto info = nlohmann::json::parse(ok({"info", "--json", orig}).out);
  ok({"new", "--name", info["disk_name"], "--system-from", orig, d});
  std::map<std::string, std::string> catpath{{"", "/"}};  // ref -> the path of exact names
  for (const auto& e : listing(orig)) {
    const std::string ref = e["ref"], name = e["disk_name"], ext = e["disk_ext"];
    const std::string up = ref.substr(0, ref.rfind('/') == npos ? 0 : ref.rfind('/'));
    std::string escaped;
    for (const char ch : name + "." + ext)
      escaped += (ch == '/' || ch == '\\' ? "\\" : "") + std::string(1, ch);
    if (e["kind"] == "catalogue") {  // "NAME." makes a catalogue; "NAME" finds it
      catpath[ref] = catpath[up] + escaped.substr(0, escaped.size() - (ext.empty() ? 1 : 0)) + "/";
      ok({"mkdir", "--date", e["date"], d, catpath[up] + escaped});
      continue;
    }
    const std::string rks = file("f.rks", ok({"cat", "--type", "rks", orig, ref}).out);
    ok({"put", "--rks", "--as", name + "." + ext, "--date", e["date"], d, catpath[up], rks});
  }
  auto placeless = [](nlohmann::json list) {
    for (auto& e : list) {
      for (const char* key : {"first_sector", "first_track"}) e.erase(key);
      if (e["kind"] == "catalogue")
        for (const char* key : {"start", "end", "checksum"}) e.erase(key);
    }
    return list;
  };
  const nlohmann::json want = placeless(listing(orig)), got = placeless(listing(d));
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << i;
}

TEST_F(Write, RefusalsLeaveTheImageAsItWas) {
  const std::string d = path("d.odi");
  ok({"new", d});
  ok({"mkdir", "--date", "01.01.01", d, "DIR"});
  ok({"put", "--date", "02.02.02", d, "DIR", file("F.BIN", "one")});
  ok({"put", d, "/", file("F.BIN", "one")});
  refused({"put", d, "/", file("F.BIN", "two")}, 1, d);  // name taken
  refused({"put", d, "NODIR", path("F.BIN")}, 65, d);
  refused({"rm", d, "NOFILE"}, 65, d);
  refused({"mv", d, "DIR/NOFILE", "X"}, 65, d);
  refused({"rm", d, "DIR"}, 1, d);  // not empty
  refused({"put", "--start", "0xFFFF", d, "/", file("TWO", "ab")}, 1, d);
  refused({"put", "--rks", d, "/", file("BAD.rks", "0123456789")}, 1, d);
  // Several files go all together or not at all: 13 of 64 KB fill more than the disk.
  std::vector<std::string> args{"put", d, "/"};
  for (int i = 0; i < 13; ++i)
    args.push_back(file("B" + std::to_string(i), std::string(65536, 'x')));
  refused(args, 1, d);
  // Usage errors come before anything is read.
  refused({"put", "--as", "A", d, "/", path("F.BIN"), file("S1", "s")}, 64, d);
  refused({"put", "--date", "32.01.99", d, "/", path("S1")}, 64, d);
  refused({"put", "--rks", "--start", "0", d, "/", path("S1")}, 64, d);
  refused({"put", "--codepage", "dos", d, "/", path("S1")}, 64, d);
  refused({"put", d, "/", path("S1"), path("S1")}, 64, d);
  refused({"put", d, "/", path("NOSUCH")}, 66, d);
  refused({"put", path("none.odi"), "/", path("S1")}, 66, d);
  // Damaged and blank disks take nothing.
  const std::string bad = path("bad.odi");
  damaged_disk().writeTo(bad);
  refused({"put", bad, "/", path("S1")}, 1, bad);
  EXPECT_NE(run_odi({"rm", bad, "GOOD.BIN"}).err.find("odi check"), std::string::npos);
  const std::string blank = file("blank.odi", std::string(819200, '\xE5'));
  refused({"mkdir", blank, "X"}, 1, blank);

  // --force replaces a file, never a catalogue; the file's permissions and a link stay.
  fs::permissions(d, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(d, path("link.odi"));
  ok({"put", "--force", path("link.odi"), "/", file("F.BIN", "two")});
  EXPECT_EQ(ok({"cat", "--type", "bin", d, "F.BIN"}).out, "two");
  EXPECT_TRUE(fs::is_symlink(path("link.odi")));
  EXPECT_EQ(fs::status(d).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  refused({"put", "--force", d, "/", file("DIR", "")}, 1, d);
  ok({"rm", "-r", d, "DIR"});
}

TEST_F(Write, SeveralEntriesAreFoundAgainAfterEachChange) {
  const std::string d = path("d.odi");
  ok({"new", d});
  ok({"put", d, "/", file("A", "a"), file("B", "b"), file("C", "c"), file("D", "d")});
  ok({"mkdir", d, "E"});
  ok({"mkdir", d, "E/F"});
  ok({"put", d, "E/F", path("A")});
  EXPECT_EQ(listing(d)[4]["size_kb"], 1);  // E's size word counts what F holds
  // Rows as listed before the call: #0 is A and #2 is C, though removing A moves C up.
  ok({"rm", "-r", d, "#0", "#2", "E"});
  ok({"mv", d, "B", "Z"});
  std::vector<std::string> names;
  for (const auto& e : listing(d)) names.push_back(e["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"D", "Z"}));
  // CP/M: a user area with no files yet is named for put, and goes with its last file.
  const std::string c = path("c.odi");
  ok({"new", "--cpm", c});
  ok({"mkdir", c, "USER 5"});
  ok({"put", c, "USER 5", path("A")});
  EXPECT_EQ(listing(c)[1]["path"], "USER 5/A");
  refused({"mkdir", c, "GAMES"}, 1, c);
  ok({"rm", c, "USER 5/A"});
  EXPECT_TRUE(listing(c).empty());
}

}  // namespace
