// Folder entry names of the mount and the disk names behind them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extract/put_form.h"
#include "image/fs.h"
#include "image/write.h"

namespace odi::mount {

// What stands for a "/" inside a disk name: no folder entry can hold the real one.
inline constexpr std::string_view kSlash = "\u2215";

std::string replace_all(std::string s, std::string_view from, std::string_view to);

// The folder entry names of a catalogue's rows: NAME.EXT from the exact name (NAME alone without
// an extension), "/" shown as U+2215. A name no folder can hold ("", ".", "..", one with a NUL, a
// second entry of a name already shown) is "#ROW", the row as `ls --json`'s ref counts it.
std::vector<std::string> mount_names(const std::vector<Entry>& rows);

// "/A/B/C" as {"A", "B", "C"}; "/" as none.
std::vector<std::string> components(const std::string& path);
// "/A/B/C" as {"/A/B", "C"}; "/C" as {"/", "C"}.
std::pair<std::string, std::string> split_last(const std::string& path);

// The disk name a folder entry name is stored under, as `writer` stores it (CP/M in capitals),
// or the errno of a name the disk cannot hold: ENAMETOOLONG past 8 + 3, EINVAL otherwise.
int disk_name_of(const std::string& name, const DiskWriter& writer, DiskName& out);

// Does a name the disk stores list back as the folder entry name a program asked for? The same
// name, or one the writer stored in other Latin letter case.
bool lists_as(const std::string& listed, const std::string& asked);

// A short name the disk can hold for a long one, as DOS made them ("sedSsy4ep" is "SEDSSY~1",
// "long_name.py" is "LONG_N~1.PY"): not one of `taken`; empty when 99 are taken.
std::string short_alias(const std::string& name, const std::vector<std::string>& taken);

// The errno a refused or failed change answers with, from its status and the first words of its
// message, which the writers keep stable.
int errno_of(int status, const std::string& message);

}  // namespace odi::mount
