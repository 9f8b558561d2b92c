#include "helpview/loafil.h"

#include <fstream>
#include <system_error>

LoadedCopy LOA_FIL(const std::filesystem::path& path) {
  // The copy list may be a tick behind the folder: the file can be gone or replaced by a folder
  // by now. Only open an existing regular file, and only for reading, so nothing is ever created.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return {{}, false};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {{}, false};
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (end < 0) return {{}, false};
  std::uintmax_t len = static_cast<std::uintmax_t>(end);
  if (len > kViewLimit) len = kViewLimit;
  std::string bytes(static_cast<size_t>(len), '\0');
  in.seekg(0, std::ios::beg);
  in.read(bytes.data(), static_cast<std::streamsize>(len));
  // A file that shrank between measuring and reading shows what was there.
  bytes.resize(static_cast<size_t>(in.gcount()));
  return {std::move(bytes), !in.bad()};
}
