// A row of a catalogue copied for another program to take (a drag out of the window): a file as
// the copy button writes it, a catalogue as the tree of its files, all below a root folder given,
// as `odi extract -o ROOT IMAGE ENTRY` lays them out (the same copy_entry_into). A file whose
// chain fails is left out: an error text is not handed on as though it were the file.
#pragma once

#include <filesystem>
#include <string>

#include "image/catalogue.h"
#include "image/fs.h"
#include "state/options.h"

namespace odi {

struct RowCopy {
  std::filesystem::path path;  // the file, or the catalogue's folder; empty when left out
  int ERR_COP = 0;             // the first failing chain met (kCopyOk when none)
  int left_out = 0;            // files left out for a failing chain
  bool too_deep = false;       // a catalogue at level 10: there is no level to enter it at
  std::string error;           // a folder or a file could not be written: the row is left out
};

// Row `row` (`e`) of the catalogue `stack` shows on `disk`, copied below `root` in the form `opt`.
// Sub-catalogues are followed as `odi extract` follows them: down to level 10, never into one
// already on the path.
RowCopy copy_row_into(const std::filesystem::path& root, const FileSystem& disk,
                      const CatalogueStack& stack, const Entry& e, int row, const Options& opt);

}  // namespace odi
