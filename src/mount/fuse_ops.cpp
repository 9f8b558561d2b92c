// The FUSE calls: each hands its call to the one Mount, and `odi mount` starts the loop.
#include <cerrno>

#include "cli/commands.h"
#include "mount/fuse_lib.h"
#include "mount/mount.h"

namespace odi::mount {
namespace {

Mount& self() {
  return *static_cast<Mount*>(loaded_fuse_lib().get_context()->private_data);
}

// Attributes and names stay in the kernel this long: every change, through the mount or by
// another writer, drops them at once (KernelCaches), so the time only bounds a missed one.
constexpr double kCacheSeconds = 30;

void* init(fuse_conn_info* /*conn*/, fuse_config* cfg) {
  cfg->entry_timeout = cfg->attr_timeout = kCacheSeconds;
  cfg->negative_timeout = 0;  // a name made by another writer shows at once
  cfg->hard_remove = 1;
  cfg->no_rofd_flush = 1;  // a close after reading has nothing to put on the disk
  Mount& m = self();
  m.caches().start(loaded_fuse_lib().get_context()->fuse);
  return &m;
}

fuse_operations operations() {
  fuse_operations ops{};
  ops.init = init;
  ops.destroy = [](void* m) { static_cast<Mount*>(m)->finish(); };
  ops.getattr = [](const char* p, struct stat* st, fuse_file_info* fi) {
    return self().getattr(p, st, fi);
  };
  ops.readdir = [](const char* p, void* buf, fuse_fill_dir_t fill, off_t off, fuse_file_info*,
                   fuse_readdir_flags flags) {
    return self().readdir(p, buf, fill, off, (flags & FUSE_READDIR_PLUS) != 0);
  };
  ops.open = [](const char* p, fuse_file_info* fi) { return self().open(p, fi); };
  ops.create = [](const char* p, mode_t, fuse_file_info* fi) { return self().create(p, fi); };
  ops.read = [](const char* p, char* buf, size_t size, off_t off, fuse_file_info* fi) {
    return self().read(p, fi, buf, size, off);
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
}  // namespace odi::mount

namespace odi::cli {

int cmd_mount(const MountArgs& a) {
  std::string error;
  const auto opt = options_from(a.form, error);
  if (!opt) {
    complain(error);
    return kExitUsage;
  }
  const mount::FuseLib* fuse = mount::fuse_lib(error);
  if (fuse == nullptr) {
    complain("cannot mount without libfuse3: " + error);
    return kExitProblem;
  }
  MountArgs abs = a;
  std::error_code ec;
  abs.image = fs::absolute(a.image, ec).string();  // the daemon leaves the working folder
  mount::Mount mount(abs, *opt);
  if (!mount.start(error)) {
    complain(a.image + ": cannot open: " + error);
    return kExitNoImage;
  }
  std::vector<std::string> args{"odi", a.mountpoint, "-s", "-o",
                                "fsname=odi,subtype=odi,default_permissions,auto_unmount"};
  if (a.foreground) args.emplace_back("-f");
  // Read-only for the kernel too: a write is refused before it reaches the mount, root's as well.
  if (mount.read_only()) args.insert(args.end(), {"-o", "ro"});
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  const fuse_operations ops = mount::operations();
  const int rc =
      fuse->main_real(static_cast<int>(argv.size()), argv.data(), &ops, sizeof ops, &mount);
  return rc == 0 ? kExitOk : kExitNoImage;
}

}  // namespace odi::cli
