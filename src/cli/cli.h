// odi: the command-line companion of odiview. Shared pieces of the commands: exit statuses, the
// form options, loading an image, naming and finding entries, walking catalogue trees.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/catalogue.h"
#include "image/fs.h"
#include "image/image.h"
#include "image/record.h"
#include "state/options.h"

namespace odi::cli {

namespace fs = std::filesystem;

// Exit statuses (besides cat's ERR_COP 0..3 and 1 for "something was damaged").
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitNotFound = 65;
inline constexpr int kExitNoImage = 66;
inline constexpr int kExitBusy = 75;  // another program held the image's writers' lock too long

// The form of an extracted file, as the flags give it (the same defaults as the options panel).
struct FormFlags {
  std::string type = "txt";      // bin, rom, rks, txt
  std::string codepage = "win";  // win, dos, none
  bool koi8 = true;
  bool koi7 = false;
};

// The panel's values for `flags`; an error text (usage) when both KOI options are off.
std::optional<Options> options_from(const FormFlags& flags, std::string& error);

// One line on stderr, prefixed "odi: ".
void complain(std::string_view message);

// An image read into memory, and the file system that reads it. The view `img` points into
// `bytes` (or into the caller's ImageMemory) and `disk` into `img`: keep the object in place.
struct LoadedDisk {
  fs::path path;
  std::string bytes;
  Image img;
  std::unique_ptr<FileSystem> disk;
  LoadedDisk() = default;
  LoadedDisk(const LoadedDisk&) = delete;
  LoadedDisk& operator=(const LoadedDisk&) = delete;
};

// Reads `path`; on failure says why on stderr and returns false. Bytes left in `disk` by an image
// no file system reads any more lend their memory to the new one.
bool load_disk(const fs::path& path, LoadedDisk& disk, bool quiet = false,
               std::string* why = nullptr);
// The same into memory the caller keeps for image after image: `disk` then owns no bytes, and
// lasts until the next read into `memory`.
bool load_disk(const fs::path& path, ImageMemory& memory, LoadedDisk& disk, bool quiet,
               std::string* why);

// The list row as UTF-8, the attributes (CP/M) after it.
std::string row_text(const Entry& e);
// "file", "catalogue" or "other" by the kind byte.
const char* kind_text(const Record& rec);
// Equal when the case of the Latin letters is ignored (other bytes as they are).
bool ascii_iequal(std::string_view a, std::string_view b);

// Where a path of components ends up.
struct Found {
  CatalogueStack stack;  // the catalogue holding the entry (or the catalogue itself: see below)
  Entry entry;           // the entry (for a catalogue path: the catalogue's own row; unset at /)
  int row = -1;          // its row in that catalogue
  std::vector<std::string> path;  // components from the root, as entry_name gives them
  std::string ref;                // the same as row numbers: "#3/#0"; empty at the root
  std::string exact;  // the same as exact names ("CP\/M/P+Q.DAT"): finds it again after a change
};

// Finds ENTRY ("/"-separated; "\/" stands for a "/" inside a name and "\\" for a backslash).
// Each component is, in this order of precedence: #N for row N; the exact name, NAME.EXT or NAME
// as `ls --json` gives disk_name and disk_ext ("CP\/M", "P+Q.DAT"); the name as the list shows it,
// entry_name or entry_short_name ("CP_M", "TEST     TXT", "TEST.TXT"); then the same two ignoring
// the case of Latin letters, exact names first. Among equals the first row wins, so "CP_M" finds
// a catalogue named so though "CP/M", shown "CP_M", stands before it. Inner components must be
// catalogues. On failure, an error text.
std::optional<Found> find_entry(const FileSystem& disk, std::string_view entry, std::string& error);
// NAME.EXT of the exact name and extension, or NAME without an extension.
std::string exact_entry_name(const Record& rec);
// The row of `recs` that one path component names (unescaped), or -1, by the precedence above.
int match_row(const std::vector<Entry>& recs, const std::string& component);
// Finds CATPATH: every component a catalogue. An empty path is the root. With `unlisted`, also
// a catalogue that no row shows yet (CP/M: "USER 5" with no files), for writing into it.
std::optional<Found> find_catalogue(const FileSystem& disk, std::string_view catpath,
                                    std::string& error, bool unlisted = false);
// Finds ENTRY whatever its kind (rm, mv): `stack` is the catalogue that holds it.
std::optional<Found> find_any(const FileSystem& disk, std::string_view entry, std::string& error);
// The components of a "/"-separated path, split at each "/" that no backslash escapes, "\/" and
// "\\" in a component read as "/" and "\" (a backslash before anything else stays itself);
// empty components (a leading, doubled or trailing "/") dropped.
std::vector<std::string> split_path(std::string_view p);
// A name as a component of such a path: "/" and "\" escaped. Joined by "/", split_path gives
// the names back.
std::string escape_name(std::string_view name);

// Visits every record of the catalogue `stack` shows and, when `recursive`, of its sub-catalogues
// in the order a person reads a listing: each record, and right after a catalogue record its
// whole contents. A catalogue is entered only below level 10 and only when it is not already on
// the path. `skipped` (optional) hears of each catalogue not entered and why.
// The entry's path and ref are made when first asked for: an extraction names only the entries
// it has to report.
class Visit {
 public:
  Visit(const CatalogueStack& in, const Entry& e, int at, const Found& start, Found& inner)
      : stack(in), entry(e), row(at), start_(start), inner_(&inner) {}

  const CatalogueStack& stack;  // the catalogue holding the entry
  const Entry& entry;
  int row;
  // Components from the root, including the entry's own.
  const std::vector<std::string>& path() const;
  // The same as row numbers ("#3/#0").
  const std::string& ref() const;
  // The number of components of path(), without making them.
  size_t depth() const { return inner_->path.size(); }

 private:
  const Found& start_;
  Found* inner_;  // the walk's own, shared by the records of one catalogue
  mutable bool named_ = false;
  mutable bool numbered_ = false;
};
enum class Skip { OnPath, TooDeep };
void walk_tree(const FileSystem& disk, const Found& start, bool recursive,
               const std::function<void(const Visit&)>& visit,
               const std::function<void(const Visit&, Skip)>& skipped = {});

// The body as the chain gives it and whether its sum matches the stored word: nothing for
// entries that cannot be read (not files, or a chain that fails).
std::optional<bool> checksum_ok(const FileSystem& disk, const Entry& e);

// "0.1.0"
std::string_view version();

}  // namespace odi::cli
