#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/cli.h"
#include "image/chain.h"
#include "state/cp1251.h"

namespace odi::cli {

std::optional<Options> options_from(const FormFlags& flags, std::string& error) {
  Options o;
  o.bin = flags.type == "bin";
  o.rom = flags.type == "rom";
  o.rks = flags.type == "rks";
  o.txt = flags.type == "txt";
  if (!(o.bin || o.rom || o.rks || o.txt)) {
    error = "--type must be bin, rom, rks or txt";
    return std::nullopt;
  }
  o.win = flags.codepage == "win";
  o.dos = flags.codepage == "dos";
  if (!o.win && !o.dos && flags.codepage != "none") {
    error = "--codepage must be win, dos or none";
    return std::nullopt;
  }
  o.koi8 = flags.koi8;
  o.koi7 = flags.koi7;
  if (!o.koi8 && !o.koi7) {
    // The panel never lets both go: one of them is always the source of a text.
    error = "--no-koi8 and --no-koi7 together leave no source code for a text";
    return std::nullopt;
  }
  return o;
}

void complain(std::string_view message) {
  std::string line = "odi: ";
  line += message;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

namespace {

// Says why an image was not read; true when it was.
bool read_ok(const fs::path& path, bool folder, const std::string& error, bool quiet,
             std::string* why) {
  if (folder) {
    if (why) *why = "is a folder, not an image";
    if (!quiet) complain(path.string() + ": is a folder, not an image");
    return false;
  }
  if (!error.empty()) {
    if (why) *why = error;
    if (!quiet) complain(path.string() + ": cannot open: " + error);
    return false;
  }
  return true;
}

}  // namespace

bool load_disk(const fs::path& path, LoadedDisk& disk, bool quiet, std::string* why) {
  // The bytes of an image read before (and no longer shown) give their memory to this one.
  LoadedImage li = read_image_file(path, disk.disk ? std::string() : std::move(disk.bytes));
  if (!read_ok(path, li.folder, li.error, quiet, why)) return false;
  disk.path = path;
  disk.bytes = std::move(li.bytes);
  disk.img = Image(disk.bytes);
  disk.disk = open_file_system(disk.img);
  return true;
}

bool load_disk(const fs::path& path, ImageMemory& memory, LoadedDisk& disk, bool quiet,
               std::string* why) {
  disk.disk.reset();  // it reads the memory the new image goes into
  const ImageView iv = read_image_file(path, memory);
  if (!read_ok(path, iv.folder, iv.error, quiet, why)) return false;
  disk.path = path;
  disk.bytes.clear();
  disk.img = Image(iv.bytes);
  disk.disk = open_file_system(disk.img);
  return true;
}

std::string row_text(const Entry& e) {
  return cp1251_to_utf8(list_row(e));
}

const char* kind_text(const Record& rec) {
  if (rec.is_file()) return "file";
  if (rec.is_catalogue()) return "catalogue";
  return "other";
}

bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (low(a[i]) != low(b[i])) return false;
  }
  return true;
}

std::string exact_entry_name(const Record& rec) {
  const std::string ext = exact_ext(rec);
  return ext.empty() ? exact_name(rec) : exact_name(rec) + "." + ext;
}

int match_row(const std::vector<Entry>& recs, const std::string& component) {
  if (component.size() > 1 && component[0] == '#' &&
      component.find_first_not_of("0123456789", 1) == std::string::npos && component.size() < 9) {
    const int n = std::stoi(component.substr(1));
    return n < static_cast<int>(recs.size()) ? n : -1;
  }
  struct Names {
    std::string exact, full, brief;
  };
  std::vector<Names> names;
  names.reserve(recs.size());
  for (const Entry& e : recs)
    names.push_back({exact_entry_name(e.rec), entry_name(e.rec), entry_short_name(e.rec)});
  for (int pass = 0; pass < 4; ++pass) {
    const auto same = [&](const std::string& s) {
      return pass < 2 ? s == component : ascii_iequal(s, component);
    };
    for (size_t i = 0; i < names.size(); ++i) {
      const Names& n = names[i];
      if (pass % 2 == 0 ? same(n.exact) : same(n.full) || same(n.brief)) return static_cast<int>(i);
    }
  }
  return -1;
}

namespace {

enum class Want { File, Catalogue, Any };

// Follows `parts`; what the last one must be is `want`. With `unlisted`, a catalogue that no row
// shows is looked for where a row is missing.
std::optional<Found> follow(const FileSystem& disk, const std::vector<std::string>& parts,
                            Want want, std::string& error, bool unlisted = false) {
  Found f;
  f.stack = root_stack(disk);
  for (size_t i = 0; i < parts.size(); ++i) {
    const Location here = f.stack.KAT_POS[static_cast<size_t>(f.stack.KAT_LEV)];
    const std::vector<Entry> rows = disk.list(here);
    const int row = match_row(rows, parts[i]);
    std::string sofar;
    for (size_t j = 0; j <= i; ++j) sofar += (j ? "/" : "") + escape_name(parts[j]);
    const bool last = i + 1 == parts.size();
    if (row < 0) {
      const auto hidden = unlisted && (!last || want == Want::Catalogue)
                              ? disk.unlisted_catalogue(here, parts[i])
                              : std::nullopt;
      if (!hidden || !f.stack.enter(*hidden, parts[i], static_cast<int>(rows.size()))) {
        error = "no entry " + sofar;
        return std::nullopt;
      }
      f.path.push_back(parts[i]);
      f.ref += (i ? "/#" : "#") + std::to_string(rows.size());
      f.exact += (i ? "/" : "") + escape_name(parts[i]);
      continue;
    }
    const Entry& e = rows[static_cast<size_t>(row)];
    f.path.push_back(entry_name(e.rec));
    f.ref += (i ? "/#" : "#") + std::to_string(row);
    f.exact += (i ? "/" : "") + escape_name(exact_entry_name(e.rec));
    if (last && want != Want::Catalogue) {
      if (want == Want::File && !e.is_file()) {
        error = sofar + " is not a file (" + kind_text(e.rec) + ")";
        return std::nullopt;
      }
      f.entry = e;
      f.row = row;
      return f;
    }
    if (!e.is_catalogue()) {
      error = sofar + " is not a catalogue";
      return std::nullopt;
    }
    if (!enter(f.stack, e, row)) {
      error = sofar + " lies deeper than 10 catalogue levels";
      return std::nullopt;
    }
    if (last) {
      f.entry = e;
      f.row = row;
    }
  }
  return f;
}

}  // namespace

std::vector<std::string> split_path(std::string_view p) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '/') {
      if (!parts.back().empty()) parts.emplace_back();
      continue;
    }
    if (p[i] == '\\' && i + 1 < p.size() && (p[i + 1] == '/' || p[i + 1] == '\\')) ++i;
    parts.back() += p[i];
  }
  if (parts.back().empty()) parts.pop_back();
  return parts;
}

std::string escape_name(std::string_view name) {
  std::string s;
  for (const char c : name) {
    if (c == '/' || c == '\\') s += '\\';
    s += c;
  }
  return s;
}

std::optional<Found> find_entry(const FileSystem& disk, std::string_view entry,
                                std::string& error) {
  const auto parts = split_path(entry);
  if (parts.empty()) {
    error = "empty entry name";
    return std::nullopt;
  }
  return follow(disk, parts, Want::File, error);
}

std::optional<Found> find_any(const FileSystem& disk, std::string_view entry, std::string& error) {
  const auto parts = split_path(entry);
  if (parts.empty()) {
    error = "the root is no entry";
    return std::nullopt;
  }
  return follow(disk, parts, Want::Any, error);
}

std::optional<Found> find_catalogue(const FileSystem& disk, std::string_view catpath,
                                    std::string& error, bool unlisted) {
  return follow(disk, split_path(catpath), Want::Catalogue, error, unlisted);
}

const std::vector<std::string>& Visit::path() const {
  if (!named_) inner_->path.back() = entry_name(entry.rec);
  named_ = true;
  return inner_->path;
}

const std::string& Visit::ref() const {
  if (!numbered_)
    inner_->ref = start_.ref + (start_.ref.empty() ? "#" : "/#") + std::to_string(row);
  numbered_ = true;
  return inner_->ref;
}

void walk_tree(const FileSystem& disk, const Found& start, bool recursive,
               const std::function<void(const Visit&)>& visit,
               const std::function<void(const Visit&, Skip)>& skipped) {
  const CatalogueStack& stack = start.stack;
  const std::int64_t pos = stack.KAT_POS[static_cast<size_t>(stack.KAT_LEV)];
  const std::vector<Entry> rows = disk.list(pos);
  Found inner;
  inner.path = start.path;
  inner.path.emplace_back();
  for (size_t i = 0; i < rows.size(); ++i) {
    const Entry& e = rows[i];
    const int row = static_cast<int>(i);
    const Visit v(stack, e, row, start, inner);
    visit(v);
    if (!recursive || !e.is_catalogue()) continue;
    // The record a sub-catalogue keeps of itself would lead straight back: not followed.
    if (stack.on_path(e.inner)) {
      if (skipped) skipped(v, Skip::OnPath);
      continue;
    }
    inner.stack = stack;
    if (!enter(inner.stack, e, row)) {
      if (skipped) skipped(v, Skip::TooDeep);
      continue;
    }
    // The catalogue's contents are below its name and its row.
    v.path();
    v.ref();
    walk_tree(disk, inner, true, visit, skipped);
  }
}

std::optional<bool> checksum_ok(const FileSystem& disk, const Entry& e) {
  if (!e.is_file()) return std::nullopt;
  const ChainWalk w = disk.walk(e);
  if (w.ERR_COP != kCopyOk) return std::nullopt;
  return monitor_checksum(chain_body(disk.image(), w)) == e.rec.checksum();
}

std::string_view version() {
  return ODI_VERSION;
}

}  // namespace odi::cli
