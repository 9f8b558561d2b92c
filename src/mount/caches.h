// The kernel's caches of the mount: attributes, names and pages are kept for long, so a warm
// read costs no call at all, and dropped whenever the image changes, through the mount or by
// another writer on the PC. A thread of its own looks at the image ten times a second and tells
// the kernel; it never waits on the FUSE loop, so a notification cannot deadlock against it.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct fuse;

namespace odi::mount {

class KernelCaches {
 public:
  explicit KernelCaches(std::string image) : image_(std::move(image)) {}
  KernelCaches(const KernelCaches&) = delete;
  KernelCaches& operator=(const KernelCaches&) = delete;
  ~KernelCaches() { stop(); }

  void start(fuse* f);
  void stop();
  // A path the kernel may hold in its caches (it was looked up).
  void seen(const std::string& path);
  // The image changed through the mount: every cached path is dropped at once.
  void changed();

 private:
  void run();
  bool image_moved();

  std::string image_;
  fuse* fuse_ = nullptr;
  std::mutex m_;
  std::condition_variable wake_;
  std::set<std::string> known_;
  bool pending_ = false;
  bool stopping_ = false;
  struct stat last_ {};
  std::thread thread_;
};

}  // namespace odi::mount
