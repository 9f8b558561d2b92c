// rename(2) through the mount: files not on the disk yet, long names kept on an alias, and one
// change of the image for an entry on the disk.
#include <cerrno>

#include "mount/mount.h"
#include "mount/names.h"

namespace odi::mount {

int Mount::rename(const std::string& from, const std::string& to, unsigned flags) {
  if (read_only_) return -EROFS;
  if ((flags & RENAME_EXCHANGE) != 0) return -EINVAL;
  int err = 0;
  const std::shared_ptr<OpenFile> open = files_.at(from);
  const std::shared_ptr<OpenFile> target = files_.at(to);
  const bool target_exists = (target && target->created) || find(to, err).has_value();
  if ((flags & RENAME_NOREPLACE) != 0 && target_exists) return -EEXIST;
  if (open && open->created) {
    // Not on the disk yet: it goes there under its new name at its close, replacing what is
    // there then.
    if (const auto old = find(to, err); old && old->is_dir()) return -EISDIR;
    files_.follow(to, "");
    files_.follow(from, to);
    aliases_.erase(to);
    return 0;
  }
  const std::string src = on_disk(from);
  const auto [to_dir, to_name] = split_last(to);
  DiskName dn;
  if (const int bad = disk_name_of(to_name, writer(), dn); bad != 0) {
    // A long name for a file the disk holds under an alias: the alias takes the new long name.
    if (src == from || split_last(src).first != to_dir || target_exists) return -bad;
    aliases_.erase(from);
    aliases_[to] = src;
    files_.follow(from, to);
    return 0;
  }
  if (const int refused = rename_on_disk(src, to); refused != 0) return -refused;
  aliases_.erase(from);
  std::erase_if(aliases_, [&](const auto& kv) { return kv.first == to || kv.second == to; });
  files_.follow(to, "");
  files_.follow(from, to);
  return 0;
}

// The entry at the disk path `from` as `to`: in its own catalogue renamed, into another one put
// there and removed here, replacing what `to` names, in one change.
int Mount::rename_on_disk(const std::string& from, const std::string& to) {
  const auto split = split_last(to);
  const std::string& to_parent = split.first;
  const std::string& to_name = split.second;
  DiskName dn;
  if (const int err = disk_name_of(to_name, writer(), dn); err != 0) return err;
  return change([&](cli::Edit& edit) -> int {
    int err = 0;
    const auto src = resolve(edit.disk(), from, err);
    if (!src) return err;
    if (src->root || !src->listed) return EBUSY;
    const auto parent = resolve(edit.disk(), to_parent, err);
    if (!parent) return err;
    if (!parent->is_dir()) return ENOTDIR;
    const bool same_place =
        parent->inner.KAT_LEV == src->stack.KAT_LEV && parent->inner.KAT_POS == src->stack.KAT_POS;
    if (!same_place && src->is_dir()) return EXDEV;  // mv(1) then copies the tree and removes it
    if (const auto old = resolve(edit.disk(), to, err)) {
      if (old->row == src->row && same_place) return 0;
      if (old->is_dir() != src->is_dir()) return old->is_dir() ? EISDIR : ENOTDIR;
      if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
            return w.remove_entry(bytes, old->stack, old->row, false);
          });
          rc != cli::kExitOk)
        return errno_of(rc, edit.message());
    }
    const auto moved = resolve(edit.disk(), from, err);  // rows may have moved up
    if (!moved) return err;
    if (const int e = move_entry(edit, from, *moved, *parent, dn, same_place); e != 0) return e;
    const auto now = resolve(edit.disk(), to, err);
    if (!now) return EINVAL;
    return lists_back(edit.disk(), now->stack, now->row, to_name);
  });
}

// In its own catalogue the entry is renamed; into another one the same record is put there and
// the old one removed.
int Mount::move_entry(cli::Edit& edit, const std::string& from, const Node& src, const Node& parent,
                      const DiskName& dn, bool same_place) {
  if (same_place) {
    const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
      return w.rename_entry(bytes, src.stack, src.row, dn.name8, dn.ext3);
    });
    return errno_of(rc, edit.message());
  }
  const ChainWalk walk = edit.disk().walk(src.entry);
  if (walk.ERR_COP != kCopyOk) return EIO;
  NewFile nf;
  nf.name8 = dn.name8;
  nf.ext3 = dn.ext3;
  nf.start = src.entry.rec.start();
  nf.body = edit.disk().body(src.entry);
  std::copy_n(src.entry.rec.b.begin() + 0x10, 3, nf.date.begin());
  nf.checksum = src.entry.rec.checksum();
  int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
    return w.put_file(bytes, parent.inner, nf, false);
  });
  if (rc != cli::kExitOk) return errno_of(rc, edit.message());
  int err = 0;
  const auto again = resolve(edit.disk(), from, err);  // rows may have moved
  if (!again) return err;
  rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
    return w.remove_entry(bytes, again->stack, again->row, false);
  });
  return errno_of(rc, edit.message());
}

}  // namespace odi::mount
