// odi: the command line. Parsing only; the commands live in their own files.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"

namespace {

using namespace odi::cli;

void add_form_flags(CLI::App* cmd, FormFlags& f) {
  cmd->add_option("--type", f.type, "Form of the file: bin, rom, rks or txt")
      ->check(CLI::IsMember({"bin", "rom", "rks", "txt"}))
      ->capture_default_str();
  cmd->add_option("--codepage", f.codepage, "Code page of a text: win, dos or none")
      ->check(CLI::IsMember({"win", "dos", "none"}))
      ->capture_default_str();
  cmd->add_flag("--koi8,!--no-koi8", f.koi8, "Read a text as KOI-8 (on by default)");
  cmd->add_flag("--koi7,!--no-koi7", f.koi7, "Read a text as KOI-7 too (off by default)");
}

// The values every subcommand's options fill in, and the subcommands themselves.
struct Commands {
  std::string info_image;
  bool info_json = false;
  LsArgs ls;
  CatArgs cat;
  ExtractArgs ex;
  CheckArgs ck;
  NewArgs nw;
  PutArgs put;
  MkdirArgs mk;
  RmArgs rm;
  MvArgs mv;
  MountArgs mount;
  std::vector<std::pair<CLI::App*, std::function<int()>>> run;  // what each subcommand runs

  void add(CLI::App* cmd, std::function<int()> f) { run.emplace_back(cmd, std::move(f)); }
};

void add_wait(CLI::App* cmd, WriteArgs& w) {
  cmd->add_option("--wait", w.wait,
                  "Seconds to wait while another program writes the image (default 60); then "
                  "exit 75")
      ->check(CLI::Range(0.0, 1e6));
}

void add_info(CLI::App& app, Commands& c) {
  auto* info = app.add_subcommand(
      "info", "Show the file system, the DOS version text and the disk name (CP/M: its layout)");
  info->add_flag("--json", c.info_json, "The same as one JSON object");
  info->add_option("IMAGE", c.info_image, "ODI image file")->required();
  c.add(info, [&c] { return cmd_info(c.info_image, c.info_json); });
}

void add_ls(CLI::App& app, Commands& c) {
  auto* lsc = app.add_subcommand("ls", "List the entries of the root catalogue or of CATPATH");
  lsc->add_flag("--json", c.ls.json, "One JSON array of entries");
  lsc->add_flag("-R,--recursive", c.ls.recursive, "Follow sub-catalogues (down to level 10)");
  lsc->add_option("IMAGE", c.ls.image, "ODI image file")->required();
  lsc->add_option("CATPATH", c.ls.catpath, "Catalogue path, \"/\"-separated");
  c.add(lsc, [&c] { return cmd_ls(c.ls); });
}

void add_cat(CLI::App& app, Commands& c) {
  auto* catc = app.add_subcommand("cat", "Write the bytes a copy of ENTRY would hold to stdout");
  add_form_flags(catc, c.cat.form);
  catc->add_flag("--dump", c.cat.dump, "Show the result as a hex dump, as the preview does");
  catc->add_option("IMAGE", c.cat.image, "ODI image file")->required();
  catc->add_option("ENTRY", c.cat.entry,
                   "Entry path: NAME     EXT, NAME.EXT or #ROW per level (ls --json's ref)")
      ->required();
  c.add(catc, [&c] { return cmd_cat(c.cat); });
}

void add_extract(CLI::App& app, Commands& c) {
  auto* exc = app.add_subcommand(
      "extract",
      "Copy files out of images, where and as the window's copy button puts them.\n"
      "  odi extract [OPTS] [-o ROOT] IMAGE [ENTRY...]\n"
      "  odi extract [OPTS] [-o ROOT] --all IMAGE|FOLDER...");
  add_form_flags(exc, c.ex.form);
  exc->add_flag("--all", c.ex.all, "Every file at every level of every image given or found");
  exc->add_option("-o,--output", c.ex.out_root,
                  "Target root instead of the folder beside the image (several images: ROOT/NAME)");
  exc->add_flag("--no-clobber", c.ex.no_clobber, "Keep files that exist already");
  exc->add_flag("-q,--quiet", c.ex.quiet, "No progress line and no summary");
  exc->add_option("-j,--jobs", c.ex.jobs, "Images extracted at once (default: one per core)")
      ->check(CLI::Range(1u, 1024u));
  exc->add_option("INPUTS", c.ex.inputs, "IMAGE [ENTRY...], or with --all IMAGE|FOLDER...")
      ->required();
  c.add(exc, [&c] { return cmd_extract(c.ex); });
}

void add_check(CLI::App& app, Commands& c) {
  auto* ckc = app.add_subcommand("check", "Look for damage in images; silent for sound ones");
  ckc->add_flag("--json", c.ck.json, "One JSON object per image, one per line");
  ckc->add_option("INPUTS", c.ck.inputs, "IMAGE|FOLDER...")->required();
  c.add(ckc, [&c] { return cmd_check(c.ck); });
}

void add_new(CLI::App& app, Commands& c) {
  auto* newc = app.add_subcommand(
      "new", "Make a fresh 819200-byte disk: MX_DOS (a data disk unless --system-from), or CP/M");
  newc->add_flag("--cpm", c.nw.cpm, "A CP/M 2.2 disk instead of MX_DOS");
  newc->add_option("--name", c.nw.name, "MX_DOS disk name, up to 6 characters");
  newc->add_option("--system-from", c.nw.system_from,
                   "Copy the MX_DOS system from this image, so the new disk starts it");
  newc->add_flag("--force", c.nw.force, "Replace an existing file");
  add_wait(newc, c.nw);
  newc->add_option("NEW", c.nw.image, "The image file to make")->required();
  c.add(newc, [&c] { return cmd_new(c.nw); });
}

void add_put(CLI::App& app, Commands& c) {
  PutArgs& put = c.put;
  auto* putc = app.add_subcommand("put", "Copy PC files into the catalogue CATPATH of an image");
  auto* rks = putc->add_flag("--rks", put.rks, "FILE is in the rks form (as cat --type rks)");
  auto* txt = putc->add_flag("--txt", put.txt, "FILE is a PC text (as cat --type txt)");
  rks->excludes(txt);
  putc->add_option("--codepage", put.codepage, "Code page of a --txt FILE: win or dos")
      ->check(CLI::IsMember({"win", "dos"}))
      ->needs(txt)
      ->capture_default_str();
  putc->add_option("--start", put.start, "Load address (0x1100, 1100h or 4352; default 0)");
  putc->add_option("--as", put.as, "Disk name NAME.EXT instead of the PC name (one FILE)");
  putc->add_option("--date", put.date, "Date DD.MM.YY instead of today");
  putc->add_flag("--force", put.force, "Replace files of the same name");
  add_wait(putc, put);
  putc->add_option("IMAGE", put.image, "ODI image file")->required();
  putc->add_option("CATPATH", put.catpath, "Catalogue path; / is the root")->required();
  putc->add_option("FILE", put.files, "PC files (- for standard input, with --as)")->required();
  c.add(putc, [&c] { return cmd_put(c.put); });
}

void add_mkdir(CLI::App& app, Commands& c) {
  auto* mkc = app.add_subcommand("mkdir", "Make an empty catalogue");
  mkc->add_option("--date", c.mk.date, "Date DD.MM.YY instead of today");
  add_wait(mkc, c.mk);
  mkc->add_option("IMAGE", c.mk.image, "ODI image file")->required();
  mkc->add_option("CATPATH", c.mk.catpath, "Path of the new catalogue")->required();
  c.add(mkc, [&c] { return cmd_mkdir(c.mk); });
}

void add_rm(CLI::App& app, Commands& c) {
  auto* rmc = app.add_subcommand("rm", "Remove files and catalogues");
  rmc->add_flag("-r,--recursive", c.rm.recursive, "Remove catalogues with everything in them");
  add_wait(rmc, c.rm);
  rmc->add_option("IMAGE", c.rm.image, "ODI image file")->required();
  rmc->add_option("ENTRY", c.rm.entries, "Entry paths")->required();
  c.add(rmc, [&c] { return cmd_rm(c.rm); });
}

void add_mv(CLI::App& app, Commands& c) {
  auto* mvc = app.add_subcommand("mv", "Rename an entry within its catalogue");
  add_wait(mvc, c.mv);
  mvc->add_option("IMAGE", c.mv.image, "ODI image file")->required();
  mvc->add_option("ENTRY", c.mv.entry, "Entry path")->required();
  mvc->add_option("NEWNAME", c.mv.new_name, "The new name, NAME.EXT")->required();
  c.add(mvc, [&c] { return cmd_mv(c.mv); });
}

void add_mount(CLI::App& app, Commands& c) {
  auto* mtc = app.add_subcommand(
      "mount", "Show IMAGE as a folder at MOUNTPOINT (FUSE); fusermount3 -u MOUNTPOINT ends it");
  add_form_flags(mtc, c.mount.form);
  mtc->add_flag("--read-only", c.mount.read_only, "Change nothing on the image");
  mtc->add_flag("-f,--foreground", c.mount.foreground,
                "Stay in the foreground; SIGINT or SIGTERM unmounts");
  add_wait(mtc, c.mount);
  mtc->add_option("IMAGE", c.mount.image, "ODI image file")->required();
  mtc->add_option("MOUNTPOINT", c.mount.mountpoint, "An empty folder")->required();
  c.add(mtc, [&c] { return cmd_mount(c.mount); });
}

// The subcommands, in the order --help lists them.
struct Subcommand {
  const char* name;
  void (*add)(CLI::App&, Commands&);
};
constexpr Subcommand kSubcommands[] = {
    {"info", add_info},   {"ls", add_ls},   {"cat", add_cat},     {"extract", add_extract},
    {"check", add_check}, {"new", add_new}, {"put", add_put},     {"mkdir", add_mkdir},
    {"rm", add_rm},       {"mv", add_mv},   {"mount", add_mount},
};

// A script's step names its subcommand first: only that one is built, for building all of them
// costs a short run as much as its own work. Anything else (--help, --version, a name that is not
// a subcommand) gets them all, so that help and errors list every one.
void add_commands(CLI::App& app, Commands& c, int argc, char** argv) {
  if (argc > 1)
    for (const Subcommand& s : kSubcommands)
      if (std::strcmp(argv[1], s.name) == 0) return s.add(app, c);
  for (const Subcommand& s : kSubcommands) s.add(app, c);
}

}  // namespace

static int run(int argc, char** argv) {
  CLI::App app{"odi - files of Specialist MX floppy-disk images (ODI: MX_DOS and CP/M 2.2)", "odi"};
  app.set_version_flag("--version", std::string("odi ") + std::string(version()));
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done; 1 damage or other problems found (extract, check), or a write\n"
      "refused (no room, catalogue full, name taken, too large, a damaged disk); cat: the\n"
      "extraction's error code 0-4; 64 usage error; 65 entry or catalogue not found;\n"
      "66 image cannot be opened or written; 75 another program kept writing the image\n"
      "for the whole --wait. See odi(1).");
  Commands c;
  add_commands(app, c, argc, argv);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    complain(std::string(e.what()) + " (see odi --help)");
    return kExitUsage;
  }

  try {
    for (const auto& [cmd, f] : c.run)
      if (cmd->parsed()) return f();
  } catch (const std::exception& e) {
    complain(e.what());
    return kExitProblem;
  }
  return kExitUsage;
}

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {  // only running out of memory gets here
    complain(e.what());
    return kExitProblem;
  }
}
