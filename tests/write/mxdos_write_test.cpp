// Writing into MX_DOS disks: the bytes MX_DOS fixes (records, FAT cells, the slot a removal
// leaves, a catalogue's record of itself) and the limits (32 and 31 entries, 65536 bytes, a full
// disk). After every change the disk must read back through the reader: bodies byte for byte,
// catalogue size words as totals, each used sector owned once, the FAT's free cells exactly the
// sectors nobody owns. Every refusal must leave the image untouched. Random sequences of writes
// against a model (size words up deep paths, removals, bodies too large) are in model_test.cpp;
// real disks rebuilt through odi in tests/cli.
#include <gtest/gtest.h>

#include <bitset>
#include <functional>
#include <map>

#include "image/chain.h"
#include "image/fs.h"
#include "image/mxdos/write.h"

using namespace odi;
namespace mx = odi::mxdos;

namespace {

constexpr std::array<unsigned char, 3> kDate{0x07, 0x12, 0x24};

std::string body(size_t n, int seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 1024 + seed);
  return s;
}

odi::NewFile file(std::string name, size_t n, std::uint16_t start = 0x100, std::string ext = "") {
  return {std::move(name), std::move(ext), start, body(n), kDate, {}};
}

std::string fresh() {
  std::string img;
  EXPECT_TRUE(mx::new_disk(img, "TEST", nullptr).ok());
  return img;
}

CatalogueStack root() {
  CatalogueStack s;
  s.reset_root("");
  return s;
}

std::int64_t here(const CatalogueStack& s) {
  return s.KAT_POS[static_cast<size_t>(s.KAT_LEV)];
}

Record entry(const std::string& img, const CatalogueStack& s, int row) {
  return read_catalogue(Image(img), here(s)).at(static_cast<size_t>(row));
}

CatalogueStack into(const std::string& img, CatalogueStack s, std::string_view n8,
                    std::string_view e3 = "") {
  const int row = mx::find_row(Image(img), here(s), n8, e3);
  EXPECT_GE(row, 0) << n8;
  s.enter(entry(img, s, row), row);
  return s;
}

bool put(std::string& img, const CatalogueStack& s, const odi::NewFile& f) {
  return mx::put_file(img, s, f, false).ok();
}
bool mkdir(std::string& img, const CatalogueStack& s, std::string_view n8) {
  return mx::make_catalogue(img, s, n8, "", kDate).ok();
}

// The total of the size words in the catalogue at `pos` and below, checking on the way the kind
// marks, each catalogue's FAT cell and its record of itself; marks the sectors all of it owns.
int tree_total(const Image& img, std::int64_t pos, std::bitset<800>& owned) {
  const std::vector<Record> recs = read_catalogue(img, pos);
  int total = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    const Record& r = recs[i];
    const int k = 10 * r.first_track() + r.first_sector() - 1;
    if (i == 31 && r.is_catalogue() && k * kSectorSize == pos) continue;  // its own record
    EXPECT_EQ(r.b[0x0F], r.is_file() ? 0x8C : 0x8B);
    total += r.size_kb();
    if (r.is_file()) {
      for (const Piece& p : walk_chain(img, r).pieces)
        owned.set(static_cast<size_t>(p.sector_index));
      continue;
    }
    owned.set(static_cast<size_t>(k));
    EXPECT_EQ(*img.read(kFatOffset + 2 * k, 2), std::string("\xEB\0", 2));
    const Record self = Record::from(*img.read(k * kSectorSize + 31 * 32, 32));
    EXPECT_EQ(self.raw().substr(0, 0x15), r.raw().substr(0, 0x15));  // name, date, address
    EXPECT_EQ(self.size_kb(), 0);
    EXPECT_EQ(tree_total(img, k * kSectorSize, owned), r.size_kb()) << r.name_field();
  }
  return total;
}

// Nothing for check() to find (chains, sizes, addresses, checksums, cross-links); besides, what it
// does not look at: the FAT's free cells exactly the sectors nobody owns, and tree_total's part.
void expect_sound(const std::string& bytes) {
  const Image img(bytes);
  for (const Problem& p : open_file_system(img)->check())
    EXPECT_TRUE(p.note) << p.path << ": " << p.message;
  std::bitset<800> owned;
  tree_total(img, kRootOffset, owned);
  for (int k = 13; k < 800; ++k)
    EXPECT_EQ(bytes.substr(static_cast<size_t>(kFatOffset + 2 * k), 2) != std::string(2, '\0'),
              owned.test(static_cast<size_t>(k)))
        << k;
  EXPECT_EQ(mx::free_sectors(img), 787 - static_cast<int>(owned.count()));
}

void expect_refused(std::string& img, int status, const std::function<odi::WriteResult()>& op) {
  const std::string before = img;
  const odi::WriteResult r = op();
  EXPECT_EQ(r.status, status) << r.message;
  EXPECT_FALSE(r.message.empty());
  EXPECT_TRUE(img == before) << r.message;
}
#define EXPECT_REFUSED(img, status, call) expect_refused(img, status, [&] { return call; })

}  // namespace

TEST(MxWrite, NewDiskDataAndSystem) {
  std::string img = fresh();
  EXPECT_EQ(img.substr(0x296B, 12), std::string("\x8B A:\\TEST  \0", 12));
  EXPECT_EQ(img.substr(0x2FF0, 16), std::string(16, '\0'));
  EXPECT_EQ(img.substr(0x3000, 1024), std::string(1024, '\xE5'));
  EXPECT_EQ(img.substr(0x29B0, 26), std::string(24, '\x53') + std::string("\xEB\0", 2));
  expect_sound(img);

  std::string sys(0x29B0, '\0');
  for (size_t i = 0; i < sys.size(); ++i) sys[i] = static_cast<char>(i % 251);
  const Image sys_img(sys);
  ASSERT_TRUE(mx::new_disk(img, "SYS", &sys_img).ok());
  EXPECT_EQ(img.substr(0, 0x296B), sys.substr(0, 0x296B));
  EXPECT_EQ(img.substr(0x2977, 0x29B0 - 0x2977), sys.substr(0x2977));
  EXPECT_EQ(disk_name(Image(img)), "SYS");
  expect_sound(img);

  const Image short_sys(std::string_view(sys).substr(0, 0x29AF));
  EXPECT_REFUSED(img, 1, mx::new_disk(img, "SEVENXX", nullptr));
  EXPECT_REFUSED(img, 1, mx::new_disk(img, "X", &short_sys));
}

TEST(MxWrite, PutReadsBackByteForByte) {
  std::string img = fresh();
  ASSERT_TRUE(mkdir(img, root(), "SUB"));
  const CatalogueStack sub = into(img, root(), "SUB");
  // SUB took 14, off the root's side; files take the lowest free sectors, 13 first.
  const std::map<size_t, int> first = {{1, 13}, {1024, 15}, {1025, 16}, {0, 0xAA - 1}, {65536, 18}};
  for (size_t len : {1, 1024, 1025, 0, 65536}) {
    odi::NewFile f = file("F" + std::to_string(len), len, len == 65536 ? 0 : 0xD000);
    const odi::WriteResult r = mx::put_file(img, sub, f, false);
    ASSERT_TRUE(r.ok()) << r.message;
    const Record rec = entry(img, sub, r.row);  // expect_sound checks its size and checksum
    EXPECT_EQ(chain_body(Image(img), walk_chain(Image(img), rec)), f.body);
    EXPECT_EQ(10 * rec.first_track() + rec.first_sector() - 1, first.at(len));
  }
  expect_sound(img);

  odi::NewFile f = file("SUM", 10);
  f.checksum = 0x1234;
  ASSERT_TRUE(mx::put_file(img, root(), f, false).ok());
  EXPECT_EQ(entry(img, root(), mx::find_row(Image(img), kRootOffset, "SUM", "")).checksum(),
            0x1234);
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("  ", 1), false));
}

TEST(MxWrite, NewCatalogueKeepsARecordOfItself) {
  std::string img = fresh();
  ASSERT_TRUE(put(img, root(), file("Z", 1)));
  const odi::WriteResult r = mx::make_catalogue(img, root(), "Cat", "x", kDate);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.row, 0);  // "Cat" sorts before "Z"
  const Record rec = entry(img, root(), 0);
  EXPECT_EQ(rec.raw(), std::string("\xD3\xD3\xD3"
                                   "Cat      x  \x8B\x07\x12\x24\x05\x01\0\0\xFF"
                                   "\xE5\xE5\xE5\xE5\xE5\0\0\xE0",
                                   32));  // index 14: 1/5
  const std::int64_t pos = 14 * kSectorSize;
  EXPECT_EQ(img.substr(pos, 31 * 32), std::string(31 * 32, '\xE5'));
  EXPECT_EQ(img.substr(pos + 31 * 32, 32),
            std::string(rec.raw().substr(0, 30)) + std::string(2, '\0'));
  EXPECT_EQ(entry(img, root(), 1).raw().substr(0x1E), std::string("\0\xE0", 2));  // Z's old slot
}

TEST(MxWrite, CatalogueFullAndNoRoom) {
  std::string img = fresh();
  ASSERT_TRUE(mkdir(img, root(), "SUB"));
  const CatalogueStack stale = into(img, root(), "SUB");
  for (int i = 0; i < 31; ++i) {
    ASSERT_TRUE(put(img, root(), file("R" + std::to_string(i), 1)));
    const CatalogueStack now = into(img, root(), "SUB");
    ASSERT_TRUE(put(img, now, file("S" + std::to_string(i), 0)));
  }
  // A stack holds until its catalogues change: the R files sorted before SUB and moved it.
  EXPECT_REFUSED(img, 1, mx::put_file(img, stale, file("X", 0), false));
  const CatalogueStack sub = into(img, root(), "SUB");
  EXPECT_REFUSED(img, 1, mx::put_file(img, sub, file("S31", 0), false));
  EXPECT_EQ(read_catalogue(Image(img), sub.KAT_POS[1]).size(), 32u);  // the self record shows
  expect_sound(img);

  img = fresh();
  for (int i = 0; i < 12; ++i)
    ASSERT_TRUE(put(img, root(), file("BIG" + std::to_string(i), 65536, 0)));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("MORE", 19457), false));
  ASSERT_TRUE(put(img, root(), file("LAST", 19456)));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("ONE", 1), false));
  EXPECT_REFUSED(img, 1, mx::make_catalogue(img, root(), "CAT", "", kDate));
  expect_sound(img);
}

// Names compare byte for byte, space padded; a rename moves the entry to its sorted place and
// renames a catalogue's record of itself too.
TEST(MxWrite, NamesTakenAndRenamed) {
  std::string img = fresh();
  ASSERT_TRUE(put(img, root(), file("A", 3000, 0x100, "TXT")));
  ASSERT_TRUE(mkdir(img, root(), "DIR"));
  EXPECT_REFUSED(img, 1, mx::make_catalogue(img, root(), "A   ", "TXT", kDate));
  ASSERT_TRUE(put(img, root(), file("a", 1, 0, "TXT")));

  EXPECT_REFUSED(img, 65, mx::rename_entry(img, root(), 3, "Q", ""));
  const odi::WriteResult r = mx::rename_entry(img, root(), 2, "0", "");  // moves to the top
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.row, 0);
  ASSERT_TRUE(mx::rename_entry(img, root(), 2, "ADIR", "").ok());
  std::string names;
  for (const Record& rec : read_catalogue(Image(img), kRootOffset)) names += rec.name_field();
  EXPECT_EQ(names, "0           A        TXTADIR        ");
  expect_sound(img);
}

TEST(MxWrite, RemoveKeepsTheListBackToBack) {
  std::string img = fresh();
  for (const char* n : {"B", "C", "A", "D"}) ASSERT_TRUE(put(img, root(), file(n, 1500)));
  const Record d = entry(img, root(), 3);
  ASSERT_TRUE(mx::remove_entry(img, root(), 1, false).ok());
  std::string names;
  for (const Record& rec : read_catalogue(Image(img), kRootOffset)) names += rec.name8()[0];
  EXPECT_EQ(names, "ACD");
  EXPECT_EQ(img[0x3000 + 3 * 32], '\x08');  // the vacated slot: 08h, then D's old bytes
  EXPECT_EQ(img.substr(0x3000 + 3 * 32 + 1, 31), std::string(d.raw().substr(1)));
  EXPECT_EQ(d.raw().substr(0x1E), "\x60\xE0");  // bytes 1Eh-1Fh: E000h + 32 x its slot then
  expect_sound(img);
  EXPECT_REFUSED(img, 65, mx::remove_entry(img, root(), 3, false));
  EXPECT_REFUSED(img, 65, mx::remove_entry(img, root(), -1, false));

  CatalogueStack bad = root();
  bad.enter(entry(img, root(), 0), 0);  // a file is no catalogue to write into
  EXPECT_REFUSED(img, 1, mx::put_file(img, bad, file("X", 1), false));
  bad.KAT_IDX[0] = 7;
  EXPECT_REFUSED(img, 65, mx::remove_entry(img, bad, 0, false));
  std::string odd = img.substr(1);
  EXPECT_REFUSED(odd, 1, mx::put_file(odd, root(), file("X", 1), false));
}
