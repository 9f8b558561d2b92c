// The options panel: four file-type boxes (frame FrmTIP) and four recoding boxes (frame FrmKOD),
// with the copy button ComCOPY switched on and off together with them.
//
// The boxes hold the options; nothing else keeps a copy. These rules keep their combinations
// valid: exactly one file type, at most one target code page (dos, win), at least one source code
// (KOI-8, KOI-7). They are plain logic, written against `Controls`, so that the window's check
// boxes and an in-memory panel obey the very same code.
//
// A change of a box's value made by code raises that box's handler exactly as a user's click does
// (that is how the window's check boxes behave too). The busy flag FLG_KAT absorbs the re-entry:
// a handler raised while another handler, the catalogue loader or the list's double-click is at
// work returns at once.
#pragma once

#include <array>
#include <string>

#include "state/options.h"

namespace odi::opt {

enum class Box : int { BIN, ROM, RKS, TXT, DOS, WIN, KOI8, KOI7 };
inline constexpr int kBoxCount = 8;

// What the panel switches on and off.
enum class Part : int {
  FrmTIP,
  FrmKOD,
  CheckBIN,
  CheckROM,
  CheckRKS,
  CheckTXT,
  CheckDOS,
  CheckWIN,
  CheckKOI8,
  CheckKOI7,
  ComCOPY,
};
inline constexpr int kPartCount = 11;
constexpr Part part_of(Box b) {
  return static_cast<Part>(static_cast<int>(b) + 2);
}

// The panel's fixed texts (UTF-8).
namespace text {
inline constexpr const char* kCopy = "копировать";
inline constexpr const char* kKodKoi8 = "Перекодировка  КОИ8  под";
}  // namespace text

// The caption of FrmKOD for the ticked source codes: "Перекодировка  КОИ8  под",
// "Перекодировка  КОИ7  под" or "Перекодировка  КОИ8 + КОИ7  под".
std::string kod_caption(bool koi8, bool koi7);

// The things the rules read and change. set_value must raise Rules::click for the box when the
// value actually changes, after the change.
class Controls {
 public:
  virtual ~Controls() = default;
  virtual bool value(Box b) const = 0;
  virtual void set_value(Box b, bool v) = 0;
  virtual void set_enabled(Part p, bool on) = 0;
  virtual void set_kod_caption(const std::string& utf8) = 0;
  virtual void set_copy_caption(const std::string& caption, const std::string& tooltip) = 0;
};

class Rules {
 public:
  explicit Rules(Controls& controls) : c_(controls) {}

  // Busy flag: empty before first use, "1" while busy, "0" afterwards. The catalogue loader and
  // the list's double-click set and clear it too.
  std::string FLG_KAT;
  bool busy() const { return FLG_KAT == "1"; }

  // The handler of a box, run after its value has changed.
  void click(Box b);
  void CheckBIN_Click();
  void CheckROM_Click();
  void CheckRKS_Click();
  void CheckTXT_Click();
  void CheckDOS_Click();
  void CheckWIN_Click();
  void CheckKOI8_Click();
  void CheckKOI7_Click();

  // The recoding frame and its source-code boxes.
  void FRK_TRU();
  void FRK_FAL();
  void KOI_TRU();
  void KOI_FAL();

  // The copy button with the panel: on for a file entry, off otherwise.
  void DA_COPY();
  void NET_COPY();

  // The options as the boxes hold them now.
  Options options() const;

 private:
  // A file-type box: `own` is its box; `when_clear` gets the tick passed on when it is cleared.
  void type_click(Box own, Box when_clear, bool frame_first);
  void target_click(Box own, Box other);
  void source_click(Box own, Box other);

  Controls& c_;
};

// The panel in memory, with the state the window starts in: type txt, target win, source KOI-8,
// everything disabled. Its value changes raise the handlers like the window's boxes do.
class Panel : public Controls {
 public:
  Panel();
  // The rules point at this panel: a copy would point at the original.
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  Rules rules{*this};

  std::array<bool, kBoxCount> values{};
  std::array<bool, kPartCount> enabled{};  // each control's own switch
  std::string kod_caption = text::kKodKoi8;
  std::string copy_caption = text::kCopy;
  std::string copy_tooltip;

  // Whether the user can reach a box: its own switch and its frame's.
  bool usable(Box b) const;
  // A user's click: toggles the box when it is usable; returns whether it was.
  bool user_click(Box b);

  bool value(Box b) const override { return values[static_cast<size_t>(b)]; }
  void set_value(Box b, bool v) override;
  void set_enabled(Part p, bool on) override { enabled[static_cast<size_t>(p)] = on; }
  void set_kod_caption(const std::string& utf8) override { kod_caption = utf8; }
  void set_copy_caption(const std::string& caption, const std::string& tooltip) override {
    copy_caption = caption;
    copy_tooltip = tooltip;
  }
  bool is_enabled(Part p) const { return enabled[static_cast<size_t>(p)]; }
};

}  // namespace odi::opt
