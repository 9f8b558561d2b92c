// odi new, put, mkdir, rm, mv: the commands that write. Each locks the image, reads it whole,
// changes it in memory through the writer of its file system, checks the result as `odi check`
// does, and replaces the file in one step. A refusal or a failure leaves the file byte for byte
// as it was; several changes asked for in one call are made all together or not at all; writers
// of one image take turns, so none loses another's change.
#include "image/write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>

#include "cli/commands.h"
#include "cli/edit.h"
#include "extract/put_form.h"
#include "extract/target.h"
#include "state/texts.h"

namespace odi::cli {
namespace {

// How far the sources are read when the image cannot be looked at (the write then stops on that):
// MX_DOS's 64 KB.
constexpr std::int64_t kFallbackBound = std::int64_t{1} << 16;
// What a txt form adds to the body it holds: CR LF for each CR, and the trailer.
constexpr std::int64_t kTrailerRoom = 64;

// The BCD day, month and year of DD.MM.YY, or of today when `text` is empty.
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

// A load address: 0x1100, 1100h or decimal 4352.
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

// A source of put, read no further than `limit` bytes.
struct Input {
  std::string bytes;
  std::string why;         // empty when the source was read to its end
  bool too_large = false;  // it holds more than `limit`: byte limit + 1 arrived, no more is read
};

// Reads FILE ("-": standard input) to its end, or until it proves longer than `limit`: a device
// or a generator that never ends is refused after limit + 1 bytes.
Input read_input(const std::string& file, std::int64_t limit) {
  Input in;
  const int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    in.why = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    in.why = "is a folder";
  } else {
    const auto most = static_cast<size_t>(limit) + 1;
    // A file's own size, and a byte more to see its end, is the first piece: a buffer of a fixed
    // 64 KB for each of many small files cleared and kept megabytes of memory in all.
    const auto first = S_ISREG(st.st_mode) && st.st_size >= 0
                           ? std::min(most, static_cast<size_t>(st.st_size) + 1)
                           : std::min<size_t>(most, 65536);
    size_t got = 0;
    in.bytes.resize(first);
    for (;;) {
      if (got == in.bytes.size()) in.bytes.resize(std::min(most, got + 65536));
      const ssize_t n = ::read(fd, in.bytes.data() + got, in.bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) in.why = std::strerror(errno);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (got == most) {
        in.too_large = true;
        break;
      }
    }
    in.bytes.resize(got);
  }
  if (fd > STDIN_FILENO) ::close(fd);
  return in;
}

// The longest body a put into `image` may bring, from a look at the image as it is now (no lock:
// the sources are read before the image is locked, so that a slow one keeps no other writer
// waiting; the writer checks the room again under the lock).
// `spare` keeps the memory of the look for the read under the lock.
std::int64_t body_bound(const std::string& image, bool replace, std::string& spare) {
  LoadedDisk d;
  if (!load_disk(image, d, true)) return kFallbackBound;
  const auto writer = writer_for(d.disk->kind());
  const std::int64_t bound = writer ? writer->largest_body(d.bytes, replace) : kFallbackBound;
  d.disk.reset();
  spare = std::move(d.bytes);
  return bound;
}

// How far a source of `bound` bytes of body may go in its form: an rks frame adds 6 bytes, a
// text up to a CR LF for every CR and its trailer.
std::int64_t source_limit(const PutArgs& a, std::int64_t bound) {
  if (a.rks) return bound + 6;
  if (a.txt) return 2 * bound + kTrailerRoom;
  return bound;
}

// Reads FILE into `f` as its form (--rks, --txt or the body as it is) gives it: the body, and for
// rks the start address and the stored checksum.
int read_source(const PutArgs& a, const std::string& file, const Options& text, std::int64_t bound,
                NewFile& f) {
  Input in = read_input(file, source_limit(a, bound));
  if (!in.why.empty()) {
    complain(file + ": cannot read: " + in.why);
    return kExitNoImage;
  }
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
    auto body = read_txt(in.bytes, text, why);
    if (body) f.body = std::move(*body);
  } else {
    f.body = std::move(in.bytes);
  }
  if (!why.empty()) {
    complain(file + ": " + why);
    return kExitProblem;
  }
  if (in.too_large || static_cast<std::int64_t>(f.body.size()) > bound) {
    complain(file + ": too large: more than " + std::to_string(bound) +
             " bytes, the most a file can take on this disk");
    return kExitProblem;
  }
  return kExitOk;
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

int usage(const std::string& message) {
  complain(message + " (see odi --help)");
  return kExitUsage;
}

}  // namespace

int cmd_new(const NewArgs& a) {
  if (a.cpm && (!a.name.empty() || !a.system_from.empty()))
    return usage(
        "a CP/M disk keeps no disk name and no MX_DOS system: --cpm takes neither "
        "--name nor --system-from");
  std::string name;
  if (!a.name.empty()) {
    // odi info shows the name's bytes as they are and the window through the KOI-8 table: only
    // characters both show alike (ASCII that stands in a file name) list back the same.
    if (NAM_WIN(a.name) != a.name || trim_spaces(a.name) != a.name ||
        a.name.size() > static_cast<size_t>(kDiskNameLength)) {
      complain(a.image + ": disk name \"" + a.name +
               "\": at most 6 ASCII letters, digits or - _ . ^ ~, no leading or trailing blanks");
      return kExitProblem;
    }
    name = a.name;
  }
  std::string sys_bytes;
  Image sys_img;
  if (!a.system_from.empty()) {
    LoadedImage li = read_image_file(a.system_from);
    if (!li.ok()) {
      complain(a.system_from + ": cannot open: " + li.error);
      return kExitNoImage;
    }
    sys_bytes = std::move(li.bytes);
    sys_img = Image(sys_bytes);
    // A disk with the signature always reads as MX_DOS: the signature alone decides.
    if (VER_DOS(sys_img) == texts::no_version()) {
      complain(a.system_from + ": no MX_DOS system to copy (no \"Dos_MX\" signature)");
      return kExitProblem;
    }
  }
  const FsKind kind = a.cpm ? FsKind::Cpm : FsKind::MxDos;
  std::string bytes;
  const WriteResult made = new_disk(kind, bytes, name, a.system_from.empty() ? nullptr : &sys_img);
  if (!made.ok()) {
    complain(a.image + ": " + made.message);
    return made.status;
  }
  // The fresh disk must read back as what was asked for, and sound.
  const Image img(bytes);
  const auto disk = open_file_system(img);
  if (disk->kind() != kind || !damage(*disk).empty()) {
    complain(a.image + ": the new disk does not read back as a sound " +
             std::string(fs_kind_name(kind)) + " disk: nothing written");
    return kExitProblem;
  }

  std::string why;
  const auto target = write_target(a.image, why);
  if (!target) {
    complain(a.image + ": cannot write: " + why);
    return kExitNoImage;
  }
  std::error_code ec;
  const auto st = fs::status(*target, ec);
  if (fs::exists(st) && !a.force) {
    complain(a.image + ": exists; odi new replaces a file only with --force");
    return kExitProblem;
  }
  // A disk replaced while another writer changes it would come back as that writer's result.
  ImageLock lock;
  if (fs::is_regular_file(st)) {
    if (const int rc = take_lock(lock, *target, a.wait, why); rc != kExitOk) {
      complain(a.image + ": " + why);
      return rc;
    }
  }
  AtomicWrite how;
  how.durable = true;
  how.no_clobber = !a.force;
  if (fs::is_regular_file(st)) how.perms = st.permissions();
  if (FsStatus s = replace_file(*target, bytes, how); !s.ok()) {
    complain(a.image + ": cannot write: " + s.error);
    return fs::exists(fs::symlink_status(*target, ec)) && !a.force ? kExitProblem : kExitNoImage;
  }
  return kExitOk;
}

int cmd_put(const PutArgs& a) {
  if (!a.as.empty() && a.files.size() > 1) return usage("--as names one FILE only");
  if (a.rks && !a.start.empty())
    return usage("--start does not go with --rks: the rks file holds its own address");
  const auto date = date_of(a.date);
  if (!date) return usage("--date must be DD.MM.YY");
  std::optional<std::uint16_t> start = std::uint16_t{0};
  if (!a.start.empty()) start = address_of(a.start);
  if (!start) return usage("--start must be an address 0..FFFFh (0x1100, 1100h or 4352)");
  Options text;
  text.win = a.codepage == "win";
  text.dos = a.codepage == "dos";
  std::string spare;
  const std::int64_t bound = body_bound(a.image, a.force, spare);

  std::vector<NewFile> files;
  std::set<std::pair<std::string, std::string>> names;
  for (const std::string& file : a.files) {
    if (file == "-" && a.as.empty()) return usage("standard input (-) needs --as NAME");
    std::string why;
    const auto name = disk_name_from_utf8(pc_name_of(a, file), why);
    if (!name) {
      complain(file + ": " + why + (a.as.empty() ? " (--as gives another name)" : ""));
      return kExitProblem;
    }
    if (!names.emplace(name->name8, name->ext3).second)
      return usage(file + ": a second FILE of the same disk name");
    NewFile f;
    f.name8 = name->name8;
    f.ext3 = name->ext3;
    f.start = *start;
    f.date = *date;
    if (const int rc = read_source(a, file, text, bound, f); rc != kExitOk) return rc;
    files.push_back(std::move(f));
  }

  Edit edit;
  if (const int rc = edit.open(a.image, a.wait, std::move(spare)); rc != kExitOk) return rc;
  std::string error;
  std::string catpath = a.catpath;
  for (const NewFile& f : files) {
    // Each put may move rows (lists are kept sorted): the catalogue is found again every time.
    const auto where = find_catalogue(edit.disk(), catpath, error, true);
    if (!where) return edit.fail(kExitNotFound, error);
    catpath = where->exact;
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          return w.put_file(bytes, where->stack, f, a.force);
        });
        rc != kExitOk)
      return rc;
  }
  return edit.commit();
}

int cmd_mkdir(const MkdirArgs& a) {
  const std::vector<std::string> parts = split_path(a.catpath);
  if (parts.empty()) return usage("mkdir needs the name of the new catalogue");
  const auto date = date_of(a.date);
  if (!date) return usage("--date must be DD.MM.YY");
  std::string why;
  const auto name = disk_name_from_utf8(parts.back(), why);
  if (!name) {
    complain(a.image + ": " + why);
    return kExitProblem;
  }
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += escape_name(parts[i]) + "/";
  const auto where = find_catalogue(edit.disk(), parent, why, true);
  if (!where) return edit.fail(kExitNotFound, why);
  if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
        return w.make_catalogue(bytes, where->stack, name->name8, name->ext3, *date);
      });
      rc != kExitOk)
    return rc;
  return edit.commit();
}

int cmd_rm(const RmArgs& a) {
  for (const std::string& e : a.entries)
    if (split_path(e).empty()) return usage("the root cannot be removed");
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  // Every ENTRY is found on the disk as it was (a #N is the row the listing shows now), then by
  // its names again before its turn: a removal moves the rows behind it.
  std::string error;
  std::vector<std::string> paths;
  for (const std::string& e : a.entries) {
    const auto found = find_any(edit.disk(), e, error);
    if (!found) return edit.fail(kExitNotFound, error);
    paths.push_back(found->exact);
  }
  for (const std::string& path : paths) {
    const auto found = find_any(edit.disk(), path, error);
    if (!found) return edit.fail(kExitNotFound, error + " (removed with an entry before it)");
    if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
          return w.remove_entry(bytes, found->stack, found->row, a.recursive);
        });
        rc != kExitOk)
      return rc;
  }
  return edit.commit();
}

int cmd_mv(const MvArgs& a) {
  std::string why;
  const auto name = disk_name_from_utf8(a.new_name, why);
  if (!name) {
    complain(a.image + ": " + why);
    return kExitProblem;
  }
  Edit edit;
  if (const int rc = edit.open(a.image, a.wait); rc != kExitOk) return rc;
  const auto found = find_any(edit.disk(), a.entry, why);
  if (!found) return edit.fail(kExitNotFound, why);
  if (const int rc = edit.apply([&](const DiskWriter& w, std::string& bytes) {
        return w.rename_entry(bytes, found->stack, found->row, name->name8, name->ext3);
      });
      rc != kExitOk)
    return rc;
  return edit.commit();
}

}  // namespace odi::cli
