// The part of odi's writing commands that works on an image held in memory: what the user asked
// for checked, the PC files put in read from their bytes, and the change itself by the writer of
// the disk's file system between the check before it and the check after it. odi (write.cpp,
// edit.cpp) adds the image file, its lock and its replacement; the web page runs the same code on
// its copy of an image, so that a change made there equals odi's byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/commands.h"
#include "extract/put_form.h"
#include "image/write.h"

namespace odi::cli {

// A disk's date: BCD day, month and year.
using DiskDate = std::array<unsigned char, 3>;
// The local date of the moment `t` (now, by default) as the disk keeps it.
DiskDate disk_date(std::time_t t = std::time(nullptr));
// The date of DD.MM.YY, or today's when `text` is empty; nothing for anything else.
std::optional<DiskDate> date_of(const std::string& text);
// A load address: 0x1100, 1100h or decimal 4352; nothing past FFFFh or for anything else.
std::optional<std::uint16_t> address_of(std::string s);

// The damage `odi check` finds (its notes left out).
std::vector<Problem> damage(const FileSystem& disk);
// The damage among `problems` (as FileSystem::check gives them).
std::vector<Problem> damage_in(const std::vector<Problem>& problems);

// The disk name of `utf8` for the image `image`; nothing, with "IMAGE: why" in `message`, for a
// name no disk name reads back as.
std::optional<DiskName> name_for(const std::string& image, std::string_view utf8,
                                 std::string& message);

// An image being changed in memory: opened only when sound, handed to its writer, checked again.
class DiskChange {
 public:
  using Change = std::function<WriteResult(const DiskWriter&, std::string&)>;
  using Say = std::function<void(const std::string&)>;

  // `say` hears every failure's message (odi: stderr), as message() keeps it.
  explicit DiskChange(Say say = {}) : say_(std::move(say)) {}
  // The disk read points into the bytes held: the object stays where it is.
  DiskChange(const DiskChange&) = delete;
  DiskChange& operator=(const DiskChange&) = delete;

  // The name that prefixes the messages.
  void set_name(std::string name) { name_ = std::move(name); }
  // Takes the image's bytes; a status other than kExitOk when nothing may be written into them:
  // not 819200 bytes, no file system a writer knows, or damage. `known`: what `odi check` finds
  // on these bytes, when the caller has it already (the page shows it), so that it is not
  // looked for twice.
  int open(std::string bytes, const std::vector<Problem>* known = nullptr);

  const FileSystem& disk() const { return *disk_; }
  const std::string& bytes() const { return bytes_; }
  // One change by the writer; the disk is read again after it.
  int apply(const Change& change);
  // The row the last change left its entry at (put, mkdir, rename), or -1.
  int row() const { return row_; }
  // What the changed disk must be before it is kept: the same file system, and sound.
  int check();
  // All that check() found on the changed disk, notes included.
  const std::vector<Problem>& problems() const { return problems_; }
  // Whether the bytes differ from those opened (CP/M's mkdir "USER n" changes nothing).
  bool changed() const { return bytes_ != original_; }

  // Keeps `message`, prefixed with the image's name, says it, and gives `status`.
  int fail(int status, const std::string& message);
  const std::string& message() const { return message_; }

 private:
  void reread();

  Say say_;
  std::string name_;
  std::string message_;
  std::string original_;
  std::string bytes_;
  Image img_;
  std::unique_ptr<FileSystem> disk_;
  FsKind kind_ = FsKind::Unknown;
  std::unique_ptr<DiskWriter> writer_;
  int row_ = -1;
  std::vector<Problem> problems_;
};

// ---- odi new -------------------------------------------------------------------------------
// What `a` asks for, checked before anything is read: kExitOk, kExitUsage or kExitProblem, and
// the message.
int check_new(const NewArgs& a, std::string& message);
// The fresh disk `a` asks for in `bytes` (MX_DOS: with the system of `system` when given), read
// back as sound: kExitOk, or a status and the message.
int make_new_disk(const NewArgs& a, const Image* system, std::string& bytes, std::string& message);

// ---- odi put -------------------------------------------------------------------------------
// A source of put, read no further than `limit` bytes.
struct Input {
  std::string bytes;
  std::string why;         // empty when the source was read to its end
  bool too_large = false;  // it holds more than `limit`: byte limit + 1 arrived, no more is read
};
// Reads the source `file` no further than `limit` bytes (odi: a file or standard input; the
// page: the bytes it was given).
using SourceReader = std::function<Input(const std::string& file, std::int64_t limit)>;

// The longest body a put into the disk `bytes` of the file system `kind` may bring: its writer's
// largest_body, or MX_DOS's 64 KB when no writer knows the disk (the write then stops on that).
std::int64_t put_bound(FsKind kind, const std::string& bytes, bool replace);
// The start address and the date of `a` in `proto`: kExitOk, or kExitUsage and the message.
int put_settings(const PutArgs& a, NewFile& proto, std::string& message);
// Each FILE of `a` named as the disk keeps it and read in its form, a body of at most `bound`
// bytes: kExitOk, or the status and the message (kExitUsage: the arguments are misused).
int read_put_files(const PutArgs& a, const NewFile& proto, std::int64_t bound,
                   const SourceReader& read, std::vector<NewFile>& files, std::string& message);
// Puts `files` one after another into the catalogue `catpath`.
int put_files(DiskChange& change, const std::string& catpath, const std::vector<NewFile>& files,
              bool replace);

// ---- odi mkdir, rm, mv ---------------------------------------------------------------------
// The catalogue `name` in the catalogue `parent` (a path as find_catalogue takes it).
int make_catalogue(DiskChange& change, const std::string& parent, const DiskName& name,
                   DiskDate date);
// Each of `entries`, found on the disk as it was before the first removal.
int remove_entries(DiskChange& change, const std::vector<std::string>& entries, bool recursive);
int rename_entry(DiskChange& change, const std::string& entry, const DiskName& name);

}  // namespace odi::cli
