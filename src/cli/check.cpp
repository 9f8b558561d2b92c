// odi check: what is wrong with an image, entry by entry, as its file system's check finds it.
// Silent for a sound disk but for notes (a data disk without a system is no damage).
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "image/chain.h"
#include "state/cp1251.h"
#include "state/texts.h"

namespace odi::cli {

int cmd_check(const CheckArgs& a) {
  int missing = 0;
  const std::vector<fs::path> images = collect_images(a.inputs, missing);
  bool trouble = missing > 0;
  for (const fs::path& image : images) {
    LoadedDisk disk;
    std::string why;
    nlohmann::ordered_json j;
    j["image"] = image.string();
    if (!load_disk(image, disk, a.json, &why)) {
      trouble = true;
      if (a.json) {
        j["sound"] = false;
        j["problems"] = nlohmann::ordered_json::array(
            {{{"kind", "cannot_open"}, {"path", ""}, {"message", why}}});
        std::puts(j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
      }
      continue;
    }
    const std::vector<Problem> problems = disk.disk->check();
    const bool sound =
        std::all_of(problems.begin(), problems.end(), [](const Problem& p) { return p.note; });
    trouble |= !sound;
    if (a.json) {
      j["sound"] = sound;
      j["file_system"] = std::string(fs_kind_name(disk.disk->kind()));
      j["size"] = disk.img.size();
      j["version"] = cp1251_to_utf8(VER_DOS(disk.img));
      j["disk_name"] = cp1251_to_utf8(disk_name(disk.img));
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const Problem& p : problems)
        list.push_back(
            {{"kind", p.kind}, {"path", p.path}, {"message", p.message}, {"note", p.note}});
      j["problems"] = std::move(list);
      std::puts(j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
      for (const Problem& p : problems) {
        std::string line = image.string() + ": ";
        if (!p.path.empty()) line += p.path + ": ";
        if (p.note) line += "note: ";
        line += p.message + "\n";
        std::fputs(line.c_str(), stdout);
      }
    }
  }
  std::fflush(stdout);
  return trouble ? kExitProblem : kExitOk;
}

}  // namespace odi::cli
