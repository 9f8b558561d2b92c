// odi info, odi ls, odi cat: looking at one image.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/ls_row.h"
#include "extract/copy_buf.h"
#include "state/cp1251.h"

namespace odi::cli {

namespace {

void out(std::string_view s) {
  std::fwrite(s.data(), 1, s.size(), stdout);
}

// Width on a terminal: one column per code point (the names hold no wide characters).
size_t columns(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string pad(std::string s, size_t width, bool right = false) {
  const size_t w = columns(s);
  if (w >= width) return s;
  const std::string fill(width - w, ' ');
  return right ? fill + s : s + fill;
}

std::string hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

// One catalogue as a table. Addresses and the checksum mean something for files only.
void print_table(const std::vector<std::vector<std::string>>& rows) {
  static const std::vector<std::string> head = {"ROW", "NAME",  "SIZE", "KIND", "DATE",
                                                "T/S", "START", "END",  "SUM"};
  static const std::vector<bool> right = {true,  false, true,  false, false,
                                          false, false, false, false};
  std::vector<size_t> width(head.size());
  for (size_t c = 0; c < head.size(); ++c) width[c] = columns(head[c]);
  for (const auto& r : rows)
    for (size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], columns(r[c]));
  auto line = [&](const std::vector<std::string>& r) {
    std::string s;
    for (size_t c = 0; c < r.size(); ++c) {
      if (c) s += "  ";
      s += c + 1 == r.size() ? r[c] : pad(r[c], width[c], right[c]);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out(s + "\n");
  };
  line(head);
  for (const auto& r : rows) line(r);
}

std::vector<std::string> table_row(const FileSystem& disk, const Entry& listed, int row,
                                   const std::string& today) {
  const Entry e = disk.complete(listed);
  const Record& rec = e.rec;
  const bool file = rec.is_file();
  std::string name = cp1251_to_utf8(NAM_WIN(rec.name_field()));
  if (!e.attributes.empty()) name += " " + e.attributes;
  return {std::to_string(row),
          name,
          std::to_string(rec.size_kb()) + "K",
          kind_text(rec),
          entry_date(e, today),
          disk.place(e),
          file ? hex4(rec.start()) : "",
          file ? hex4(rec.end()) : "",
          file ? hex4(rec.checksum()) : ""};
}

}  // namespace

int cmd_info(const std::string& image, bool json) {
  LoadedDisk disk;
  if (!load_disk(image, disk)) return kExitNoImage;
  const FileSystem& fsys = *disk.disk;
  // The version is 13 bytes from the signature on; a disk may pad it with NUL bytes, which end
  // the text as they end a label's.
  std::string ver = fsys.version_text();
  ver = ver.substr(0, ver.find('\0'));
  const std::string name = fsys.disk_name();
  const std::string kind(fs_kind_name(fsys.kind()));
  if (json) {
    nlohmann::ordered_json j;
    j["file_system"] = kind;
    j["version"] = cp1251_to_utf8(ver);
    j["disk_name"] = cp1251_to_utf8(name);
    for (const auto& [key, value] : fsys.layout_facts()) j[key] = value;
    out(j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    return kExitOk;
  }
  // Scripts read the first two lines as they always were; what is new comes after them.
  out("version: " + cp1251_to_utf8(ver) + "\n");
  out("disk name: " + cp1251_to_utf8(name) + "\n");
  out("file system: " + kind + "\n");
  for (const auto& [key, value] : fsys.layout_facts()) out(key + ": " + value + "\n");
  return kExitOk;
}

int cmd_ls(const LsArgs& a) {
  LoadedDisk disk;
  if (!load_disk(a.image, disk)) return kExitNoImage;
  std::string error;
  const FileSystem& fsys = *disk.disk;
  const auto start = find_catalogue(fsys, a.catpath, error);
  if (!start) {
    complain(a.image + ": " + error);
    return kExitNotFound;
  }
  const std::string today = today_text();

  if (a.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    walk_tree(fsys, *start, a.recursive,
              [&](const Visit& v) { list.push_back(ls_json_row(fsys, v, today)); });
    out(list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    return kExitOk;
  }

  // A table per catalogue; with -R each under its path, sub-catalogues after their parent.
  struct Block {
    std::string path;
    std::vector<std::vector<std::string>> rows;
    bool entered = true;
  };
  std::vector<Block> blocks;
  std::vector<size_t> open;  // blocks of the catalogues on the current path, innermost last
  blocks.push_back({join_path(start->path), {}});
  open.push_back(0);
  walk_tree(
      fsys, *start, a.recursive,
      [&](const Visit& v) {
        // The visit order is depth first: a record at depth d belongs to the d-th open block.
        const size_t depth = v.depth() - start->path.size() - 1;
        open.resize(depth + 1);
        blocks[open.back()].rows.push_back(table_row(fsys, v.entry, v.row, today));
        if (a.recursive && v.entry.is_catalogue()) {
          blocks.push_back({join_path(v.path()), {}});
          open.push_back(blocks.size() - 1);
        }
      },
      [&](const Visit&, Skip) {
        // Heard right after the visit of that catalogue record: its block is the last one.
        blocks.back().entered = false;
      });
  bool first = true;
  for (const auto& block : blocks) {
    if (!block.entered) continue;
    if (a.recursive) {
      if (!first) out("\n");
      out((block.path.empty() ? std::string("/") : block.path) + ":\n");
    }
    first = false;
    print_table(block.rows);
  }
  return kExitOk;
}

int cmd_cat(const CatArgs& a) {
  std::string error;
  const auto opt = options_from(a.form, error);
  if (!opt) {
    complain(error);
    return kExitUsage;
  }
  LoadedDisk disk;
  if (!load_disk(a.image, disk)) return kExitNoImage;
  const FileSystem& fsys = *disk.disk;
  const auto found = find_entry(fsys, a.entry, error);
  if (!found) {
    complain(a.image + ": " + error);
    return kExitNotFound;
  }
  const CopyResult r = COPY_BUF(fsys, found->entry, *opt, entry_date(found->entry, today_text()));
  const std::string bytes = a.dump ? DAMP_TXT(r.BUF_FIL, opt->win) : r.BUF_FIL;
  out(bytes);
  std::fflush(stdout);
  if (r.ERR_COP != kCopyOk)
    complain(a.image + ": " + join_path(found->path) + ": " + damage_text(r.ERR_COP));
  return r.ERR_COP;
}

std::string damage_text(int err_cop) {
  switch (err_cop) {
    case kCopyBadFirst:
      return "bad first-sector address in the catalogue record (ERR_COP 1)";
    case kCopyBadFat:
      return "bad FAT chain (ERR_COP 2)";
    case kCopyShort:
      return "the image ends before the chain does (ERR_COP 3)";
    case kCopyTooLarge:
      return "loaded at 0100h the body runs past FFFFh: no rks frame holds it (ERR_COP 4)";
    default:
      return "sound";
  }
}

}  // namespace odi::cli
