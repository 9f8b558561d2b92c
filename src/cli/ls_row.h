// One row of `odi ls --json`: the entry a walk visits, with its path, ref, names, sizes and
// the fields of its record. The web page's binding gives its rows through the same function.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli.h"

namespace odi::cli {

nlohmann::ordered_json ls_json_row(const FileSystem& fsys, const Visit& v,
                                   const std::string& today);

}  // namespace odi::cli
