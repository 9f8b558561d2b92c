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

// What every command that writes an image is given.
struct WriteArgs {
  std::string image;
  double wait = 60;  // seconds to wait while another program writes the image
};

struct NewArgs : WriteArgs {
  bool cpm = false;
  std::string name;         // the disk name (MX_DOS), UTF-8
  std::string system_from;  // an MX_DOS disk whose system is copied
  bool force = false;
};

struct PutArgs : WriteArgs {
  std::string catpath;
  std::vector<std::string> files;
  bool rks = false;
  bool txt = false;
  std::string codepage = "win";
  std::string start;  // as given: 0x1100, 1100h or 4352
  std::string as;     // the disk name instead of the PC name (one FILE only)
  std::string date;   // DD.MM.YY; empty: today
  bool force = false;
};

struct MkdirArgs : WriteArgs {
  std::string catpath;
  std::string date;
};

struct RmArgs : WriteArgs {
  std::vector<std::string> entries;
  bool recursive = false;
};

struct MvArgs : WriteArgs {
  std::string entry;
  std::string new_name;
};

struct MountArgs : WriteArgs {
  std::string mountpoint;
  FormFlags form{"bin"};  // the form every file is shown in
  bool read_only = false;
  bool foreground = false;
};

int cmd_info(const std::string& image, bool json);
int cmd_ls(const LsArgs& a);
int cmd_cat(const CatArgs& a);
int cmd_extract(const ExtractArgs& a);
int cmd_check(const CheckArgs& a);
int cmd_new(const NewArgs& a);
int cmd_put(const PutArgs& a);
int cmd_mkdir(const MkdirArgs& a);
int cmd_rm(const RmArgs& a);
int cmd_mv(const MvArgs& a);
int cmd_mount(const MountArgs& a);

// Why an extraction failed, for reports (ERR_COP 1..3).
std::string damage_text(int err_cop);

// The images named by IMAGE|FOLDER arguments: each file as given, and every *.odi (any letter
// case) found in each folder and below, in name order. Arguments that do not exist are reported
// and counted in `missing`.
std::vector<fs::path> collect_images(const std::vector<std::string>& inputs, int& missing);

}  // namespace odi::cli
