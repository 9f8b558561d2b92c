#include "mount/lookup.h"

#include <algorithm>
#include <cerrno>

#include "cli/cli.h"
#include "mount/names.h"

namespace odi::mount {

std::optional<Node> resolve(const FileSystem& disk, const std::string& path, int& err,
                            const std::function<bool(const std::string&)>& unlisted) {
  std::string sofar;
  Node n;
  n.inner = root_stack(disk);
  n.stack = n.inner;
  for (const std::string& part : components(path)) {
    if (!n.is_dir() || !n.listed) {
      err = n.listed ? ENOTDIR : ENOENT;
      return std::nullopt;
    }
    const Location here = n.here();
    const std::vector<Entry> rows = disk.list(here);
    const std::vector<std::string> names = mount_names(rows);
    int row = static_cast<int>(std::find(names.begin(), names.end(), part) - names.begin());
    if (row == static_cast<int>(rows.size()))
      row = cli::match_row(rows, replace_all(part, kSlash, "/"));
    Node next;
    next.root = false;
    next.stack = n.inner;
    next.inner = n.inner;
    sofar += "/" + part;
    if (row < 0) {
      const auto hidden =
          !unlisted || unlisted(sofar) ? disk.unlisted_catalogue(here, part) : std::nullopt;
      if (!hidden || !next.inner.enter(*hidden, part, static_cast<int>(rows.size()))) {
        err = ENOENT;
        return std::nullopt;
      }
      next.listed = false;
      next.entry.rec.b[0x17] = 0xFF;  // a catalogue row
    } else {
      next.entry = rows[static_cast<size_t>(row)];
      next.row = row;
      if (next.entry.is_catalogue() && !odi::enter(next.inner, next.entry, row)) {
        err = ENOENT;  // deeper than 10 levels: not followed
        return std::nullopt;
      }
    }
    n = std::move(next);
  }
  return n;
}

int lists_back(const FileSystem& disk, const CatalogueStack& where, int row,
               const std::string& name) {
  const auto rows = disk.list(where.KAT_POS[static_cast<size_t>(where.KAT_LEV)]);
  const auto names = mount_names(rows);
  return row >= 0 && row < static_cast<int>(names.size()) &&
                 lists_as(names[static_cast<size_t>(row)], name)
             ? 0
             : EINVAL;
}

}  // namespace odi::mount
