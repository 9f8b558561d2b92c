#include "cli/edit.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace odi::cli {

std::optional<fs::path> write_target(const fs::path& path, std::string& why) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  fs::path real = fs::canonical(path, ec);
  if (ec) {
    why = ec.message();
    return std::nullopt;
  }
  return real;
}

namespace {

// Keeps SIGINT, SIGTERM, SIGHUP and SIGQUIT waiting while an image file is replaced: an
// interrupted odi leaves the old image or the new one, and never its temporary file.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t before_{};
};

}  // namespace

FsStatus replace_file(const fs::path& path, std::string_view bytes, const AtomicWrite& how) {
  const HeldSignals held;
  return write_file_atomic(path, bytes, how);
}

int take_lock(ImageLock& lock, const fs::path& target, double wait, std::string& why) {
  const auto ms = std::chrono::milliseconds(static_cast<std::int64_t>(wait * 1000));
  switch (lock.acquire(target, ms, why)) {
    case ImageLock::Status::Held:
      remove_stale_temporaries(target);
      return kExitOk;
    case ImageLock::Status::Busy:
      why = "busy: another program is writing it";
      return kExitBusy;
    case ImageLock::Status::NoImage:
      break;
  }
  why = "cannot open: " + why;
  return kExitNoImage;
}

Edit::Edit(bool quiet)
    : change_(quiet ? DiskChange::Say() : [](const std::string& m) { complain(m); }) {}

int Edit::open(const std::string& image, double wait, std::string spare) {
  change_.set_name(image);
  std::string why;
  const auto target = write_target(image, why);
  if (!target) return fail(kExitNoImage, "cannot open: " + why);
  target_ = *target;
  if (const int rc = take_lock(lock_, target_, wait, why); rc != kExitOk) return fail(rc, why);
  LoadedImage li = read_image_fd(lock_.fd(), std::move(spare));
  if (!li.ok()) return fail(kExitNoImage, "cannot open: " + li.error);
  if (::access(target_.c_str(), W_OK) != 0)
    return fail(kExitNoImage, "cannot write: " + std::string(std::strerror(errno)));
  std::error_code ec;
  const auto size = fs::file_size(target_, ec);
  if (ec || size != static_cast<std::uintmax_t>(kImageSize))
    return fail(kExitProblem, "not an 819200-byte disk image (" +
                                  std::to_string(ec ? li.bytes.size() : size) +
                                  " bytes): nothing is written into it");
  perms_ = fs::status(target_, ec).permissions();
  return change_.open(std::move(li.bytes));
}

int Edit::commit() {
  if (const int rc = change_.check(); rc != kExitOk) return rc;
  if (!change_.changed()) return kExitOk;  // nothing changed (CP/M: mkdir "USER n")
  AtomicWrite how;
  how.durable = true;
  how.perms = perms_;
  if (FsStatus s = replace_file(target_, change_.bytes(), how); !s.ok())
    return fail(kExitNoImage, "cannot write: " + s.error + "; the image is as it was");
  return kExitOk;
}

}  // namespace odi::cli
