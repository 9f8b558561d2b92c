#include "extract/copy_tree.h"

#include <system_error>

#include "extract/target.h"

namespace odi {

namespace {

struct Run {
  const std::filesystem::path& root;
  const FileSystem& disk;
  const Options& opt;
  RowCopy& out;
  OpenFolder folder;
};

// One file; the copy of a failing chain holds the error text, and is taken back.
void copy_file(Run& run, const CatalogueStack& stack, const Entry& e) {
  const CopyOutcome c = copy_entry_into(run.root, run.disk, stack, e, run.opt, false, &run.folder);
  if (c.status == CopyOutcome::Status::WriteFailed) {
    if (run.out.error.empty()) run.out.error = c.error;
    return;
  }
  if (c.ERR_COP == kCopyOk) return;
  std::error_code ec;
  std::filesystem::remove(c.path, ec);
  if (run.out.ERR_COP == kCopyOk) run.out.ERR_COP = c.ERR_COP;
  ++run.out.left_out;
}

// The files of the catalogue `stack` shows and of those below it, in the order of the listing.
void copy_below(Run& run, const CatalogueStack& stack) {
  const auto rows = run.disk.list(stack.KAT_POS[static_cast<size_t>(stack.KAT_LEV)]);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Entry& e = rows[i];
    if (e.is_file()) copy_file(run, stack, e);
    // A sub-catalogue's record of itself would lead straight back: not followed.
    if (!e.is_catalogue() || stack.on_path(e.inner)) continue;
    CatalogueStack inner = stack;
    if (enter(inner, e, static_cast<int>(i))) copy_below(run, inner);
  }
}

}  // namespace

RowCopy copy_row_into(const std::filesystem::path& root, const FileSystem& disk,
                      const CatalogueStack& stack, const Entry& e, int row, const Options& opt) {
  RowCopy out;
  Run run{root, disk, opt, out, {}};
  if (e.is_file()) {
    copy_file(run, stack, e);
    if (out.error.empty() && out.left_out == 0)
      out.path = target_dir(root, stack) / output_name(e.rec, opt);
    return out;
  }
  if (!e.is_catalogue()) return out;
  CatalogueStack inner = stack;
  if (!enter(inner, e, row)) {
    out.too_deep = true;
    return out;
  }
  // The folder is there even when the catalogue holds no file.
  if (const FsStatus made = make_target_dirs(root, inner); !made.ok()) {
    out.error = made.error;
    return out;
  }
  copy_below(run, inner);
  if (out.error.empty()) out.path = target_dir(root, inner);
  return out;
}

}  // namespace odi
