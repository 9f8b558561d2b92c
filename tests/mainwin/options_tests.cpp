// The options panel: every handler from every reachable state against the effect each click must
// have, then the same rules bound to real check boxes.
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QtTest>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "options/panel_qt.h"
#include "options/rules.h"
#include "test_classes.h"

using odi::opt::Box;
using odi::opt::Panel;
using odi::opt::Part;

namespace {

constexpr std::array kAllBoxes{Box::BIN, Box::ROM, Box::RKS,  Box::TXT,
                               Box::DOS, Box::WIN, Box::KOI8, Box::KOI7};
constexpr std::array kTypes{Box::BIN, Box::ROM, Box::RKS, Box::TXT};

// The state a person sees: values, enabled switches, caption.
struct Seen {
  std::array<bool, 8> values{};
  std::array<bool, 11> enabled{};
  std::string kod;
  bool operator<(const Seen& o) const {
    return std::tie(values, enabled, kod) < std::tie(o.values, o.enabled, o.kod);
  }
  bool operator==(const Seen& o) const = default;
};

Seen seen(const Panel& p) {
  return {p.values, p.enabled, p.kod_caption};
}

bool& v(Seen& s, Box b) {
  return s.values[static_cast<size_t>(b)];
}
bool& en(Seen& s, Part p) {
  return s.enabled[static_cast<size_t>(p)];
}

void load(Panel& p, const Seen& s) {
  p.values = s.values;
  p.enabled = s.enabled;
  p.kod_caption = s.kod;
}

// What one user click on `b` must leave, written from the rules of the panel directly.
Seen expected_click(Seen s, Box b) {
  const bool was = v(s, b);
  const int i = static_cast<int>(b);
  if (i < 4) {
    const Box next = kTypes[static_cast<size_t>((i + 1) % 4)];
    for (Box t : kTypes) v(s, t) = false;
    v(s, was ? next : b) = true;
    const bool txt = v(s, Box::TXT);
    en(s, Part::FrmKOD) = en(s, Part::CheckDOS) = en(s, Part::CheckWIN) = txt;
    en(s, Part::CheckKOI8) = en(s, Part::CheckKOI7) = txt && (v(s, Box::DOS) || v(s, Box::WIN));
  } else if (b == Box::DOS || b == Box::WIN) {
    v(s, b) = !was;
    if (!was) v(s, b == Box::DOS ? Box::WIN : Box::DOS) = false;
    en(s, Part::CheckKOI8) = en(s, Part::CheckKOI7) = v(s, Box::DOS) || v(s, Box::WIN);
  } else {
    v(s, b) = !was;
    if (!v(s, Box::KOI8) && !v(s, Box::KOI7)) v(s, b == Box::KOI8 ? Box::KOI7 : Box::KOI8) = true;
    s.kod = odi::opt::kod_caption(v(s, Box::KOI8), v(s, Box::KOI7));
  }
  return s;
}

void check_valid(const Panel& p) {
  int types = 0;
  for (Box t : kTypes) types += p.value(t);
  QCOMPARE(types, 1);
  QVERIFY(!(p.value(Box::DOS) && p.value(Box::WIN)));
  QVERIFY(p.value(Box::KOI8) || p.value(Box::KOI7));
  QCOMPARE(p.kod_caption, odi::opt::kod_caption(p.value(Box::KOI8), p.value(Box::KOI7)));
  const bool on = p.is_enabled(Part::ComCOPY);
  QCOMPARE(p.is_enabled(Part::FrmTIP), on);
  for (Box t : kTypes) QCOMPARE(p.is_enabled(odi::opt::part_of(t)), on);
  const bool kod = on && p.value(Box::TXT);
  QCOMPARE(p.is_enabled(Part::FrmKOD), kod);
  QCOMPARE(p.is_enabled(Part::CheckDOS), kod);
  QCOMPARE(p.is_enabled(Part::CheckWIN), kod);
  const bool koi = kod && (p.value(Box::DOS) || p.value(Box::WIN));
  QCOMPARE(p.is_enabled(Part::CheckKOI8), koi);
  QCOMPARE(p.is_enabled(Part::CheckKOI7), koi);
}

}  // namespace

void OptionsTest::startState() {
  Panel p;
  QCOMPARE(p.values, (std::array<bool, 8>{false, false, false, true, false, true, true, false}));
  for (bool e : p.enabled) QVERIFY(!e);
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ8  под"));
  QCOMPARE(p.copy_caption, std::string("копировать"));
  QVERIFY(p.rules.FLG_KAT.empty());
  QCOMPARE(p.rules.options(), odi::Options{});
}

void OptionsTest::panelOffTakesNoClick() {
  Panel p;
  for (Box b : kAllBoxes) QVERIFY(!p.user_click(b));
  QCOMPARE(p.values, Panel().values);
  // On, then off again: no value changes, every box out of reach.
  p.rules.DA_COPY();
  QVERIFY(p.user_click(Box::RKS));
  const auto values = p.values;
  p.rules.NET_COPY();
  QCOMPARE(p.values, values);
  for (Box b : kAllBoxes) QVERIFY(!p.user_click(b));
}

void OptionsTest::everyClickFromEveryReachableState() {
  // Breadth-first over all that user clicks and the button switching can reach.
  Panel start;
  std::set<Seen> reached{seen(start)};
  std::vector<Seen> todo{seen(start)};
  int clicks = 0;
  while (!todo.empty()) {
    const Seen s = todo.back();
    todo.pop_back();
    std::vector<Seen> next;
    for (Box b : kAllBoxes) {
      Panel p;
      load(p, s);
      if (!p.usable(b)) continue;
      QVERIFY(p.user_click(b));
      ++clicks;
      if (!(seen(p) == expected_click(s, b))) {
        QFAIL(qPrintable(QStringLiteral("click on box %1 from a reachable state").arg(int(b))));
      }
      QCOMPARE(p.rules.FLG_KAT, std::string("0"));
      check_valid(p);
      next.push_back(seen(p));
    }
    for (bool on : {true, false}) {
      Panel p;
      load(p, s);
      if (on)
        p.rules.DA_COPY();
      else
        p.rules.NET_COPY();
      QCOMPARE(p.values, s.values);  // switching never changes a value
      check_valid(p);
      next.push_back(seen(p));
    }
    for (const Seen& n : next)
      if (reached.insert(n).second) todo.push_back(n);
  }
  // 4 types x 3 targets x 3 sources, panel on and off.
  QCOMPARE(static_cast<int>(reached.size()), 72);
  QVERIFY(clicks > 150);
}

void OptionsTest::typeCycleAndFrame() {
  Panel p;
  p.rules.DA_COPY();
  // Clearing the ticked type passes the tick on: txt, bin, rom, rks, txt.
  for (Box next : {Box::BIN, Box::ROM, Box::RKS, Box::TXT}) {
    const Box ticked = next == Box::BIN ? Box::TXT : kTypes[static_cast<size_t>(int(next) - 1)];
    QVERIFY(p.value(ticked));
    p.user_click(ticked);
    QVERIFY(p.value(next));
    QVERIFY(!p.value(ticked));
  }
  // From txt with win and кои8: rks disables the recoding frame and its four boxes, values stay.
  p.user_click(Box::RKS);
  QVERIFY(!p.is_enabled(Part::FrmKOD));
  for (Part part : {Part::CheckDOS, Part::CheckWIN, Part::CheckKOI8, Part::CheckKOI7})
    QVERIFY(!p.is_enabled(part));
  QVERIFY(p.value(Box::WIN) && p.value(Box::KOI8));
  p.user_click(Box::TXT);
  for (Part part : {Part::FrmKOD, Part::CheckDOS, Part::CheckWIN, Part::CheckKOI8, Part::CheckKOI7})
    QVERIFY(p.is_enabled(part));
}

void OptionsTest::targetAndSourceRules() {
  Panel p;
  p.rules.DA_COPY();
  // Clearing win with dos clear: no target, source boxes off; back to txt later: dos, win only.
  p.user_click(Box::WIN);
  QVERIFY(!p.value(Box::WIN) && !p.value(Box::DOS));
  QVERIFY(!p.is_enabled(Part::CheckKOI8) && !p.is_enabled(Part::CheckKOI7));
  p.user_click(Box::BIN);
  p.user_click(Box::TXT);
  QVERIFY(p.is_enabled(Part::CheckDOS) && p.is_enabled(Part::CheckWIN));
  QVERIFY(!p.is_enabled(Part::CheckKOI8) && !p.is_enabled(Part::CheckKOI7));
  // Ticking dos, then win: each clears the other; the source boxes stay on.
  p.user_click(Box::DOS);
  QVERIFY(p.value(Box::DOS) && p.is_enabled(Part::CheckKOI8));
  p.user_click(Box::WIN);
  QVERIFY(p.value(Box::WIN) && !p.value(Box::DOS) && p.is_enabled(Part::CheckKOI7));
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ8  под"));
  // Sources: never none; the caption names what is ticked.
  p.user_click(Box::KOI8);
  QVERIFY(p.value(Box::KOI7) && !p.value(Box::KOI8));
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ7  под"));
  p.user_click(Box::KOI7);
  QVERIFY(p.value(Box::KOI8) && !p.value(Box::KOI7));
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ8  под"));
  p.user_click(Box::KOI7);
  QVERIFY(p.value(Box::KOI8) && p.value(Box::KOI7));
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ8 + КОИ7  под"));
  p.user_click(Box::KOI8);
  QCOMPARE(p.kod_caption, std::string("Перекодировка  КОИ7  под"));
}

void OptionsTest::busyFlagStopsHandlers() {
  Panel p;
  p.rules.DA_COPY();
  p.rules.FLG_KAT = "1";  // the catalogue loader at work
  p.set_value(Box::BIN, true);
  QVERIFY(p.value(Box::BIN) && p.value(Box::TXT));  // the handler did nothing
  QVERIFY(p.is_enabled(Part::FrmKOD));
  p.set_value(Box::KOI8, false);
  QVERIFY(!p.value(Box::KOI7));
  // The exclusion of dos and win comes before the busy test.
  p.set_value(Box::DOS, true);
  QVERIFY(!p.value(Box::WIN));
  QCOMPARE(p.rules.FLG_KAT, std::string("1"));
}

void OptionsTest::copyButtonOnAndOff() {
  Panel p;
  p.copy_caption = "!!!";
  p.copy_tooltip = "x";
  p.rules.DA_COPY();
  QCOMPARE(p.copy_caption, std::string("копировать"));
  QVERIFY(p.copy_tooltip.empty());
  QVERIFY(p.is_enabled(Part::ComCOPY) && p.is_enabled(Part::FrmTIP) && p.is_enabled(Part::FrmKOD));
  p.user_click(Box::RKS);
  p.rules.NET_COPY();
  for (bool e : p.enabled) QVERIFY(!e);
  p.copy_caption = "!!!";
  p.rules.NET_COPY();
  QCOMPARE(p.copy_caption, std::string("копировать"));
  // A file entry while the type is rks: types on, recoding frame off.
  p.rules.DA_COPY();
  QVERIFY(p.is_enabled(Part::CheckTXT) && !p.is_enabled(Part::FrmKOD) &&
          !p.is_enabled(Part::CheckWIN));
}

void OptionsTest::realCheckBoxesFollowTheRules() {
  // The same click sequence on the in-memory panel and on real check boxes gives the same panel.
  QWidget window;
  auto* frmTip = new QGroupBox(&window);
  auto* frmKod = new QGroupBox(QString::fromUtf8(odi::opt::text::kKodKoi8), &window);
  odi::opt::QtPanel::Widgets w;
  w.FrmTIP = frmTip;
  w.FrmKOD = frmKod;
  const Panel start;
  for (int i = 0; i < 8; ++i) {
    auto* box = new QCheckBox(i < 4 ? frmTip : frmKod);
    box->setChecked(start.values[static_cast<size_t>(i)]);
    box->setEnabled(false);
    w.boxes[static_cast<size_t>(i)] = box;
  }
  frmTip->setEnabled(false);
  frmKod->setEnabled(false);
  w.ComCOPY = new QPushButton(&window);
  w.ComCOPY->setEnabled(false);
  odi::opt::QtPanel qt(w);

  Panel model;
  auto compare = [&] {
    for (Box b : kAllBoxes) QCOMPARE(qt.value(b), model.value(b));
    QCOMPARE(frmTip->isEnabled(), model.is_enabled(Part::FrmTIP));
    QCOMPARE(frmKod->isEnabled(), model.is_enabled(Part::FrmKOD));
    QCOMPARE(w.ComCOPY->isEnabled(), model.is_enabled(Part::ComCOPY));
    for (Box b : kAllBoxes) QCOMPARE(w.boxes[static_cast<size_t>(b)]->isEnabled(), model.usable(b));
    QCOMPARE(frmKod->title().toStdString(), model.kod_caption);
  };
  // A click on a disabled box does nothing.
  w.boxes[0]->click();
  compare();
  qt.rules.DA_COPY();
  model.rules.DA_COPY();
  const Box seq[] = {Box::KOI7, Box::KOI8, Box::DOS,  Box::WIN, Box::WIN, Box::RKS,
                     Box::KOI8, Box::TXT,  Box::TXT,  Box::BIN, Box::ROM, Box::ROM,
                     Box::RKS,  Box::DOS,  Box::KOI7, Box::KOI8};
  for (Box b : seq) {
    w.boxes[static_cast<size_t>(b)]->click();
    model.user_click(b);
    compare();
  }
  // A value set from code runs the box's handler too.
  w.boxes[static_cast<size_t>(Box::BIN)]->setChecked(true);
  model.set_value(Box::BIN, true);
  compare();
  QVERIFY(qt.value(Box::BIN) && !qt.value(Box::TXT));
  QCOMPARE(qt.rules.FLG_KAT, std::string("0"));
}
