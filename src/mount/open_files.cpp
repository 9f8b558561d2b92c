#include "mount/open_files.h"

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>

namespace odi::mount {

std::shared_ptr<OpenFile> OpenFiles::at(const std::string& path) const {
  for (const auto& [fh, f] : handles_)
    if (f->path == path) return f;
  return nullptr;
}

OpenFile* OpenFiles::of(std::uint64_t fh) const {
  const auto it = handles_.find(fh);
  return it == handles_.end() ? nullptr : it->second.get();
}

OpenFile* OpenFiles::of(const fuse_file_info* fi, const std::string& path) const {
  OpenFile* f = fi != nullptr ? of(fi->fh) : nullptr;
  if (f == nullptr)
    if (const auto held = at(path)) f = held.get();  // the descriptors keep it alive
  return f;
}

std::uint64_t OpenFiles::add(const std::shared_ptr<OpenFile>& f) {
  ++f->handles;
  handles_.emplace(next_, f);
  return next_++;
}

void OpenFiles::release(std::uint64_t fh) {
  const auto it = handles_.find(fh);
  if (it == handles_.end()) return;
  --it->second->handles;
  handles_.erase(it);
}

void OpenFiles::follow(const std::string& from, const std::string& to) {
  for (auto& [fh, f] : handles_) {
    if (f->path != from) continue;
    f->path = to;
    if (to.empty()) f->dirty = f->created = false;
  }
}

std::vector<std::string> OpenFiles::created_in(const std::string& dir) const {
  const std::string prefix = dir == "/" ? "/" : dir + "/";
  std::vector<std::string> out;
  for (const auto& [fh, f] : handles_) {
    if (!f->created || f->path.rfind(prefix, 0) != 0 ||
        f->path.find('/', prefix.size()) != std::string::npos)
      continue;
    std::string name = f->path.substr(prefix.size());
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
  }
  return out;
}

}  // namespace odi::mount
