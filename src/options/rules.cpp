#include "options/rules.h"

namespace odi::opt {

std::string kod_caption(bool koi8, bool koi7) {
  std::string s = "Перекодировка  ";
  if (koi8) s += "КОИ8";
  if (koi8 && koi7) s += " + ";
  if (koi7) s += "КОИ7";
  s += "  под";
  return s;
}

void Rules::click(Box b) {
  switch (b) {
    case Box::BIN:
      CheckBIN_Click();
      break;
    case Box::ROM:
      CheckROM_Click();
      break;
    case Box::RKS:
      CheckRKS_Click();
      break;
    case Box::TXT:
      CheckTXT_Click();
      break;
    case Box::DOS:
      CheckDOS_Click();
      break;
    case Box::WIN:
      CheckWIN_Click();
      break;
    case Box::KOI8:
      CheckKOI8_Click();
      break;
    case Box::KOI7:
      CheckKOI7_Click();
      break;
  }
}

// Ticking a type box makes it the only type; clearing the ticked one passes the tick on along
// bin, rom, rks, txt, bin. The recoding frame only makes sense for txt. bin and rom switch the
// frame off before they look at their own value, rks and txt after setting the others.
void Rules::type_click(Box own, Box when_clear, bool frame_first) {
  if (busy()) return;
  FLG_KAT = "1";
  if (frame_first) FRK_FAL();
  const bool ticked = c_.value(own);
  for (Box b : {Box::BIN, Box::ROM, Box::RKS, Box::TXT}) {
    if (b == own) continue;
    c_.set_value(b, !ticked && b == when_clear);
  }
  if (!frame_first) {
    const bool txt = ticked ? own == Box::TXT : when_clear == Box::TXT;
    if (txt)
      FRK_TRU();
    else
      FRK_FAL();
  }
  FLG_KAT = "0";
}

void Rules::CheckBIN_Click() {
  type_click(Box::BIN, Box::ROM, true);
}
void Rules::CheckROM_Click() {
  type_click(Box::ROM, Box::RKS, true);
}
void Rules::CheckRKS_Click() {
  type_click(Box::RKS, Box::TXT, false);
}
void Rules::CheckTXT_Click() {
  type_click(Box::TXT, Box::BIN, false);
}

// dos and win exclude each other; the source-code boxes matter only while one of them is ticked.
// The exclusion comes before the busy test: clearing the other box runs that box's handler in
// full, which reaches the same result.
void Rules::target_click(Box own, Box other) {
  if (c_.value(own)) c_.set_value(other, false);
  if (busy()) return;
  FLG_KAT = "1";
  if (c_.value(Box::DOS) || c_.value(Box::WIN))
    KOI_TRU();
  else
    KOI_FAL();
  FLG_KAT = "0";
}

void Rules::CheckDOS_Click() {
  target_click(Box::DOS, Box::WIN);
}
void Rules::CheckWIN_Click() {
  target_click(Box::WIN, Box::DOS);
}

// A text is read as KOI-8, KOI-7 or both, never neither: clearing the last one ticks the other.
void Rules::source_click(Box own, Box other) {
  (void)own;
  if (busy()) return;
  FLG_KAT = "1";
  bool k8 = c_.value(Box::KOI8);
  bool k7 = c_.value(Box::KOI7);
  if (!k8 && !k7) {
    c_.set_value(other, true);
    (other == Box::KOI7 ? k7 : k8) = c_.value(other);
  }
  c_.set_kod_caption(kod_caption(k8, k7));
  FLG_KAT = "0";
}

void Rules::CheckKOI8_Click() {
  source_click(Box::KOI8, Box::KOI7);
}
void Rules::CheckKOI7_Click() {
  source_click(Box::KOI7, Box::KOI8);
}

void Rules::FRK_TRU() {
  c_.set_enabled(Part::FrmKOD, true);
  c_.set_enabled(Part::CheckDOS, true);
  c_.set_enabled(Part::CheckWIN, true);
  if (c_.value(Box::DOS) || c_.value(Box::WIN)) KOI_TRU();
}

void Rules::FRK_FAL() {
  c_.set_enabled(Part::FrmKOD, false);
  c_.set_enabled(Part::CheckDOS, false);
  c_.set_enabled(Part::CheckWIN, false);
  KOI_FAL();
}

void Rules::KOI_TRU() {
  c_.set_enabled(Part::CheckKOI8, true);
  c_.set_enabled(Part::CheckKOI7, true);
}

void Rules::KOI_FAL() {
  c_.set_enabled(Part::CheckKOI8, false);
  c_.set_enabled(Part::CheckKOI7, false);
}

void Rules::DA_COPY() {
  c_.set_copy_caption(text::kCopy, "");
  c_.set_enabled(Part::ComCOPY, true);
  for (Part p : {Part::FrmTIP, Part::CheckBIN, Part::CheckROM, Part::CheckRKS, Part::CheckTXT})
    c_.set_enabled(p, true);
  if (c_.value(Box::TXT)) FRK_TRU();
}

void Rules::NET_COPY() {
  c_.set_copy_caption(text::kCopy, "");
  c_.set_enabled(Part::ComCOPY, false);
  for (Part p : {Part::FrmTIP, Part::CheckBIN, Part::CheckROM, Part::CheckRKS, Part::CheckTXT})
    c_.set_enabled(p, false);
  FRK_FAL();
}

Options Rules::options() const {
  Options o;
  o.bin = c_.value(Box::BIN);
  o.rom = c_.value(Box::ROM);
  o.rks = c_.value(Box::RKS);
  o.txt = c_.value(Box::TXT);
  o.dos = c_.value(Box::DOS);
  o.win = c_.value(Box::WIN);
  o.koi8 = c_.value(Box::KOI8);
  o.koi7 = c_.value(Box::KOI7);
  return o;
}

Panel::Panel() {
  const Options start;
  values = {start.bin, start.rom, start.rks,  start.txt,
            start.dos, start.win, start.koi8, start.koi7};
}

bool Panel::usable(Box b) const {
  const Part frame = static_cast<int>(b) < 4 ? Part::FrmTIP : Part::FrmKOD;
  return is_enabled(frame) && is_enabled(part_of(b));
}

bool Panel::user_click(Box b) {
  if (!usable(b)) return false;
  set_value(b, !value(b));
  return true;
}

void Panel::set_value(Box b, bool v) {
  if (values[static_cast<size_t>(b)] == v) return;
  values[static_cast<size_t>(b)] = v;
  rules.click(b);
}

}  // namespace odi::opt
