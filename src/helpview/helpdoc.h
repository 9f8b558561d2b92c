// The help window's own document (about the program and the disk format).
#pragma once

#include <string>

// CP1251 bytes, lines ending in CR LF, the last line empty. This is HLP_TXT before any notes.
const std::string& helpDocument();
