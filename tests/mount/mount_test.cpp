// odi mount: what a mounted disk shows is what odi cat gives, and what programs do through the
// mount leaves the image as odi's own commands would. Needs /dev/fuse and fusermount3; without
// them the tests skip, except under CI=true, where a skip would hide that nothing was tested.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "mounted.h"

using namespace clitest;

namespace {

// An ENTRY path for odi from a path under the mount: U+2215 back to an escaped "/".
std::string entry_of(const fs::path& relative) {
  std::string out;
  for (const auto& part : relative) {
    std::string p;
    for (const char c : part.string()) p += c == '\\' ? std::string("\\\\") : std::string(1, c);
    for (size_t at = 0; (at = p.find("\u2215", at)) != std::string::npos;) p.replace(at, 3, "\\/");
    out += (out.empty() ? "" : "/") + p;
  }
  return out;
}

void expect_files_as_cat_gives_them(const std::string& image) {
  SCOPED_TRACE(image);
  Mounted m(image, {"--read-only"});
  ASSERT_TRUE(m.up());
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(m.path())) {
    if (!e.is_regular_file()) continue;
    ++files;
    const std::string entry = entry_of(fs::relative(e.path(), m.path()));
    const Result cat = run_odi({"cat", "--type", "bin", image, entry});
    EXPECT_EQ(cat.rc, 0) << entry << ": " << cat.err;
    EXPECT_TRUE(slurp(e.path()) == cat.out) << entry;
    EXPECT_EQ(e.file_size(), cat.out.size()) << entry;
  }
  int listed = 0;
  for (const auto& e : nlohmann::json::parse(run_odi({"ls", "--json", "-R", image}).out))
    listed += e["kind"] == "file";
  EXPECT_EQ(files, listed);
}

TEST(Mount, ReadsEveryFileAsCatGivesIt) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string mx = (dir / "nested.odi").string();
  nested_disk().writeTo(mx);
  expect_files_as_cat_gives_them(mx);
  const std::string cpm = (dir / "cpm.odi").string();
  spit(dir / "RAM2+.COM", std::string(5000, 'r'));
  spit(dir / "A.TXT", "text\r\x1A");
  ASSERT_EQ(run_odi({"new", "--cpm", cpm}).rc, 0);
  ASSERT_EQ(run_odi({"put", cpm, "/", (dir / "RAM2+.COM").string()}).rc, 0);
  ASSERT_EQ(run_odi({"put", cpm, "USER 3", (dir / "A.TXT").string()}).rc, 0);
  expect_files_as_cat_gives_them(cpm);
  if (const char* real = std::getenv("ODI_REAL_DISKS"))
    for (const char* name : {"bst_mx.odi", "LafanG4.odi"})
      expect_files_as_cat_gives_them((fs::path(real) / name).string());
}

// Everything of every entry but where its sectors lie, which depends on the order of changes.
std::string listing(const std::string& image) {
  auto list = nlohmann::json::parse(run_odi({"ls", "--json", "-R", image}).out);
  for (auto& e : list)
    for (const char* k : {"first_sector", "first_track", "text", "ref", "row", "size_kb"})
      e.erase(k);
  return list.dump(1);
}

TEST(Mount, ChangesMatchOdiCommands) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string via_mount = (dir / "m.odi").string(), via_odi = (dir / "o.odi").string();
  const std::string game(3000, 'g'), text = "hello\r";
  spit(dir / "GAME.COM", game);
  spit(dir / "P+Q/R.DAT", text);
  ASSERT_EQ(run_odi({"new", "--name", "T", via_mount}).rc, 0);
  ASSERT_EQ(run_odi({"new", "--name", "T", via_odi}).rc, 0);
  {
    Mounted m(via_mount);
    ASSERT_TRUE(m.up());
    fs::create_directory(m / "GAMES");
    fs::create_directory(m / "OLD");
    spit(m / "GAMES" / "TETRIS.COM", game);
    spit(m / "README.TXT", text);
    fs::rename(m / "README.TXT", m / "GAMES" / "READ.ME");  // into another catalogue
    spit(m / "P+Q\u2215R.DAT", text);
    fs::remove(m / "OLD");
    fs::last_write_time(m / "GAMES" / "TETRIS.COM",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    EXPECT_EQ(slurp(m / "GAMES" / "READ.ME"), text);
    // A name the disk cannot hold is refused and leaves nothing.
    std::error_code ec;
    EXPECT_FALSE(fs::create_directory(m / "TOO-LONG-A-NAME", ec));
    EXPECT_EQ(ec.value(), ENAMETOOLONG);
    // A change made beside the mount shows in it within a second.
    ASSERT_EQ(run_odi({"mkdir", via_mount, "SIDE"}).rc, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(fs::is_directory(m / "SIDE"));
    ASSERT_EQ(run_odi({"rm", via_mount, "SIDE"}).rc, 0);
    EXPECT_EQ(m.unmount().rc, 0);
  }
  const std::string date = run_odi({"ls", "--json", via_mount, "GAMES"}).out;
  const auto tetris = nlohmann::json::parse(date)[1]["date"].get<std::string>();
  ASSERT_EQ(run_odi({"mkdir", via_odi, "GAMES"}).rc, 0);
  ASSERT_EQ(run_odi({"put", "--date", tetris, "--as", "TETRIS.COM", via_odi, "GAMES",
                     (dir / "GAME.COM").string()})
                .rc,
            0);
  ASSERT_EQ(run_odi({"put", "--as", "READ.ME", via_odi, "GAMES", (dir / "P+Q/R.DAT").string()}).rc,
            0);
  ASSERT_EQ(run_odi({"put", "--as", "P+Q/R.DAT", via_odi, "/", (dir / "P+Q/R.DAT").string()}).rc,
            0);
  EXPECT_EQ(listing(via_mount), listing(via_odi));
  EXPECT_NE(tetris, nlohmann::json::parse(run_odi({"ls", "--json", via_odi}).out)[0]["date"]);
  EXPECT_EQ(run_odi({"check", via_mount}).rc, 0);
}

TEST(Mount, FullDiskRefusesWhatDoesNotFitAndKeepsTheRest) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string image = (dir / "d.odi").string();
  ASSERT_EQ(run_odi({"new", "--cpm", image}).rc, 0);
  Mounted m(image);
  ASSERT_TRUE(m.up());
  std::vector<std::string> kept;
  int err = 0;
  for (int i = 0; err == 0 && i < 20; ++i) {
    const std::string body(64000, static_cast<char>('a' + i));
    const int fd = ::open((m / ("F" + std::to_string(i) + ".BIN")).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
    err = ::close(fd) == 0 ? 0 : errno;
    if (err == 0) kept.push_back(body);
  }
  EXPECT_EQ(err, ENOSPC);
  EXPECT_EQ(kept.size(), 12U);  // 387 free blocks of 2 KB: twelve files of 32 blocks
  for (size_t i = 0; i < kept.size(); ++i)
    EXPECT_TRUE(slurp(m / ("F" + std::to_string(i) + ".BIN")) == kept[i]) << i;
  EXPECT_FALSE(fs::exists(m / ("F" + std::to_string(kept.size()) + ".BIN")));
  EXPECT_EQ(run_odi({"check", image}).rc, 0);
}

TEST(Mount, KilledMountLeavesASoundImage) {
  REQUIRE_FUSE();
  TempDir dir;
  const std::string image = (dir / "d.odi").string();
  ASSERT_EQ(run_odi({"new", image}).rc, 0);
  Mounted m(image);
  ASSERT_TRUE(m.up());
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) {
      std::error_code ec;
      spit(m / ("W" + std::to_string(i) + ".BIN"), std::string(2000 + i, 'w'));
      if (!fs::exists(m / ("W" + std::to_string(i) + ".BIN"), ec)) break;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(m.pid(), SIGKILL);
  writer.join();
  m.unmount();
  EXPECT_EQ(run_odi({"check", image}).rc, 0);
  for (const auto& e : nlohmann::json::parse(run_odi({"ls", "--json", image}).out))
    EXPECT_EQ(run_odi({"cat", "--type", "bin", image, e["ref"].get<std::string>()}).out.size(),
              e["bytes"].get<size_t>());
}

// An empty file is 0 bytes wherever a size is given: through the mount that made it and through
// a fresh mount (no cached size), for ls --json and for cat. Made by touch in the mount and by
// odi put.
TEST(Mount, EmptyFilesAreZeroBytesEverywhere) {
  REQUIRE_FUSE();
  TempDir dir;
  spit(dir / "PUT.DAT", "");
  for (const std::string kind : {"mx_dos", "cpm"}) {
    SCOPED_TRACE(kind);
    const std::string image = (dir / (kind + ".odi")).string();
    ASSERT_EQ(run_odi(kind == "cpm" ? std::vector<std::string>{"new", "--cpm", image}
                                    : std::vector<std::string>{"new", image})
                  .rc,
              0);
    ASSERT_EQ(run_odi({"put", image, "/", (dir / "PUT.DAT").string()}).rc, 0);
    {
      Mounted m(image);
      ASSERT_TRUE(m.up());
      ASSERT_EQ(std::system(("touch '" + (m / "TOUCHED.DAT").string() + "'").c_str()), 0);
      EXPECT_EQ(fs::file_size(m / "TOUCHED.DAT"), 0U);
      EXPECT_EQ(fs::file_size(m / "PUT.DAT"), 0U);
    }
    Mounted again(image);
    ASSERT_TRUE(again.up());
    for (const char* name : {"PUT.DAT", "TOUCHED.DAT"}) {
      EXPECT_EQ(fs::file_size(again / name), 0U) << name;
      EXPECT_EQ(run_odi({"cat", "--type", "bin", image, name}).out, "") << name;
    }
    const auto list = nlohmann::json::parse(run_odi({"ls", "--json", image}).out);
    EXPECT_EQ(list.size(), 2U);
    for (const auto& e : list) EXPECT_EQ(e["bytes"], 0) << e["disk_name"];
  }
}

// A file read once through the mount gives the bytes of an odi put made beside the mount within
// moments: what the kernel keeps of it goes when the image changes. Same length first (only the
// bytes tell), then a longer file.
TEST(Mount, OutsidePutShowsAtOnceInAFileReadBefore) {
  REQUIRE_FUSE();
  TempDir dir;
  for (const std::vector<std::string>& opts :
       {std::vector<std::string>{}, std::vector<std::string>{"--read-only"}}) {
    SCOPED_TRACE(opts.empty() ? "read-write" : "read-only");
    const std::string image = (dir / "d.odi").string();
    ASSERT_EQ(run_odi({"new", image}).rc, 0);
    spit(dir / "A.TXT", std::string(3000, 'a'));
    ASSERT_EQ(run_odi({"put", image, "/", (dir / "A.TXT").string()}).rc, 0);
    Mounted m(image, opts);
    ASSERT_TRUE(m.up());
    EXPECT_EQ(slurp(m / "A.TXT"), std::string(3000, 'a'));
    for (const std::string& now : {std::string(3000, 'b'), std::string(5000, 'c')}) {
      spit(dir / "A.TXT", now);
      ASSERT_EQ(run_odi({"put", "--force", image, "/", (dir / "A.TXT").string()}).rc, 0);
      // The mount looks at the image ten times a second; the kernel's 30 s would be far longer.
      for (int i = 0; i < 100 && slurp(m / "A.TXT") != now; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_EQ(fs::file_size(m / "A.TXT"), now.size());
      EXPECT_TRUE(slurp(m / "A.TXT") == now) << now[0];
    }
    m.unmount();
    fs::remove(image);
  }
}

}  // namespace
