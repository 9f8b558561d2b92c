// Changing an image file, for every odi command that writes (and the mount): the writers' lock
// from before the read until the new file is in place, the check before and after the change, and
// the replacement in one step. A refusal or a failure leaves the file byte for byte as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/change.h"
#include "cli/cli.h"
#include "extract/image_lock.h"
#include "extract/target.h"
#include "image/write.h"

namespace odi::cli {

// The file a write replaces: the image itself, or the file a link names (the link stays).
std::optional<fs::path> write_target(const fs::path& path, std::string& why);

// write_file_atomic with SIGINT, SIGTERM, SIGHUP and SIGQUIT held until the file is in place.
FsStatus replace_file(const fs::path& path, std::string_view bytes, const AtomicWrite& how);

// Takes the writers' lock of the image file `target`, waiting at most `wait` seconds, and removes
// what writers killed before left beside it. kExitOk, or kExitBusy / kExitNoImage and why.
int take_lock(ImageLock& lock, const fs::path& target, double wait, std::string& why);

// An image file being changed: locked and loaded, then changed in memory (DiskChange) and put in
// the file's place.
class Edit {
 public:
  // `quiet`: a failure is kept in message() only, not said on stderr.
  explicit Edit(bool quiet = false);

  // Locks and loads the image; a status other than 0 when nothing may be written into it. The
  // lock is held until the object goes, after commit. `spare`: memory an earlier look at the
  // image no longer needs, for the bytes.
  int open(const std::string& image, double wait, std::string spare = {});

  DiskChange& change() { return change_; }
  const FileSystem& disk() const { return change_.disk(); }
  const std::string& bytes() const { return change_.bytes(); }

  // One change by the writer; the disk is read again after it.
  int apply(const DiskChange::Change& change) { return change_.apply(change); }

  // Checks the changed disk and puts it in the image file's place.
  int commit();

  // Says (unless quiet) and keeps `message`, prefixed with the image's name; gives `status`.
  int fail(int status, const std::string& message) { return change_.fail(status, message); }
  const std::string& message() const { return change_.message(); }

 private:
  fs::path target_;
  ImageLock lock_;
  fs::perms perms_ = fs::perms::unknown;
  DiskChange change_;
};

}  // namespace odi::cli
