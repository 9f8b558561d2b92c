// odi new, put, mkdir, rm, mv: the commands that write. Each reads the whole image, changes it in
// memory through the writer of its file system, checks the result as `odi check` does, and
// replaces the file in one step. A refusal or a failure leaves the file byte for byte as it was;
// several changes asked for in one call are made all together or not at all.
#include "image/write.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "extract/put_form.h"
#include "extract/target.h"
#include "state/texts.h"

namespace odi::cli {
namespace {

using Date = std::array<unsigned char, 3>;

constexpr std::uintmax_t kMaxInput = 1U << 20;  // far more than any form of a 64 KB file

unsigned char bcd(int v) {
  return static_cast<unsigned char>((v / 10) << 4 | (v % 10));
}

// The BCD day, month and year of DD.MM.YY, or of today when `text` is empty.
std::optional<Date> date_of(const std::string& text) {
  if (text.empty()) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return Date{bcd(tm.tm_mday), bcd(tm.tm_mon + 1), bcd(tm.tm_year % 100)};
  }
  if (text.size() != 8 || text[2] != '.' || text[5] != '.') return std::nullopt;
  std::array<int, 3> v{};
  for (size_t i = 0; i < 3; ++i) {
    const char hi = text[3 * i];
    const char lo = text[3 * i + 1];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return std::nullopt;
    v[i] = (hi - '0') * 10 + (lo - '0');
  }
  if (v[0] < 1 || v[0] > 31 || v[1] < 1 || v[1] > 12) return std::nullopt;
  return Date{bcd(v[0]), bcd(v[1]), bcd(v[2])};
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

std::vector<Problem> damage(const FileSystem& disk) {
  std::vector<Problem> out;
  for (Problem& p : disk.check())
    if (!p.note) out.push_back(std::move(p));
  return out;
}

std::string problem_text(const Problem& p) {
  return p.path.empty() ? p.message : p.path + ": " + p.message;
}

// The file a write replaces: the image itself, or the file a link names (the link stays).
std::optional<fs::path> write_target(const fs::path& path, std::string& why) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  fs::path real = fs::canonical(path, ec);
  if (ec) {
    why = ec.message();
    return std::nullopt;
  }
  return real;
}

// Keeps SIGINT, SIGTERM, SIGHUP and SIGQUIT waiting while an image file is replaced: an
// interrupted odi leaves the old image or the new one, and never its temporary file.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &before_);
  }
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t before_{};
};

FsStatus replace_file(const fs::path& path, std::string_view bytes, const AtomicWrite& how) {
  const HeldSignals held;
  return write_file_atomic(path, bytes, how);
}

// An image being changed: loaded, checked, handed to the writer, checked again, written.
class Edit {
 public:
  // Loads the image; a status other than 0 when nothing may be written into it.
  int open(const std::string& image) {
    name_ = image;
    std::string why;
    const auto target = write_target(image, why);
    if (!target) return fail(kExitNoImage, "cannot open: " + why);
    target_ = *target;
    LoadedImage li = read_image_file(target_);
    if (!li.ok()) return fail(kExitNoImage, "cannot open: " + li.error);
    if (::access(target_.c_str(), W_OK) != 0)
      return fail(kExitNoImage, "cannot write: " + std::string(std::strerror(errno)));
    std::error_code ec;
    const auto size = fs::file_size(target_, ec);
    if (ec || size != static_cast<std::uintmax_t>(kImageSize))
      return fail(kExitProblem, "not an 819200-byte disk image (" +
                                    std::to_string(ec ? li.bytes.size() : size) +
                                    " bytes): nothing is written into it");
    perms_ = fs::status(target_, ec).permissions();
    original_ = li.bytes;
    bytes_ = std::move(li.bytes);
    reread();
    kind_ = disk_->kind();
    writer_ = writer_for(kind_);
    if (!writer_)
      return fail(kExitProblem, kind_ == FsKind::Blank
                                    ? "a blank disk holds no file system to write into; odi new "
                                      "makes a fresh disk"
                                    : "no file system odi can write into was found on the disk");
    // Only a sound disk is written into: afterwards any problem at all is one the change made.
    const std::vector<Problem> before = damage(*disk_);
    if (!before.empty())
      return fail(kExitProblem,
                  "the disk is damaged (" + problem_text(before.front()) + "; " +
                      std::to_string(before.size()) +
                      " problem(s) in all): nothing is written into it; run odi check " + name_);
    return kExitOk;
  }

  const FileSystem& disk() const { return *disk_; }

  // One change by the writer; the disk is read again after it.
  int apply(const std::function<WriteResult(const DiskWriter&, std::string&)>& change) {
    const WriteResult r = change(*writer_, bytes_);
    reread();
    return r.ok() ? kExitOk : fail(r.status, r.message);
  }

  // Checks the changed disk and puts it in the image file's place.
  int commit() {
    if (disk_->kind() != kind_)
      return fail(kExitProblem, "the changed disk would no longer read as " +
                                    std::string(fs_kind_name(kind_)) + ": nothing written");
    if (const std::vector<Problem> after = damage(*disk_); !after.empty())
      return fail(kExitProblem, "the change would damage the disk (" + problem_text(after.front()) +
                                    "): nothing written");
    if (bytes_ == original_) return kExitOk;  // nothing changed (CP/M: mkdir "USER n")
    AtomicWrite how;
    how.durable = true;
    how.perms = perms_;
    if (FsStatus s = replace_file(target_, bytes_, how); !s.ok())
      return fail(kExitNoImage, "cannot write: " + s.error + "; the image is as it was");
    return kExitOk;
  }

  int fail(int status, const std::string& message) const {
    complain(name_ + ": " + message);
    return status;
  }

 private:
  void reread() {
    img_ = Image(bytes_);
    disk_ = open_file_system(img_);
  }

  std::string name_;
  fs::path target_;
  fs::perms perms_ = fs::perms::unknown;
  std::string original_;
  std::string bytes_;
  Image img_;
  std::unique_ptr<FileSystem> disk_;
  FsKind kind_ = FsKind::Unknown;
  std::unique_ptr<DiskWriter> writer_;
};

// Reads a whole input file ("-": standard input).
std::optional<std::string> read_input(const std::string& file, std::string& why) {
  std::ostringstream s;
  if (file == "-") {
    s << std::cin.rdbuf();
  } else {
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
      why = "is a folder";
      return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      why = std::strerror(errno);
      return std::nullopt;
    }
    s << in.rdbuf();
    if (in.bad()) {
      why = std::strerror(errno);
      return std::nullopt;
    }
  }
  return s.str();
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

  std::vector<NewFile> files;
  std::set<std::pair<std::string, std::string>> names;
  for (const std::string& file : a.files) {
    if (file == "-" && a.as.empty()) return usage("standard input (-) needs --as NAME");
    std::string why;
    const auto content = read_input(file, why);
    if (!content) {
      complain(file + ": cannot read: " + why);
      return kExitNoImage;
    }
    if (content->size() > kMaxInput) {
      complain(file + ": too large: " + std::to_string(content->size()) + " bytes");
      return kExitProblem;
    }
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
    if (a.rks) {
      auto parts = read_rks(*content, why);
      if (!parts) {
        complain(file + ": " + why);
        return kExitProblem;
      }
      f.start = parts->start;
      f.body = std::move(parts->body);
      f.checksum = parts->checksum;
    } else if (a.txt) {
      auto body = read_txt(*content, text, why);
      if (!body) {
        complain(file + ": " + why);
        return kExitProblem;
      }
      f.body = std::move(*body);
    } else {
      f.body = *content;
    }
    files.push_back(std::move(f));
  }

  Edit edit;
  if (const int rc = edit.open(a.image); rc != kExitOk) return rc;
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
  if (const int rc = edit.open(a.image); rc != kExitOk) return rc;
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
  if (const int rc = edit.open(a.image); rc != kExitOk) return rc;
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
  if (const int rc = edit.open(a.image); rc != kExitOk) return rc;
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
