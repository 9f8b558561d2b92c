#include "mount/mount.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "extract/copy_buf.h"
#include "extract/put_form.h"
#include "mount/names.h"
#include "state/texts.h"

namespace odi::mount {
namespace {

// The most a file being written may grow to in memory (far past anything a disk holds).
constexpr size_t kMaxOpenFile = size_t{4} << 20;

bool is_locked(const Entry& e) {
  return e.attributes.find('R') != std::string::npos;
}

}  // namespace

bool Mount::start(std::string& why) {
  if (!cli::load_disk(a_.image, view_, true, &why)) return false;
  ::stat(view_.path.c_str(), &seen_);
  read_only_ = a_.read_only;
  if (!read_only_ && ::access(a_.image.c_str(), W_OK) != 0) {
    cli::complain(a_.image + ": not writable: mounted read-only");
    read_only_ = true;
  }
  writer_ = writer_for(view_.disk->kind());
  if (!read_only_ && !writer_) {
    cli::complain(a_.image + ": no file system odi can write into: mounted read-only");
    read_only_ = true;
  }
  if (!read_only_ && !cli::damage(*view_.disk).empty()) {
    cli::complain(a_.image + ": damaged (see odi check): mounted read-only");
    read_only_ = true;
  }
  return true;
}

const DiskWriter& Mount::writer() const {
  return *writer_;
}

void Mount::refresh() {
  struct stat now {};
  if (::stat(view_.path.c_str(), &now) != 0) return;
  if (now.st_ino == seen_.st_ino && now.st_size == seen_.st_size &&
      now.st_mtim.tv_sec == seen_.st_mtim.tv_sec && now.st_mtim.tv_nsec == seen_.st_mtim.tv_nsec)
    return;
  cli::LoadedDisk fresh;
  if (!cli::load_disk(view_.path, fresh, true)) return;
  view_.bytes = std::move(fresh.bytes);
  view_.img = Image(view_.bytes);
  view_.disk = open_file_system(view_.img);
  seen_ = now;
  contents_.clear();
  ++generation_;
}

std::string Mount::on_disk(const std::string& path) const {
  const auto it = aliases_.find(path);
  return it == aliases_.end() ? path : it->second;
}

std::optional<Node> Mount::find(const std::string& path, int& err) {
  refresh();
  return resolve(*view_.disk, on_disk(path), err,
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
  st->st_mode = S_IFREG | 0444 | (is_locked(n.entry) ? 0 : write_bits);
  st->st_nlink = 1;
  st->st_mtime = mtime_of(n.entry);
  // bin and rom are the body as stored, whose length the record gives; the other forms are
  // made (and kept) to be measured.
  if (form_.bin || form_.rom) {
    st->st_size = n.entry.bytes;
  } else if (const auto c = content(n)) {
    st->st_size = static_cast<off_t>(c->size());
  }
  st->st_blocks = (st->st_size + 511) / 512;
}

// A file open through the mount is as large as what it holds now, whatever the disk says.
void Mount::fill_open_stat(const OpenFile& f, struct stat* st) {
  st->st_size = static_cast<off_t>(f.data.size());
  st->st_blocks = (st->st_size + 511) / 512;
  if (f.created) {
    st->st_mode = S_IFREG | 0644;
    st->st_nlink = 1;
    st->st_uid = ::getuid();
    st->st_gid = ::getgid();
    st->st_mtime = std::time(nullptr);
  }
}

int Mount::getattr(const std::string& path, struct stat* st, fuse_file_info* fi) {
  const OpenFile* f = files_.of(fi, path);
  if (f == nullptr || !f->created) {
    int err = 0;
    const auto n = find(path, err);
    if (!n && f == nullptr) return -err;
    if (n) fill_stat(*n, st);
  } else {
    std::memset(st, 0, sizeof *st);
  }
  if (f != nullptr) fill_open_stat(*f, st);
  caches_.seen(path);
  return 0;
}

// The folder's entries in order: ".", "..", the catalogue's rows (with their attributes when
// `plus`), files made through the mount and not on the disk yet, and CP/M user areas made empty.
std::vector<Mount::Listed> Mount::listing(const std::string& path, const Node& n, bool plus) {
  std::vector<Listed> out{{".", {}}, {"..", {}}};
  std::set<std::string> shown;
  const std::string prefix = path == "/" ? "/" : path + "/";
  if (n.listed) {
    const std::vector<Entry> rows = view_.disk->list(n.here());
    const std::vector<std::string> names = mount_names(rows);
    for (size_t i = 0; i < rows.size(); ++i) {
      Listed l{names[i], {}};
      if (plus && !files_.at(prefix + names[i])) {
        Node child;
        child.root = false;
        child.stack = n.inner;
        child.entry = rows[i];
        child.row = static_cast<int>(i);
        fill_stat(child, &l.st);
        caches_.seen(prefix + names[i]);
      }
      shown.insert(names[i]);
      out.push_back(std::move(l));
    }
  }
  for (const std::string& name : files_.created_in(path))
    if (shown.insert(name).second) out.push_back({name, {}});
  for (const std::string& p : made_) {
    int missing = 0;
    const auto [dir, name] = split_last(p);
    if (dir != path) continue;
    if (const auto area = find(p, missing); area && !area->listed && shown.insert(name).second)
      out.push_back({name, {}});
  }
  return out;
}

int Mount::readdir(const std::string& path, void* buf, fuse_fill_dir_t fill, off_t offset,
                   bool plus) {
  int err = 0;
  const auto n = find(path, err);
  if (!n) return -err;
  if (!n->is_dir()) return -ENOTDIR;
  const std::vector<Listed> all = listing(path, *n, plus);
  // Each entry with the offset of the next: the kernel then takes the attributes of a listing
  // with its names and looks none of them up again.
  for (auto k = static_cast<size_t>(std::max<off_t>(offset, 0)); k < all.size(); ++k) {
    const bool with = all[k].st.st_mode != 0;
    if (fill(buf, all[k].name.c_str(), with ? &all[k].st : nullptr, static_cast<off_t>(k + 1),
             with ? FUSE_FILL_DIR_PLUS : static_cast<fuse_fill_dir_flags>(0)) != 0)
      break;
  }
  return 0;
}

int Mount::open(const std::string& path, fuse_file_info* fi) {
  const bool writing = (fi->flags & O_ACCMODE) != O_RDONLY;
  if (writing && read_only_) return -EROFS;
  // A read-only mount needs no open files: told so, the kernel sends no open and no release at
  // all, and a warm read is the page cache's alone (dropped by KernelCaches when the image
  // changes).
  if (read_only_) return -ENOSYS;
  std::shared_ptr<OpenFile> f = files_.at(path);
  int err = 0;
  const auto n = f && f->created ? std::nullopt : find(path, err);
  if (!f) {
    if (!n) return -err;
    if (n->is_dir()) return -EISDIR;
  }
  if (writing && n && is_locked(n->entry)) return -EACCES;
  if (!f) {
    f = std::make_shared<OpenFile>();
    f->path = path;
    if ((fi->flags & O_TRUNC) == 0) {
      const auto c = content(*n);
      if (!c) return -EIO;
      f->data = *c;
    }
  }
  if (writing && (fi->flags & O_TRUNC) != 0) {
    f->data.clear();
    f->dirty = true;
  }
  // The kernel's pages of the file stay only while the image is as it was at the last open.
  auto& at = opened_at_[path];
  fi->keep_cache = !writing && at == generation_ && !f->dirty ? 1 : 0;
  at = generation_;
  fi->fh = files_.add(f);
  return 0;
}

int Mount::create(const std::string& path, fuse_file_info* fi) {
  if (read_only_) return -EROFS;
  int err = 0;
  const auto parent = find(split_last(path).first, err);
  if (!parent) return -err;
  if (!parent->is_dir()) return -ENOTDIR;
  std::shared_ptr<OpenFile> f = files_.at(path);
  if (!f) {
    f = std::make_shared<OpenFile>();
    f->path = path;
    // A name already on the disk is that file, emptied (creat(2) without O_EXCL).
    f->created = !find(path, err).has_value();
  }
  f->data.clear();
  f->dirty = true;
  opened_at_.erase(path);
  fi->fh = files_.add(f);
  return 0;
}

int Mount::read(const std::string& path, fuse_file_info* fi, char* buf, size_t size, off_t off) {
  const OpenFile* f = files_.of(fi->fh);
  std::optional<std::string> whole;
  if (f == nullptr) {  // a read-only mount keeps no open files: the file by its path
    int err = 0;
    const auto n = find(path, err);
    if (!n) return -err;
    if (whole = content(*n); !whole) return -EIO;
  }
  const std::string& d = f != nullptr ? f->data : *whole;
  if (off < 0 || static_cast<size_t>(off) >= d.size()) return 0;
  const size_t n = std::min(size, d.size() - static_cast<size_t>(off));
  std::copy_n(d.data() + off, n, buf);
  return static_cast<int>(n);
}

int Mount::write(fuse_file_info* fi, const char* buf, size_t size, off_t off) {
  OpenFile* f = files_.of(fi->fh);
  if (f == nullptr) return -EBADF;
  std::string& d = f->data;
  if (off < 0 || static_cast<size_t>(off) + size > kMaxOpenFile) return -EFBIG;
  if (static_cast<size_t>(off) + size > d.size()) d.resize(static_cast<size_t>(off) + size);
  std::copy_n(buf, size, d.data() + off);
  f->dirty = true;
  return static_cast<int>(size);
}

int Mount::truncate(const std::string& path, off_t size, fuse_file_info* fi) {
  if (read_only_) return -EROFS;
  if (size < 0 || static_cast<size_t>(size) > kMaxOpenFile) return -EFBIG;
  if (OpenFile* f = files_.of(fi, path); f != nullptr) {
    f->data.resize(static_cast<size_t>(size));
    f->dirty = true;
    return 0;
  }
  // truncate(2) of a file nobody has open: one change of its own.
  int err = 0;
  const auto n = find(path, err);
  if (!n) return -err;
  if (n->is_dir()) return -EISDIR;
  if (is_locked(n->entry)) return -EACCES;
  const auto c = content(*n);
  if (!c) return -EIO;
  OpenFile whole;
  whole.path = path;
  whole.data = c->substr(0, static_cast<size_t>(size));
  whole.data.resize(static_cast<size_t>(size));
  return -put(whole);
}

int Mount::flush(fuse_file_info* fi) {
  if (read_only_) return -ENOSYS;  // told so once, the kernel sends no flush at close again
  OpenFile* f = files_.of(fi->fh);
  // A file removed while open puts nothing back (its path is empty then).
  if (f == nullptr || !f->dirty || f->path.empty()) return 0;
  if (const int err = put(*f); err != 0) return -err;
  f->dirty = false;
  f->created = false;
  return 0;
}

int Mount::release(fuse_file_info* fi) {
  // Pages a mapping wrote back after the last close reach the file here: they go onto the disk
  // too, though nobody is left to be told of a failure.
  if (OpenFile* f = files_.of(fi->fh); f != nullptr && f->handles == 1) flush(fi);
  files_.release(fi->fh);
  return 0;
}

int Mount::change(const std::function<int(cli::Edit&)>& f) {
  if (read_only_) return EROFS;
  cli::Edit edit(true);
  if (const int rc = edit.open(a_.image, a_.wait); rc != cli::kExitOk)
    return errno_of(rc, edit.message());
  if (const int err = f(edit); err != 0) return err;
  const int rc = edit.commit();
  if (rc == cli::kExitOk) {
    // Read back rather than taken from the edit: a writer waiting on the lock may replace the
    // file again before its stat, and the view must be the bytes that stat stands for.
    refresh();
    caches_.changed();
  }
  return errno_of(rc, edit.message());
}

int Mount::change_entry(
    const std::string& path,
    const std::function<WriteResult(const DiskWriter&, std::string&, const Node&)>& f) {
  const std::string disk_path = on_disk(path);
  return change([&](cli::Edit& edit) {
    int err = 0;
    const auto n = resolve(edit.disk(), disk_path, err);
    if (!n) return err;
    if (n->root || !n->listed) return 0;  // nothing on the disk to change
    const int rc =
        edit.apply([&](const DiskWriter& w, std::string& bytes) { return f(w, bytes, *n); });
    return errno_of(rc, edit.message());
  });
}

int Mount::put(OpenFile& f) {
  const std::string disk_path = on_disk(f.path);
  const std::string name = split_last(disk_path).second;
  DiskName dn;
  const int err = disk_name_of(name, writer(), dn);
  if (err == 0) return put_as(f, disk_path, name);
  if (err == EINVAL || err == ENAMETOOLONG) return put_aliased(f);
  return err;
}

// A file made under a name the disk cannot hold (a temporary file of sed, rsync, an editor or
// mkstemp, or any long name) goes onto the disk under a short alias at once, so nothing is lost,
// and keeps its own name in the mount for lookups until it is renamed or removed. The alias is
// the name `ls` shows, and the name the disk keeps.
int Mount::put_aliased(OpenFile& f) {
  const auto [dir, name] = split_last(f.path);
  int err = 0;
  const auto parent = find(dir, err);
  if (!parent) return err;
  if (!parent->is_dir()) return ENOTDIR;
  std::vector<std::string> taken;
  if (parent->listed) taken = mount_names(view_.disk->list(parent->here()));
  const std::string alias = short_alias(name, taken);
  if (alias.empty()) return ENAMETOOLONG;
  const std::string alias_path = (dir == "/" ? "/" : dir + "/") + alias;
  if (const int rc = put_as(f, alias_path, alias); rc != 0) return rc;
  aliases_[f.path] = alias_path;
  return 0;
}

int Mount::put_as(OpenFile& f, const std::string& disk_path, const std::string& name) {
  const std::string parent_path = split_last(disk_path).first;
  DiskName dn;
  if (const int err = disk_name_of(name, writer(), dn); err != 0) return err;
  NewFile nf;
  nf.name8 = dn.name8;
  nf.ext3 = dn.ext3;
  nf.date = f.date.value_or(cli::disk_date());
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
  return change([&](cli::Edit& edit) {
    int err = 0;
    const auto parent = resolve(edit.disk(), parent_path, err);
    if (!parent) return err;
    if (!parent->is_dir()) return ENOTDIR;
    const auto old = resolve(edit.disk(), disk_path, err);
    if (old && old->is_dir()) return EISDIR;
    if (old && form_.bin) nf.start = old->entry.rec.start();  // a replaced file keeps its address
    WriteResult r;
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          r = w.put_file(bytes, parent->inner, nf, old.has_value());
          return r;
        });
        rc != cli::kExitOk)
      return errno_of(rc, edit.message());
    return lists_back(edit.disk(), parent->inner, r.row, name);
  });
}

int Mount::mkdir(const std::string& path) {
  if (read_only_) return -EROFS;
  const auto split = split_last(path);
  const std::string& parent_path = split.first;
  const std::string& name = split.second;
  DiskName dn;
  if (const int err = disk_name_of(name, writer(), dn); err != 0) return -err;
  return -change([&](cli::Edit& edit) {
    int err = 0;
    const auto parent = resolve(edit.disk(), parent_path, err);
    if (!parent) return err;
    if (!parent->is_dir()) return ENOTDIR;
    const auto listed_only = [](const std::string&) { return false; };
    if (resolve(edit.disk(), path, err, listed_only) || made_.contains(path)) return EEXIST;
    WriteResult r;
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          r = w.make_catalogue(bytes, parent->inner, dn.name8, dn.ext3, cli::disk_date());
          return r;
        });
        rc != cli::kExitOk)
      return errno_of(rc, edit.message());
    if (r.row >= 0) return lists_back(edit.disk(), parent->inner, r.row, name);
    made_.insert(path);  // CP/M: a user area is made by its first file
    return 0;
  });
}

int Mount::remove(const std::string& path, bool dir) {
  if (read_only_) return -EROFS;
  const std::shared_ptr<OpenFile> open = files_.at(path);
  if (!dir && open && open->created) {  // not on the disk yet
    files_.follow(path, "");
    return 0;
  }
  const std::string disk_path = on_disk(path);
  const int refused = change([&](cli::Edit& edit) {
    int err = 0;
    const auto n = resolve(edit.disk(), disk_path, err);
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
  if (refused == 0 && !dir) {
    files_.follow(path, "");
    std::erase_if(aliases_,
                  [&](const auto& kv) { return kv.first == path || kv.second == disk_path; });
  }
  return -refused;
}

int Mount::utimens(const std::string& path, const timespec tv[2]) {
  if (read_only_) return -EROFS;
  if (tv != nullptr && tv[1].tv_nsec == UTIME_OMIT) return 0;
  const cli::DiskDate date = cli::disk_date(
      tv == nullptr || tv[1].tv_nsec == UTIME_NOW ? std::time(nullptr) : tv[1].tv_sec);
  if (const auto f = files_.at(path); f && f->created) {
    f->date = date;
    return 0;
  }
  return -change_entry(path, [&](const DiskWriter& w, std::string& bytes, const Node& n) {
    return w.set_date(bytes, n.stack, n.row, date);
  });
}

int Mount::chmod(const std::string& path, mode_t mode) {
  if (read_only_) return -EROFS;
  if (const auto f = files_.at(path); f && f->created) return 0;
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

}  // namespace odi::mount
