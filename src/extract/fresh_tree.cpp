#include "extract/fresh_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <system_error>
#include <utility>

namespace odi {

namespace {

std::string errno_text(int err, const fs::path& path) {
  return std::string(std::strerror(err)) + ": " + path.string();
}

// Writes all of `pieces` to `fd`, gathered: 0, or the system's reason.
int write_pieces(int fd, const std::vector<std::string_view>& pieces) {
  thread_local std::vector<iovec> iov;  // kept from file to file: no allocation for each
  iov.clear();
  for (const std::string_view p : pieces)
    if (!p.empty()) iov.push_back({const_cast<char*>(p.data()), p.size()});
  for (size_t at = 0; at < iov.size();) {
    // Most bodies lie in one run of sectors: a plain write then, without the list of pieces.
    const ssize_t n =
        iov.size() - at == 1
            ? ::write(fd, iov[at].iov_base, iov[at].iov_len)
            : ::writev(fd, &iov[at], static_cast<int>(std::min<size_t>(iov.size() - at, IOV_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    // Past what went out: whole pieces, then a part of the next.
    for (auto left = static_cast<size_t>(n); left > 0;) {
      const size_t take = std::min(left, iov[at].iov_len);
      iov[at].iov_base = static_cast<char*>(iov[at].iov_base) + take;
      iov[at].iov_len -= take;
      left -= take;
      if (iov[at].iov_len == 0) ++at;
    }
  }
  return 0;
}

}  // namespace

bool FreshTree::wanted(const fs::path& root) {
  struct stat st {};
  return ::lstat(root.c_str(), &st) != 0 && errno == ENOENT;
}

FreshTree::FreshTree(fs::path root) : root_(std::move(root)) {}

FreshTree::~FreshTree() {
  if (fd_ >= 0) ::close(fd_);
}

const std::string& FreshTree::rel_dir(const CatalogueStack& stack) {
  // The files of one catalogue come one after the other: its folder's name is made once.
  bool same = dir_known_ && stack.KAT_LEV == dir_of_.KAT_LEV;
  for (size_t i = 1; same && i <= static_cast<size_t>(stack.KAT_LEV); ++i)
    same = stack.KAT_POS[i] == dir_of_.KAT_POS[i] && stack.KAT_NAM[i] == dir_of_.KAT_NAM[i];
  if (!same) {
    dir_.clear();
    for (size_t i = 1; i <= static_cast<size_t>(stack.KAT_LEV); ++i) {
      dir_ += pc_folder_name(stack.KAT_NAM[i]);
      dir_ += '/';
    }
    dir_of_ = stack;
    dir_known_ = true;
    dir_made_ = made_.contains(dir_);
  }
  return dir_;
}

bool FreshTree::has(const CatalogueStack& stack, const std::string& name) {
  struct stat st {};
  return started() &&
         ::fstatat(fd_, (rel_dir(stack) + name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int FreshTree::open_file(const std::string& rel) const {
  return ::openat(fd_, rel.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

FsStatus FreshTree::make_dirs() {
  if (!started()) {
    // The name counts up, so only a folder a dead process of the same number left can be in
    // the way: the next name is taken then.
    std::string dotted = ".";
    dotted += root_.filename().native();
    const fs::path hidden_of = root_.parent_path() / dotted;
    int err = EEXIST;
    for (int tries = 0; err == EEXIST && tries < 100; ++tries) {
      hidden_ = temporary_name(hidden_of);
      err = ::mkdir(hidden_.c_str(), 0777) == 0 ? 0 : errno;
    }
    if (err != 0) return {errno_text(err, root_), err};
    fd_ = ::open(hidden_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
      err = errno;
      ::rmdir(hidden_.c_str());
      return {errno_text(err, root_), err};
    }
  }
  // Each level of dir_ ends in "/" (a converted name holds none). Only this run writes into the
  // hidden folder: the folders it made are all there are.
  for (size_t end = dir_.find('/'); end != std::string::npos; end = dir_.find('/', end + 1)) {
    const std::string rel = dir_.substr(0, end + 1);
    if (made_.contains(rel)) continue;
    if (::mkdirat(fd_, rel.c_str(), 0777) != 0) {
      // EEXIST: a file of this name, written before from the same catalogue level. The error
      // names the folder as it will be once the tree is in place.
      const int err = errno == EEXIST ? ENOTDIR : errno;
      return {errno_text(err, root_ / dir_.substr(0, end)), err};
    }
    made_.insert(rel);
  }
  dir_made_ = true;
  return {};
}

FsStatus FreshTree::write(const CatalogueStack& stack, const std::string& name,
                          const std::vector<std::string_view>& pieces) {
  const std::string& dir = rel_dir(stack);
  // The folders are made before the first file of a catalogue goes into them.
  if (!started() || !dir_made_)
    if (FsStatus s = make_dirs(); !s.ok()) return s;
  std::string& rel = rel_;
  rel.assign(dir);
  rel += name;
  const int fd = open_file(rel);
  int err = fd < 0 ? errno : write_pieces(fd, pieces);
  if (fd >= 0 && ::close(fd) != 0 && err == 0) err = errno;
  if (err == 0) return {};
  // Nothing partial stays: a file that could not be written whole is not in the tree.
  if (fd >= 0) ::unlinkat(fd_, rel.c_str(), 0);
  return {errno_text(err, target_dir(root_, stack) / name), err};
}

FsStatus FreshTree::finish() {
  if (!started()) return {};
  ::close(fd_);
  fd_ = -1;
  // The root's name is taken only while it is free; where the file system cannot promise that,
  // a plain rename (which would replace no more than an empty folder).
  int err = ::renameat2(AT_FDCWD, hidden_.c_str(), AT_FDCWD, root_.c_str(), RENAME_NOREPLACE) == 0
                ? 0
                : errno;
  if (err == EINVAL || err == ENOSYS)
    err = ::rename(hidden_.c_str(), root_.c_str()) == 0 ? 0 : errno;
  if (err == 0) return {};
  if (err == ENOTEMPTY || err == ENOTDIR) err = EEXIST;
  return {errno_text(err, root_), err};
}

void FreshTree::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::error_code ec;
  if (!hidden_.empty()) fs::remove_all(hidden_, ec);
}

CopyOutcome copy_entry_into(FreshTree& tree, const FileSystem& disk, const CatalogueStack& stack,
                            const Entry& e, const Options& opt, bool keep_existing) {
  CopyOutcome out;
  // Kept from file to file, as the pieces below: most names with their ending need memory of
  // their own.
  thread_local std::string name;
  output_name(e.rec, opt, name);
  if (keep_existing && tree.has(stack, name)) {
    out.status = CopyOutcome::Status::Kept;
    return out;
  }
  // The body as stored goes out from the image itself; any other content is made first.
  thread_local std::vector<std::string_view> pieces;  // kept from file to file, as above
  CopyResult r;
  if (body_in_place(disk, e, opt, pieces)) {
    for (const std::string_view p : pieces) out.bytes += p.size();
  } else {
    r = entry_bytes(disk, e, opt);
    out.ERR_COP = r.ERR_COP;
    out.bytes = r.BUF_FIL.size();
    pieces.assign(1, r.BUF_FIL);
  }
  if (FsStatus s = tree.write(stack, name, pieces); !s.ok()) {
    out.status = CopyOutcome::Status::WriteFailed;
    out.error = s.error;
  }
  return out;
}

int remove_stale_trees(const std::vector<fs::path>& roots) {
  std::map<fs::path, std::set<std::string>> names_in;  // folder -> the roots' names in it
  for (const fs::path& root : roots) {
    const fs::path dir = root.parent_path();
    names_in[dir.empty() ? fs::path(".") : dir].insert(root.filename().string());
  }
  int removed = 0;
  for (const auto& [dir, names] : names_in) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const size_t mark = name.rfind(kTemporaryMark);
      if (name.empty() || name[0] != '.' || mark == std::string::npos || mark < 2) continue;
      if (!names.contains(name.substr(1, mark - 1))) continue;
      if (!left_by_gone_writer(std::string_view(name).substr(mark + kTemporaryMark.size())))
        continue;
      std::error_code e2;
      if (!fs::is_directory(it->symlink_status(e2))) continue;  // only folders, never a link
      if (fs::remove_all(it->path(), e2) > 0) ++removed;
    }
  }
  return removed;
}

}  // namespace odi
