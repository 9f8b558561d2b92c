// The commands of odi. Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"

namespace odi::cli {

struct LsArgs {
  std::string image;
  std::string catpath;
  bool json = false;
  bool recursive = false;
};

struct CatArgs {
  FormFlags form;
  std::string image;
  std::string entry;
  bool dump = false;
};

struct ExtractArgs {
  FormFlags form;
  std::vector<std::string> inputs;  // IMAGE [ENTRY...], or with --all IMAGE|FOLDER...
  bool all = false;
  std::string out_root;  // -o ROOT; empty: beside each image
  bool no_clobber = false;
  bool quiet = false;
  unsigned jobs = 0;  // 0: one per core
};

struct CheckArgs {
  std::vector<std::string> inputs;  // IMAGE|FOLDER...
  bool json = false;
};

int cmd_info(const std::string& image, bool json);
int cmd_ls(const LsArgs& a);
int cmd_cat(const CatArgs& a);
int cmd_extract(const ExtractArgs& a);
int cmd_check(const CheckArgs& a);

// Why an extraction failed, for reports (ERR_COP 1..3).
std::string damage_text(int err_cop);

// The images named by IMAGE|FOLDER arguments: each file as given, and every *.odi (any letter
// case) found in each folder and below, in name order. Arguments that do not exist are reported
// and counted in `missing`.
std::vector<fs::path> collect_images(const std::vector<std::string>& inputs, int& missing);

}  // namespace odi::cli
