// libfuse3, opened when a disk is mounted: odi's other commands, the short runs a script makes by
// the hundred, start without loading it.
#pragma once

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cstddef>
#include <string>

namespace odi::mount {

// The calls of libfuse3 the mount makes, found by the versions odi was built against.
struct FuseLib {
  int (*main_real)(int argc, char* argv[], const fuse_operations* op, std::size_t op_size,
                   void* private_data) = nullptr;
  fuse_context* (*get_context)() = nullptr;
  int (*invalidate_path)(fuse* f, const char* path) = nullptr;
};

// The library, loaded at the first call and kept; nullptr where it cannot be loaded, and then
// `error` says why.
const FuseLib* fuse_lib(std::string& error);
// The library once fuse_lib has given it (the FUSE calls run only after that).
const FuseLib& loaded_fuse_lib();

}  // namespace odi::mount
