// Random sequences of writes (new, put, mkdir, rm, mv) against a model of the disk: catalogue
// path -> files with their bodies and load addresses. The model also says in advance whether the
// writer must do a change or refuse it (name taken, catalogue full, no room, too large, too deep,
// a catalogue that is not empty), so that a refusal without a reason fails as much as a change
// that should have been refused. After every step the free room must be what the model counts,
// and the catalogue the step wrote in must list what the model holds, with the file it wrote read
// back byte for byte. Every `every` steps and at the end the whole disk is checked: every
// catalogue and body, every size word, check() must find no damage, and a refusal on such a step
// must have left every byte as it was. Shared by the property test (seeded, the whole disk after
// every step) and the fuzz target (fuzz input), which checks the whole disk less often to run
// more sequences.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/fs.h"
#include "image/write.h"

namespace writemodel {

using odi::FsKind;

// The source of every choice: a number 0..n-1.
using Pick = std::function<unsigned(unsigned n)>;

struct Node {
  bool catalogue = false;
  std::string body;
  std::uint16_t start = 0;
  std::map<std::string, Node> kids;  // key: name bytes, "|", extension bytes
};

class Model {
 public:
  // What a sequence leans to: 0 a mix of everything, 1 big files on a disk that starts nearly full
  // of them, 2 filling the root and nesting catalogues deep.
  Model(FsKind kind, unsigned mode, unsigned every = 1) { start(kind, mode, every); }

  // A new sequence on a new disk. The fuzz target keeps one model for all its inputs, so that the
  // image's storage is reused instead of fresh pages for every input.
  void start(FsKind kind, unsigned mode, unsigned every = 1) {
    kind_ = kind;
    mode_ = mode % 3;
    every_ = std::max(every, 1U);
    steps_ = 0;
    body_.reserve(odi::kImageSize);  // once: no body is longer than the image
    fresh();
  }

  // One random change and the checks after it; the reason when a property fails.
  std::optional<std::string> step(const Pick& pick) {
    run_on_ = false;
    kept_ = false;
    ++steps_;
    static constexpr std::array<std::array<unsigned, 3>, 3> kWeights{
        {{45, 65, 80}, {70, 80, 90}, {50, 90, 93}}};  // put, mkdir, rm below each, mv above
    const auto& w = kWeights[mode_];
    const unsigned op = pick(100);
    if (op == 0 && pick(4) == 0) {
      fresh();
      return verify("new");
    }
    bool want = true;
    std::string what;
    const odi::WriteResult got = op < w[0]   ? put(pick, want, what)
                                 : op < w[1] ? mkdir(pick, want, what)
                                             : rm_or_mv(pick, want, what, op >= w[2]);
    if (run_on_ && want) return checked(what + " (not written: the list would run on)");
    if (got.ok() != want)
      return what + (want ? ": refused: " + got.message : ": done, but should have been refused");
    if (!got.ok() && kept_ && img_ != before_) return what + ": refused, but the image changed";
    return checked(what);
  }

  // The whole disk once more, after a sequence whose steps were not all checked whole. The
  // model's tree is let go after it, so that a fuzz input ends holding no memory it did not hold
  // before (otherwise libFuzzer runs every new input again to look for a leak).
  std::optional<std::string> finish() {
    auto bad = verify("at the end");
    root_ = Node{};
    touched_ = {};
    fs_.reset();
    return bad;
  }

 private:
  using Path = std::vector<std::string>;

  bool cpm() const { return kind_ == FsKind::Cpm; }

  void fresh() {
    touched_ = {};
    fs_.reset();
    // A new disk is the same every time: made once for each file system, then copied.
    static const std::array<std::string, 2> blank = [] {
      std::array<std::string, 2> b;
      (void)odi::new_disk(FsKind::MxDos, b[0], "MODEL", nullptr);
      (void)odi::new_disk(FsKind::Cpm, b[1], "", nullptr);
      return b;
    }();
    img_.assign(blank[cpm() ? 1 : 0]);
    root_ = Node{true, {}, 0, {}};
    // CP/M: the user areas exist from the start; they list only while they hold files.
    if (cpm())
      for (int u = 1; u <= 3; ++u) root_.kids["USER " + std::to_string(u) + "|"].catalogue = true;
    if (mode_ == 1) nearly_full();
  }

  // Eleven files of 64000 bytes at the root: 693 of the 788 MX_DOS sectors, 352 of the 387 CP/M
  // blocks. A short sequence then already meets a full disk: big files refused for room, and
  // replacements that free the old file's room before they find the new one does not fit.
  // Made once for each file system, then copied.
  void nearly_full() {
    static std::map<FsKind, std::pair<std::string, Node>> made;
    auto it = made.find(kind_);
    if (it == made.end()) {
      for (int i = 0; i < 11; ++i) {
        const std::string name = "BIG" + std::to_string(i);
        const odi::NewFile f{name, "DAT", 0, pattern().substr(i, 64000), {0x01, 0x02, 0x93}, {}};
        (void)odi::writer_for(kind_)->put_file(img_, stack_for({})->first, f, false);
        fs_.reset();
        root_.kids[name + "|DAT"] = Node{false, f.body, 0, {}};
      }
      it = made.emplace(kind_, std::pair{img_, root_}).first;
    }
    img_.assign(it->second.first);
    root_ = it->second.second;
  }

  // A name as the writer is given it, keyed as the disk keeps it (CP/M: in capitals). Some are
  // names the file system cannot hold: a control code on MX_DOS, on CP/M what cpmcp refuses.
  std::string key(const Pick& pick) const {
    static const std::vector<std::string> mx = {
        "A",        "B",    "GAME", "\xC9\xC7\xD2\xC1", "a.b", "X Y",  "z",
        "LONGNAME", "CP/M", "P+Q",  "$:\xF0",           " Z",  "A\x01"};
    static const std::vector<std::string> cp = {"A",   "B",   "GAME",  "X1",  "LONGNAME",
                                                "p+q", "$$$", "A/B C", "a<b", " Z"};
    static const std::vector<std::string> ext = {"", "COM", "TXT", "$+", "\xC4\xC1", "1:"};
    const auto& names = cpm() ? cp : mx;
    std::string k =
        names[pick(static_cast<unsigned>(names.size()))] + "|" + ext[pick(cpm() ? 4U : 6U)];
    for (char& c : k)
      if (cpm() && c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    return k;
  }
  static std::string name8(const std::string& k) { return k.substr(0, k.find('|')); }
  static std::string ext3(const std::string& k) { return k.substr(k.find('|') + 1); }
  // Whether the file system holds the name: MX_DOS bytes 20h..FEh; CP/M what cpmcp takes, no
  // blank first, 20h..7Eh, none of < > . , ; : = ? * [ ].
  bool valid(const std::string& k) const {
    for (const char ch : name8(k) + ext3(k)) {
      const auto c = static_cast<unsigned char>(ch);
      if (c < 0x20 || c == 0xFF || (cpm() && (c > 0x7E || std::strchr("<>.,;:=?*[]", c))))
        return false;
    }
    return !cpm() || name8(k)[0] != ' ';
  }

  Node& node(const Path& p) {
    Node* n = &root_;
    for (const auto& k : p) n = &n->kids.at(k);
    return *n;
  }
  const Node& node(const Path& p) const { return const_cast<Model*>(this)->node(p); }
  bool listed(const Node& n) const { return !n.catalogue || !cpm() || !n.kids.empty(); }

  // Every catalogue below `n` (`n` first) or every listed entry, as paths from the root.
  std::vector<Path> paths(bool catalogues, const Node& n, const Path& p = {}) const {
    std::vector<Path> out;
    if (catalogues) out.push_back(p);
    for (const auto& [k, kid] : n.kids) {
      Path q = p;
      q.push_back(k);
      if (!catalogues && listed(kid)) out.push_back(q);
      if (kid.catalogue)
        for (Path& r : paths(catalogues, kid, q)) out.push_back(std::move(r));
    }
    return out;
  }
  Path any(const Pick& pick, bool catalogues) const {
    const std::vector<Path> all = paths(catalogues, root_);
    return all.empty() ? Path{} : all[pick(static_cast<unsigned>(all.size()))];
  }
  Path deepest() const {
    const std::vector<Path> all = paths(true, root_);
    return *std::max_element(all.begin(), all.end(),
                             [](const Path& a, const Path& b) { return a.size() < b.size(); });
  }

  // The room a file, or a catalogue with all it holds, takes: MX_DOS sectors of 1 KB, one for each
  // catalogue too (`kb` leaves those out, as a catalogue's size word does); CP/M blocks of 2 KB
  // or, with `entries`, directory entries (one for each 16 KB of a file). The disk holds MX_DOS
  // sectors 12..799 (the root's among them), 387 CP/M blocks beside the directory, 128 entries.
  long room(const Node& n, bool entries, bool kb = false) const {
    const long len = static_cast<long>(n.body.size());
    if (!n.catalogue && !cpm()) return (len + 1023) / 1024;
    if (!n.catalogue) return entries ? std::max(1L, (len + 16383) / 16384) : (len + 2047) / 2048;
    long u = cpm() || kb ? 0 : 1;
    for (const auto& [k, kid] : n.kids) u += room(kid, entries, kb);
    return u;
  }
  long capacity(bool entries) const { return entries ? 128 : cpm() ? 387 : 788; }

  odi::WriteResult put(const Pick& pick, bool& want, std::string& what) {
    const Path at = mode_ == 2 && pick(4) != 0 ? Path{} : any(pick, true);
    const std::string k = key(pick);
    odi::NewFile f{name8(k), ext3(k), 0, {}, {0x01, 0x02, 0x93}, {}};
    const unsigned size_kind = pick(mode_ == 1 ? 2 : 16);
    const bool big = size_kind == 0 && mode_ != 2;
    const size_t len = big ? 60000 + pick(5538) : size_kind == 1 ? 0 : pick(2200);
    // Big files mostly from 0000h; now and then anywhere, which may run past FFFFh.
    f.start = static_cast<std::uint16_t>(pick(8) == 0 ? pick(65536) : len > 4096 ? 0 : 0x100);
    f.body = pattern().substr(pick(256), len);
    const bool replace = pick(2) != 0;
    what = "put " + join(at) + "/" + k + " (" + std::to_string(len) + " bytes)";

    Node& cat = node(at);
    const auto old = cat.kids.find(k);
    const bool taken = old != cat.kids.end() && listed(old->second);
    const Node file{false, f.body, 0, {}};
    auto fits = [&](bool entries) {  // the old file's room comes back
      return room(file, entries) <=
             capacity(entries) - room(root_, entries) + (taken ? room(old->second, entries) : 0);
    };
    const size_t count = listed_count(cat) - (taken ? 1 : 0);
    want = valid(k) && (!taken || (replace && !old->second.catalogue)) && fits(false) &&
           (!cpm() || fits(true)) &&
           (cpm() || (f.start + len <= 65536 && count < (at.empty() ? 32U : 31U)));

    touched_ = {at, k};
    const auto where = stack_for(at);
    if (!where) return {odi::kNoEntry, "no catalogue " + join(at), -1};
    const auto r = settle(
        want, [&] { return odi::writer_for(kind_)->put_file(img_, where->first, f, replace); });
    if (r.ok()) cat.kids[k] = Node{false, f.body, f.start, {}};
    return r;
  }

  odi::WriteResult mkdir(const Pick& pick, bool& want, std::string& what) {
    const unsigned choice = pick(mode_ == 2 ? 2 : 3);
    const Path at = choice == 0 ? deepest() : mode_ == 2 ? Path{} : any(pick, true);
    std::string k = key(pick);
    if (cpm() && pick(2)) k = "USER " + std::to_string(1 + pick(3)) + "|";
    what = "mkdir " + join(at) + "/" + k;
    Node& cat = node(at);
    want = cpm() ? at.empty() && k.rfind("USER ", 0) == 0
                 : valid(k) && cat.kids.count(k) == 0 &&
                       listed_count(cat) < (at.empty() ? 32U : 31U) &&
                       room(root_, false) < capacity(false) && at.size() < 10;
    touched_ = {at, k};
    const auto where = stack_for(at);
    if (!where) return {odi::kNoEntry, "no catalogue " + join(at), -1};
    const auto r = settle(want, [&] {
      return odi::writer_for(kind_)->make_catalogue(img_, where->first, name8(k), ext3(k),
                                                    {0x01, 0x02, 0x93});
    });
    if (r.ok() && !cpm()) cat.kids[k].catalogue = true;
    return r;
  }

  // Removes a listed entry, or with `rename` renames it, if there is one.
  odi::WriteResult rm_or_mv(const Pick& pick, bool& want, std::string& what, bool rename) {
    Path p = any(pick, false);
    if (p.empty()) return {};  // nothing to remove or rename
    const std::string k = p.back();
    p.pop_back();
    const bool recursive = !rename && pick(2) != 0;
    const std::string to = rename ? key(pick) : "";
    what = std::string(rename ? "mv " : recursive ? "rm -r " : "rm ") + join(p) + "/" + k;
    if (rename) what += " " + to;
    Node& cat = node(p);
    const Node& n = cat.kids.at(k);
    const auto other = cat.kids.find(to);
    want = rename ? valid(to) && !(cpm() && n.catalogue) &&
                        (to == k || other == cat.kids.end() || !listed(other->second))
                  : recursive || !n.catalogue || (!cpm() && n.kids.empty());
    touched_ = {p, rename ? to : k};
    const auto where = stack_for(p, k);
    if (!where || where->second < 0) return {odi::kNoEntry, "no row for " + k, -1};
    const auto writer = odi::writer_for(kind_);
    const auto r = settle(want, [&] {
      const auto& [st, row] = *where;
      return rename ? writer->rename_entry(img_, st, row, name8(to), ext3(to))
                    : writer->remove_entry(img_, st, row, recursive);
    });
    if (r.ok() && rename) {
      Node moved = std::move(cat.kids.at(k));
      cat.kids.erase(k);
      cat.kids[to] = std::move(moved);
    } else if (r.ok() && cpm() && n.catalogue) {
      cat.kids.at(k).kids.clear();  // a user area stays: it lists again once it holds files
    } else if (r.ok()) {
      cat.kids.erase(k);
    }
    return r;
  }

  // What odi does with a change the writer made: it checks the disk and does not write a change
  // that leaves damage. One kind of it the writer does not avoid: a list of 32 records (a full
  // root, or a full sub-catalogue with its own record in slot 31) whose next sector starts with
  // the record marker (a catalogue with entries placed right after it), which a reader that does
  // not stop at 32 records would run on into. Such a change counts as refused, the model unchanged.
  // The image before the change is kept only where it is needed: to take back a change whose list
  // would run on, and on the steps checked whole, to see that a refusal left every byte.
  template <class Change>
  odi::WriteResult settle(bool want, const Change& change) {
    const bool may_run_on = full_list_near(root_, true);
    kept_ = (!want && whole_step()) || may_run_on;
    if (kept_) before_.assign(img_);
    const odi::WriteResult r = change();
    fs_.reset();
    if (!r.ok() || !may_run_on) return r;
    if (!runs_on(disk(), odi::root_stack(disk()))) return r;
    for (const odi::Problem& p : disk().check())
      if (!p.note && p.kind != "records_past_32") return r;  // other damage: a whole check says so
    run_on_ = true;
    img_ = before_;
    fs_.reset();
    return {odi::kRefused, "the list would run on into the next sector", -1};
  }

  // Whether an MX_DOS catalogue at or below `n` holds all its records but one or more, so that
  // the step may fill its list.
  bool full_list_near(const Node& n, bool root) const {
    if (cpm()) return false;
    if (listed_count(n) + (root ? 1 : 2) >= 32) return true;
    return std::any_of(n.kids.begin(), n.kids.end(), [&](const auto& kid) {
      return kid.second.catalogue && full_list_near(kid.second, false);
    });
  }
  // Whether a list of 32 records on the disk, at `st` or below, runs on into the next sector.
  static bool runs_on(const odi::FileSystem& fs, const odi::CatalogueStack& st) {
    const odi::Location pos = st.KAT_POS[static_cast<size_t>(st.KAT_LEV)];
    const auto list = fs.list(pos);
    const auto next = fs.image().read(pos + 1024, 32);
    if (list.size() == 32 && next && odi::Record::from(*next).has_marker()) return true;
    for (size_t i = 0; i < list.size(); ++i) {
      odi::CatalogueStack inner = st;
      if (list[i].is_catalogue() && !st.on_path(list[i].inner) &&
          odi::enter(inner, list[i], static_cast<int>(i)) && runs_on(fs, inner))
        return true;
    }
    return false;
  }

  // Bodies are cut from one long pattern at an offset the input chooses: no two files alike,
  // and a body costs one copy.
  static const std::string& pattern() {
    static const std::string p = [] {
      std::string s(65536 + 256, '\0');
      for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 131 + (i >> 8));
      return s;
    }();
    return p;
  }

  size_t listed_count(const Node& n) const {
    return static_cast<size_t>(std::count_if(n.kids.begin(), n.kids.end(),
                                             [&](const auto& kid) { return listed(kid.second); }));
  }

  static std::string join(const Path& p) {
    std::string s;
    for (const auto& k : p) s += "/" + k;
    return s;
  }

  // The disk's own rows of the catalogue at `pos`, keyed as the model keys them; a full
  // sub-catalogue's record of itself is left out. At most 32: looked up one by one, and a name
  // the disk lists twice counts twice.
  struct Rows : std::vector<std::pair<std::string, std::pair<odi::Entry, int>>> {
    const_iterator find(const std::string& k) const {
      return std::find_if(begin(), end(), [&](const auto& r) { return r.first == k; });
    }
  };
  static Rows rows(const odi::FileSystem& fs, odi::Location pos) {
    Rows out;
    const auto list = fs.list(pos);
    out.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
      const odi::Entry& e = list[i];
      if (e.is_catalogue() && e.inner == pos && e.user < 0) continue;
      const std::string_view f = e.rec.name_field();  // trailing blanks are padding
      const auto trim = [](std::string_view v) {
        return std::string(v.substr(0, v.find_last_not_of(' ') + 1));
      };
      out.emplace_back(trim(f.substr(0, 8)) + "|" + trim(f.substr(9, 3)),
                       std::pair{e, static_cast<int>(i)});
    }
    return out;
  }

  // The stack into the catalogue at `p`, and the row of `k` in it (-1 when `k` is not listed).
  std::optional<std::pair<odi::CatalogueStack, int>> stack_for(const Path& p,
                                                               const std::string& k = {}) const {
    return stack_for(disk(), p, k);
  }
  static std::optional<std::pair<odi::CatalogueStack, int>> stack_for(const odi::FileSystem& fs,
                                                                      const Path& p,
                                                                      const std::string& k) {
    auto st = odi::root_stack(fs);
    for (size_t i = 0;; ++i) {
      const odi::Location here = st.KAT_POS[static_cast<size_t>(st.KAT_LEV)];
      const auto rs = rows(fs, here);
      const auto it = rs.find(i < p.size() ? p[i] : k);
      if (i == p.size()) return std::pair{st, it == rs.end() ? -1 : it->second.second};
      if (it != rs.end())
        odi::enter(st, it->second.first, it->second.second);
      else if (const auto hidden = fs.unlisted_catalogue(here, name8(p[i])))
        st.enter(*hidden, name8(p[i]), static_cast<int>(fs.list(here).size()));
      else
        return std::nullopt;
    }
  }

  // The checks after a step: the whole disk every `every_` steps, otherwise what the step wrote.
  bool whole_step() const { return steps_ % every_ == 0; }
  std::optional<std::string> checked(const std::string& what) const {
    if (whole_step()) return verify(what);
    if (auto bad = kind_and_room(disk(), what)) return bad;
    const auto where = stack_for(disk(), touched_.first, {});
    if (!where) return what + ": cannot enter " + join(touched_.first);
    return same(disk(), node(touched_.first), where->first, what, &touched_.second);
  }

  std::optional<std::string> verify(const std::string& what) const {
    const odi::FileSystem& fs = disk();
    if (auto bad = kind_and_room(fs, what)) return bad;
    for (const odi::Problem& p : fs.check())
      if (!p.note) return what + ": check: " + p.path + ": " + p.message;
    return same(fs, root_, odi::root_stack(fs), what);
  }

  // The file system over the image as it is now: opened once after each change, for the checks
  // after it and the choices of the next step.
  const odi::FileSystem& disk() const {
    if (!fs_) {
      view_ = odi::Image(img_);
      fs_ = odi::open_file_system(view_);
    }
    return *fs_;
  }

  // The disk reads as the file system it was made as, and its free room (MX_DOS: the FAT's free
  // cells; CP/M: blocks no entry holds, and unused entries) is what nobody in the model owns.
  std::optional<std::string> kind_and_room(const odi::FileSystem& fs,
                                           const std::string& what) const {
    if (fs.kind() != kind_)
      return what + ": the disk reads as " + std::string(fs_kind_name(fs.kind()));
    const odi::FileSystem::Space space = fs.space();
    if (space.free != capacity(false) - room(root_, false))
      return what + ": " + std::to_string(space.free) + " units free, the model counts " +
             std::to_string(capacity(false) - room(root_, false));
    if (cpm() && space.free_entries != capacity(true) - room(root_, true))
      return what + ": " + std::to_string(space.free_entries) + " entries free, the model counts " +
             std::to_string(capacity(true) - room(root_, true));
    return std::nullopt;
  }

  // The rows of the catalogue at `st` against the model's `n`: names, kinds, size words, and the
  // body and start of each file. With `only`, just the file of that key is read and no catalogue
  // is entered; otherwise every catalogue below is compared too.
  std::optional<std::string> same(const odi::FileSystem& fs, const Node& n,
                                  const odi::CatalogueStack& st, const std::string& what,
                                  const std::string* only = nullptr) const {
    const auto rs = rows(fs, st.KAT_POS[static_cast<size_t>(st.KAT_LEV)]);
    if (rs.size() != listed_count(n))
      return what + ": " + std::to_string(rs.size()) + " rows listed, the model holds " +
             std::to_string(listed_count(n));
    for (const auto& [k, kid] : n.kids) {
      if (!listed(kid)) continue;
      const auto it = rs.find(k);
      if (it == rs.end()) return what + ": " + k + " is not listed";
      const odi::Entry& e = it->second.first;
      if (e.is_catalogue() != kid.catalogue) return what + ": " + k + " has another kind";
      if (!kid.catalogue) {
        if (only && k != *only) continue;
        body_.clear();  // one buffer for all the bodies a check reads
        odi::append_chain_body(fs.image(), fs.walk(e), body_);
        if (body_ != kid.body) return what + ": the body of " + k + " differs";
        if (!cpm() && e.rec.start() != kid.start) return what + ": the start of " + k + " differs";
        continue;
      }
      if (!cpm() && e.rec.size_kb() != room(kid, false, true))
        return what + ": the size word of " + k + " is not the total below it";
      if (only) continue;
      odi::CatalogueStack inner = st;
      if (!odi::enter(inner, e, it->second.second)) return what + ": cannot enter " + k;
      if (auto bad = same(fs, kid, inner, what)) return bad;
    }
    return std::nullopt;
  }

  FsKind kind_ = FsKind::MxDos;
  unsigned mode_ = 0;
  unsigned every_ = 1;
  unsigned steps_ = 0;
  std::string img_;
  std::string before_;  // the image before the step's change, where settle() kept it
  bool kept_ = false;
  bool run_on_ = false;
  std::pair<Path, std::string> touched_;  // the catalogue the step wrote in, and the key
  Node root_;
  mutable std::string body_;
  mutable odi::Image view_;                      // img_, as disk() reads it
  mutable std::unique_ptr<odi::FileSystem> fs_;  // none: img_ changed since disk() opened it
};

}  // namespace writemodel
