// The txt form: a Specialist MX text made into a PC text file. Letters are recoded (recode.h),
// every TAB of a complete line becomes four blanks, an LF follows every CR that lacks one, and a
// trailer names the document:
//
//   <body> <unfinished last line> CR LF Name: '<name field>' \ <size>K CR LF Data: DD.MM.YY
//
// A line may run across a sector boundary, so FIL_TXT passes on complete lines only and carries
// the rest to the next sector; END_TXT puts out what is left (recoded, TABs kept) and the trailer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "extract/recode.h"
#include "extract/recode_wide.h"
#include "image/record.h"
#include "state/options.h"

namespace odi {

class TextBody {
 public:
  explicit TextBody(const Options& opt);

  // One sector: recoded, cut into lines; `sec` becomes the finished lines to append.
  void FIL_TXT(std::string& sec);
  // The same, appending the finished lines of `sector` (as read from the disk) to `out`.
  void FIL_TXT(std::string_view sector, std::string& out);
  // Appends the unfinished line and the trailer to `out`. `size_kb` is the entry's size field,
  // `dat_txt` its date text.
  void END_TXT(std::string& out, const Record& rec, std::uint16_t size_kb,
               std::string_view dat_txt) const;

 private:
  Options opt_;
  const ByteMap* map_;  // the recoding of the options, made once for the program
  TableRows rows_;      // the same for the wide loops
  bool wide_;           // does the processor take them?
  std::string TXT_REM;  // recoded text after the last CR seen so far
};

}  // namespace odi
