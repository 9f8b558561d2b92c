// The eight option boxes of the panel, as values. The extraction reads them at the moment it runs;
// nothing else keeps a copy. Which combinations the panel allows is the business of src/options.
#pragma once

namespace odi {

struct Options {
  // File type: the panel keeps exactly one of these set.
  bool bin = false;
  bool rom = false;
  bool rks = false;
  bool txt = true;
  // Target code page of a text: at most one of these, possibly neither.
  bool dos = false;
  bool win = true;
  // Source code of a text: at least one of these, possibly both.
  bool koi8 = true;
  bool koi7 = false;

  bool operator==(const Options&) const = default;
};

}  // namespace odi
