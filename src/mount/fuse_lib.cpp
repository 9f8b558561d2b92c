#include "mount/fuse_lib.h"

#include <dlfcn.h>

namespace odi::mount {
namespace {

struct Loaded {
  FuseLib lib;
  std::string error;  // empty when every call was found
};

template <class F>
bool find(void* handle, F& fn, const char* name, const char* version, std::string& error) {
  fn = reinterpret_cast<F>(::dlvsym(handle, name, version));
  if (fn == nullptr) error = std::string("libfuse3 has no ") + name + "@" + version;
  return fn != nullptr;
}

Loaded load() {
  Loaded l;
  void* handle = ::dlopen(ODI_FUSE3_SONAME, RTLD_NOW | RTLD_LOCAL);  // kept to the end
  if (handle == nullptr) {
    const char* why = ::dlerror();
    l.error = why != nullptr ? why : ODI_FUSE3_SONAME " cannot be loaded";
    return l;
  }
  // The versions are the ones the header of FUSE 3 declares these calls with.
  (void)(find(handle, l.lib.main_real, "fuse_main_real", "FUSE_3.0", l.error) &&
         find(handle, l.lib.get_context, "fuse_get_context", "FUSE_3.0", l.error) &&
         find(handle, l.lib.invalidate_path, "fuse_invalidate_path", "FUSE_3.1", l.error));
  return l;
}

const Loaded& loaded() {
  static const Loaded l = load();
  return l;
}

}  // namespace

const FuseLib* fuse_lib(std::string& error) {
  error = loaded().error;
  return error.empty() ? &loaded().lib : nullptr;
}

const FuseLib& loaded_fuse_lib() {
  return loaded().lib;
}

}  // namespace odi::mount
