// Writing into MX_DOS disks. After every change the disk must read back through the reader:
// bodies byte for byte, catalogue size words as totals, each used sector owned once, the FAT's
// free cells exactly the sectors nobody owns. Every refusal must leave the image untouched.
#include <gtest/gtest.h>

#include <bitset>
#include <cstdlib>
#include <functional>
#include <map>

#include "image/chain.h"
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

// Checks the catalogue at `pos` and below; returns the total of its entries' size words.
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
      const ChainWalk w = walk_chain(img, r);
      EXPECT_EQ(w.ERR_COP, kCopyOk);
      EXPECT_FALSE(w.ended_early || w.longer);
      EXPECT_EQ(w.pieces.size(), r.size_kb());
      const int len = r.size_kb() == 0 ? 0 : r.end() - r.start() + 1;
      EXPECT_TRUE(r.size_kb() != 0 || ((r.end() + 1) & 0xFFFF) == r.start());
      EXPECT_EQ(chain_body(img, w).size(), static_cast<size_t>(len));
      for (const Piece& p : w.pieces) {
        EXPECT_FALSE(owned.test(static_cast<size_t>(p.sector_index))) << "cross-link";
        owned.set(static_cast<size_t>(p.sector_index));
      }
    } else {
      EXPECT_TRUE(r.is_catalogue());
      EXPECT_FALSE(owned.test(static_cast<size_t>(k)));
      owned.set(static_cast<size_t>(k));
      EXPECT_EQ(*img.read(kFatOffset + 2 * k, 2), std::string("\xEB\0", 2));
      const Record self = Record::from(*img.read(k * kSectorSize + 31 * 32, 32));
      EXPECT_TRUE(self.has_marker() && self.is_catalogue() && self.size_kb() == 0);
      EXPECT_EQ(self.name_field(), r.name_field());
      EXPECT_EQ(10 * self.first_track() + self.first_sector() - 1, k);
      EXPECT_EQ(tree_total(img, k * kSectorSize, owned), r.size_kb()) << r.name_field();
    }
  }
  return total;
}

void expect_sound(const std::string& bytes) {
  const Image img(bytes);
  ASSERT_EQ(img.size(), kImageSize);
  std::bitset<800> owned;
  tree_total(img, kRootOffset, owned);
  for (int k = 0; k < 800; ++k) {
    const std::string cell(*img.read(kFatOffset + 2 * k, 2));
    if (k < 12 || k == 12)
      EXPECT_EQ(cell, k < 12 ? "SS" : std::string("\xEB\0", 2));
    else
      EXPECT_EQ(cell != std::string(2, '\0'), owned.test(static_cast<size_t>(k))) << k;
  }
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

// Each entry down the tree: name field, kind mark, date; size and kind; a file's start, end and
// checksum. Sector addresses are left out: they depend on the order of writing.
void listing(const Image& img, const CatalogueStack& s, std::string& out) {
  const std::vector<Record> recs = read_catalogue(img, here(s));
  for (size_t i = 0; i < recs.size(); ++i) {
    const std::string_view raw = recs[i].raw();
    out += std::string(raw.substr(3, 16)) + std::string(raw.substr(0x15, 3));
    out += recs[i].is_file() ? std::string(raw.substr(0x18, 6)) + "\n" : "\n";
    CatalogueStack inner = s;
    if (recs[i].is_catalogue() && inner.enter(recs[i], static_cast<int>(i)))
      listing(img, inner, out);
  }
}

// Writes the tree below `from` on `src` into `to` on `img`: files with their start, date and
// stored checksum.
void copy_tree(const Image& src, const CatalogueStack& from, std::string& img,
               const CatalogueStack& to) {
  const std::vector<Record> recs = read_catalogue(src, here(from));
  for (size_t i = 0; i < recs.size(); ++i) {
    const Record& r = recs[i];
    const std::string n8(r.name8());
    const std::string e3(r.name_field().substr(9));
    const std::array<unsigned char, 3> date{r.b[0x10], r.b[0x11], r.b[0x12]};
    if (r.is_file()) {
      const std::string b = chain_body(src, walk_chain(src, r));
      ASSERT_TRUE(put(img, to, {n8, e3, r.start(), b, date, r.checksum()})) << n8;
      continue;
    }
    ASSERT_TRUE(mx::make_catalogue(img, to, n8, e3, date).ok()) << n8;
    CatalogueStack inner = from;
    ASSERT_TRUE(inner.enter(r, static_cast<int>(i)));
    copy_tree(src, inner, img, into(img, to, n8, e3));
  }
}

}  // namespace

TEST(MxWrite, NewDiskDataAndSystem) {
  std::string img = fresh();
  EXPECT_EQ(disk_name(Image(img)), "TEST");
  EXPECT_EQ(img.substr(0x296B, 12), std::string("\x8B A:\\TEST  \0", 12));
  EXPECT_EQ(img.substr(0x2FF0, 16), std::string(16, '\0'));
  EXPECT_EQ(img.substr(0x3000, 1024), std::string(1024, '\xE5'));
  EXPECT_EQ(mx::free_sectors(Image(img)), 787);
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
    const Record rec = entry(img, sub, r.row);
    const ChainWalk w = walk_chain(Image(img), rec);
    EXPECT_EQ(chain_body(Image(img), w), f.body);
    EXPECT_EQ(rec.size_kb(), (len + 1023) / 1024);
    EXPECT_EQ(rec.end(), (f.start + len - 1) & 0xFFFF);
    EXPECT_EQ(rec.checksum(), monitor_checksum(f.body));
    EXPECT_EQ(10 * rec.first_track() + rec.first_sector() - 1, first.at(len));
  }
  EXPECT_EQ(mx::free_sectors(Image(img)), 787 - 1 - 1 - 1 - 2 - 64);
  EXPECT_EQ(entry(img, root(), 0).size_kb(), 68);
  expect_sound(img);

  odi::NewFile f = file("SUM", 10);
  f.checksum = 0x1234;
  ASSERT_TRUE(mx::put_file(img, root(), f, false).ok());
  EXPECT_EQ(entry(img, root(), mx::find_row(Image(img), kRootOffset, "SUM", "")).checksum(),
            0x1234);
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("BIG", 65537, 0), false));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("HI", 2, 0xFFFF), false));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("LONGNAME9", 1), false));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("  ", 1), false));
}

TEST(MxWrite, SizeWordsUpThePath) {
  std::string img = fresh();
  ASSERT_TRUE(mkdir(img, root(), "A"));
  const CatalogueStack a = into(img, root(), "A");
  ASSERT_TRUE(mkdir(img, a, "B"));
  const CatalogueStack b = into(img, a, "B");
  ASSERT_TRUE(mkdir(img, b, "C"));
  const CatalogueStack c = into(img, b, "C");
  ASSERT_TRUE(put(img, c, file("IN_C", 3000)));
  ASSERT_TRUE(put(img, b, file("IN_B", 2000)));
  ASSERT_TRUE(put(img, a, file("IN_A", 1000)));
  auto sizes = [&] {
    return std::vector<int>{entry(img, root(), 0).size_kb(), entry(img, a, 0).size_kb(),
                            entry(img, b, 0).size_kb()};
  };
  EXPECT_EQ(sizes(), (std::vector<int>{6, 5, 3}));
  expect_sound(img);
  ASSERT_TRUE(mx::remove_entry(img, c, 0, false).ok());
  EXPECT_EQ(sizes(), (std::vector<int>{3, 2, 0}));
  expect_sound(img);
  EXPECT_REFUSED(img, 1, mx::remove_entry(img, root(), 0, false));
  ASSERT_TRUE(mx::remove_entry(img, root(), 0, true).ok());
  EXPECT_EQ(mx::free_sectors(Image(img)), 787);
  expect_sound(img);
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
  EXPECT_EQ(img.substr(pos + 31 * 32, 30), std::string(rec.raw().substr(0, 30)));
  EXPECT_EQ(img.substr(pos + 31 * 32 + 30, 2), std::string(2, '\0'));
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
  EXPECT_REFUSED(img, 1, mx::make_catalogue(img, sub, "S31", "", kDate));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("R31", 0), false));
  EXPECT_EQ(read_catalogue(Image(img), sub.KAT_POS[1]).size(), 32u);  // the self record shows
  expect_sound(img);

  img = fresh();
  for (int i = 0; i < 12; ++i)
    ASSERT_TRUE(put(img, root(), file("BIG" + std::to_string(i), 65536, 0)));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("MORE", 19457), false));
  ASSERT_TRUE(put(img, root(), file("LAST", 19456)));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("ONE", 1), false));
  EXPECT_REFUSED(img, 1, mx::make_catalogue(img, root(), "CAT", "", kDate));
  EXPECT_EQ(mx::free_sectors(Image(img)), 0);
  expect_sound(img);
}

TEST(MxWrite, NamesTakenReplacedAndRenamed) {
  std::string img = fresh();
  ASSERT_TRUE(put(img, root(), file("A", 3000, 0x100, "TXT")));
  ASSERT_TRUE(mkdir(img, root(), "DIR"));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("A", 1, 0, "TXT"), false));
  EXPECT_REFUSED(img, 1, mx::make_catalogue(img, root(), "A   ", "TXT", kDate));
  EXPECT_REFUSED(img, 1, mx::put_file(img, root(), file("DIR", 1), true));
  odi::NewFile f = file("A", 10, 0, "TXT");
  f.body = body(10, 9);
  ASSERT_TRUE(mx::put_file(img, root(), f, true).ok());
  EXPECT_EQ(mx::free_sectors(Image(img)), 787 - 2);  // the old 3 sectors came back
  EXPECT_EQ(chain_body(Image(img), walk_chain(Image(img), entry(img, root(), 0))), f.body);
  ASSERT_TRUE(put(img, root(), file("a", 1, 0, "TXT")));  // bytes differ

  EXPECT_REFUSED(img, 1, mx::rename_entry(img, root(), 0, "DIR", ""));
  EXPECT_REFUSED(img, 65, mx::rename_entry(img, root(), 3, "Q", ""));
  const odi::WriteResult r = mx::rename_entry(img, root(), 2, "0", "");  // moves to the top
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.row, 0);
  ASSERT_TRUE(mx::rename_entry(img, root(), 2, "ADIR", "").ok());
  std::string names;
  for (const Record& rec : read_catalogue(Image(img), kRootOffset)) names += rec.name_field();
  EXPECT_EQ(names, "0           A        TXTADIR        ");
  expect_sound(img);  // the catalogue's record of itself was renamed too
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

// With ODI_REAL_DISKS: bst_mx.odi rebuilt through the writer lists the same.
TEST(MxWrite, RebuildsBstMx) {
  const char* dir = std::getenv("ODI_REAL_DISKS");
  if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "ODI_REAL_DISKS is not set";
  const LoadedImage real = read_image_file(std::string(dir) + "/bst_mx.odi");
  ASSERT_TRUE(real.ok()) << real.error;
  const Image src(real.bytes);
  std::string img;
  ASSERT_TRUE(mx::new_disk(img, "AVSh", &src).ok());
  EXPECT_EQ(img.substr(0, 0x29B0), real.bytes.substr(0, 0x29B0));

  copy_tree(src, root(), img, root());
  std::string want;
  std::string got;
  listing(src, root(), want);
  listing(Image(img), root(), got);
  EXPECT_EQ(want.size(), 17u * 20 + 98u * 26);  // 17 catalogue rows, 98 file rows
  EXPECT_EQ(got, want);
  EXPECT_EQ(mx::free_sectors(Image(img)), mx::free_sectors(src));
  expect_sound(img);
}
