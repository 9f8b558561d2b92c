#include "mount/names.h"

#include <algorithm>
#include <cerrno>
#include <set>

#include "cli/cli.h"
#include "cli/commands.h"

namespace odi::mount {

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

std::vector<std::string> mount_names(const std::vector<Entry>& rows) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string n = replace_all(cli::exact_entry_name(rows[i].rec), "/", kSlash);
    if (n.empty() || n == "." || n == ".." || n.find('\0') != std::string::npos ||
        seen.contains(n)) {
      n = "#" + std::to_string(i);
      while (seen.contains(n)) n += "~";
    }
    seen.insert(n);
    out.push_back(std::move(n));
  }
  return out;
}

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 1;
  while (start < path.size()) {
    const size_t slash = path.find('/', start);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::pair<std::string, std::string> split_last(const std::string& path) {
  const size_t slash = path.rfind('/');
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int disk_name_of(const std::string& name, const DiskWriter& writer, DiskName& out) {
  std::string why;
  const auto n = disk_name_from_utf8(replace_all(name, kSlash, "/"), why);
  if (!n) return why.find("does not fit") != std::string::npos ? ENAMETOOLONG : EINVAL;
  out = *n;
  writer.stored_name(out.name8, out.ext3);
  return 0;
}

bool lists_as(const std::string& listed, const std::string& asked) {
  return cli::ascii_iequal(listed, asked);
}

namespace {

// The letters and digits of `s` that every disk holds, in capitals, at most `most` of them.
std::string plain_part(std::string_view s, size_t most) {
  std::string out;
  for (const char c : s) {
    if (out.size() == most) break;
    if (c >= 'a' && c <= 'z') out += static_cast<char>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-') out += c;
  }
  return out;
}

}  // namespace

std::string short_alias(const std::string& name, const std::vector<std::string>& taken) {
  const size_t dot = name.rfind('.');
  const bool has_ext = dot != std::string::npos && dot > 0;
  std::string stem = plain_part(has_ext ? name.substr(0, dot) : name, 6);
  if (stem.empty()) stem = "FILE";
  const std::string ext = has_ext ? plain_part(name.substr(dot + 1), 3) : std::string();
  for (int n = 1; n <= 99; ++n) {
    const std::string tail = "~" + std::to_string(n);
    std::string alias = stem.substr(0, 8 - tail.size()) + tail;
    if (!ext.empty()) alias += "." + ext;
    const bool used = std::any_of(taken.begin(), taken.end(),
                                  [&](const std::string& t) { return lists_as(t, alias); });
    if (!used) return alias;
  }
  return {};
}

int errno_of(int status, const std::string& message) {
  if (status == cli::kExitOk) return 0;
  if (status == cli::kExitNotFound) return ENOENT;
  if (status == cli::kExitBusy) return EBUSY;
  if (status == cli::kExitNoImage) return EIO;
  const auto says = [&](std::string_view words) {
    return message.find(words) != std::string::npos;
  };
  if (says("no room") || says("directory full") || says("catalogue full") || says("too deep"))
    return ENOSPC;
  if (says("too large")) return EFBIG;
  if (says("name too long") || says("does not fit")) return ENAMETOOLONG;
  if (says("name taken")) return EEXIST;
  if (says("not empty")) return ENOTEMPTY;
  if (says("damage")) return EIO;
  return EINVAL;
}

}  // namespace odi::mount
