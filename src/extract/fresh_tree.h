// A disk's tree that appears whole or not at all. When the folder the copies of a disk go into does
// not exist yet, they are written into a hidden folder beside it, ".NAME" + kTemporaryMark +
// "PID.N", with plain creates, and that folder is renamed to NAME once every file is written. A
// run killed half way leaves the hidden folder and nothing under NAME; the next run removes it.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "extract/target.h"

namespace odi {

class FreshTree {
 public:
  // Is there nothing at all under the name `root` (not even a dangling link)? Then its tree can
  // be written fresh.
  static bool wanted(const fs::path& root);

  explicit FreshTree(fs::path root);
  FreshTree(const FreshTree&) = delete;
  FreshTree& operator=(const FreshTree&) = delete;
  ~FreshTree();  // an unfinished hidden folder stays, as a killed run would leave it

  const fs::path& root() const { return root_; }
  const fs::path& hidden() const { return hidden_; }
  // Has the hidden folder been made (with the first file)?
  bool started() const { return fd_ >= 0; }

  // Is there an entry NAME in the catalogue `stack`'s folder of the tree written so far?
  bool has(const CatalogueStack& stack, const std::string& name);
  // Writes `pieces`, one after the other, as NAME into the catalogue `stack`'s folder, making the
  // hidden folder and the catalogue folders on the way. An earlier file of the same name is
  // replaced. Errors name the path the file will have once the tree is in place.
  FsStatus write(const CatalogueStack& stack, const std::string& name,
                 const std::vector<std::string_view>& pieces);

  // Renames the hidden folder to the root; nothing to do when no file was written. When the root's
  // name has been taken meanwhile the code is EEXIST and the hidden folder stays for abandon().
  FsStatus finish();
  // Removes the hidden folder and everything in it.
  void abandon();

 private:
  int open_file(const std::string& rel) const;
  // The catalogue's folder below the tree's top, "L1/L2/" (empty at the root).
  const std::string& rel_dir(const CatalogueStack& stack);
  // Makes the hidden folder, then the folders of dir_ (the catalogue rel_dir named last).
  FsStatus make_dirs();

  fs::path root_;
  fs::path hidden_;
  int fd_ = -1;
  std::string dir_;          // rel_dir of dir_of_
  CatalogueStack dir_of_{};  // the catalogue whose folder was named last
  bool dir_known_ = false;
  bool dir_made_ = false;  // are dir_'s folders there?
  std::string rel_;        // the path of the file written, below the top (kept: no allocation)
  std::set<std::string> made_{""};  // the folders made below the top ("L1/", "L1/L2/", ...)
};

// The copy of one entry of `disk` into a fresh tree, as copy_entry_into does it into a folder.
// The outcome's path is left empty: the file has none of its own until the tree is in place.
CopyOutcome copy_entry_into(FreshTree& tree, const FileSystem& disk, const CatalogueStack& stack,
                            const Entry& e, const Options& opt, bool keep_existing = false);

// Removes the hidden folders of fresh trees for `roots` whose writer no longer runs, by the rule
// remove_stale_temporaries follows for files: only folders of the exact pattern, only where no
// process of that number runs. Each folder holding roots is read once. Gives the number removed.
int remove_stale_trees(const std::vector<fs::path>& roots);

}  // namespace odi
