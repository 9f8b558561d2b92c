#include "extract/target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#include "extract/copy_buf.h"
#include "image/mxdos/mxdos.h"

namespace odi {

bool ends_in_odi(std::string_view name) {
  if (name.size() < 4) return false;
  std::string tail(name.substr(name.size() - 4));
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".odi";
}

std::optional<fs::path> target_root(const fs::path& image_path) {
  const std::string s = image_path.string();
  if (!ends_in_odi(s)) return std::nullopt;
  fs::path root(s.substr(0, s.size() - 4));
  if (root.filename().empty()) return std::nullopt;  // a file named just ".odi"
  return root;
}

fs::path target_dir(const fs::path& root, const CatalogueStack& stack) {
  fs::path dir = root;
  for (int i = 1; i <= stack.KAT_LEV; ++i)
    dir /= pc_folder_name(stack.KAT_NAM[static_cast<size_t>(i)]);
  return dir;
}

void output_name(const Record& rec, const Options& opt, std::string& name) {
  name = pc_file_name(trim_spaces(rec.name_field()));
  if (opt.dos) name += 'd';
  if (opt.koi7) name += '7';
  if (opt.bin) name += ".bin";
  if (opt.rom) name += ".rom";
  if (opt.rks) name += ".rks";
  if (opt.txt) name += ".txt";
}

std::string output_name(const Record& rec, const Options& opt) {
  std::string name;
  output_name(rec, opt, name);
  return name;
}

namespace {

FsStatus make_one_dir(const fs::path& dir) {
  std::error_code ec;
  const auto st = fs::status(dir, ec);
  if (fs::is_directory(st)) return {};
  if (fs::exists(st) || fs::is_symlink(fs::symlink_status(dir, ec)))
    return {std::make_error_code(std::errc::not_a_directory).message() + ": " + dir.string()};
  if (!fs::create_directory(dir, ec) && ec) return {ec.message() + ": " + dir.string()};
  return {};
}

std::string errno_text(int err, const fs::path& path) {
  return std::string(std::strerror(err)) + ": " + path.string();
}

}  // namespace

FsStatus make_target_dirs(const fs::path& root, const CatalogueStack& stack) {
  // Usually everything is there from the previous copy: one look at the deepest folder will do,
  // since a folder's parents are folders too.
  std::error_code ec;
  if (fs::is_directory(target_dir(root, stack), ec)) return {};
  fs::path dir = root;
  FsStatus s = make_one_dir(dir);
  for (int i = 1; s.ok() && i <= stack.KAT_LEV; ++i) {
    dir /= pc_folder_name(stack.KAT_NAM[static_cast<size_t>(i)]);
    s = make_one_dir(dir);
  }
  return s;
}

namespace {

int write_all(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Puts the finished temporary file in the target's place. Without clobbering, a hard link takes
// the name only while it is free; where the file system has no hard links, a look first.
int take_place(const fs::path& tmp, const fs::path& path, bool no_clobber) {
  if (!no_clobber) return ::rename(tmp.c_str(), path.c_str()) == 0 ? 0 : errno;
  if (::link(tmp.c_str(), path.c_str()) == 0) {
    ::unlink(tmp.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) return EEXIST;
  return ::rename(tmp.c_str(), path.c_str()) == 0 ? 0 : errno;
}

// The rename is kept only once the folder's entry is on the disk. Some file systems cannot flush a
// folder; the file itself is in place by then, so that is no failure.
void sync_folder(const fs::path& path) {
  fs::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

fs::path temporary_name(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  static const std::string pid = std::to_string(::getpid());
  fs::path tmp = path;
  tmp += std::string(kTemporaryMark) + pid + "." + std::to_string(counter++);
  return tmp;
}

bool left_by_gone_writer(std::string_view tail) {
  // PID.N, and nothing else.
  const size_t dot = tail.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 9 || dot + 1 == tail.size() ||
      tail.find_first_not_of("0123456789.") != std::string_view::npos ||
      tail.find('.', dot + 1) != std::string_view::npos)
    return false;
  const auto pid = static_cast<pid_t>(std::stol(std::string(tail.substr(0, dot))));
  return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;  // else its writer may still run
}

namespace {

// The bytes, the permissions and (for a durable write) the flush, into an open file.
int fill(int fd, std::string_view bytes, const AtomicWrite& how) {
  int err = write_all(fd, bytes);
  if (err == 0 && how.perms && ::fchmod(fd, static_cast<mode_t>(*how.perms & fs::perms::mask)) != 0)
    err = errno;
  if (err == 0 && how.durable && ::fsync(fd) != 0) err = errno;
  return err;
}

// A named temporary file beside the target, renamed over it: for file systems (and kernels)
// without unnamed files.
FsStatus write_named(const fs::path& path, std::string_view bytes, const AtomicWrite& how) {
  const fs::path tmp = temporary_name(path);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return {errno_text(errno, path), errno};
  int err = fill(fd, bytes, how);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0) err = take_place(tmp, path, how.no_clobber);
  if (err != 0) {
    ::unlink(tmp.c_str());
    return {errno_text(err, path), err};
  }
  return {};
}

// A file made with O_TMPFILE has no name in the folder until it is linked, complete: a writer
// killed half way leaves nothing behind, and a fresh file costs no rename.
int open_unnamed(int dir, const fs::path& path) {
  if (dir >= 0) return ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  fs::path parent = path.parent_path();
  if (parent.empty()) parent = ".";
  return ::open(parent.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the unnamed file `fd` the name `name` (relative to the folder `at`); EEXIST when the name
// is taken. Linking by the descriptor itself needs a privilege most users lack; its /proc name
// does not.
int link_unnamed(int fd, int at, const char* name) {
  static std::atomic<bool> by_proc{false};
  if (!by_proc && ::linkat(fd, "", at, name, AT_EMPTY_PATH) == 0) return 0;
  if (!by_proc && errno != ENOENT && errno != EPERM) return errno;
  by_proc = true;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), at, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// The target's name relative to the folder it is made in: the caller's open folder and the bare
// name, or the working folder and the whole path.
struct Place {
  int at = AT_FDCWD;
  std::string name;
};

Place place_of(const fs::path& path, OpenFolder* folder) {
  if (!folder) return {AT_FDCWD, path.string()};
  // FOLDER/NAME split at its last slash, as the path's own parent and file name would give it but
  // with no parsing into components, which cost more than the rest of the name's making; a path
  // of another shape (no folder, a doubled or trailing slash) takes the parsing way.
  const std::string& s = path.native();
  const size_t slash = s.rfind('/');
  const bool plain =
      slash != std::string::npos && slash > 0 && slash + 1 < s.size() && s[slash - 1] != '/';
  const int dir = plain ? folder->at(std::string_view(s).substr(0, slash))
                        : folder->at(path.parent_path().native());
  if (dir < 0) return {AT_FDCWD, path.string()};
  return {dir, plain ? s.substr(slash + 1) : path.filename().string()};
}

// Names the finished unnamed file and closes it. A target that exists already is replaced the
// old way: the file gets a temporary name first and is renamed over it once closed, so that a
// reader sees the old file or the new one. Without clobbering, a taken name is EEXIST.
int name_and_close(int fd, const Place& place, const fs::path& path, bool no_clobber) {
  int err = link_unnamed(fd, place.at, place.name.c_str());
  if (err == 0) {
    if (::close(fd) == 0) return 0;
    err = errno;
    ::unlinkat(place.at, place.name.c_str(), 0);  // the name was free before
    return err;
  }
  if (err != EEXIST || no_clobber) {
    ::close(fd);
    return err;
  }
  const fs::path tmp = temporary_name(path);
  err = link_unnamed(fd, AT_FDCWD, tmp.c_str());
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(tmp.c_str());
  return err;
}

}  // namespace

int OpenFolder::at(std::string_view dir) {
  // The same spelling is the same folder; another spelling of it merely opens it again.
  if (fd_ >= 0 && dir == dir_) return fd_;
  close();
  dir_ = dir;
  fd_ = ::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd_;
}

void OpenFolder::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FsStatus write_file_atomic(const fs::path& path, std::string_view bytes, const AtomicWrite& how) {
  const Place place = place_of(path, how.folder);
  const int fd = open_unnamed(place.at == AT_FDCWD ? -1 : place.at, path);
  if (fd < 0) return write_named(path, bytes, how);  // whatever the reason, the old way tells it
  int err = fill(fd, bytes, how);
  if (err != 0) {
    ::close(fd);
    return {errno_text(err, path), err};
  }
  err = name_and_close(fd, place, path, how.no_clobber);
  if (err == EEXIST && how.no_clobber) return {errno_text(err, path), err};
  // Any other refusal to name the file (no /proc, no hard links here, ...): the old way.
  if (err != 0) return write_named(path, bytes, how);
  if (how.durable) sync_folder(path);
  return {};
}

int remove_stale_temporaries(const fs::path& path) {
  const std::string prefix = path.filename().string() + std::string(kTemporaryMark);
  fs::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (!left_by_gone_writer(std::string_view(name).substr(prefix.size()))) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

CopyOutcome copy_entry(const fs::path& image_path, const FileSystem& disk,
                       const CatalogueStack& stack, const Entry& e, const Options& opt,
                       bool keep_existing) {
  const auto root = target_root(image_path);
  if (!root) {
    CopyOutcome out;
    out.status = CopyOutcome::Status::BadName;
    return out;
  }
  return copy_entry_into(*root, disk, stack, e, opt, keep_existing);
}

CopyOutcome copy_entry(const fs::path& image_path, const Image& img, const CatalogueStack& stack,
                       const Record& rec, const Options& opt, bool keep_existing) {
  const mxdos::MxDosFs disk(img, FsKind::MxDos);
  return copy_entry(image_path, disk, stack, mxdos::entry_of(rec), opt, keep_existing);
}

namespace {

// The folders are made when the write finds them missing, not looked for before each file: after
// the first file of a catalogue they are there.
FsStatus write_copy(const fs::path& path, std::string_view bytes, const fs::path& root,
                    const CatalogueStack& stack, OpenFolder* folder) {
  AtomicWrite how;
  how.folder = folder;
  FsStatus s = write_file_atomic(path, bytes, how);
  if (s.code != ENOENT && s.code != ENOTDIR) return s;
  if (folder) folder->close();
  s = make_target_dirs(root, stack);
  return s.ok() ? write_file_atomic(path, bytes) : s;
}

}  // namespace

CopyResult entry_bytes(const FileSystem& disk, const Entry& e, const Options& opt) {
  // Today's date is looked up only for a row that keeps none (CP/M): the clock and the time zone
  // cost more than the rest of a small file's copy.
  return COPY_BUF(disk, e, opt, e.date.empty() ? today_text() : e.date);
}

CopyOutcome copy_entry_into(const fs::path& root, const FileSystem& disk,
                            const CatalogueStack& stack, const Entry& e, const Options& opt,
                            bool keep_existing, OpenFolder* folder) {
  CopyOutcome out;
  if (e.is_catalogue()) {
    const FsStatus s = make_target_dirs(root, stack);
    out.status = s.ok() ? CopyOutcome::Status::Catalogue : CopyOutcome::Status::WriteFailed;
    out.error = s.error;
    return out;
  }
  out.path = target_dir(root, stack) / output_name(e.rec, opt);
  std::error_code ec;
  if (keep_existing && fs::exists(fs::symlink_status(out.path, ec))) {
    out.status = CopyOutcome::Status::Kept;
    return out;
  }
  const CopyResult r = entry_bytes(disk, e, opt);
  out.ERR_COP = r.ERR_COP;
  out.bytes = r.BUF_FIL.size();
  if (FsStatus s = write_copy(out.path, r.BUF_FIL, root, stack, folder); !s.ok()) {
    out.status = CopyOutcome::Status::WriteFailed;
    out.error = s.error;
  }
  return out;
}

}  // namespace odi
