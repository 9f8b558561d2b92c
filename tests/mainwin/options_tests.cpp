// The options panel's rules: click sequences from the start state with the values they must leave,
// the switching of the panel with the copy button, the busy flag. After every step the panel must
// be consistent: one type, at most one target code page, a source code, and each box and frame
// enabled exactly when the user may use it. The window's tests drive the same rules through real
// check boxes.
#include <QObject>
#include <algorithm>
#include <sstream>

#include "../helpview/testmain.h"
#include "options/rules.h"

using odi::opt::Box;
using odi::opt::Panel;
using odi::opt::Part;

namespace {

constexpr Box kBoxes[] = {Box::BIN, Box::ROM, Box::RKS,  Box::TXT,
                          Box::DOS, Box::WIN, Box::KOI8, Box::KOI7};
const char* const kNames[] = {"bin", "rom", "rks", "txt", "dos", "win", "koi8", "koi7"};

// The boxes ticked, by name: "txt win koi8".
std::string ticked(const Panel& p) {
  std::string s;
  for (size_t i = 0; i < 8; ++i)
    if (p.values[i]) s += (s.empty() ? "" : " ") + std::string(kNames[i]);
  return s;
}

void check_consistent(const Panel& p) {
  int types = 0;
  for (size_t i = 0; i < 4; ++i) types += p.values[i];
  QCOMPARE(types, 1);
  QVERIFY(!(p.value(Box::DOS) && p.value(Box::WIN)));
  QVERIFY(p.value(Box::KOI8) || p.value(Box::KOI7));
  const bool k8 = p.value(Box::KOI8), k7 = p.value(Box::KOI7);
  QCOMPARE(p.kod_caption, k8 && k7 ? std::string("Перекодировка  КОИ8 + КОИ7  под")
                                   : (k8 ? std::string("Перекодировка  КОИ8  под")
                                         : std::string("Перекодировка  КОИ7  под")));
  const bool on = p.is_enabled(Part::ComCOPY);
  for (Part part : {Part::FrmTIP, Part::CheckBIN, Part::CheckROM, Part::CheckRKS, Part::CheckTXT})
    QCOMPARE(p.is_enabled(part), on);
  const bool frame = on && p.value(Box::TXT);
  for (Part part : {Part::FrmKOD, Part::CheckDOS, Part::CheckWIN})
    QCOMPARE(p.is_enabled(part), frame);
  const bool koi = frame && (p.value(Box::DOS) || p.value(Box::WIN));
  QCOMPARE(p.is_enabled(Part::CheckKOI8), koi);
  QCOMPARE(p.is_enabled(Part::CheckKOI7), koi);
}

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

 private slots:
  void clickSequences() {
    struct Case {
      const char* clicks;  // box names; "on"/"off" switch the panel with the copy button
      const char* ticked;  // afterwards
    };
    const Case cases[] = {
        {"", "txt win koi8"},
        // Types: ticking one clears the others; clearing the ticked one passes the tick on along
        // bin, rom, rks, txt, bin.
        {"rks", "rks win koi8"},
        {"txt", "bin win koi8"},
        {"txt bin rom rks", "txt win koi8"},
        {"bin bin rom", "rks win koi8"},
        // Target code pages exclude each other, and may both be clear.
        {"dos", "txt dos koi8"},
        {"dos win", "txt win koi8"},
        {"win", "txt koi8"},
        {"win bin txt dos", "txt dos koi8"},
        // Source codes: never none; both may be ticked.
        {"koi8", "txt win koi7"},
        {"koi8 koi7", "txt win koi8"},
        {"koi7", "txt win koi8 koi7"},
        {"koi7 koi8", "txt win koi7"},
        // Switching the panel keeps every value; boxes out of reach take no click.
        {"rks off bin dos koi7 on", "rks win koi8"},
        {"off on koi7 dos", "txt dos koi8 koi7"},
    };
    for (const Case& c : cases) {
      Panel p;
      QVERIFY(p.rules.FLG_KAT.empty());
      QCOMPARE(p.rules.options(), odi::Options{});
      check_consistent(p);
      p.rules.DA_COPY();
      std::istringstream in(c.clicks);
      for (std::string step; in >> step;) {
        p.copy_caption = "!!!";  // a copy's outcome: either switch puts the caption back
        p.copy_tooltip = "x";
        if (step == "on" || step == "off") {
          step == "on" ? p.rules.DA_COPY() : p.rules.NET_COPY();
          QCOMPARE(p.copy_caption + p.copy_tooltip, std::string("копировать"));
        } else {
          const Box b = kBoxes[std::find(kNames, kNames + 8, step) - kNames];
          const std::string before = ticked(p);
          if (p.usable(b)) {
            QVERIFY(p.user_click(b));
            QCOMPARE(p.rules.FLG_KAT, std::string("0"));
          } else {
            QVERIFY(!p.user_click(b));
            QCOMPARE(ticked(p), before);
          }
        }
        check_consistent(p);
      }
      QCOMPARE(ticked(p), std::string(c.ticked));
    }
  }

  void busyFlagStopsHandlers() {
    Panel p;
    p.rules.DA_COPY();
    p.rules.FLG_KAT = "1";  // the catalogue loader at work
    p.set_value(Box::BIN, true);
    p.set_value(Box::KOI8, false);
    p.set_value(Box::DOS, true);  // the exclusion of dos and win comes before the busy test
    QCOMPARE(ticked(p), std::string("bin txt dos"));
    QVERIFY(p.is_enabled(Part::FrmKOD));
    QCOMPARE(p.rules.FLG_KAT, std::string("1"));
  }
};

HELPVIEW_TEST_MAIN(OptionsTest)
#include "options_tests.moc"
