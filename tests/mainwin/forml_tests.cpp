// The main window on disks written by the builder, in temporary folders: start-up, choosing an
// image, walking catalogues, copies in every form and their failures, the copy list, previews.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "builder/cpmbuild.h"
#include "builder/odibuild.h"
#include "extract/copy_buf.h"
#include "extract/target.h"
#include "helpview/formh.h"
#include "helpview/formv.h"
#include "mainwin/forml.h"
#include "mainwin/lists.h"
#include "options/rules.h"
#include "state/cp1251.h"
#include "state/texts.h"
#include "test_classes.h"

using odi::gui::ClickList;
using odi::gui::DirList;
using odi::gui::FileList;
using namespace odibuild;

namespace {

std::unique_ptr<QTemporaryDir> g_tmp;

// The text a text box holds after being given `text` (it keeps no-break spaces as spaces).
QString as_shown(const QString& text) {
  QPlainTextEdit box;
  box.setPlainText(text);
  return box.toPlainText();
}
QString dir() {
  return g_tmp->path();
}

QString u(const std::string& cp1251) {
  return QString::fromStdString(odi::cp1251_to_utf8(cp1251));
}

std::string read_bytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return "<missing>";
  return f.readAll().toStdString();
}

void write_bytes(const QString& path, const std::string& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The usual disk: AB with GAME.COM (binary), README.TXT (text), DOCS/LETTER.TXT, DOCS/SUB/DEEP.BIN.
struct Simple {
  DiskBuilder disk;
  File game, readme, letter, deep;
  Cat docs, sub;
  Simple() {
    disk.setDiskName("  AB  ");
    std::string body;
    for (int i = 0; i < 2500; ++i) body += static_cast<char>(i * 7);
    game = disk.addFile(disk.root(), {.name = "GAME",
                                      .ext = "COM",
                                      .date = Date::of(31, 12, 99),
                                      .start = 0x9000,
                                      .body = body});
    readme =
        disk.addFile(disk.root(), {.name = "README",
                                   .ext = "TXT",
                                   .date = Date::of(1, 9, 92),
                                   .start = 0x1100,
                                   .body = koi8Text("Привет,\tмир!\nВторая строка\n") + "\xFF"});
    docs = disk.addCatalogue(disk.root(), "DOCS", Date::of(2, 9, 92));
    letter = disk.addFile(docs, {.name = "LETTER",
                                 .ext = "TXT",
                                 .date = Date::of(3, 9, 92),
                                 .start = 0,
                                 .body = koi7Text("ПИСЬМО\nLETTER\n")});
    sub = disk.addCatalogue(docs, "SUB");
    deep = disk.addFile(sub, {.name = "DEEP", .ext = "BIN", .start = 0x100, .body = "deep"});
  }
  odi::Record record(Entry e) const {
    return odi::Record::from(std::string_view(disk.image()).substr(disk.recordOffset(e), 32));
  }
  std::string expected(Entry e, const odi::Options& opt) const {
    const odi::Record rec = record(e);
    return odi::COPY_BUF(odi::Image(disk.image()), rec, opt, odi::FIL_DAT(rec, odi::today_text()))
        .BUF_FIL;
  }
};

template <class T>
T* child(FormL& w, const char* name) {
  T* c = w.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}

// A click on an image of FileL, as the user makes it.
void choose(FormL& w, const QString& name) {
  auto* fl = child<FileList>(w, "FileL");
  fl->setPath(fl->path());
  const auto row = fl->names().indexOf(name);
  QVERIFY2(row >= 0, qPrintable(name));
  fl->setCurrentRow(-1);
  fl->setCurrentRow(static_cast<int>(row));
}

// Selecting a row of List1 from code: the click handling runs.
void select(FormL& w, int row) {
  auto* l = child<ClickList>(w, "List1");
  if (l->currentRow() == row) l->setCurrentRow(-1);
  l->setCurrentRow(row);
}

void dbl(FormL& w, int row) {
  select(w, row);
  w.List1_DblClick();
}

QStringList rows(FormL& w) {
  auto* l = child<ClickList>(w, "List1");
  QStringList out;
  for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
  return out;
}

void click_box(FormL& w, const char* name) {
  child<QCheckBox>(w, name)->click();
}

// Sets the options through the boxes, as a person would click them (a file row is selected).
void set_options(FormL& w, const odi::Options& want) {
  const char* types[] = {"CheckBIN", "CheckROM", "CheckRKS", "CheckTXT"};
  const bool tv[] = {want.bin, want.rom, want.rks, want.txt};
  // Target and sources are reachable with the txt type; the sources only while a target is on.
  auto on = [&](const char* n) { return child<QCheckBox>(w, n)->isChecked(); };
  if (!on("CheckTXT")) click_box(w, "CheckTXT");
  if (!on("CheckDOS") && !on("CheckWIN")) click_box(w, "CheckWIN");
  if (want.koi7 && !on("CheckKOI7")) click_box(w, "CheckKOI7");
  if (want.koi8 && !on("CheckKOI8")) click_box(w, "CheckKOI8");
  if (!want.koi7 && on("CheckKOI7")) click_box(w, "CheckKOI7");
  if (!want.koi8 && on("CheckKOI8")) click_box(w, "CheckKOI8");
  if (want.dos && !on("CheckDOS")) click_box(w, "CheckDOS");
  if (want.win && !on("CheckWIN")) click_box(w, "CheckWIN");
  if (!want.dos && on("CheckDOS")) click_box(w, "CheckDOS");
  if (!want.win && on("CheckWIN")) click_box(w, "CheckWIN");
  for (int i = 0; i < 4; ++i)
    if (tv[i] && !child<QCheckBox>(w, types[i])->isChecked()) click_box(w, types[i]);
  QCOMPARE(w.options(), want);
}

odi::Options opts(bool bin, bool rom, bool rks, bool txt, bool dos, bool win, bool k8, bool k7) {
  odi::Options o;
  o.bin = bin, o.rom = rom, o.rks = rks, o.txt = txt, o.dos = dos, o.win = win, o.koi8 = k8,
  o.koi7 = k7;
  return o;
}

QString path(const QString& rel) {
  return dir() + QLatin1Char('/') + rel;
}

}  // namespace

void FormLTest::init() {
  g_tmp = std::make_unique<QTemporaryDir>();
  QVERIFY(g_tmp->isValid());
  Simple s;
  s.disk.writeTo(path("disk1.odi").toStdString());
}

void FormLTest::cleanup() {
  if (FormV* v = FormV::instance()) delete v;
  if (FormH* h = FormH::instance()) delete h;
  g_tmp.reset();
}

void FormLTest::startUp() {
  FormL w(dir());
  QCOMPARE(w.windowTitle(), QStringLiteral("v3.3     Kestrel\\Специалист_МХ"));
  QCOMPARE(child<QGroupBox>(w, "FrmDISK")->title(),
           FormL::kFrmDiskStart + QString::fromStdString(odi::today_text()));
  QVERIFY(FormL::kFrmDiskStart.endsWith(QStringLiteral("каталоги                     Дата: ")));
  QCOMPARE(w.size(), QSize(672, 413));
  QCOMPARE(w.minimumSize(), w.maximumSize());
  const char* on[] = {"CheckTXT", "CheckWIN", "CheckKOI8"};
  const char* off[] = {"CheckBIN", "CheckROM", "CheckRKS", "CheckDOS", "CheckKOI7"};
  for (const char* n : on) QVERIFY(child<QCheckBox>(w, n)->isChecked());
  for (const char* n : off) QVERIFY(!child<QCheckBox>(w, n)->isChecked());
  for (const char* n : {"CheckTXT", "CheckWIN", "CheckKOI8", "CheckBIN", "CheckROM", "CheckRKS",
                        "CheckDOS", "CheckKOI7"})
    QVERIFY(!child<QCheckBox>(w, n)->isEnabled());
  QVERIFY(!child<QGroupBox>(w, "FrmTIP")->isEnabled());
  QVERIFY(!child<QGroupBox>(w, "FrmKOD")->isEnabled());
  QCOMPARE(child<QGroupBox>(w, "FrmKOD")->title(), QStringLiteral("Перекодировка  КОИ8  под"));
  auto* copy = child<QPushButton>(w, "ComCOPY");
  QVERIFY(!copy->isEnabled());
  QCOMPARE(copy->text(), QStringLiteral("копировать"));
  for (const char* n : {"LabODI", "LabVER", "LabDISK", "LabCOPY"})
    QVERIFY(child<QLabel>(w, n)->text().isEmpty());
  QCOMPARE(child<QLabel>(w, "LabDISK")->toolTip(),
           QStringLiteral(" Внутреннее имя дискеты + каталоги"));
  QCOMPARE(child<QCheckBox>(w, "CheckTXT")->toolTip(),
           QStringLiteral(" Тело файла + кодировки + прочее  "));
  QCOMPARE(child<QPushButton>(w, "ComHLP")->toolTip(), QStringLiteral(" О программе и форматах "));
  QCOMPARE(child<ClickList>(w, "List1")->geometry(), QRect(356, 48, 145, 292));
  QVERIFY(child<ClickList>(w, "List1")->font().bold());
  QVERIFY(!child<QTimer>(w, "Timer1")->isActive());
  QCOMPARE(child<DirList>(w, "Dir1")->path(), dir());
  QCOMPARE(child<FileList>(w, "FileL")->path(), dir());
  QCOMPARE(child<FileList>(w, "FileV")->path(), dir());
  QCOMPARE(child<odi::gui::DriveList>(w, "Drive1")->drive(), QStorageInfo(dir()).rootPath());
  const FormL::MainState& st = w.state();
  QCOMPARE(st.DIR_ODI, dir());
  QCOMPARE(st.KAT.KAT_LEV, 0);
  QVERIFY(st.BUF_FIL.empty());
  QVERIFY(st.DIR_COP.isEmpty());
  QVERIFY(w.rules().FLG_KAT.empty());
  QCOMPARE(st.LAB_WID, 8775);
  QCOMPARE(st.CHR_WID, 122);
  QVERIFY(!QFileInfo::exists(path("disk1")));  // nothing is created at start
}

void FormLTest::fileListsMatchPatterns() {
  for (const char* n : {"x.ODI", "y.odi1", "w.txt", "a.BIN", "b.rks", "c.doc", "d.Rom"})
    write_bytes(path(QString::fromLatin1(n)), "");
  FormL w(dir());
  QCOMPARE(child<FileList>(w, "FileL")->names(), (QStringList{"disk1.odi", "x.ODI", "y.odi1"}));
  QCOMPARE(child<FileList>(w, "FileV")->names(), (QStringList{"a.BIN", "b.rks", "d.Rom", "w.txt"}));
}

void FormLTest::clickImage() {
  Simple s;
  FormL w(dir());
  choose(w, "disk1.odi");
  const FormL::MainState& st = w.state();
  QCOMPARE(child<QLabel>(w, "LabODI")->text(), QStringLiteral("disk1.odi"));
  QCOMPARE(st.PATH_ODI, path("disk1.odi"));
  // The 13 bytes from the signature; the two 00h after the number show as blanks.
  QCOMPARE(st.VER_DOS, s.disk.image().substr(5, 13));
  QCOMPARE(child<QLabel>(w, "LabVER")->text(), QStringLiteral("Dos_MX V3.6  "));
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\AB"));
  QCOMPARE(rows(w), (QStringList{"GAME     COM 3K", "README   TXT 1K",
                                 u(odi::list_row(s.record(s.docs))), ""}));
  QCOMPARE(st.KAT.KAT_POS[0], 0x3000);
  QCOMPARE(st.KAT.KAT_IDX[0], 0);
  QCOMPARE(child<ClickList>(w, "List1")->currentRow(), 0);
  auto* frame = child<QGroupBox>(w, "FrmDISK");
  QCOMPARE(frame->title(), FormL::kFrmDiskHead + QStringLiteral("31.12.99"));
  QVERIFY(
      frame->title().endsWith(QStringLiteral("каталоги                        Дата: 31.12.99")));
  QVERIFY(child<QPushButton>(w, "ComCOPY")->isEnabled());
  QVERIFY(child<QTimer>(w, "Timer1")->isActive());
  QCOMPARE(child<QTimer>(w, "Timer1")->interval(), 400);
  QCOMPARE(w.rules().FLG_KAT, std::string("0"));
  // A catalogue row shows its own date; the last row today's.
  select(w, 2);
  QCOMPARE(frame->title(), FormL::kFrmDiskHead + QStringLiteral("02.09.92"));
  QVERIFY(!child<QPushButton>(w, "ComCOPY")->isEnabled());
  select(w, 3);
  QCOMPARE(frame->title(), FormL::kFrmDiskHead + QString::fromStdString(odi::today_text()));
  QVERIFY(!child<QPushButton>(w, "ComCOPY")->isEnabled());
  QCOMPARE(st.DAT_TXT, odi::today_text());
}

void FormLTest::clickOddImages() {
  write_bytes(path("empty.odi"), "");
  DiskBuilder nosig;
  nosig.clearSignature().setDiskName("NOSIG");
  nosig.writeTo(path("nosig.odi").toStdString());
  FormL w(dir());
  choose(w, "disk1.odi");
  const QStringList before = rows(w);
  // An empty file is taken as chosen, and nothing else changes.
  choose(w, "empty.odi");
  QCOMPARE(child<QLabel>(w, "LabODI")->text(), QStringLiteral("empty.odi"));
  QCOMPARE(w.state().PATH_ODI, path("empty.odi"));
  QCOMPARE(w.state().NAM_ODI, QStringLiteral("empty.odi"));
  QVERIFY(child<QLabel>(w, "LabVER")->text().startsWith(QStringLiteral("Dos_MX")));
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\AB"));
  QCOMPARE(rows(w), before);
  choose(w, "nosig.odi");
  QCOMPARE(child<QLabel>(w, "LabVER")->text(), QStringLiteral("нет версии"));
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\NOSIG"));
  QCOMPARE(rows(w), QStringList{""});
}

void FormLTest::enterAndLeaveCatalogues() {
  FormL w(dir());
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  choose(w, "disk1.odi");
  // A real double-click on the DOCS row.
  auto* list = child<ClickList>(w, "List1");
  const QRect r = list->visualItemRect(list->item(2));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
  QCOMPARE(list->currentRow(), 2);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
  QCOMPARE(w.state().KAT.KAT_LEV, 1);
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\AB\\DOCS"));
  QCOMPARE(rows(w).last(), QStringLiteral("<<<"));
  QCOMPARE(rows(w).size(), 3);
  QCOMPARE(list->currentRow(), 0);
  // Down to SUB (row 1), back up twice: the rows left are selected again.
  dbl(w, 1);
  QCOMPARE(w.state().KAT.KAT_LEV, 2);
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\AB\\DOCS\\SUB"));
  dbl(w, 1);  // "<<<"
  QCOMPARE(w.state().KAT.KAT_LEV, 1);
  QCOMPARE(list->currentRow(), 1);
  QVERIFY(!child<QPushButton>(w, "ComCOPY")->isEnabled());  // SUB is a catalogue
  dbl(w, 2);
  QCOMPARE(w.state().KAT.KAT_LEV, 0);
  QCOMPARE(list->currentRow(), 2);
  // The up-row at the root does nothing.
  dbl(w, 3);
  QCOMPARE(w.state().KAT.KAT_LEV, 0);
  QCOMPARE(list->currentRow(), 3);
  QCOMPARE(w.rules().FLG_KAT, std::string("0"));
  // After a change of folder the list is empty; a double-click there goes up in the image
  // chosen before.
  dbl(w, 2);
  QVERIFY(QDir(dir()).mkdir("other"));
  QVERIFY(child<DirList>(w, "Dir1")->setPath(path("other")));
  QCOMPARE(list->count(), 0);
  w.List1_DblClick();
  QCOMPARE(w.state().KAT.KAT_LEV, 0);
  QCOMPARE(rows(w).size(), 4);
  QCOMPARE(list->currentRow(), 2);
}

void FormLTest::levelTenAndRememberedRow() {
  DiskBuilder deep;
  Cat c = deep.root();
  for (int i = 1; i <= 11; ++i) c = deep.addCatalogue(c, "L" + std::to_string(i));
  deep.writeTo(path("deep.odi").toStdString());
  FormL w(dir());
  choose(w, "deep.odi");
  for (int i = 1; i <= 10; ++i) dbl(w, 0);
  QCOMPARE(w.state().KAT.KAT_LEV, 10);
  const QString label = child<QLabel>(w, "LabDISK")->text();
  QVERIFY(label.endsWith(QStringLiteral("\\L10")));
  QCOMPARE(rows(w).first(), u(odi::list_row(w.state().KAT_REC[0].rec)));
  dbl(w, 0);  // L11 from level 10: nothing happens
  QCOMPARE(w.state().KAT.KAT_LEV, 10);
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), label);
  QCOMPARE(w.rules().FLG_KAT, std::string("0"));

  // The remembered row lies beyond the rebuilt list when the image changed meanwhile.
  choose(w, "disk1.odi");
  dbl(w, 2);  // into DOCS, row 2 remembered for the root
  DiskBuilder small;
  small.addFile(small.root(), {.name = "ONLY", .ext = "COM", .start = 0, .body = "x"});
  small.writeTo(path("disk1.odi").toStdString());
  dbl(w, 2);  // "<<<"
  QCOMPARE(w.state().KAT.KAT_LEV, 0);
  QCOMPARE(rows(w).size(), 2);
  QCOMPARE(child<ClickList>(w, "List1")->currentRow(), 1);
}

void FormLTest::buttonAndPanelFollowTheRow() {
  FormL w(dir());
  choose(w, "disk1.odi");
  auto* copy = child<QPushButton>(w, "ComCOPY");
  const char* all[] = {"CheckBIN", "CheckROM", "CheckRKS",  "CheckTXT",
                       "CheckDOS", "CheckWIN", "CheckKOI8", "CheckKOI7"};
  for (const char* n : all) QVERIFY2(child<QCheckBox>(w, n)->isEnabled(), n);
  QVERIFY(child<QGroupBox>(w, "FrmKOD")->isEnabled());
  // A catalogue: all off, values kept.
  const odi::Options before = w.options();
  select(w, 2);
  QVERIFY(!copy->isEnabled());
  for (const char* n : all) QVERIFY2(!child<QCheckBox>(w, n)->isEnabled(), n);
  QCOMPARE(w.options(), before);
  // A file while the type is rks: types on, recoding off.
  select(w, 1);
  click_box(w, "CheckRKS");
  select(w, 2);
  select(w, 0);
  QVERIFY(copy->isEnabled() && child<QGroupBox>(w, "FrmTIP")->isEnabled());
  QVERIFY(child<QCheckBox>(w, "CheckRKS")->isEnabled());
  QVERIFY(!child<QGroupBox>(w, "FrmKOD")->isEnabled());
  QVERIFY(!child<QCheckBox>(w, "CheckWIN")->isEnabled());
  // After a copy: "!!!" until another file or catalogue row is chosen; the last row keeps it.
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("!!!"));
  select(w, 3);
  QCOMPARE(copy->text(), QStringLiteral("!!!"));
  QVERIFY(copy->isEnabled());
  select(w, 1);
  QCOMPARE(copy->text(), QStringLiteral("копировать"));
  QVERIFY(copy->toolTip().isEmpty());
}

void FormLTest::copyEveryForm() {
  Simple s;
  const odi::Options forms[] = {
      opts(true, false, false, false, false, true, true, false),
      opts(false, true, false, false, false, true, true, false),
      opts(false, false, true, false, false, true, true, false),
      opts(false, false, false, true, false, true, true, false),
      opts(false, false, false, true, true, false, false, true),
      opts(false, false, false, true, false, false, true, true),
      opts(false, false, true, false, true, false, true, true),
  };
  FormL w(dir());
  choose(w, "disk1.odi");
  for (const odi::Options& o : forms) {
    for (int row : {0, 1}) {
      select(w, row);
      set_options(w, o);
      child<QPushButton>(w, "ComCOPY")->click();
      QCOMPARE(child<QPushButton>(w, "ComCOPY")->text(), QStringLiteral("!!!"));
      const Entry e = row == 0 ? Entry(s.game) : Entry(s.readme);
      const QString out = path("disk1/") + QString::fromStdString(odi::output_name(s.record(e), o));
      QCOMPARE(read_bytes(out), s.expected(e, o));
    }
  }
  QStringList made = QDir(path("disk1")).entryList(QDir::Files);
  QCOMPARE(made.size(), 14);
}

void FormLTest::copyNamesAndFolders() {
  Simple s;
  FormL w(dir());
  choose(w, "disk1.odi");
  select(w, 0);
  set_options(w, opts(true, false, false, false, false, true, true, false));
  child<QPushButton>(w, "ComCOPY")->click();
  QVERIFY(QFileInfo(path("disk1/GAME     COM.bin")).isFile());
  QCOMPARE(child<QLabel>(w, "LabCOPY")->text(), FormL::shorten_path(path("disk1"), 8775, 122));
  // From DOCS, with dos and KOI-7: "d", then "7".
  dbl(w, 2);
  QCOMPARE(child<QLabel>(w, "LabCOPY")->text(), FormL::shorten_path(path("disk1/DOCS"), 8775, 122));
  select(w, 0);
  set_options(w, opts(false, false, false, true, true, false, true, true));
  child<QPushButton>(w, "ComCOPY")->click();
  const QString letter = path("disk1/DOCS/LETTER   TXTd7.txt");
  QCOMPARE(read_bytes(letter), s.expected(s.letter, w.options()));
  // A second copy replaces the first whole: no tail of a longer file stays.
  write_bytes(letter, std::string(100000, 'z'));
  child<QPushButton>(w, "ComCOPY")->click();
  QCOMPARE(read_bytes(letter), s.expected(s.letter, w.options()));
  // Level 2 with the level-1 folder deleted: both made again.
  QVERIFY(QDir(path("disk1/DOCS")).removeRecursively());
  dbl(w, 1);
  select(w, 0);
  set_options(w, opts(false, false, true, false, false, false, true, true));
  child<QPushButton>(w, "ComCOPY")->click();
  QCOMPARE(read_bytes(path("disk1/DOCS/SUB/DEEP     BIN7.rks")), s.expected(s.deep, w.options()));
}

void FormLTest::copyErrors() {
  DiskBuilder bad;
  File badkat =
      bad.addFile(bad.root(), {.name = "BADKAT", .ext = "COM", .start = 0, .body = "abc"});
  bad.setRecordByte(badkat, rec::kSector, 0);
  File badfat = bad.addFile(
      bad.root(), {.name = "BADFAT", .ext = "COM", .start = 0, .body = std::string(3000, 'x')});
  bad.setFatCell(bad.chain(badfat)[1], 5, 0);
  bad.addFile(bad.root(), {.name = "FAR",
                           .ext = "COM",
                           .start = 0,
                           .body = std::string(2000, 'y'),
                           .sectors = {700, 701}});
  bad.writeTo(path("bad.odi").toStdString());
  const std::string badBytes = bad.image();
  bad.truncate(400 * 1024);
  bad.writeTo(path("short.odi").toStdString());
  bad.writeTo(path("named.odi1").toStdString());

  FormL w(dir());
  auto* copy = child<QPushButton>(w, "ComCOPY");
  choose(w, "bad.odi");
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  KATа"));
  QCOMPARE(copy->toolTip(), QStringLiteral(" Ошибка в заголовке файла\\каталога "));
  // The error text is the file's content.
  const odi::Record kat =
      odi::Record::from(std::string_view(badBytes).substr(bad.recordOffset(badkat), 32));
  QCOMPARE(
      read_bytes(path("bad/BADKAT   COM.txt")),
      odi::COPY_BUF(odi::Image(badBytes), kat, {}, odi::FIL_DAT(kat, odi::today_text())).BUF_FIL);
  QVERIFY(u(read_bytes(path("bad/BADKAT   COM.txt"))).startsWith(QStringLiteral("ОШИБКА")));
  select(w, 1);
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  FATа"));
  QVERIFY(copy->toolTip().isEmpty());
  QCOMPARE(read_bytes(path("bad/BADFAT   COM.txt")), odi::texts::err_fat());
  // The image ends before the file's sectors.
  choose(w, "short.odi");
  select(w, 2);
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  чтения"));
  QCOMPARE(copy->toolTip(), QStringLiteral(" Образ дискеты короче, чем нужно "));
  // A name without ".odi": refused, nothing made.
  const QStringList before = QDir(dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  choose(w, "named.odi1");
  QCOMPARE(child<QLabel>(w, "LabCOPY")->text(), QString());
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  имени"));
  QCOMPARE(copy->toolTip(), QStringLiteral(" Имя образа должно оканчиваться на .odi "));
  QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void FormLTest::writeFailures() {
  Simple s;
  FormL w(dir());
  auto* copy = child<QPushButton>(w, "ComCOPY");
  // The target root exists as a file.
  write_bytes(path("disk1"), "keep");
  choose(w, "disk1.odi");
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  записи"));
  QVERIFY(!copy->toolTip().isEmpty());
  QCOMPARE(read_bytes(path("disk1")), std::string("keep"));
  QVERIFY(QFile::remove(path("disk1")));
  // A catalogue level exists as a file.
  QVERIFY(QDir(dir()).mkdir("disk1"));
  write_bytes(path("disk1/DOCS"), "keep");
  dbl(w, 2);
  select(w, 0);
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  записи"));
  QVERIFY(copy->toolTip().contains(QStringLiteral("DOCS")));
  QCOMPARE(read_bytes(path("disk1/DOCS")), std::string("keep"));
  // The output path is a folder: it stays, and no partial file is left beside it.
  dbl(w, 2);  // "<<<"
  select(w, 0);
  QVERIFY(QDir(path("disk1")).mkdir("GAME     COM.txt"));
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  записи"));
  QVERIFY(QFileInfo(path("disk1/GAME     COM.txt")).isDir());
  QCOMPARE(QDir(path("disk1")).entryList(QDir::Files), (QStringList{"DOCS"}));
  // The window stays usable: another entry copies.
  select(w, 1);
  QCOMPARE(copy->text(), QStringLiteral("копировать"));
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("!!!"));
  QCOMPARE(read_bytes(path("disk1/README   TXT.txt")), s.expected(s.readme, w.options()));
}

void FormLTest::pathShortening() {
  const QString p51(51, QLatin1Char('a'));
  QCOMPARE(FormL::shorten_path(p51, 8775, 122), p51);
  QString p60;
  for (int i = 0; i < 60; ++i) p60 += QChar(u'0' + i % 10);
  QCOMPARE(FormL::shorten_path(p60, 8775, 122), QStringLiteral("...") + p60);
  QString p100;
  for (int i = 0; i < 100; ++i) p100 += QChar(u'a' + i % 26);
  QCOMPARE(FormL::shorten_path(p100, 8775, 122), QStringLiteral("...") + p100.right(68));
  // Through the label: a long image folder.
  const QString longdir = path(QString(60, QLatin1Char('f')));
  QVERIFY(QDir().mkpath(longdir));
  QVERIFY(QFile::copy(path("disk1.odi"), longdir + QStringLiteral("/disk1.odi")));
  FormL w(longdir);
  choose(w, "disk1.odi");
  const QString target = longdir + QStringLiteral("/disk1");
  QCOMPARE(child<QLabel>(w, "LabCOPY")->text(), QStringLiteral("...") + target.right(68));
}

void FormLTest::copyListFollowsTarget() {
  Simple s;
  DiskBuilder up;
  up.writeTo(path("UP.ODI").toStdString());
  up.writeTo(path("odd.odi1").toStdString());
  QVERIFY(QDir(dir()).mkdir("UP"));
  QVERIFY(QDir(dir()).mkdir("odd"));
  FormL w(dir());
  auto* fv = child<FileList>(w, "FileV");
  choose(w, "disk1.odi");
  QCOMPARE(w.state().DIR_COP, dir());  // no target folder yet
  select(w, 1);
  child<QPushButton>(w, "ComCOPY")->click();
  QCOMPARE(fv->path(), dir());
  QCOMPARE(w.state().DIR_COP, path("disk1"));
  w.Timer1_Timer();
  QCOMPARE(fv->path(), path("disk1"));
  QCOMPARE(fv->names(), QStringList{"README   TXT.txt"});
  // The real timer: a copy from DOCS shows up within a tick or two.
  dbl(w, 2);
  QCOMPARE(w.state().DIR_COP, dir());  // disk1/DOCS does not exist yet
  select(w, 0);
  child<QPushButton>(w, "ComCOPY")->click();
  QTRY_COMPARE_WITH_TIMEOUT(fv->path(), path("disk1/DOCS"), 2000);
  QCOMPARE(fv->names(), QStringList{"LETTER   TXT.txt"});
  // Level 2 while its folder is missing: the image folder.
  dbl(w, 1);
  QCOMPARE(w.state().DIR_COP, dir());
  // Upper-case .ODI has a target; .odi1 never.
  choose(w, "UP.ODI");
  QCOMPARE(w.state().DIR_COP, path("UP"));
  choose(w, "odd.odi1");
  QCOMPARE(w.state().DIR_COP, dir());
}

void FormLTest::folderChangeAndUnreadable() {
  QVERIFY(QDir(dir()).mkdir("sub"));
  QVERIFY(QDir(dir()).mkdir("disk1"));
  write_bytes(path("sub/x.odi"), "");
  FormL w(dir());
  auto* dirs = child<DirList>(w, "Dir1");
  auto* fv = child<FileList>(w, "FileV");
  choose(w, "disk1.odi");
  QCOMPARE(w.state().DIR_COP, path("disk1"));
  // Opening "sub" in the folder list.
  QListWidgetItem* subRow = nullptr;
  for (int i = 0; i < dirs->count(); ++i)
    if (dirs->item(i)->data(Qt::UserRole).toString() == path("sub")) subRow = dirs->item(i);
  QVERIFY(subRow != nullptr);
  emit dirs->itemActivated(subRow);
  QCOMPARE(dirs->path(), path("sub"));
  QCOMPARE(child<FileList>(w, "FileL")->names(), QStringList{"x.odi"});
  QCOMPARE(w.state().DIR_ODI, path("sub"));
  QCOMPARE(fv->path(), path("sub"));
  QCOMPARE(child<ClickList>(w, "List1")->count(), 0);
  for (const char* n : {"LabODI", "LabVER", "LabDISK", "LabCOPY"})
    QVERIFY(child<QLabel>(w, n)->text().isEmpty());
  QVERIFY(!child<QPushButton>(w, "ComCOPY")->isEnabled());
  QCOMPARE(w.state().KAT.KAT_NAM[0], std::string("AB"));  // the catalogue state stays
  // The next tick still points the copy list at the previous target.
  w.Timer1_Timer();
  QCOMPARE(fv->path(), path("disk1"));
  // A click in the folder list forgets it; ticks then leave the copy list where it is.
  dirs->setCurrentRow(0);
  QVERIFY(w.state().DIR_COP.isEmpty());
  QVERIFY(fv->setPath(path("sub")));
  w.Timer1_Timer();
  QCOMPARE(fv->path(), path("sub"));
  // A folder that cannot be read is not taken.
  QVERIFY(!dirs->setPath(path("nowhere")));
  QVERIFY(!dirs->setPath(path("disk1.odi")));
  QCOMPARE(dirs->path(), path("sub"));
  QCOMPARE(w.state().DIR_ODI, path("sub"));
  // A target folder that vanished before the tick: the copy list keeps its folder.
  QVERIFY(dirs->setPath(dir()));
  choose(w, "disk1.odi");
  QVERIFY(QDir(path("disk1")).removeRecursively());
  w.Timer1_Timer();
  QCOMPARE(fv->path(), dir());
}

void FormLTest::previewTextAndDump() {
  Simple s;
  FormL w(dir());
  choose(w, "disk1.odi");
  dbl(w, 1);  // README as text
  FormV* v = FormV::instance();
  QVERIFY(v != nullptr);
  QCOMPARE(v->windowTitle(), QStringLiteral("Предварительный  просмотр  файла\\README   TXT"));
  const std::string text = s.expected(s.readme, w.options());
  QCOMPARE(w.state().BUF_FIL, text);
  QCOMPARE(v->findChild<QPlainTextEdit*>("TextV")->toPlainText(), as_shown(FormV::viewText(text)));
  QVERIFY(u(text).contains(QStringLiteral("Привет")));
  // Without txt: a dump of the binary form chosen.
  click_box(w, "CheckRKS");
  dbl(w, 0);
  v = FormV::instance();
  QCOMPARE(v->windowTitle(), QStringLiteral("Предварительный  просмотр  файла\\GAME     COM"));
  const std::string dump = odi::DAMP_TXT(s.expected(s.game, w.options()), true);
  QCOMPARE(w.state().BUF_FIL, dump);
  QCOMPARE(v->findChild<QPlainTextEdit*>("TextV")->toPlainText(), as_shown(FormV::viewText(dump)));
  QCOMPARE(w.state().FLG_DMP, 1);
  QCOMPARE(w.rules().FLG_KAT, std::string("0"));
  QVERIFY(!QFileInfo::exists(path("disk1")));  // a preview writes nothing
}

void FormLTest::viewCopy() {
  const std::string bytes = odi::utf8_to_cp1251("Копия\r\nвторая строка\r\n");
  write_bytes(path("copy.txt"), bytes);
  write_bytes(path("empty.bin"), "");
  write_bytes(path("big.rom"), std::string(70000, 'q'));
  FormL w(dir());
  auto* fv = child<FileList>(w, "FileV");
  auto view = [&](const QString& name) {
    fv->setCurrentRow(static_cast<int>(fv->names().indexOf(name)));
    w.FileV_DblClick();
  };
  view("copy.txt");
  FormV* v = FormV::instance();
  QVERIFY(v != nullptr);
  QCOMPARE(v->windowTitle(), QStringLiteral("Просмотр  копии  файла\\copy.txt"));
  QCOMPARE(w.state().BUF_FIL, bytes);
  QCOMPARE(v->findChild<QPlainTextEdit*>("TextV")->toPlainText(), as_shown(FormV::viewText(bytes)));
  view("empty.bin");
  QCOMPARE(FormV::instance()->windowTitle(), QStringLiteral("Просмотр  копии  файла\\empty.bin"));
  QVERIFY(w.state().BUF_FIL.empty());
  view("big.rom");
  QCOMPARE(w.state().BUF_FIL.size(), size_t{65470});
  // A copy that vanished before the double-click is not made again.
  fv->setCurrentRow(static_cast<int>(fv->names().indexOf("copy.txt")));
  QVERIFY(QFile::remove(path("copy.txt")));
  w.FileV_DblClick();
  QVERIFY(!QFileInfo::exists(path("copy.txt")));
  QVERIFY(w.state().BUF_FIL.empty());
}

void FormLTest::helpButton() {
  // The help window keeps HelpUser.txt in the working folder: keep it out of the build tree.
  const QString before = QDir::currentPath();
  QDir::setCurrent(dir());
  FormL w(dir());
  child<QPushButton>(w, "ComHLP")->click();
  FormH* h = FormH::instance();
  QVERIFY(h != nullptr);
  child<QPushButton>(w, "ComHLP")->click();
  QCOMPARE(FormH::instance(), h);
  QVERIFY(QFileInfo::exists(path("HelpUser.txt")));
  delete h;
  QDir::setCurrent(before);
}

void FormLTest::imageChangesAfterListing() {
  FormL w(dir());
  auto* copy = child<QPushButton>(w, "ComCOPY");
  choose(w, "disk1.odi");
  // Replaced by another disk of the same layout: the copy takes the bytes there now.
  Simple other;
  std::string changed = other.disk.image();
  const size_t body = odibuild::sectorOffset(other.disk.chain(other.game)[0]);
  changed.replace(body, 4, "NEW!");
  write_bytes(path("disk1.odi"), changed);
  select(w, 0);
  set_options(w, opts(true, false, false, false, false, true, true, false));
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("!!!"));
  QCOMPARE(read_bytes(path("disk1/GAME     COM.bin")).substr(0, 4), std::string("NEW!"));

  // Vanished: the copy says so, nothing is written, a preview shows the read error text, and the
  // window goes on working.
  QVERIFY(QFile::remove(path("disk1.odi")));
  QVERIFY(QDir(path("disk1")).removeRecursively());
  copy->click();
  QCOMPARE(copy->text(), QStringLiteral("ОШИБКА  чтения"));
  QVERIFY(!copy->toolTip().isEmpty());
  QVERIFY(!QFileInfo::exists(path("disk1")));
  w.List1_DblClick();
  QCOMPARE(w.state().BUF_FIL.substr(0, 16),
           odi::DAMP_TXT(odi::texts::err_read(), true).substr(0, 16));
  dbl(w, 2);  // the catalogue DOCS of an image that is gone: an empty list with its up-row
  QCOMPARE(rows(w), QStringList{QStringLiteral("<<<")});
  dbl(w, 0);
  QCOMPARE(child<ClickList>(w, "List1")->count(), 1);
}

// A CP/M disk reads as any other: its name on the version label, user areas entered and left
// like catalogues, copies in a folder per user area. A blank disk says so and lists nothing.
void FormLTest::cpmAndBlankDisks() {
  CpmDiskBuilder cpm;
  cpm.addFile(0, "HELLO", "TXT", "Hi\r\n\x1A", {.lastRecordBytes = 5});
  cpm.addFile(2, "GAME", "COM", std::string(3000, '\xC9'), {.readOnly = true});
  cpm.writeTo(path("cpm.odi").toStdString());
  write_bytes(path("blank.odi"), std::string(819200, '\xE5'));
  FormL w(dir());
  choose(w, "cpm.odi");
  QCOMPARE(child<QLabel>(w, "LabVER")->text(), QStringLiteral("CP/M 2.2"));
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\CPM"));
  QCOMPARE(rows(w), (QStringList{"HELLO    TXT 1K", "USER 2       3K", ""}));
  QVERIFY(child<QGroupBox>(w, "FrmDISK")->title().endsWith(QStringLiteral("--.--.--")));
  dbl(w, 1);
  QCOMPARE(child<QLabel>(w, "LabDISK")->text(), QStringLiteral("\\CPM\\USER 2"));
  QCOMPARE(rows(w), (QStringList{"GAME     COM 3K R", "<<<"}));
  child<QCheckBox>(w, "CheckBIN")->click();
  select(w, 0);
  child<QPushButton>(w, "ComCOPY")->click();
  QCOMPARE(child<QPushButton>(w, "ComCOPY")->text(), QStringLiteral("!!!"));
  QCOMPARE(read_bytes(path("cpm/USER 2/GAME     COM.bin")),
           std::string(3000, '\xC9') + std::string(72, '\xE5'));  // the last record whole
  dbl(w, 1);
  QCOMPARE(w.state().KAT.KAT_LEV, 0);
  QCOMPARE(child<ClickList>(w, "List1")->currentRow(), 1);
  choose(w, "blank.odi");
  QCOMPARE(child<QLabel>(w, "LabVER")->text(), QStringLiteral("чистый диск"));
  QCOMPARE(rows(w), QStringList{""});
}
