// odi new, put, mkdir, rm, mv: the commands that write. Each locks the image, reads it whole,
// changes it in memory through the writer of its file system, checks the result as `odi check`
// does, and replaces the file in one step. A refusal or a failure leaves the file byte for byte
// as it was; several changes asked for in one call are made all together or not at all; writers
// of one image take turns, so none loses another's change.
#include "image/write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/commands.h"
#include "cli/edit.h"
#include "extract/target.h"
#include "state/texts.h"

namespace odi::cli {
namespace {

// Reads FILE ("-": standard input) to its end, or until it proves longer than `limit`: a device
// or a generator that never ends is refused after limit + 1 bytes.
Input read_input(const std::string& file, std::int64_t limit) {
  Input in;
  const int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    in.why = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    in.why = "is a folder";
  } else {
    const auto most = static_cast<size_t>(limit) + 1;
    // A file's own size, and a byte more to see its end, is the first piece: a buffer of a fixed
    // 64 KB for each of many small files cleared and kept megabytes of memory in all.
    const auto first = S_ISREG(st.st_mode) && st.st_size >= 0
                           ? std::min(most, static_cast<size_t>(st.st_size) + 1)
                           : std::min<size_t>(most, 65536);
    size_t got = 0;
    in.bytes.resize(first);
    for (;;) {
      if (got == in.bytes.size()) in.bytes.resize(std::min(most, got + 65536));
      const ssize_t n = ::read(fd, in.bytes.data() + got, in.bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) in.why = std::strerror(errno);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (got == most) {
        in.too_large = true;
        break;
      }
    }
    in.bytes.resize(got);
  }
  if (fd > STDIN_FILENO) ::close(fd);
  return in;
}

// The longest body a put into `image` may bring, from a look at the image as it is now (no lock:
// the sources are read before the image is locked, so that a slow one keeps no other writer
// waiting; the writer checks the room again under the lock).
// `spare` keeps the memory of the look for the read under the lock.
std::int64_t body_bound(const std::string& image, bool replace, std::string& spare) {
  LoadedDisk d;
  if (!load_disk(image, d, true)) return put_bound(FsKind::Unknown, {}, replace);
  const std::int64_t bound = put_bound(d.disk->kind(), d.bytes, replace);
  d.disk.reset();
  spare = std::move(d.bytes);
  return bound;
}

int usage(const std::string& message) {
  complain(message + " (see odi --help)");
  return kExitUsage;
}

// Says `message` as a misuse of the arguments (kExitUsage) or as it is.
int say(int status, const std::string& message) {
  if (status == kExitUsage) return usage(message);
  complain(message);
  return status;
}

}  // namespace

int cmd_new(const NewArgs& a) {
  std::string message;
  if (const int rc = check_new(a, message); rc != kExitOk) return say(rc, message);
  std::string sys_bytes;
  Image sys_img;
  if (!a.system_from.empty()) {
    LoadedImage li = read_image_file(a.system_from);
    if (!li.ok()) {
      complain(a.system_from + ": cannot open: " + li.error);
      return kExitNoImage;
    }
    sys_bytes = std::move(li.bytes);
    sys_img = Image(sys_bytes);
    // A disk with the signature always reads as MX_DOS: the signature alone decides.
    if (VER_DOS(sys_img) == texts::no_version()) {
      complain(a.system_from + ": no MX_DOS system to copy (no \"Dos_MX\" signature)");
      return kExitProblem;
    }
  }
  std::string bytes;
  if (const int rc = make_new_disk(a, a.system_from.empty() ? nullptr : &sys_img, bytes, message);
      rc != kExitOk)
    return say(rc, message);

  std::string why;
  const auto target = write_target(a.image, why);
  if (!target) {
    complain(a.image + ": cannot write: " + why);
    return kExitNoImage;
  }
  std::error_code ec;
  const auto st = fs::status(*target, ec);
  if (fs::exists(st) && !a.force) {
    complain(a.image + ": exists; odi new replaces a file only with --force");
    return kExitProblem;
  }
  // A disk replaced while another writer changes it would come back as that writer's result.
  ImageLock lock;
  if (fs::is_regular_file(st)) {
    if (const int rc = take_lock(lock, *target, a.wait, why); rc != kExitOk) {
      complain(a.image + ": " + why);
      return rc;
    }
  }
  AtomicWrite how;
  how.durable = true;
  how.no_clobber = !a.force;
  if (fs::is_regular_file(st)) how.perms = st.permissions();
  if (FsStatus s = replace_file(*target, bytes, how); !s.ok()) {
    complain(a.image + ": cannot write: " + s.error);
    return fs::exists(fs::symlink_status(*target, ec)) && !a.force ? kExitProblem : kExitNoImage;
  }
  return kExitOk;
}

int cmd_put(const PutArgs& a) {
  NewFile proto;
  std::string message;
  if (const int rc = put_settings(a, proto, message); rc != kExitOk) return say(rc, message);
  std::string spare;
  const std::int64_t bound = body_bound(a.image, a.force, spare);
  std::vector<NewFile> files;
  if (const int rc = read_put_files(a, proto, bound, read_input, files, message); rc != kExitOk)
    return say(rc, message);
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait, std::move(spare)); rc != kExitOk) return rc;
  if (const int rc = put_files(edit.change(), a.catpath, files, a.force); rc != kExitOk) return rc;
  return edit.commit();
}

int cmd_mkdir(const MkdirArgs& a) {
  const std::vector<std::string> parts = split_path(a.catpath);
  if (parts.empty()) return usage("mkdir needs the name of the new catalogue");
  const auto date = date_of(a.date);
  if (!date) return usage("--date must be DD.MM.YY");
  std::string message;
  const auto name = name_for(a.image, parts.back(), message);
  if (!name) return say(kExitProblem, message);
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += escape_name(parts[i]) + "/";
  if (const int rc = make_catalogue(edit.change(), parent, *name, *date); rc != kExitOk) return rc;
  return edit.commit();
}

int cmd_rm(const RmArgs& a) {
  for (const std::string& e : a.entries)
    if (split_path(e).empty()) return usage("the root cannot be removed");
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  if (const int rc = remove_entries(edit.change(), a.entries, a.recursive); rc != kExitOk)
    return rc;
  return edit.commit();
}

int cmd_mv(const MvArgs& a) {
  std::string message;
  const auto name = name_for(a.image, a.new_name, message);
  if (!name) return say(kExitProblem, message);
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  if (const int rc = rename_entry(edit.change(), a.entry, *name); rc != kExitOk) return rc;
  return edit.commit();
}

}  // namespace odi::cli
