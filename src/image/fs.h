// The file system of an image, whatever it is: MX_DOS, CP/M 2.2, a blank disk, or bytes nobody
// recognises. The window, the copy and `odi` list, read and check entries only through this
// interface; what each file system knows lives in its own folder (mxdos/, cpm/).
//
// Every file system is shown the way MX_DOS disks always were: a tree of catalogues, each a list
// of rows, each row a 32-byte MX_DOS record (for CP/M one made up from the directory), so the
// list rows, the output names, the rks frame and the text trailer come out of the same code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/catalogue.h"
#include "image/chain.h"
#include "image/image.h"
#include "image/record.h"

namespace odi {

enum class FsKind { MxDos, Cpm, Blank, Unknown };

// "MX_DOS", "CP/M 2.2", "blank", "unknown": the names `odi info` prints.
std::string_view fs_kind_name(FsKind kind);

// Where a catalogue is: for MX_DOS the offset of its sector, for CP/M the user number. This is
// what CatalogueStack::KAT_POS holds for each level.
using Location = std::int64_t;

struct Entry {
  Record rec;              // the record the listing, the names and the copy forms read
  std::int64_t bytes = 0;  // exact length of a file's body (0 for catalogues)
  Location inner = 0;      // where a catalogue row leads
  int user = -1;           // CP/M user number; -1 on MX_DOS
  std::string attributes;  // CP/M: any of "R" (read-only), "S" (system), "A" (archive)
  int index = -1;          // the file system's own handle (CP/M: the file's number)
  std::string date;        // DD.MM.YY; empty for a row that carries none (shown as today)

  bool is_file() const { return rec.is_file(); }
  bool is_catalogue() const { return rec.is_catalogue(); }
};

// A fault or remark found by a check. `path` joins the entry names from the root with "/";
// empty for the image as a whole. A note is no damage (`odi check` still says the disk is sound).
struct Problem {
  std::string kind;  // a short stable word: "shared_sector", "checksum", "data_disk", ...
  std::string path;
  std::string message;
  bool note = false;
};

class FileSystem {
 public:
  explicit FileSystem(const Image& img) : img_(img) {}
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  virtual ~FileSystem() = default;

  const Image& image() const { return img_; }
  virtual FsKind kind() const = 0;

  // What the window's version label shows (CP1251): MX_DOS the signature's 13 bytes or
  // "нет версии", otherwise the file system's name.
  virtual std::string version_text() const = 0;
  // The name of level 0 of a catalogue path (CP1251): MX_DOS the disk name.
  virtual std::string root_name() const = 0;
  // The disk's own name, as `odi info` shows it (CP1251): MX_DOS the root's; empty where the file
  // system keeps none (CP/M, whose root name is only a label for the path).
  virtual std::string disk_name() const { return root_name(); }
  virtual Location root() const = 0;

  // The rows of the catalogue at `where`, in the order the list shows them.
  virtual std::vector<Entry> list(Location where) const = 0;
  // The entry with what a listing leaves out because it costs a read of the body: CP/M keeps no
  // checksum, so its rows get the monitor's sum only here. Whatever shows or copies the checksum
  // (the rks frame, odi ls) takes the entry through this first.
  virtual Entry complete(const Entry& e) const { return e; }
  // The pieces of a file's body in order, and why a read stopped (ERR_COP codes of chain.h).
  virtual ChainWalk walk(const Entry& e) const = 0;
  // The same into `w`, whose memory is reused from walk to walk.
  virtual void walk_into(const Entry& e, ChainWalk& w) const { w = walk(e); }
  // A text ends at its first 1Ah (CP/M fills the last record after it).
  virtual bool text_stops_at_eof_mark() const { return false; }
  // Where a row starts on the disk, as a person reads it ("1/3" on MX_DOS, the first block on
  // CP/M).
  virtual std::string place(const Entry& e) const = 0;
  // A catalogue that exists though no row of `parent` shows it, named as its row would be (CP/M:
  // "USER 5", a user area with no files yet), so that files can be put into it.
  virtual std::optional<Location> unlisted_catalogue(Location /*parent*/,
                                                     std::string_view /*name*/) const {
    return std::nullopt;
  }
  // Everything wrong with the disk; empty for a sound one.
  virtual std::vector<Problem> check() const = 0;
  // Room on the disk, as `df` shows a mounted one: the data area in units of `unit` bytes, and the
  // directory entries (MX_DOS: the root's 32 records; CP/M: the directory).
  struct Space {
    std::int64_t unit = 1024;
    std::int64_t total = 0, free = 0;
    std::int64_t entries = 0, free_entries = 0;
  };
  virtual Space space() const { return {}; }
  // Facts of the layout for `odi info` as name/value text pairs (empty for MX_DOS).
  virtual std::vector<std::pair<std::string, std::string>> layout_facts() const { return {}; }

  // The body of a file: the pieces of its walk, joined.
  std::string body(const Entry& e) const { return chain_body(img_, walk(e)); }

 private:
  const Image& img_;
};

// A path of entry names from the root, as odi and the check print it: the names joined by "/".
std::string join_path(const std::vector<std::string>& names);

// The date a row shows: its own, or `today` for a row that carries none.
inline std::string entry_date(const Entry& e, std::string_view today) {
  return e.date.empty() ? std::string(today) : e.date;
}
// The list row (CP1251): name field, size; a CP/M file's attributes after it.
std::string list_row(const Entry& e);

// A stack at the root of `disk`, and a step into the catalogue row `e` (row `row` of the level
// shown); false at the deepest level, as CatalogueStack::enter.
CatalogueStack root_stack(const FileSystem& disk);
bool enter(CatalogueStack& stack, const Entry& e, int row);

// Looks at the image once and gives the file system that reads it. The image must outlive the
// result. Order: the "Dos_MX" signature; a CP/M parameter block in the first sector; a root
// catalogue that reads as one, or a FAT as MX_DOS formats it (an empty data disk); a CP/M
// directory at its usual place; a blank disk (E5h from the FAT area on); else unknown, which the
// MX_DOS reader lists as it always did.
std::unique_ptr<FileSystem> open_file_system(const Image& img);

}  // namespace odi
