// One writer of an image at a time. A writer reads the whole image, changes it in memory and puts
// the new file in the old one's place by rename; two writers at once would each start from the
// same old image and the later rename would drop the earlier change without a word. So every
// writer holds an exclusive lock on the image from before its read until its rename is done.
//
// The lock is flock(2) on the file the path names, opened for writing where it can be: on NFS,
// Linux makes flock a POSIX record lock, which an exclusive lock needs a writable descriptor for
// and which any close of another descriptor of the file drops (so the writer reads through fd()).
// The rename gives the path a new file, so a writer that waited on the old one finds, once it holds
// that lock, that the path names another file now, lets go and locks the new one. Readers take no
// lock: a rename shows them the old image or the new one, whole.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace odi {

class ImageLock {
 public:
  enum class Status {
    Held,     // this object holds the lock; it is let go when the object goes
    Busy,     // another writer held it for the whole wait
    NoImage,  // the file cannot be opened (`why` says so): there is nothing to lock
  };

  ImageLock() = default;
  ImageLock(const ImageLock&) = delete;
  ImageLock& operator=(const ImageLock&) = delete;
  ~ImageLock();

  // Waits at most `wait` for the lock of the file `path` names (no symbolic link is followed:
  // the caller names the file itself).
  Status acquire(const std::filesystem::path& path, std::chrono::milliseconds wait,
                 std::string& why);

  // The locked descriptor (-1 before the lock is held): the writer reads the image through it.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace odi
