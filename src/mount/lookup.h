// A path of the mount followed on a disk.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "extract/target.h"
#include "image/fs.h"

namespace odi::mount {

struct Node {
  bool root = true;
  CatalogueStack stack;  // the catalogue holding the entry (for the root: the root)
  Entry entry;
  int row = -1;
  CatalogueStack inner;  // a catalogue's (or the root's) own stack
  bool listed = true;    // false: a CP/M user area with no files yet
  bool is_dir() const { return root || entry.is_catalogue(); }
  Location here() const { return inner.KAT_POS[static_cast<size_t>(inner.KAT_LEV)]; }
};

// Follows `path` on `disk`: the mount's own names first, then odi's rules for a name (the exact
// name, the listed name, Latin letters in any case), then a CP/M user area with no files yet, when
// `unlisted` allows it (a change may go into one; the folder shows once mkdir made it). Nothing,
// with the errno in `err`, for a path that leads nowhere.
std::optional<Node> resolve(const FileSystem& disk, const std::string& path, int& err,
                            const std::function<bool(const std::string&)>& unlisted = {});

// Does the row `row` of the catalogue `where` show as `name` (in any Latin letter case)? After a
// change that made or named it: a name the disk keeps otherwise is refused, so nothing is written.
int lists_back(const FileSystem& disk, const CatalogueStack& where, int row,
               const std::string& name);

}  // namespace odi::mount
