// The program's own fixed texts that end up inside byte strings (copied files, previews). They are
// CP1251 bytes like everything the core handles; the literals are written here in UTF-8.
#pragma once

#include <string>

namespace odi::texts {

// Error texts the extraction puts in place of a file's content (two blanks after the first word).
const std::string& err_catalogue();  // "ОШИБКА  в заголовке каталога": bad first-sector address
const std::string& err_fat();  // "ОШИБКА  FATа": a bad link or a loop in the FAT
const std::string& err_read();  // "ОШИБКА  чтения образа": the image ends too early
const std::string& no_version();
// "ОШИБКА  файл не умещается в 64K": an rks frame cannot hold a body loaded at 0100h past FFFFh
const std::string& err_too_large();
const std::string& blank_disk();  // "чистый диск": the version label of a disk with no files  //
                                  // "нет версии": no "Dos_MX" signature on the disk

}  // namespace odi::texts
