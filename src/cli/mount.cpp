// odi mount: an image as a folder, through FUSE 3. Reads come from the image as it is on the PC's
// disk (read again whenever the file changed, by us or by another writer); every change is one
// odi write of its own: the writers' lock, the check before and after, the atomic replacement.
// A file written through the mount is kept in memory while it is open and goes onto the disk
// when it is closed, as `odi put` puts it. The loop runs on one thread: no call overlaps another.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

#include "cli/commands.h"
#include "cli/edit.h"
#include "extract/copy_buf.h"
#include "extract/put_form.h"
#include "state/texts.h"

namespace odi::cli {
namespace {

// What stands for a "/" inside a disk name: no folder entry can hold the real one.
constexpr std::string_view kSlash = "\u2215";
// The most a file being written may grow to in memory (far past anything a disk holds).
constexpr size_t kMaxOpenFile = size_t{4} << 20;

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// The folder entry names of a catalogue's rows: NAME.EXT from the exact name (NAME alone without
// an extension), "/" shown as U+2215. A name no folder can hold ("", ".", "..", one with a NUL, a
// second entry of a name already shown) is "#ROW", the row as `ls --json`'s ref counts it.
std::vector<std::string> mount_names(const std::vector<Entry>& rows) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string n = replace_all(exact_entry_name(rows[i].rec), "/", kSlash);
    if (n.empty() || n == "." || n == ".." || n.find('\0') != std::string::npos ||
        seen.contains(n)) {
      n = "#" + std::to_string(i);
      while (seen.contains(n)) n += "~";
    }
    seen.insert(n);
    out.push_back(std::move(n));
  }
  return out;
}

// A path of the mount, found on a disk.
struct Node {
  bool root = true;
  CatalogueStack stack;  // the catalogue holding the entry (for the root: the root)
  Entry entry;
  int row = -1;
  CatalogueStack inner;  // a catalogue's (or the root's) own stack
  bool listed = true;    // false: a CP/M user area with no files yet
  bool is_dir() const { return root || entry.is_catalogue(); }
};

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 1;
  while (start < path.size()) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::pair<std::string, std::string> split_last(const std::string& path) {
  const size_t slash = path.rfind('/');
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Follows `path` on `disk`: the mount's own names first, then odi's rules for a name (the exact
// name, the listed name, Latin letters in any case), then a CP/M user area with no files yet, when
// `unlisted` allows it (a change may go into one; the folder shows once mkdir made it).
std::optional<Node> resolve(const FileSystem& disk, const std::string& path, int& err,
                            const std::function<bool(const std::string&)>& unlisted = {}) {
  std::string sofar;
  Node n;
  n.inner = root_stack(disk);
  n.stack = n.inner;
  for (const std::string& part : components(path)) {
    if (!n.is_dir() || !n.listed) {
      err = n.listed ? ENOTDIR : ENOENT;
      return std::nullopt;
    }
    const Location here = n.inner.KAT_POS[static_cast<size_t>(n.inner.KAT_LEV)];
    const std::vector<Entry> rows = disk.list(here);
    const std::vector<std::string> names = mount_names(rows);
    int row = static_cast<int>(std::find(names.begin(), names.end(), part) - names.begin());
    if (row == static_cast<int>(rows.size())) row = match_row(rows, replace_all(part, kSlash, "/"));
    Node next;
    next.root = false;
    next.stack = n.inner;
    next.inner = n.inner;
    sofar += "/" + part;
    if (row < 0) {
      const auto hidden =
          !unlisted || unlisted(sofar) ? disk.unlisted_catalogue(here, part) : std::nullopt;
      if (!hidden || !next.inner.enter(*hidden, part, static_cast<int>(rows.size()))) {
        err = ENOENT;
        return std::nullopt;
      }
      next.listed = false;
      next.entry.rec.b[0x17] = 0xFF;  // a catalogue row
    } else {
      next.entry = rows[static_cast<size_t>(row)];
      next.row = row;
      if (next.entry.is_catalogue() && !enter(next.inner, next.entry, row)) {
        err = ENOENT;  // deeper than 10 levels: not followed
        return std::nullopt;
      }
    }
    n = std::move(next);
  }
  return n;
}

// The errno a refused or failed change answers with, from its status and the first words of its
// message, which the writers keep stable.
int errno_of(int status, const std::string& message) {
  if (status == kExitOk) return 0;
  if (status == kExitNotFound) return ENOENT;
  if (status == kExitBusy) return EBUSY;
  if (status == kExitNoImage) return EIO;
  const auto says = [&](std::string_view words) {
    return message.find(words) != std::string::npos;
  };
  if (says("no room") || says("directory full") || says("catalogue full") || says("too deep"))
    return ENOSPC;
  if (says("too large")) return EFBIG;
  if (says("name too long") || says("does not fit")) return ENAMETOOLONG;
  if (says("name taken")) return EEXIST;
  if (says("not empty")) return ENOTEMPTY;
  if (says("damage")) return EIO;
  return EINVAL;
}

// A file open through the mount: its content in the mount's form.
struct OpenFile {
  std::string path;
  std::string data;
  bool dirty = false;  // changed since it was opened or last put on the disk
  bool created = false;
  std::optional<DiskDate> date;  // set by touch before the file was first closed
};

class Mount {
 public:
  Mount(MountArgs a, const Options& form) : a_(std::move(a)), form_(form) {}

  // Looks at the image and decides whether changes may be made; false when it cannot be read.
  bool start(std::string& why);

  int getattr(const std::string& path, struct stat* st);
  int readdir(const std::string& path, void* buf, fuse_fill_dir_t fill);
  int open(const std::string& path, fuse_file_info* fi);
  int create(const std::string& path, fuse_file_info* fi);
  int read(fuse_file_info* fi, char* buf, size_t size, off_t off);
  int write(fuse_file_info* fi, const char* buf, size_t size, off_t off);
  int truncate(const std::string& path, off_t size, fuse_file_info* fi);
  int flush(fuse_file_info* fi);
  int release(fuse_file_info* fi);
  int mkdir(const std::string& path);
  int remove(const std::string& path, bool dir);
  int rename(const std::string& from, const std::string& to, unsigned flags);
  int utimens(const std::string& path, const timespec tv[2]);
  int chmod(const std::string& path, mode_t mode);
  int statfs(struct statvfs* st);

 private:
  void refresh();
  std::optional<Node> find(const std::string& path, int& err);
  // The content of a file in the mount's form; nothing (EIO) for one that cannot be read whole.
  std::optional<std::string> content(const Node& n);
  // One change of the image under its lock: `f` makes it on the Edit and gives an errno, or 0 to
  // have it checked and written.
  int change(const std::function<int(Edit&)>& f);
  // The same for one change by the writer on the entry at `path`.
  int change_entry(
      const std::string& path,
      const std::function<WriteResult(const DiskWriter&, std::string&, const Node&)>& f);
  int put(OpenFile& f);
  OpenFile* pending(const std::string& path);
  void follow(const std::string& from, const std::string& to);
  std::time_t mtime_of(const Entry& e) const;
  void fill_stat(const Node& n, struct stat* st);

  MountArgs a_;
  Options form_;
  bool read_only_ = false;
  LoadedDisk view_;
  struct stat seen_ {};
  // Files' contents in the mount's form, by catalogue and row, for the view as it is.
  std::map<std::string, std::string> contents_;
  std::map<std::uint64_t, OpenFile> open_;
  // Closed files of a hidden name the disk cannot hold, kept until they are renamed: rsync and
  // editors write ".NAME.XXXXXX" first and rename it when it is complete.
  std::map<std::string, OpenFile> parked_;
  // CP/M user areas made by mkdir that hold no file yet: CP/M keeps no trace of them on the disk.
  std::set<std::string> made_;
  std::uint64_t next_fh_ = 1;
};

bool Mount::start(std::string& why) {
  if (!load_disk(a_.image, view_, true, &why)) return false;
  ::stat(view_.path.c_str(), &seen_);
  read_only_ = a_.read_only;
  if (!read_only_ && ::access(a_.image.c_str(), W_OK) != 0) {
    complain(a_.image + ": not writable: mounted read-only");
    read_only_ = true;
  }
  if (!read_only_ && !writer_for(view_.disk->kind())) {
    complain(a_.image + ": no file system odi can write into: mounted read-only");
    read_only_ = true;
  }
  if (!read_only_ && !damage(*view_.disk).empty()) {
    complain(a_.image + ": damaged (see odi check): mounted read-only");
    read_only_ = true;
  }
  return true;
}

void Mount::refresh() {
  struct stat now {};
  if (::stat(view_.path.c_str(), &now) != 0) return;
  if (now.st_ino == seen_.st_ino && now.st_size == seen_.st_size &&
      now.st_mtim.tv_sec == seen_.st_mtim.tv_sec && now.st_mtim.tv_nsec == seen_.st_mtim.tv_nsec)
    return;
  LoadedDisk fresh;
  if (!load_disk(view_.path, fresh, true)) return;
  view_.bytes = std::move(fresh.bytes);
  view_.img = Image(view_.bytes);
  view_.disk = open_file_system(view_.img);
  seen_ = now;
  contents_.clear();
}

std::optional<Node> Mount::find(const std::string& path, int& err) {
  refresh();
  return resolve(*view_.disk, path, err,
                 [this](const std::string& p) { return made_.contains(p); });
}

std::optional<std::string> Mount::content(const Node& n) {
  const std::string key = std::to_string(n.stack.KAT_POS[static_cast<size_t>(n.stack.KAT_LEV)]) +
                          "/" + std::to_string(n.row);
  if (auto it = contents_.find(key); it != contents_.end()) return it->second;
  const CopyResult r = COPY_BUF(*view_.disk, n.entry, form_, entry_date(n.entry, today_text()));
  if (r.ERR_COP != kCopyOk) return std::nullopt;
  return contents_[key] = r.BUF_FIL;
}

OpenFile* Mount::pending(const std::string& path) {
  if (const auto it = parked_.find(path); it != parked_.end()) return &it->second;
  for (auto& [fh, f] : open_)
    if (f.path == path && f.created) return &f;
  return nullptr;
}

// MX_DOS dates at noon, local time (years 70..99 are 19xx, the rest 20xx); a CP/M file, or one
// with no sound date, takes the image's own time.
std::time_t Mount::mtime_of(const Entry& e) const {
  int d = 0;
  int m = 0;
  int y = 0;
  if (e.date.size() == 8 && std::sscanf(e.date.c_str(), "%2d.%2d.%2d", &d, &m, &y) == 3 && d >= 1 &&
      d <= 31 && m >= 1 && m <= 12) {
    std::tm tm{};
    tm.tm_mday = d;
    tm.tm_mon = m - 1;
    tm.tm_year = y >= 70 ? y : y + 100;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
  }
  return seen_.st_mtim.tv_sec;
}

void Mount::fill_stat(const Node& n, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  const mode_t write_bits = read_only_ ? 0 : 0200;
  st->st_uid = ::getuid();
  st->st_gid = ::getgid();
  if (n.is_dir()) {
    st->st_mode = S_IFDIR | 0555 | write_bits;
    st->st_nlink = 2;
    st->st_mtime = n.root ? seen_.st_mtim.tv_sec : mtime_of(n.entry);
    return;
  }
  const bool locked = n.entry.attributes.find('R') != std::string::npos;
  st->st_mode = S_IFREG | 0444 | (locked ? 0 : write_bits);
  st->st_nlink = 1;
  st->st_mtime = mtime_of(n.entry);
  if (form_.bin || form_.rom) {
    st->st_size = n.entry.bytes;
  } else if (const auto c = content(n)) {
    st->st_size = static_cast<off_t>(c->size());
  }
}

int Mount::getattr(const std::string& path, struct stat* st) {
  if (const OpenFile* f = pending(path)) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = S_IFREG | 0644;
    st->st_nlink = 1;
    st->st_size = static_cast<off_t>(f->data.size());
    st->st_mtime = std::time(nullptr);
    return 0;
  }
  int err = 0;
  const auto n = find(path, err);
  if (!n) return -err;
  fill_stat(*n, st);
  return 0;
}

int Mount::readdir(const std::string& path, void* buf, fuse_fill_dir_t fill) {
  int err = 0;
  const auto n = find(path, err);
  if (!n) return -err;
  if (!n->is_dir()) return -ENOTDIR;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  std::set<std::string> shown;
  if (n->listed) {
    const Location here = n->inner.KAT_POS[static_cast<size_t>(n->inner.KAT_LEV)];
    for (const std::string& name : mount_names(view_.disk->list(here))) {
      fill(buf, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
      shown.insert(name);
    }
  }
  const std::string prefix = path == "/" ? "/" : path + "/";
  const auto show = [&](const OpenFile& f) {
    if (!f.created || f.path.rfind(prefix, 0) != 0 ||
        f.path.find('/', prefix.size()) != std::string::npos)
      return;
    const std::string name = f.path.substr(prefix.size());
    if (shown.insert(name).second)
      fill(buf, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  };
  for (const auto& [fh, f] : open_) show(f);
  for (const auto& [p, f] : parked_) show(f);
  for (const std::string& p : made_) {
    OpenFile dir;
    dir.path = p;
    dir.created = true;
    int missing = 0;
    if (const auto area = find(p, missing); area && !area->listed) show(dir);
  }
  return 0;
}

int Mount::open(const std::string& path, fuse_file_info* fi) {
  const bool writing = (fi->flags & O_ACCMODE) != O_RDONLY;
  if (writing && read_only_) return -EROFS;
  OpenFile f;
  f.path = path;
  if (OpenFile* p = pending(path)) {
    f = *p;  // a file still being created: its content so far
  } else {
    int err = 0;
    const auto n = find(path, err);
    if (!n) return -err;
    if (n->is_dir()) return -EISDIR;
    if (writing && n->entry.attributes.find('R') != std::string::npos) return -EACCES;
    if ((fi->flags & O_TRUNC) == 0) {
      const auto c = content(*n);
      if (!c) return -EIO;
      f.data = *c;
    }
  }
  f.dirty = writing && (fi->flags & O_TRUNC) != 0;
  fi->fh = next_fh_++;
  fi->keep_cache = 0;
  open_.emplace(fi->fh, std::move(f));
  return 0;
}

int Mount::create(const std::string& path, fuse_file_info* fi) {
  if (read_only_) return -EROFS;
  int err = 0;
  const auto parent = find(split_last(path).first, err);
  if (!parent) return -err;
  if (!parent->is_dir()) return -ENOTDIR;
  OpenFile f;
  f.path = path;
  f.created = true;
  f.dirty = true;
  fi->fh = next_fh_++;
  open_.emplace(fi->fh, std::move(f));
  return 0;
}

int Mount::read(fuse_file_info* fi, char* buf, size_t size, off_t off) {
  const auto it = open_.find(fi->fh);
  if (it == open_.end()) return -EBADF;
  const std::string& d = it->second.data;
  if (off < 0 || static_cast<size_t>(off) >= d.size()) return 0;
  const size_t n = std::min(size, d.size() - static_cast<size_t>(off));
  std::copy_n(d.data() + off, n, buf);
  return static_cast<int>(n);
}

int Mount::write(fuse_file_info* fi, const char* buf, size_t size, off_t off) {
  const auto it = open_.find(fi->fh);
  if (it == open_.end()) return -EBADF;
  std::string& d = it->second.data;
  if (off < 0 || static_cast<size_t>(off) + size > kMaxOpenFile) return -EFBIG;
  if (static_cast<size_t>(off) + size > d.size()) d.resize(static_cast<size_t>(off) + size);
  std::copy_n(buf, size, d.data() + off);
  it->second.dirty = true;
  return static_cast<int>(size);
}

int Mount::truncate(const std::string& path, off_t size, fuse_file_info* fi) {
  if (read_only_) return -EROFS;
  if (size < 0 || static_cast<size_t>(size) > kMaxOpenFile) return -EFBIG;
  OpenFile* f = nullptr;
  if (fi != nullptr && open_.contains(fi->fh)) f = &open_.at(fi->fh);
  if (f == nullptr) f = pending(path);
  if (f != nullptr) {
    f->data.resize(static_cast<size_t>(size));
    f->dirty = true;
    return 0;
  }
  // truncate(2) of a file nobody has open: one change of its own.
  int err = 0;
  const auto n = find(path, err);
  if (!n) return -err;
  if (n->is_dir()) return -EISDIR;
  const auto c = content(*n);
  if (!c) return -EIO;
  OpenFile whole;
  whole.path = path;
  whole.data = c->substr(0, static_cast<size_t>(size));
  whole.data.resize(static_cast<size_t>(size));
  return -put(whole);
}

int Mount::flush(fuse_file_info* fi) {
  const auto it = open_.find(fi->fh);
  // A file removed while open puts nothing back (its path is empty then).
  if (it == open_.end() || !it->second.dirty || it->second.path.empty()) return 0;
  OpenFile& f = it->second;
  const int err = put(f);
  const bool hidden = split_last(f.path).second.rfind('.', 0) == 0;
  if (err != 0 && f.created && hidden && (err == EINVAL || err == ENAMETOOLONG)) {
    parked_[f.path] = f;
  } else if (err != 0) {
    return -err;
  }
  f.dirty = false;
  f.created = false;
  return 0;
}

int Mount::release(fuse_file_info* fi) {
  open_.erase(fi->fh);
  return 0;
}

int Mount::change(const std::function<int(Edit&)>& f) {
  if (read_only_) return EROFS;
  Edit edit(true);
  if (const int rc = edit.open(a_.image, a_.wait); rc != kExitOk)
    return errno_of(rc, edit.message());
  if (const int err = f(edit); err != 0) return err;
  const int rc = edit.commit();
  if (rc == kExitOk) refresh();
  return errno_of(rc, edit.message());
}

// The disk name of the folder entry name `name`, when the disk can hold it and it would list back
// as `name`; otherwise an errno.
int disk_name_of(const std::string& name, DiskName& out) {
  std::string why;
  const auto n = disk_name_from_utf8(replace_all(name, kSlash, "/"), why);
  if (!n) return why.find("does not fit") != std::string::npos ? ENAMETOOLONG : EINVAL;
  out = *n;
  return 0;
}

// After a change that made or named the entry at `row` of the catalogue `where`: does it show as
// `name`? A name the disk keeps otherwise (CP/M's capitals) is refused, so nothing is written.
int lists_back(const FileSystem& disk, const CatalogueStack& where, int row,
               const std::string& name) {
  const auto rows = disk.list(where.KAT_POS[static_cast<size_t>(where.KAT_LEV)]);
  const auto names = mount_names(rows);
  return row >= 0 && row < static_cast<int>(names.size()) && names[static_cast<size_t>(row)] == name
             ? 0
             : EINVAL;
}

int Mount::change_entry(
    const std::string& path,
    const std::function<WriteResult(const DiskWriter&, std::string&, const Node&)>& f) {
  return change([&](Edit& edit) {
    int err = 0;
    const auto n = resolve(edit.disk(), path, err);
    if (!n) return err;
    if (n->root || !n->listed) return 0;  // nothing on the disk to change
    const int rc =
        edit.apply([&](const DiskWriter& w, std::string& bytes) { return f(w, bytes, *n); });
    return errno_of(rc, edit.message());
  });
}

int Mount::put(OpenFile& f) {
  const auto split = split_last(f.path);
  const std::string& parent_path = split.first;
  const std::string& name = split.second;
  DiskName dn;
  if (const int err = disk_name_of(name, dn); err != 0) return err;
  NewFile nf;
  nf.name8 = dn.name8;
  nf.ext3 = dn.ext3;
  nf.date = f.date.value_or(disk_date());
  std::string why;
  if (form_.rks) {
    auto parts = read_rks(f.data, why);
    if (!parts) return EINVAL;
    nf.start = parts->start;
    nf.body = std::move(parts->body);
    nf.checksum = parts->checksum;
  } else if (form_.txt) {
    auto body = read_txt(f.data, form_, why);
    if (!body) return EINVAL;
    nf.body = std::move(*body);
  } else {
    nf.body = f.data;
  }
  return change([&](Edit& edit) {
    int err = 0;
    const auto parent = resolve(edit.disk(), parent_path, err);
    if (!parent) return err;
    if (!parent->is_dir()) return ENOTDIR;
    const auto old = resolve(edit.disk(), f.path, err);
    if (old && old->is_dir()) return EISDIR;
    if (old && form_.bin) nf.start = old->entry.rec.start();  // a replaced file keeps its address
    WriteResult r;
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          r = w.put_file(bytes, parent->inner, nf, old.has_value());
          return r;
        });
        rc != kExitOk)
      return errno_of(rc, edit.message());
    return lists_back(edit.disk(), parent->inner, r.row, name);
  });
}

int Mount::mkdir(const std::string& path) {
  const auto split = split_last(path);
  const std::string& parent_path = split.first;
  const std::string& name = split.second;
  DiskName dn;
  if (const int err = disk_name_of(name, dn); err != 0) return -err;
  return -change([&](Edit& edit) {
    int err = 0;
    const auto parent = resolve(edit.disk(), parent_path, err);
    if (!parent) return err;
    const auto listed_only = [](const std::string&) { return false; };
    if (resolve(edit.disk(), path, err, listed_only) || made_.contains(path)) return EEXIST;
    WriteResult r;
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          r = w.make_catalogue(bytes, parent->inner, dn.name8, dn.ext3, disk_date());
          return r;
        });
        rc != kExitOk)
      return errno_of(rc, edit.message());
    if (r.row >= 0) return lists_back(edit.disk(), parent->inner, r.row, name);
    made_.insert(path);  // CP/M: a user area is made by its first file
    return 0;
  });
}

// Open files follow their entry: renamed, they go onto the disk under the new name when closed;
// removed (`to` empty), they put nothing back.
void Mount::follow(const std::string& from, const std::string& to) {
  for (auto& [fh, f] : open_) {
    if (f.path != from) continue;
    f.path = to;
    if (to.empty()) f.dirty = f.created = false;
  }
}

int Mount::remove(const std::string& path, bool dir) {
  if (!dir && parked_.erase(path) > 0) return 0;
  const int refused = change([&](Edit& edit) {
    int err = 0;
    const auto n = resolve(edit.disk(), path, err);
    if (!n) return err;
    if (n->root) return EBUSY;
    if (n->is_dir() != dir) return dir ? ENOTDIR : EISDIR;
    if (!n->listed) {
      made_.erase(path);  // an empty CP/M user area: nothing on the disk to remove
      return 0;
    }
    const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
      return w.remove_entry(bytes, n->stack, n->row, false);
    });
    return errno_of(rc, edit.message());
  });
  if (refused == 0 && !dir) follow(path, "");
  return -refused;
}

int Mount::rename(const std::string& from, const std::string& to, unsigned flags) {
  if (flags & RENAME_EXCHANGE) return -EINVAL;
  if (const auto it = parked_.find(from); it != parked_.end()) {
    OpenFile f = std::move(it->second);
    parked_.erase(it);
    f.path = to;
    if (const int err = put(f); err != 0) {
      parked_[from] = std::move(f);
      parked_[from].path = from;
      return -err;
    }
    return 0;
  }
  if (OpenFile* p = pending(from)) {
    p->path = to;  // not on the disk yet: it goes there under its new name when closed
    return 0;
  }
  const auto split = split_last(to);
  const std::string& to_parent = split.first;
  const std::string& to_name = split.second;
  DiskName dn;
  if (const int err = disk_name_of(to_name, dn); err != 0) return -err;
  const int moved_err = change([&](Edit& edit) -> int {
    int err = 0;
    const auto src = resolve(edit.disk(), from, err);
    if (!src) return err;
    if (src->root || !src->listed) return EBUSY;
    const auto parent = resolve(edit.disk(), to_parent, err);
    if (!parent) return err;
    if (!parent->is_dir()) return ENOTDIR;
    const bool same_place =
        parent->inner.KAT_LEV == src->stack.KAT_LEV && parent->inner.KAT_POS == src->stack.KAT_POS;
    if (!same_place && src->is_dir()) return EXDEV;  // mv(1) then copies the tree and removes it
    if (const auto old = resolve(edit.disk(), to, err)) {
      if (old->row == src->row && same_place) return 0;
      if (flags & RENAME_NOREPLACE) return EEXIST;
      if (old->is_dir() != src->is_dir()) return old->is_dir() ? EISDIR : ENOTDIR;
      if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
            return w.remove_entry(bytes, old->stack, old->row, false);
          });
          rc != kExitOk)
        return errno_of(rc, edit.message());
    }
    const auto moved = resolve(edit.disk(), from, err);  // rows may have moved up
    if (!moved) return err;
    WriteResult r;
    int rc = kExitOk;
    if (same_place) {
      rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
        return r = w.rename_entry(bytes, moved->stack, moved->row, dn.name8, dn.ext3);
      });
    } else {
      // Into another catalogue: the same record there, then the old one removed, in one change.
      const ChainWalk walk = edit.disk().walk(moved->entry);
      if (walk.ERR_COP != kCopyOk) return EIO;
      NewFile nf;
      nf.name8 = dn.name8;
      nf.ext3 = dn.ext3;
      nf.start = moved->entry.rec.start();
      nf.body = edit.disk().body(moved->entry);
      std::copy_n(moved->entry.rec.b.begin() + 0x10, 3, nf.date.begin());
      nf.checksum = moved->entry.rec.checksum();
      rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
        return r = w.put_file(bytes, parent->inner, nf, false);
      });
      const auto again = rc == kExitOk ? resolve(edit.disk(), from, err) : std::nullopt;
      if (rc == kExitOk && !again) return err;
      if (rc == kExitOk)
        rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          return w.remove_entry(bytes, again->stack, again->row, false);
        });
      if (rc == kExitOk) r.row = -1;  // found again below: the removal may move it up
    }
    if (rc != kExitOk) return errno_of(rc, edit.message());
    const auto now = resolve(edit.disk(), to, err);
    if (!now) return EINVAL;
    return lists_back(edit.disk(), now->stack, now->row, to_name);
  });
  if (moved_err == 0) follow(from, to);
  return -moved_err;
}

int Mount::utimens(const std::string& path, const timespec tv[2]) {
  if (read_only_) return -EROFS;
  if (tv != nullptr && tv[1].tv_nsec == UTIME_OMIT) return 0;
  const DiskDate date =
      disk_date(tv == nullptr || tv[1].tv_nsec == UTIME_NOW ? std::time(nullptr) : tv[1].tv_sec);
  if (OpenFile* p = pending(path)) {
    p->date = date;
    return 0;
  }
  return -change_entry(path, [&](const DiskWriter& w, std::string& bytes, const Node& n) {
    return w.set_date(bytes, n.stack, n.row, date);
  });
}

int Mount::chmod(const std::string& path, mode_t mode) {
  if (read_only_) return -EROFS;
  if (pending(path)) return 0;
  return -change_entry(path, [&](const DiskWriter& w, std::string& bytes, const Node& n) {
    return w.set_read_only(bytes, n.stack, n.row, (mode & 0222) == 0);
  });
}

int Mount::statfs(struct statvfs* st) {
  refresh();
  const FileSystem::Space s = view_.disk->space();
  std::memset(st, 0, sizeof *st);
  st->f_bsize = st->f_frsize = static_cast<unsigned long>(s.unit);
  st->f_blocks = static_cast<fsblkcnt_t>(s.total);
  st->f_bfree = st->f_bavail = static_cast<fsblkcnt_t>(s.free);
  st->f_files = static_cast<fsfilcnt_t>(s.entries);
  st->f_ffree = st->f_favail = static_cast<fsfilcnt_t>(s.free_entries);
  st->f_namemax = 12;
  return 0;
}

// The FUSE operations: each hands its call to the one Mount.
Mount& self() {
  return *static_cast<Mount*>(fuse_get_context()->private_data);
}

fuse_operations operations() {
  fuse_operations ops{};
  ops.init = [](fuse_conn_info*, fuse_config* cfg) -> void* {
    // Changes made by other programs (odi put while mounted) show within a second.
    cfg->entry_timeout = cfg->attr_timeout = 0.5;
    cfg->negative_timeout = 0;
    cfg->hard_remove = 1;
    return fuse_get_context()->private_data;
  };
  ops.getattr = [](const char* p, struct stat* st, fuse_file_info*) {
    return self().getattr(p, st);
  };
  ops.readdir = [](const char* p, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                   fuse_readdir_flags) { return self().readdir(p, buf, fill); };
  ops.open = [](const char* p, fuse_file_info* fi) { return self().open(p, fi); };
  ops.create = [](const char* p, mode_t, fuse_file_info* fi) { return self().create(p, fi); };
  ops.read = [](const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
    return self().read(fi, buf, size, off);
  };
  ops.write = [](const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
    return self().write(fi, buf, size, off);
  };
  ops.truncate = [](const char* p, off_t size, fuse_file_info* fi) {
    return self().truncate(p, size, fi);
  };
  ops.flush = [](const char*, fuse_file_info* fi) { return self().flush(fi); };
  ops.fsync = [](const char*, int, fuse_file_info* fi) { return self().flush(fi); };
  ops.release = [](const char*, fuse_file_info* fi) { return self().release(fi); };
  ops.mkdir = [](const char* p, mode_t) { return self().mkdir(p); };
  ops.rmdir = [](const char* p) { return self().remove(p, true); };
  ops.unlink = [](const char* p) { return self().remove(p, false); };
  ops.rename = [](const char* from, const char* to, unsigned flags) {
    return self().rename(from, to, flags);
  };
  ops.utimens = [](const char* p, const timespec tv[2], fuse_file_info*) {
    return self().utimens(p, tv);
  };
  ops.chmod = [](const char* p, mode_t mode, fuse_file_info*) { return self().chmod(p, mode); };
  // Owners have no place on these disks: accepted without effect, so cp -a and rsync -a go on.
  ops.chown = [](const char*, uid_t, gid_t, fuse_file_info*) { return 0; };
  ops.statfs = [](const char*, struct statvfs* st) { return self().statfs(st); };
  return ops;
}

}  // namespace

int cmd_mount(const MountArgs& a) {
  std::string error;
  const auto opt = options_from(a.form, error);
  if (!opt) {
    complain(error);
    return kExitUsage;
  }
  MountArgs abs = a;
  std::error_code ec;
  abs.image = fs::absolute(a.image, ec).string();  // the daemon leaves the working folder
  Mount mount(abs, *opt);
  if (!mount.start(error)) {
    complain(a.image + ": cannot open: " + error);
    return kExitNoImage;
  }
  std::vector<std::string> args{"odi", a.mountpoint, "-s", "-o",
                                "fsname=odi,subtype=odi,default_permissions,auto_unmount"};
  if (a.foreground) args.emplace_back("-f");
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  const fuse_operations ops = operations();
  const int rc = fuse_main(static_cast<int>(argv.size()), argv.data(), &ops, &mount);
  return rc == 0 ? kExitOk : kExitNoImage;
}

}  // namespace odi::cli
