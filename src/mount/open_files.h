// Files open through the mount. Every descriptor of one path shares one content, as on any file
// system: a write through one is read through another, and its size is the size fstat, stat and
// the kernel are told at every moment, long before the file goes onto the disk at its close.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct fuse_file_info;

namespace odi::mount {

struct OpenFile {
  std::string path;      // where it goes onto the disk; empty once removed
  std::string data;      // the content in the mount's form
  bool dirty = false;    // changed since it was opened or last put on the disk
  bool created = false;  // not on the disk yet
  std::optional<std::array<unsigned char, 3>> date;  // set by touch before it reached the disk
  int handles = 0;
};

class OpenFiles {
 public:
  // The open file of `path`, if a descriptor holds it.
  std::shared_ptr<OpenFile> at(const std::string& path) const;
  // The open file behind a descriptor.
  OpenFile* of(std::uint64_t fh) const;
  // The open file a call names: by its descriptor where it has one, else by its path.
  OpenFile* of(const fuse_file_info* fi, const std::string& path) const;
  // A new descriptor for `f`.
  std::uint64_t add(const std::shared_ptr<OpenFile>& f);
  // Lets the descriptor go; the file goes with its last one.
  void release(std::uint64_t fh);
  // The open files follow their entry: renamed, they go onto the disk under the new name;
  // removed (`to` empty), they put nothing back.
  void follow(const std::string& from, const std::string& to);
  // The names of files made through the mount, not on the disk yet, in the folder `dir`.
  std::vector<std::string> created_in(const std::string& dir) const;

 private:
  std::map<std::uint64_t, std::shared_ptr<OpenFile>> handles_;
  std::uint64_t next_ = 1;
};

}  // namespace odi::mount
