#include "mount/caches.h"

#include <chrono>
#include <vector>

#include "mount/fuse_lib.h"

namespace odi::mount {

void KernelCaches::start(fuse* f) {
  fuse_ = f;
  ::stat(image_.c_str(), &last_);
  thread_ = std::thread([this] { run(); });
}

void KernelCaches::stop() {
  {
    const std::lock_guard lock(m_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void KernelCaches::seen(const std::string& path) {
  const std::lock_guard lock(m_);
  known_.insert(path);
}

void KernelCaches::changed() {
  {
    const std::lock_guard lock(m_);
    pending_ = true;
  }
  wake_.notify_all();
}

// The image file is another one now, or was written: a writer replaces it whole by rename.
bool KernelCaches::image_moved() {
  struct stat now {};
  if (::stat(image_.c_str(), &now) != 0) return false;
  const bool moved = now.st_ino != last_.st_ino || now.st_dev != last_.st_dev ||
                     now.st_size != last_.st_size || now.st_mtim.tv_sec != last_.st_mtim.tv_sec ||
                     now.st_mtim.tv_nsec != last_.st_mtim.tv_nsec;
  last_ = now;
  return moved;
}

void KernelCaches::run() {
  std::unique_lock lock(m_);
  for (;;) {
    wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_ || pending_; });
    if (stopping_) return;
    lock.unlock();
    const bool moved = image_moved();
    lock.lock();
    if (!moved && !pending_) continue;
    pending_ = false;
    const std::vector<std::string> paths(known_.begin(), known_.end());
    // Told without the lock held: the kernel may wait for a read that the FUSE loop answers, and
    // the loop may be waiting to record a path.
    lock.unlock();
    for (const std::string& p : paths) loaded_fuse_lib().invalidate_path(fuse_, p.c_str());
    lock.lock();
  }
}

}  // namespace odi::mount
