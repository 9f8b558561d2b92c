#include "cli/edit.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace odi::cli {

DiskDate disk_date(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto bcd = [](int v) { return static_cast<unsigned char>((v / 10) << 4 | (v % 10)); };
  return {bcd(tm.tm_mday), bcd(tm.tm_mon + 1), bcd(tm.tm_year % 100)};
}

std::vector<Problem> damage(const FileSystem& disk) {
  std::vector<Problem> out;
  for (Problem& p : disk.check())
    if (!p.note) out.push_back(std::move(p));
  return out;
}

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

std::string problem_text(const Problem& p) {
  return p.path.empty() ? p.message : p.path + ": " + p.message;
}

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

int Edit::open(const std::string& image, double wait, std::string spare) {
  name_ = image;
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
  original_ = li.bytes;
  bytes_ = std::move(li.bytes);
  reread();
  kind_ = disk_->kind();
  writer_ = writer_for(kind_);
  if (!writer_)
    return fail(kExitProblem, kind_ == FsKind::Blank
                                  ? "a blank disk holds no file system to write into; odi new "
                                    "makes a fresh disk"
                                  : "no file system odi can write into was found on the disk");
  // Only a sound disk is written into: afterwards any problem at all is one the change made.
  const std::vector<Problem> before = damage(*disk_);
  if (!before.empty())
    return fail(kExitProblem,
                "the disk is damaged (" + problem_text(before.front()) + "; " +
                    std::to_string(before.size()) +
                    " problem(s) in all): nothing is written into it; run odi check " + name_);
  return kExitOk;
}

int Edit::apply(const std::function<WriteResult(const DiskWriter&, std::string&)>& change) {
  const WriteResult r = change(*writer_, bytes_);
  reread();
  return r.ok() ? kExitOk : fail(r.status, r.message);
}

int Edit::commit() {
  if (disk_->kind() != kind_)
    return fail(kExitProblem, "the changed disk would no longer read as " +
                                  std::string(fs_kind_name(kind_)) + ": nothing written");
  if (const std::vector<Problem> after = damage(*disk_); !after.empty())
    return fail(kExitProblem, "the change would damage the disk (" + problem_text(after.front()) +
                                  "): nothing written");
  if (bytes_ == original_) return kExitOk;  // nothing changed (CP/M: mkdir "USER n")
  AtomicWrite how;
  how.durable = true;
  how.perms = perms_;
  if (FsStatus s = replace_file(target_, bytes_, how); !s.ok())
    return fail(kExitNoImage, "cannot write: " + s.error + "; the image is as it was");
  return kExitOk;
}

int Edit::fail(int status, const std::string& message) {
  message_ = name_ + ": " + message;
  if (!quiet_) complain(message_);
  return status;
}

void Edit::reread() {
  img_ = Image(bytes_);
  disk_ = open_file_system(img_);
}

}  // namespace odi::cli
