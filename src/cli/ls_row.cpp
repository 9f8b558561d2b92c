#include "cli/ls_row.h"

namespace odi::cli {

nlohmann::ordered_json ls_json_row(const FileSystem& fsys, const Visit& v,
                                   const std::string& today) {
  const Entry full = fsys.complete(v.entry);
  const Record& rec = full.rec;
  nlohmann::ordered_json e;
  e["path"] = join_path(v.path());
  e["ref"] = v.ref();
  e["row"] = v.row;
  e["text"] = row_text(v.entry);
  e["name"] = entry_name(rec);
  e["disk_name"] = exact_name(rec);
  e["disk_ext"] = exact_ext(rec);
  e["kind"] = kind_text(rec);
  e["size_kb"] = rec.size_kb();
  if (v.entry.is_file()) e["bytes"] = v.entry.bytes;
  if (v.entry.user >= 0) {
    e["user"] = v.entry.user;
    e["attributes"] = v.entry.attributes;
  }
  e["date"] = entry_date(v.entry, today);
  e["first_sector"] = rec.first_sector();
  e["first_track"] = rec.first_track();
  e["start"] = rec.start();
  e["end"] = rec.end();
  e["checksum"] = rec.checksum();
  const auto ok = checksum_ok(fsys, full);
  e["checksum_ok"] = ok ? nlohmann::ordered_json(*ok) : nlohmann::ordered_json(nullptr);
  return e;
}

}  // namespace odi::cli
