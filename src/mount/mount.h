// odi mount: an image as a folder. Reads come from the image as it is on the PC's disk (read
// again whenever the file changed, by us or by another writer); every change is one odi write of
// its own: the writers' lock, the check before and after, the atomic replacement. A file written
// through the mount is kept in memory while it is open and goes onto the disk at each close, as
// `odi put` puts it. The FUSE loop runs on one thread: no call overlaps another.
#pragma once

#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/edit.h"
#include "extract/put_form.h"
#include "mount/caches.h"
#include "mount/lookup.h"
#include "mount/open_files.h"

namespace odi::mount {

class Mount {
 public:
  Mount(cli::MountArgs a, const Options& form) : a_(std::move(a)), form_(form), caches_(a_.image) {}

  // Looks at the image and decides whether changes may be made; false when it cannot be read.
  bool start(std::string& why);
  KernelCaches& caches() { return caches_; }
  bool read_only() const { return read_only_; }
  // The mount ends: nothing to do but let the caches' thread go.
  void finish() { caches_.stop(); }

  int getattr(const std::string& path, struct stat* st, fuse_file_info* fi);
  int readdir(const std::string& path, void* buf, fuse_fill_dir_t fill, off_t offset, bool plus);
  int open(const std::string& path, fuse_file_info* fi);
  int create(const std::string& path, fuse_file_info* fi);
  int read(const std::string& path, fuse_file_info* fi, char* buf, size_t size, off_t off);
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
  struct Listed {
    std::string name;
    struct stat st {};  // st_mode 0: no attributes given
  };
  std::vector<Listed> listing(const std::string& path, const Node& n, bool plus);
  void refresh();
  // The path on the disk a path of the mount stands for: itself, or the short alias a long name
  // went onto the disk under.
  std::string on_disk(const std::string& path) const;
  std::optional<Node> find(const std::string& path, int& err);
  // The content of a file in the mount's form; nothing (EIO) for one that cannot be read whole.
  std::optional<std::string> content(const Node& n);
  // One change of the image under its lock: `f` makes it on the Edit and gives an errno, or 0 to
  // have it checked and written.
  int change(const std::function<int(cli::Edit&)>& f);
  // The same for one change by the writer on the entry at `path`.
  int change_entry(
      const std::string& path,
      const std::function<WriteResult(const DiskWriter&, std::string&, const Node&)>& f);
  // Puts an open file onto the disk; a name the disk cannot hold goes there under a short alias.
  int put(OpenFile& f);
  int put_as(OpenFile& f, const std::string& disk_path, const std::string& name);
  int put_aliased(OpenFile& f);
  int rename_on_disk(const std::string& from, const std::string& to);
  static int move_entry(cli::Edit& edit, const std::string& from, const Node& src,
                        const Node& parent, const DiskName& dn, bool same_place);
  std::time_t mtime_of(const Entry& e) const;
  void fill_stat(const Node& n, struct stat* st);
  static void fill_open_stat(const OpenFile& f, struct stat* st);
  const DiskWriter& writer() const;

  cli::MountArgs a_;
  Options form_;
  bool read_only_ = false;
  cli::LoadedDisk view_;
  struct stat seen_ {};
  // The image's changes seen so far: a file's pages in the kernel are kept at its open only when
  // no change came since it was last opened.
  std::uint64_t generation_ = 1;
  std::map<std::string, std::uint64_t> opened_at_;
  // Files' contents in the mount's form, by catalogue and row, for the view as it is.
  std::map<std::string, std::string> contents_;
  OpenFiles files_;
  // Long names (rsync's, sed's and editors' temporary files) and the short aliases they went onto
  // the disk under, for the life of the mount.
  std::map<std::string, std::string> aliases_;
  // CP/M user areas made by mkdir that hold no file yet: CP/M keeps no trace of them on the disk.
  std::set<std::string> made_;
  std::unique_ptr<DiskWriter> writer_;
  KernelCaches caches_;
};

}  // namespace odi::mount
