// odi extract: files out of one image or out of whole collections, through the very code of the
// window's copy button (copy_entry), so folders, names and bytes are the same.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "extract/fresh_tree.h"
#include "extract/target.h"

namespace odi::cli {

namespace {

bool has_odi_suffix(const fs::path& p) {
  return ends_in_odi(p.filename().string());
}

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One image to extract.
struct Task {
  fs::path image;
  // Where its copies go: beside the image, or (with -o) the folder asked for. Nothing for an
  // image whose name gives no folder beside it.
  std::optional<fs::path> root;
  std::vector<std::string> entries;  // empty: the root's files (or everything with --all)
};

struct Outcome {
  std::vector<std::string> reports;  // lines for stderr, in the order they happened
  std::size_t files = 0, bytes = 0, damaged = 0, kept = 0;
  bool not_read = false;   // the image could not be opened or placed
  bool not_found = false;  // an ENTRY was not there
  bool failed = false;     // a folder or a file could not be written
};

// The progress line on a terminal and the ordered reports.
class Reporter {
 public:
  Reporter(std::size_t images, bool progress)
      : results_(images), done_(images), progress_(progress) {}

  void file_done(std::size_t bytes) {
    if (!progress_) return;  // the counts serve only the line
    std::lock_guard lock(m_);
    ++files_;
    bytes_ += bytes;
    draw(false);
  }
  void image_started(const fs::path& image) {
    std::lock_guard lock(m_);
    current_ = image.filename().string();
    draw(true);
  }
  // Reports go out in the order of the images, whatever order the jobs finish in.
  void image_done(std::size_t index, Outcome o) {
    std::lock_guard lock(m_);
    results_[index] = std::move(o);
    done_[index] = true;
    ++images_done_;
    bool cleared = false;
    while (next_ < results_.size() && done_[next_]) {
      for (const auto& line : results_[next_].reports) {
        if (!cleared) clear();
        cleared = true;
        complain(line);
      }
      ++next_;
    }
    draw(true);
  }
  void finish() {
    std::lock_guard lock(m_);
    clear();
  }
  const std::vector<Outcome>& results() const { return results_; }

 private:
  void clear() {
    if (progress_ && shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }
  void draw(bool force) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::string line = "\r\033[Kimages " + std::to_string(images_done_) + "/" +
                       std::to_string(results_.size()) + ", files " + std::to_string(files_) +
                       ", " + std::to_string(bytes_) + " bytes";
    if (!current_.empty()) line += ", " + current_;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
  }

  std::mutex m_;
  std::vector<Outcome> results_;
  std::vector<bool> done_;
  std::size_t next_ = 0, images_done_ = 0, files_ = 0, bytes_ = 0;
  std::string current_;
  bool progress_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// The copies of one image, in the order its catalogues list them. Into a folder that does not
// exist yet the disk's tree is written hidden and put in place whole at the end; into one that
// does, each file is put in place as it is written.
class ImageCopies {
 public:
  ImageCopies(const Task& t, const FileSystem& fsys, const Options& opt, bool keep, Reporter& rep,
              Outcome& o)
      : t_(t), name_(t.image.string()), fsys_(fsys), opt_(opt), keep_(keep), rep_(rep), o_(o) {}

  void run(bool all) {
    if (FreshTree::wanted(*t_.root)) fresh_.emplace(*t_.root);
    copy_all(all);
    if (!fresh_ || !fresh_->started()) return;
    const FsStatus s = fresh_->finish();
    if (s.code == EEXIST) {
      // Something took the folder's name meanwhile: the copies go into it the usual way.
      fresh_->abandon();
      fresh_.reset();
      o_ = Outcome{};
      gave_up_ = false;
      copy_all(all);
    } else if (!s.ok()) {
      o_.failed = true;
      o_.reports.push_back(name_ + ": cannot put the folder in place: " + s.error);
    }
  }

 private:
  void copy_all(bool all) {
    if (t_.entries.empty()) {
      Found root;
      root.stack = root_stack(fsys_);
      files_below(root, all);
      return;
    }
    for (const std::string& entry : t_.entries) {
      std::string error;
      if (const auto cat = find_catalogue(fsys_, entry, error)) {
        files_below(*cat, true);
        continue;
      }
      if (const auto file = find_entry(fsys_, entry, error)) {
        copy(file->stack, file->entry, [&file] { return join_path(file->path); });
        continue;
      }
      o_.reports.push_back(name_ + ": " + error);
      o_.not_found = true;
    }
  }

  void files_below(const Found& start, bool deep) {
    walk_tree(
        fsys_, start, deep,
        [&](const Visit& v) {
          if (v.entry.is_file()) copy(v.stack, v.entry, [&v] { return join_path(v.path()); });
        },
        [&](const Visit& v, Skip why_not) {
          if (why_not == Skip::TooDeep) {
            o_.failed = true;
            o_.reports.push_back(name_ + ": " + join_path(v.path()) +
                                 ": lies deeper than 10 catalogue levels; not followed");
          }
        });
  }

  // `path_of` names the entry in a report: the name is made only when there is one to give.
  template <class PathOf>
  void copy(const CatalogueStack& stack, const Entry& e, const PathOf& path_of) {
    if (gave_up_) return;
    const CopyOutcome c = fresh_
                              ? copy_entry_into(*fresh_, fsys_, stack, e, opt_, keep_)
                              : copy_entry_into(*t_.root, fsys_, stack, e, opt_, keep_, &folder_);
    switch (c.status) {
      case CopyOutcome::Status::Written:
        ++o_.files;
        o_.bytes += c.bytes;
        if (c.ERR_COP != 0) {
          ++o_.damaged;
          o_.reports.push_back(name_ + ": " + path_of() + ": " + damage_text(c.ERR_COP) +
                               "; written with the error text");
        }
        rep_.file_done(c.bytes);
        break;
      case CopyOutcome::Status::Kept:
        ++o_.kept;
        break;
      case CopyOutcome::Status::WriteFailed:
        failed(c, path_of());
        break;
      case CopyOutcome::Status::BadName:
      case CopyOutcome::Status::Catalogue:
        break;
    }
  }

  void failed(const CopyOutcome& c, const std::string& path) {
    o_.failed = true;
    std::error_code ec;
    if (fresh_ ? !fresh_->started() : !fs::is_directory(*t_.root, ec)) {
      // Without the root folder nothing of this image can be written: say so once.
      o_.reports.push_back(name_ + ": cannot make the target folder: " + c.error);
      gave_up_ = true;
    } else {
      o_.reports.push_back(name_ + ": " + path + ": cannot write: " + c.error);
    }
  }

  const Task& t_;
  const std::string name_;
  const FileSystem& fsys_;
  const Options& opt_;
  const bool keep_;
  Reporter& rep_;
  Outcome& o_;
  OpenFolder folder_;
  std::optional<FreshTree> fresh_;
  bool gave_up_ = false;
};

void run_task(const Task& t, const Options& opt, bool all, bool keep, Reporter& rep, Outcome& o,
              ImageMemory& memory) {
  LoadedDisk disk;
  std::string why;
  if (!load_disk(t.image, memory, disk, true, &why)) {
    o.reports.push_back(t.image.string() + ": cannot open: " + why);
    o.not_read = true;
    return;
  }
  if (!t.root) {
    o.reports.push_back(t.image.string() +
                        ": the name does not end in .odi, so there is no folder beside it "
                        "for the copies; give one with -o");
    o.failed = true;
    return;
  }
  ImageCopies(t, *disk.disk, opt, keep, rep, o).run(all);
}

// Under -o ROOT: ROOT itself for a single image, else one folder per image named after it.
int place_under(const std::string& out_root, bool single_root, std::vector<Task>& tasks) {
  fs::path root = fs::path(out_root).lexically_normal();
  while (root.has_parent_path() && root.filename().empty()) root = root.parent_path();
  if (root.empty() || root.filename().empty()) {
    complain("-o " + out_root + ": not a folder that copies can go into");
    return kExitUsage;
  }
  // The folders above the target roots are ours to make; the roots come with the first copy.
  std::error_code ec;
  const fs::path above = single_root ? root.parent_path() : root;
  if (!above.empty()) fs::create_directories(above, ec);
  if (ec) {
    complain("-o " + out_root + ": " + ec.message());
    return kExitProblem;
  }
  std::map<std::string, int> taken;  // two images of one name get "name", "name~2", ...
  for (Task& t : tasks) {
    if (single_root) {
      t.root = root;
      continue;
    }
    std::string stem = t.image.filename().string();
    if (has_odi_suffix(t.image)) stem.resize(stem.size() - 4);
    if (stem.empty()) stem = "^";
    const int n = ++taken[stem];
    if (n > 1) stem += "~" + std::to_string(n);
    t.root = root / stem;
  }
  return kExitOk;
}

// The images and where each one's copies go. Gives an exit code other than kExitOk when the run
// cannot start.
int make_tasks(const ExtractArgs& a, std::vector<Task>& tasks, int& missing) {
  bool single_root = false;  // -o ROOT is the root itself
  if (!a.all) {
    Task t;
    t.image = a.inputs.front();
    t.entries.assign(a.inputs.begin() + 1, a.inputs.end());
    std::error_code ec;
    if (!fs::exists(t.image, ec) || fs::is_directory(t.image, ec)) {
      complain(a.inputs.front() + (fs::is_directory(t.image, ec)
                                       ? ": is a folder; use --all to extract a collection"
                                       : ": cannot open: no such file"));
      return kExitNoImage;
    }
    tasks.push_back(std::move(t));
    single_root = true;
  } else {
    for (fs::path& p : collect_images(a.inputs, missing)) tasks.push_back({std::move(p), {}, {}});
    std::error_code ec;
    single_root = a.inputs.size() == 1 && !fs::is_directory(a.inputs.front(), ec);
  }
  if (a.out_root.empty()) {
    for (Task& t : tasks) t.root = target_root(t.image);
    return kExitOk;
  }
  return place_under(a.out_root, single_root, tasks);
}

}  // namespace

std::vector<fs::path> collect_images(const std::vector<std::string>& inputs, int& missing) {
  std::vector<fs::path> images;
  for (const std::string& in : inputs) {
    std::error_code ec;
    const fs::path p(in);
    const fs::file_status st = fs::status(p, ec);  // one look serves both questions
    if (fs::is_directory(st)) {
      std::vector<fs::path> found;
      fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec);
      for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code e2;
        if (has_odi_suffix(it->path()) && it->is_regular_file(e2)) found.push_back(it->path());
      }
      if (ec) complain(in + ": " + ec.message());
      std::sort(found.begin(), found.end());
      images.insert(images.end(), found.begin(), found.end());
    } else if (fs::exists(st)) {
      images.push_back(p);
    } else {
      complain(in + ": no such file or folder");
      ++missing;
    }
  }
  return images;
}

namespace {

// Images that land in the same folder (a.odi and a.ODI side by side) go to one job, in order, so
// that the result does not depend on the number of jobs.
std::vector<std::vector<std::size_t>> units_of(const std::vector<Task>& tasks) {
  std::vector<std::vector<std::size_t>> units;
  std::map<std::string, std::size_t> unit_of;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const auto& r = tasks[i].root;
    // An image without a root is a unit of its own: a key no path can be.
    std::string key(1, '\n');
    if (r)
      key = r->lexically_normal().string();
    else
      key += std::to_string(i);
    auto [it, fresh] = unit_of.emplace(key, units.size());
    if (fresh) units.emplace_back();
    units[it->second].push_back(i);
  }
  return units;
}

// A job's image memory is left for the end of the process to take back: handing 800 KB back page
// by page costs more than the rest of the run's ending, and the process ends right after the jobs.
void keep_until_exit(ImageMemory&& memory) {
  static std::mutex m;
  static auto* kept = new std::vector<ImageMemory>();  // reachable to the end, never freed
  const std::lock_guard lock(m);
  kept->push_back(std::move(memory));
}

void run_jobs(const ExtractArgs& a, const Options& opt, const std::vector<Task>& tasks,
              Reporter& rep) {
  const auto units = units_of(tasks);
  unsigned jobs = a.jobs ? a.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(units.size(), 1)));
  std::atomic<std::size_t> next{0};
  // Large pages pay for themselves only in a job that reads more than one image.
  const bool many = tasks.size() > jobs;
  auto worker = [&] {
    ImageMemory memory(many);  // every image of the job is read into it
    for (std::size_t u; (u = next++) < units.size();) {
      for (std::size_t i : units[u]) {
        rep.image_started(tasks[i].image);
        Outcome o;
        run_task(tasks[i], opt, a.all, a.no_clobber, rep, o, memory);
        rep.image_done(i, std::move(o));
      }
    }
    keep_until_exit(std::move(memory));
  };
  if (jobs <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    for (unsigned j = 0; j < jobs; ++j) pool.emplace_back(worker);
    for (auto& th : pool) th.join();
  }
  rep.finish();
}

// The closing line and the exit code.
int summarise(const ExtractArgs& a, std::size_t images, const std::vector<Outcome>& results,
              int missing) {
  Outcome sum;
  auto not_read = static_cast<std::size_t>(missing);
  for (const Outcome& o : results) {
    sum.files += o.files;
    sum.bytes += o.bytes;
    sum.damaged += o.damaged;
    sum.kept += o.kept;
    sum.not_found |= o.not_found;
    sum.failed |= o.failed;
    not_read += o.not_read ? 1 : 0;
  }
  if (!a.quiet) {
    std::string line = plural(images, "image", "images") + ", " +
                       plural(sum.files, "file", "files") + ", " +
                       plural(sum.bytes, "byte", "bytes") + " written, " +
                       plural(sum.damaged, "damaged entry", "damaged entries");
    if (sum.kept) line += ", " + plural(sum.kept, "existing file", "existing files") + " kept";
    if (not_read) line += ", " + plural(not_read, "image", "images") + " not read";
    complain(line);
  }
  if (!a.all && not_read) return kExitNoImage;
  if (sum.not_found) return kExitNotFound;
  if (sum.damaged || sum.failed || not_read) return kExitProblem;
  return kExitOk;
}

}  // namespace

int cmd_extract(const ExtractArgs& a) {
  std::string error;
  const auto opt = options_from(a.form, error);
  if (!opt) {
    complain(error);
    return kExitUsage;
  }
  std::vector<Task> tasks;
  int missing = 0;
  if (const int rc = make_tasks(a, tasks, missing); rc != kExitOk) return rc;
  // A run killed while it wrote a disk's tree left it hidden beside the folder: gone now, before
  // the folder is looked at.
  std::vector<fs::path> roots;
  for (const Task& t : tasks)
    if (t.root) roots.push_back(*t.root);
  remove_stale_trees(roots);

  Reporter rep(tasks.size(), !a.quiet && ::isatty(STDERR_FILENO));
  run_jobs(a, *opt, tasks, rep);
  return summarise(a, tasks.size(), rep.results(), missing);
}

}  // namespace odi::cli
