#include "cli/change.h"

#include <set>
#include <utility>

#include "image/catalogue.h"
#include "image/record.h"
#include "state/texts.h"

namespace odi::cli {
namespace {

// How far the sources are read when the image cannot be looked at (the write then stops on that):
// MX_DOS's 64 KB.
constexpr std::int64_t kFallbackBound = std::int64_t{1} << 16;
// What a txt form adds to the body it holds: CR LF for each CR, and the trailer.
constexpr std::int64_t kTrailerRoom = 64;

std::string problem_text(const Problem& p) {
  return p.path.empty() ? p.message : p.path + ": " + p.message;
}

// How far a source of `bound` bytes of body may go in its form: an rks frame adds 6 bytes, a
// text up to a CR LF for every CR and its trailer.
std::int64_t source_limit(const PutArgs& a, std::int64_t bound) {
  if (a.rks) return bound + 6;
  if (a.txt) return 2 * bound + kTrailerRoom;
  return bound;
}

// The disk name a FILE goes under: --as, or the PC name without the form's own suffix (".rks",
// ".txt", which `odi extract` adds).
std::string pc_name_of(const PutArgs& a, const std::string& file) {
  if (!a.as.empty()) return a.as;
  std::string name = fs::path(file).filename().string();
  const std::string_view suffix = a.rks ? ".rks" : a.txt ? ".txt" : "";
  if (!suffix.empty() && name.size() > suffix.size() &&
      ascii_iequal(std::string_view(name).substr(name.size() - suffix.size()), suffix))
    name.resize(name.size() - suffix.size());
  return name;
}

// The body of `in` as its form (--rks, --txt or the body as it is) gives it into `f`, and for rks
// the start address and the stored checksum; the reason when it cannot be undone.
std::string decode_source(const PutArgs& a, Input& in, NewFile& f) {
  std::string why;
  if (in.too_large) {
    // Nothing past the bound was read: the decoded body cannot be known, only that it is long.
  } else if (a.rks) {
    auto parts = read_rks(in.bytes, why);
    if (parts) {
      f.start = parts->start;
      f.body = std::move(parts->body);
      f.checksum = parts->checksum;
    }
  } else if (a.txt) {
    Options text;
    text.win = a.codepage == "win";
    text.dos = a.codepage == "dos";
    auto body = read_txt(in.bytes, text, why);
    if (body) f.body = std::move(*body);
  } else {
    f.body = std::move(in.bytes);
  }
  return why;
}

// Reads FILE into `f` in its form, no longer than `bound` bytes of body.
int read_source(const PutArgs& a, const std::string& file, std::int64_t bound,
                const SourceReader& read, NewFile& f, std::string& message) {
  Input in = read(file, source_limit(a, bound));
  if (!in.why.empty()) {
    message = file + ": cannot read: " + in.why;
    return kExitNoImage;
  }
  if (const std::string why = decode_source(a, in, f); !why.empty()) {
    message = file + ": " + why;
    return kExitProblem;
  }
  if (in.too_large || static_cast<std::int64_t>(f.body.size()) > bound) {
    message = file + ": too large: more than " + std::to_string(bound) +
              " bytes, the most a file can take on this disk";
    return kExitProblem;
  }
  return kExitOk;
}

}  // namespace

DiskDate disk_date(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto bcd = [](int v) { return static_cast<unsigned char>((v / 10) << 4 | (v % 10)); };
  return {bcd(tm.tm_mday), bcd(tm.tm_mon + 1), bcd(tm.tm_year % 100)};
}

std::optional<DiskDate> date_of(const std::string& text) {
  if (text.empty()) return disk_date();
  if (text.size() != 8 || text[2] != '.' || text[5] != '.') return std::nullopt;
  std::array<int, 3> v{};
  for (size_t i = 0; i < 3; ++i) {
    const char hi = text[3 * i];
    const char lo = text[3 * i + 1];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return std::nullopt;
    v[i] = (hi - '0') * 10 + (lo - '0');
  }
  if (v[0] < 1 || v[0] > 31 || v[1] < 1 || v[1] > 12) return std::nullopt;
  const auto bcd = [](int x) { return static_cast<unsigned char>((x / 10) << 4 | (x % 10)); };
  return DiskDate{bcd(v[0]), bcd(v[1]), bcd(v[2])};
}

std::optional<std::uint16_t> address_of(std::string s) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s = s.substr(2);
    base = 16;
  } else if (s.size() > 1 && (s.back() == 'h' || s.back() == 'H')) {
    s.pop_back();
    base = 16;
  }
  const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  if (s.empty() || s.size() > 5 || s.find_first_not_of(digits) != std::string::npos)
    return std::nullopt;
  const unsigned long v = std::stoul(s, nullptr, base);
  if (v > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

std::vector<Problem> damage_in(const std::vector<Problem>& problems) {
  std::vector<Problem> out;
  for (const Problem& p : problems)
    if (!p.note) out.push_back(p);
  return out;
}

std::vector<Problem> damage(const FileSystem& disk) {
  return damage_in(disk.check());
}

std::optional<DiskName> name_for(const std::string& image, std::string_view utf8,
                                 std::string& message) {
  std::string why;
  auto name = disk_name_from_utf8(utf8, why);
  if (!name) message = image + ": " + why;
  return name;
}

// ---- DiskChange ----------------------------------------------------------------------------

int DiskChange::open(std::string bytes, const std::vector<Problem>* known) {
  if (static_cast<std::int64_t>(bytes.size()) != kImageSize)
    return fail(kExitProblem, "not an 819200-byte disk image (" + std::to_string(bytes.size()) +
                                  " bytes): nothing is written into it");
  original_ = bytes;
  bytes_ = std::move(bytes);
  reread();
  kind_ = disk_->kind();
  writer_ = writer_for(kind_);
  if (!writer_)
    return fail(kExitProblem, kind_ == FsKind::Blank
                                  ? "a blank disk holds no file system to write into; odi new "
                                    "makes a fresh disk"
                                  : "no file system odi can write into was found on the disk");
  // Only a sound disk is written into: afterwards any problem at all is one the change made.
  const std::vector<Problem> before = known ? damage_in(*known) : damage(*disk_);
  if (!before.empty())
    return fail(kExitProblem,
                "the disk is damaged (" + problem_text(before.front()) + "; " +
                    std::to_string(before.size()) +
                    " problem(s) in all): nothing is written into it; run odi check " + name_);
  return kExitOk;
}

int DiskChange::apply(const Change& change) {
  const WriteResult r = change(*writer_, bytes_);
  reread();
  row_ = r.row;
  return r.ok() ? kExitOk : fail(r.status, r.message);
}

int DiskChange::check() {
  if (disk_->kind() != kind_)
    return fail(kExitProblem, "the changed disk would no longer read as " +
                                  std::string(fs_kind_name(kind_)) + ": nothing written");
  problems_ = disk_->check();
  if (const std::vector<Problem> after = damage_in(problems_); !after.empty())
    return fail(kExitProblem, "the change would damage the disk (" + problem_text(after.front()) +
                                  "): nothing written");
  return kExitOk;
}

int DiskChange::fail(int status, const std::string& message) {
  message_ = name_ + ": " + message;
  if (say_) say_(message_);
  return status;
}

void DiskChange::reread() {
  img_ = Image(bytes_);
  disk_ = open_file_system(img_);
}

// ---- new -----------------------------------------------------------------------------------

int check_new(const NewArgs& a, std::string& message) {
  if (a.cpm && (!a.name.empty() || !a.system_from.empty())) {
    message =
        "a CP/M disk keeps no disk name and no MX_DOS system: --cpm takes neither "
        "--name nor --system-from";
    return kExitUsage;
  }
  // odi info shows the name's bytes as they are and the window through the KOI-8 table: only
  // characters both show alike (ASCII that stands in a file name) list back the same.
  if (!a.name.empty() && (NAM_WIN(a.name) != a.name || trim_spaces(a.name) != a.name ||
                          a.name.size() > static_cast<size_t>(kDiskNameLength))) {
    message = a.image + ": disk name \"" + a.name +
              "\": at most 6 ASCII letters, digits or - _ . ^ ~, no leading or trailing blanks";
    return kExitProblem;
  }
  return kExitOk;
}

int make_new_disk(const NewArgs& a, const Image* system, std::string& bytes, std::string& message) {
  const FsKind kind = a.cpm ? FsKind::Cpm : FsKind::MxDos;
  const WriteResult made = new_disk(kind, bytes, a.name, system);
  if (!made.ok()) {
    message = a.image + ": " + made.message;
    return made.status;
  }
  // The fresh disk must read back as what was asked for, and sound.
  const Image img(bytes);
  const auto disk = open_file_system(img);
  if (disk->kind() != kind || !damage(*disk).empty()) {
    message = a.image + ": the new disk does not read back as a sound " +
              std::string(fs_kind_name(kind)) + " disk: nothing written";
    return kExitProblem;
  }
  return kExitOk;
}

// ---- put -----------------------------------------------------------------------------------

std::int64_t put_bound(FsKind kind, const std::string& bytes, bool replace) {
  const auto writer = writer_for(kind);
  return writer ? writer->largest_body(bytes, replace) : kFallbackBound;
}

int put_settings(const PutArgs& a, NewFile& proto, std::string& message) {
  message.clear();
  if (!a.as.empty() && a.files.size() > 1) message = "--as names one FILE only";
  if (message.empty() && a.rks && !a.start.empty())
    message = "--start does not go with --rks: the rks file holds its own address";
  const auto date = date_of(a.date);
  if (message.empty() && !date) message = "--date must be DD.MM.YY";
  std::optional<std::uint16_t> start = std::uint16_t{0};
  if (!a.start.empty()) start = address_of(a.start);
  if (message.empty() && !start)
    message = "--start must be an address 0..FFFFh (0x1100, 1100h or 4352)";
  if (!message.empty()) return kExitUsage;
  proto.start = *start;
  proto.date = *date;
  return kExitOk;
}

int read_put_files(const PutArgs& a, const NewFile& proto, std::int64_t bound,
                   const SourceReader& read, std::vector<NewFile>& files, std::string& message) {
  std::set<std::pair<std::string, std::string>> names;
  for (const std::string& file : a.files) {
    if (file == "-" && a.as.empty()) {
      message = "standard input (-) needs --as NAME";
      return kExitUsage;
    }
    std::string why;
    const auto name = disk_name_from_utf8(pc_name_of(a, file), why);
    if (!name) {
      message = file + ": " + why + (a.as.empty() ? " (--as gives another name)" : "");
      return kExitProblem;
    }
    if (!names.emplace(name->name8, name->ext3).second) {
      message = file + ": a second FILE of the same disk name";
      return kExitUsage;
    }
    NewFile f = proto;
    f.name8 = name->name8;
    f.ext3 = name->ext3;
    if (const int rc = read_source(a, file, bound, read, f, message); rc != kExitOk) return rc;
    files.push_back(std::move(f));
  }
  return kExitOk;
}

int put_files(DiskChange& change, const std::string& catpath, const std::vector<NewFile>& files,
              bool replace) {
  std::string error;
  std::string path = catpath;
  for (const NewFile& f : files) {
    // Each put may move rows (lists are kept sorted): the catalogue is found again every time.
    const auto where = find_catalogue(change.disk(), path, error, true);
    if (!where) return change.fail(kExitNotFound, error);
    path = where->exact;
    if (const int rc = change.apply([&](const DiskWriter& w, std::string& bytes) {
          return w.put_file(bytes, where->stack, f, replace);
        });
        rc != kExitOk)
      return rc;
  }
  return kExitOk;
}

// ---- mkdir, rm, mv -------------------------------------------------------------------------

int make_catalogue(DiskChange& change, const std::string& parent, const DiskName& name,
                   DiskDate date) {
  std::string why;
  const auto where = find_catalogue(change.disk(), parent, why, true);
  if (!where) return change.fail(kExitNotFound, why);
  return change.apply([&](const DiskWriter& w, std::string& bytes) {
    return w.make_catalogue(bytes, where->stack, name.name8, name.ext3, date);
  });
}

int remove_entries(DiskChange& change, const std::vector<std::string>& entries, bool recursive) {
  // Every entry is found on the disk as it was (a #N is the row the listing shows now), then by
  // its names again before its turn: a removal moves the rows behind it.
  std::string error;
  std::vector<std::string> paths;
  for (const std::string& e : entries) {
    const auto found = find_any(change.disk(), e, error);
    if (!found) return change.fail(kExitNotFound, error);
    paths.push_back(found->exact);
  }
  for (const std::string& path : paths) {
    const auto found = find_any(change.disk(), path, error);
    if (!found) return change.fail(kExitNotFound, error + " (removed with an entry before it)");
    if (const int rc = change.apply([&](const DiskWriter& w, std::string& bytes) {
          return w.remove_entry(bytes, found->stack, found->row, recursive);
        });
        rc != kExitOk)
      return rc;
  }
  return kExitOk;
}

int rename_entry(DiskChange& change, const std::string& entry, const DiskName& name) {
  std::string why;
  const auto found = find_any(change.disk(), entry, why);
  if (!found) return change.fail(kExitNotFound, why);
  return change.apply([&](const DiskWriter& w, std::string& bytes) {
    return w.rename_entry(bytes, found->stack, found->row, name.name8, name.ext3);
  });
}

}  // namespace odi::cli
