#include "state/texts.h"

#include "state/cp1251.h"

namespace odi::texts {

const std::string& err_catalogue() {
  static const std::string s = cp1251("ОШИБКА  в заголовке каталога");
  return s;
}
const std::string& err_fat() {
  static const std::string s = cp1251("ОШИБКА  FATа");
  return s;
}
const std::string& err_read() {
  static const std::string s = cp1251("ОШИБКА  чтения образа");
  return s;
}
const std::string& no_version() {
  static const std::string s = cp1251("нет версии");
  return s;
}

const std::string& err_too_large() {
  static const std::string s = cp1251("ОШИБКА  файл не умещается в 64K");
  return s;
}
const std::string& blank_disk() {
  static const std::string s = cp1251("чистый диск");
  return s;
}

}  // namespace odi::texts
