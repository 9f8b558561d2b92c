// The web page's binding (embind): the core as the window and `odi` use it, behind two classes
// for the worker. Structured answers are JSON text; bytes stay in a buffer of the object, which
// the caller copies out with buffer() before its next call.
//   Disk   one image: its labels, the catalogue shown (ls --json rows), entering and leaving
//          catalogues, the preview, a file in a form with the copy's name, the whole disk as
//          `odi extract --all` writes it, and `odi check`'s findings.
//          It is also changed as odi's writing commands change an image (new, put, mkdir, mv,
//          rm -r), by the same code (cli/change.h) on the copy it holds; image() gives the bytes.
//   Panel  the options panel's boxes under the window's rules.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/change.h"
#include "cli/cli.h"
#include "cli/ls_row.h"
#include "extract/copy_buf.h"
#include "extract/target.h"
#include "image/fs.h"
#include "options/rules.h"
#include "state/cp1251.h"

namespace {

using json = nlohmann::ordered_json;
using odi::cli::DiskChange;
using odi::cli::kExitOk;
using odi::opt::Box;

std::string dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The options of a mask of the panel's boxes (bit n: Box n ticked).
odi::Options options_of(int mask) {
  auto on = [mask](Box b) { return ((mask >> static_cast<int>(b)) & 1) != 0; };
  odi::Options o;
  o.bin = on(Box::BIN);
  o.rom = on(Box::ROM);
  o.rks = on(Box::RKS);
  o.txt = on(Box::TXT);
  o.dos = on(Box::DOS);
  o.win = on(Box::WIN);
  o.koi8 = on(Box::KOI8);
  o.koi7 = on(Box::KOI7);
  return o;
}

emscripten::val view_of(const std::string& s) {
  return emscripten::val(
      emscripten::typed_memory_view(s.size(), reinterpret_cast<const unsigned char*>(s.data())));
}

// The answer to a change: its exit status as odi's, the message odi would say (without "odi: "),
// whether the bytes changed, and the row of the changed entry.
std::string outcome(int status, const std::string& message, bool changed = false, int row = -1) {
  return dump(json{{"status", status},
                   {"message", status == kExitOk ? "" : message},
                   {"changed", changed},
                   {"row", row}});
}

// A fresh disk as `odi new` makes it ({status, message}); the bytes in new_bytes().
std::string g_new;
std::string new_disk(bool cpm, const std::string& name, const std::string& image) {
  odi::cli::NewArgs a;
  a.image = image;
  a.cpm = cpm;
  a.name = cpm ? "" : name;
  g_new.clear();
  std::string message;
  int rc = odi::cli::check_new(a, message);
  if (rc == kExitOk) rc = odi::cli::make_new_disk(a, nullptr, g_new, message);
  if (rc != kExitOk) g_new.clear();
  return outcome(rc, message);
}
emscripten::val new_bytes() {
  return view_of(g_new);
}

class Disk {
 public:
  explicit Disk(std::string bytes) : bytes_(std::move(bytes)), img_(bytes_) {
    fs_ = odi::open_file_system(img_);
    stack_ = odi::root_stack(*fs_);
    today_ = odi::today_text();
    load();
  }

  // The image's file name, which odi's messages begin with.
  void set_name(const std::string& name) { name_ = name; }

  // The labels the window shows for the image and the catalogue shown.
  std::string info() const {
    // The version label shows control bytes as blanks.
    std::string ver = odi::cp1251_to_utf8(fs_->version_text());
    for (char& c : ver)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    json j;
    j["file_system"] = std::string(odi::fs_kind_name(fs_->kind()));
    j["version"] = ver;
    j["disk_name"] = odi::cp1251_to_utf8(fs_->disk_name());
    j["path"] = odi::cp1251_to_utf8(stack_.path_text());
    j["folder"] = odi::target_dir("", stack_).generic_string();
    j["level"] = stack_.KAT_LEV;
    j["size"] = img_.size();
    j["today"] = today_;
    return dump(j);
  }

  // The rows of the catalogue shown, as `odi ls --json` gives them.
  std::string list() const {
    json list = json::array();
    odi::cli::walk_tree(*fs_, here_, false, [&](const odi::cli::Visit& v) {
      list.push_back(odi::cli::ls_json_row(*fs_, v, today_));
    });
    return dump(list);
  }

  bool enter(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    const odi::Entry& e = rows_[static_cast<size_t>(row)];
    if (!e.is_catalogue() || !odi::enter(stack_, e, row)) return false;
    names_.push_back(odi::entry_name(e.rec));
    refs_.push_back("#" + std::to_string(row));
    exacts_.push_back(odi::cli::escape_name(odi::cli::exact_entry_name(e.rec)));
    load();
    return true;
  }

  bool up() {
    if (!stack_.up()) return false;
    names_.pop_back();
    refs_.pop_back();
    exacts_.pop_back();
    load();
    return true;
  }

  // The preview window's text of a file row: the copy's content, a dump unless the form is txt.
  std::string preview(int row, int mask) const {
    const odi::Entry* e = file(row);
    if (!e) return {};
    const odi::Options opt = options_of(mask);
    std::string buf = odi::COPY_BUF(*fs_, *e, opt, odi::entry_date(*e, today_)).BUF_FIL;
    if (!opt.txt) buf = odi::DAMP_TXT(buf, opt.win);
    return odi::view_text(buf);
  }

  // A file row as the copy writes it: {name, err}; the bytes in buffer().
  std::string copy(int row, int mask) {
    out_.clear();
    const odi::Entry* e = file(row);
    if (!e) return "null";
    const odi::Options opt = options_of(mask);
    odi::CopyResult r = odi::COPY_BUF(*fs_, *e, opt, odi::entry_date(*e, today_));
    out_ = std::move(r.BUF_FIL);
    return dump(json{{"name", odi::output_name(e->rec, opt)}, {"err", r.ERR_COP}});
  }

  // Every file of the disk as `odi extract --all -o ROOT` writes it below ROOT: a list of
  // {path, size, err}; the bytes one after another in buffer().
  std::string extract_all(int mask) {
    const odi::Options opt = options_of(mask);
    out_.clear();
    json list = json::array();
    odi::cli::Found root;
    root.stack = odi::root_stack(*fs_);
    odi::cli::walk_tree(*fs_, root, true, [&](const odi::cli::Visit& v) {
      if (!v.entry.is_file()) return;
      const odi::fs::path path = odi::target_dir("", v.stack) / odi::output_name(v.entry.rec, opt);
      const odi::CopyResult r = odi::COPY_BUF(*fs_, v.entry, opt, odi::entry_date(v.entry, today_));
      out_ += r.BUF_FIL;
      list.push_back(
          {{"path", path.generic_string()}, {"size", r.BUF_FIL.size()}, {"err", r.ERR_COP}});
    });
    return dump(list);
  }

  // `odi check`'s findings: {sound, problems: [{kind, path, message, note}]}.
  std::string check() {
    bool sound = true;
    json list = json::array();
    for (const odi::Problem& p : problems()) {
      sound = sound && p.note;
      list.push_back(
          {{"kind", p.kind}, {"path", p.path}, {"message", p.message}, {"note", p.note}});
    }
    return dump(json{{"sound", sound}, {"problems", list}});
  }

  emscripten::val buffer() const { return view_of(out_); }

  // ---- Changes, each as odi makes it on the catalogue shown ----
  // The whole image as it is now.
  emscripten::val image() const { return view_of(bytes_); }

  // The image replaced by `bytes` (undo), the same catalogue shown where it still is.
  void reset(std::string bytes) {
    bytes_ = std::move(bytes);
    reopen();
  }

  // A PC file for the next put.
  void add_source(const std::string& name, std::string bytes) {
    sources_.emplace_back(name, std::move(bytes));
  }

  // `odi put [--rks | --txt --codepage CP | --start 0xSTART] IMAGE CATPATH FILE...` with the
  // sources added, in the form `form` (bin, rks or txt), the code page of the panel's `mask`.
  std::string put(const std::string& form, const std::string& start, int mask) {
    odi::cli::PutArgs a;
    a.image = name_;
    a.catpath = exact_path();
    a.rks = form == "rks";
    a.txt = form == "txt";
    if (form == "bin") a.start = hex_address(start);
    a.codepage = options_of(mask).dos ? "dos" : "win";
    std::vector<std::pair<std::string, std::string>> sources;
    sources.swap(sources_);
    for (const auto& src : sources) a.files.push_back(src.first);
    odi::NewFile proto;
    std::vector<odi::NewFile> files;
    std::string message;
    int rc = odi::cli::put_settings(a, proto, message);
    size_t next = 0;
    const auto read = [&](const std::string&, std::int64_t limit) {
      return source(sources[next++].second, limit);
    };
    if (rc == kExitOk)
      rc = odi::cli::read_put_files(a, proto, odi::cli::put_bound(fs_->kind(), bytes_, false), read,
                                    files, message);
    if (rc != kExitOk) return outcome(rc, message);
    return change([&](DiskChange& c) { return odi::cli::put_files(c, a.catpath, files, false); });
  }

  // `odi mkdir IMAGE CATPATH/NAME`.
  std::string mkdir(const std::string& name) {
    std::string message;
    const auto dn = odi::cli::name_for(name_, name, message);
    if (!dn) return outcome(odi::cli::kExitProblem, message);
    const odi::cli::DiskDate date = odi::cli::disk_date();
    return change(
        [&](DiskChange& c) { return odi::cli::make_catalogue(c, exact_path(), *dn, date); });
  }

  // `odi mv IMAGE CATPATH/#ROW NAME`.
  std::string rename(int row, const std::string& name) {
    std::string message;
    const auto dn = odi::cli::name_for(name_, name, message);
    if (!dn) return outcome(odi::cli::kExitProblem, message);
    return change([&](DiskChange& c) { return odi::cli::rename_entry(c, row_path(row), *dn); });
  }

  // `odi rm -r IMAGE CATPATH/#ROW`.
  std::string remove(int row) {
    return change(
        [&](DiskChange& c) { return odi::cli::remove_entries(c, {row_path(row)}, true); });
  }

  // How many rows the catalogue at `row` lists (0 for anything else).
  int holds(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    const odi::Entry& e = rows_[static_cast<size_t>(row)];
    odi::CatalogueStack inner = stack_;
    if (!e.is_catalogue() || !odi::enter(inner, e, row)) return 0;
    return static_cast<int>(fs_->list(inner.KAT_POS[static_cast<size_t>(inner.KAT_LEV)]).size());
  }

 private:
  // A start address typed as hex digits, as `--start 0xHHHH` takes it.
  static std::string hex_address(const std::string& s) {
    if (s.empty() || s.starts_with("0x") || s.starts_with("0X") || s.ends_with('h') ||
        s.ends_with('H'))
      return s;
    return "0x" + s;
  }

  // A source's bytes as odi reads a file: no further than `limit` + 1 bytes.
  static odi::cli::Input source(const std::string& bytes, std::int64_t limit) {
    odi::cli::Input in;
    const auto most = static_cast<size_t>(limit) + 1;
    in.too_large = bytes.size() >= most;
    in.bytes = bytes.substr(0, most);
    return in;
  }

  std::string exact_path() const {
    std::string path;
    for (const std::string& e : exacts_) path += (path.empty() ? "" : "/") + e;
    return path;
  }

  std::string row_path(int row) const {
    const std::string path = exact_path();
    return path + (path.empty() ? "#" : "/#") + std::to_string(row);
  }

  // One change on a copy of the image, which replaces it only when the change is made whole and
  // leaves a sound disk.
  std::string change(const std::function<int(DiskChange&)>& f) {
    DiskChange c;
    c.set_name(name_);
    int rc = c.open(bytes_, &problems());
    if (rc == kExitOk) rc = f(c);
    if (rc == kExitOk) rc = c.check();
    const bool changed = rc == kExitOk && c.changed();
    if (changed) {
      reset(c.bytes());
      problems_ = c.problems();  // the check the change was kept on: a full check costs
      checked_ = true;
    }
    return outcome(rc, c.message(), changed, rc == kExitOk ? c.row() : -1);
  }

  // What `odi check` finds on the image, looked for once for each state of its bytes.
  const std::vector<odi::Problem>& problems() {
    if (!checked_) problems_ = fs_->check();
    checked_ = true;
    return problems_;
  }

  // The image read again after a change, at the catalogue shown before it (else the root).
  void reopen() {
    img_ = odi::Image(bytes_);
    fs_ = odi::open_file_system(img_);
    checked_ = false;
    std::string error;
    const auto found = odi::cli::find_catalogue(*fs_, exact_path(), error, true);
    if (found) {
      stack_ = found->stack;
      names_ = found->path;
    } else {
      stack_ = odi::root_stack(*fs_);
      names_.clear();
      exacts_.clear();
    }
    refs_.clear();
    for (const std::string& r : odi::cli::split_path(found ? found->ref : "")) refs_.push_back(r);
    load();
  }

  void load() {
    rows_ = fs_->list(stack_.KAT_POS[static_cast<size_t>(stack_.KAT_LEV)]);
    here_.stack = stack_;
    here_.path = names_;
    here_.ref.clear();
    for (size_t i = 0; i < refs_.size(); ++i) here_.ref += (i ? "/" : "") + refs_[i];
  }

  const odi::Entry* file(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    const odi::Entry& e = rows_[static_cast<size_t>(row)];
    return e.is_file() ? &e : nullptr;
  }

  std::string name_ = "image.odi";
  std::string bytes_;
  odi::Image img_;
  std::unique_ptr<odi::FileSystem> fs_;
  odi::CatalogueStack stack_;
  std::vector<std::string> names_, refs_, exacts_;
  std::vector<std::pair<std::string, std::string>> sources_;
  odi::cli::Found here_;
  std::vector<odi::Entry> rows_;
  std::vector<odi::Problem> problems_;
  bool checked_ = false;
  std::string today_;
  std::string out_;
};

class Panel {
 public:
  bool click(int box) { return p_.user_click(static_cast<Box>(box)); }
  // The copy button's switch: on for a file row, off otherwise (the frames go with it).
  void select(bool file) {
    if (file)
      p_.rules.DA_COPY();
    else
      p_.rules.NET_COPY();
  }
  int mask() const {
    int m = 0;
    for (int b = 0; b < odi::opt::kBoxCount; ++b)
      if (p_.value(static_cast<Box>(b))) m |= 1 << b;
    return m;
  }
  // {values, usable, kod_caption}
  std::string state() const {
    json values = json::array(), usable = json::array();
    for (int b = 0; b < odi::opt::kBoxCount; ++b) {
      values.push_back(p_.value(static_cast<Box>(b)));
      usable.push_back(p_.usable(static_cast<Box>(b)));
    }
    return dump(json{{"values", values}, {"usable", usable}, {"kod_caption", p_.kod_caption}});
  }

 private:
  odi::opt::Panel p_;
};

}  // namespace

EMSCRIPTEN_BINDINGS(odicore) {
  emscripten::class_<Disk>("Disk")
      .constructor<std::string>()
      .function("info", &Disk::info)
      .function("list", &Disk::list)
      .function("enter", &Disk::enter)
      .function("up", &Disk::up)
      .function("preview", &Disk::preview)
      .function("copy", &Disk::copy)
      .function("extractAll", &Disk::extract_all)
      .function("check", &Disk::check)
      .function("buffer", &Disk::buffer)
      .function("setName", &Disk::set_name)
      .function("image", &Disk::image)
      .function("reset", &Disk::reset)
      .function("addSource", &Disk::add_source)
      .function("put", &Disk::put)
      .function("mkdir", &Disk::mkdir)
      .function("rename", &Disk::rename)
      .function("remove", &Disk::remove)
      .function("holds", &Disk::holds);
  emscripten::function("newDisk", &new_disk);
  emscripten::function("newBytes", &new_bytes);
  emscripten::class_<Panel>("Panel")
      .constructor<>()
      .function("click", &Panel::click)
      .function("select", &Panel::select)
      .function("mask", &Panel::mask)
      .function("state", &Panel::state);
}
