// Where copies go: beside the image, in a folder named after it (the image path without ".odi"),
// one subfolder per catalogue level, named from the disk. The output file name is the entry's
// name field, "d" for a DOS recoding, "7" for KOI-7, and the extension of the type.
//
// The same code serves the window's copy button and `odi extract`, so both write the same files
// under the same names. Writes are atomic: the complete new file, or the old one stays.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "extract/copy_buf.h"
#include "image/catalogue.h"
#include "image/fs.h"
#include "image/image.h"
#include "image/record.h"
#include "state/options.h"

namespace odi {

namespace fs = std::filesystem;

// The target root: the image path without its last four characters when they are ".odi" in any
// letter case; nothing for any other name (x.odi1 cannot have a folder beside it of its own name).
std::optional<fs::path> target_root(const fs::path& image_path);
// Does the name end in ".odi", in any letter case?
bool ends_in_odi(std::string_view name);

// The target folder of the catalogue shown: root, then the converted names of levels 1..KAT_LEV.
fs::path target_dir(const fs::path& root, const CatalogueStack& stack);

// The output file name (UTF-8) for `rec` under the options.
std::string output_name(const Record& rec, const Options& opt);
// The same into `name`, whose memory is reused.
void output_name(const Record& rec, const Options& opt, std::string& name);

struct FsStatus {
  std::string error;  // empty on success; else the system's reason (UTF-8)
  int code = 0;       // the errno behind `error`, where there is one
  bool ok() const { return error.empty(); }
};

// Makes root and each level below it, one at a time from the top. A level that exists as something
// other than a folder is an error.
FsStatus make_target_dirs(const fs::path& root, const CatalogueStack& stack);

// The folder a run of copies goes into, held open while they are written, so that each file is
// made and named relative to it instead of walking the whole path twice. One is kept at a time;
// the owner (one extraction) ends it, so no folder stays open beyond the run.
class OpenFolder {
 public:
  OpenFolder() = default;
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  ~OpenFolder() { close(); }
  // The folder `dir`, opened when another was open before; -1 when it cannot be opened.
  int at(std::string_view dir);
  void close();

 private:
  std::string dir_;
  int fd_ = -1;
};

// How write_file_atomic treats the target.
struct AtomicWrite {
  std::optional<fs::perms> perms;  // the new file's permissions; by default 0666 less the umask
  bool no_clobber = false;         // an existing target is an error (EEXIST), left as it was
  // Flush the file before the rename and the folder after it, so that even a crash leaves the
  // old file or the new one. A disk image asks for it; a copy out of an image does not (it can
  // be made again, and a flush for each of thousands of extracted files costs minutes on a disk).
  bool durable = false;
  OpenFolder* folder = nullptr;  // the caller's, where it holds one open for a run of copies
};

// Writes `bytes` to `path` atomically: a reader sees the old file or the complete new one, never a
// part; on any failure the target is as it was and nothing is left beside it. A fresh file is
// written unnamed (O_TMPFILE) and linked under its name once complete, where the file system
// allows; otherwise, and over an existing file, a temporary file in the same folder is renamed
// over the target. The temporary file is named PATH + kTemporaryMark + PID.N, N counting the
// process's writes.
inline constexpr std::string_view kTemporaryMark = ".odi-tmp.";
FsStatus write_file_atomic(const fs::path& path, std::string_view bytes,
                           const AtomicWrite& how = {});
// PATH + kTemporaryMark + PID.N: a name of this process's that no other write uses.
fs::path temporary_name(const fs::path& path);
// Is `tail` (what follows kTemporaryMark) "PID.N" with no process PID running? A name of any
// other pattern, or of a writer that may still run, is not ours to remove.
bool left_by_gone_writer(std::string_view tail);

// Removes the temporary files of `path` whose writer no longer runs: a writer killed (SIGKILL,
// a crash, a power cut) between its write and its rename leaves one behind. A file whose process
// still runs, or that is not of our pattern, is left alone. Gives the number removed.
int remove_stale_temporaries(const fs::path& path);

// The whole copy of one entry (the copy button, `odi extract`).
struct CopyOutcome {
  enum class Status {
    Written,      // the file was written (its content may be an error text: see ERR_COP)
    Catalogue,    // a catalogue entry: the folders exist, nothing else is done
    BadName,      // the image name does not end in ".odi": nothing is created
    WriteFailed,  // a folder or the file could not be made: nothing partial is left
    Kept,         // the file existed and `keep_existing` was asked: left as it was
  };
  Status status = Status::Written;
  int ERR_COP = 0;
  fs::path path;      // the output file (when one was meant)
  std::string error;  // the system's reason for WriteFailed
  std::size_t bytes = 0;
};

// The copy's bytes (its content may be an error text: see ERR_COP).
CopyResult entry_bytes(const FileSystem& disk, const Entry& e, const Options& opt);

// `stack` is the catalogue that holds `e` on `disk`.
CopyOutcome copy_entry(const fs::path& image_path, const FileSystem& disk,
                       const CatalogueStack& stack, const Entry& e, const Options& opt,
                       bool keep_existing = false);

// The same with the target root given (`odi extract -o`): folders and names below it as above.
// `folder`, where given, is held open from one copy to the next.
CopyOutcome copy_entry_into(const fs::path& root, const FileSystem& disk,
                            const CatalogueStack& stack, const Entry& e, const Options& opt,
                            bool keep_existing = false, OpenFolder* folder = nullptr);

// An MX_DOS record's copy, for callers that hold the record itself.
CopyOutcome copy_entry(const fs::path& image_path, const Image& img, const CatalogueStack& stack,
                       const Record& rec, const Options& opt, bool keep_existing = false);

}  // namespace odi
