// Loading a copied file for the viewer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The viewer never takes more than this many bytes of a file.
inline constexpr std::uintmax_t kViewLimit = 65470;

struct LoadedCopy {
  std::string bytes;  // the file's bytes, one character per byte, no recoding
  bool ok;            // false when the file could not be opened or read
};

// LOA_FIL: the first at most 65470 bytes of the file at `path`; empty for an empty file.
// Never creates the file: a vanished or unreadable copy gives an empty content (and `ok` false).
LoadedCopy LOA_FIL(const std::filesystem::path& path);
