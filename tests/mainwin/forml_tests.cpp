// The options panel's rules as click sequences, then the main window on disks written by the
// builder, in temporary folders: choosing an image, walking catalogues, copies and their failures,
// the copy list, previews, drags out and drops in.
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <sstream>

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

using odi::gui::ClickList;
using odi::gui::DirList;
using odi::gui::FileList;
using odi::opt::Box;
using odi::opt::Panel;
using odi::opt::Part;
using namespace odibuild;

namespace {

std::unique_ptr<QTemporaryDir> g_tmp;

QString path(const QString& rel = {}) {
  return rel.isEmpty() ? g_tmp->path() : g_tmp->path() + QLatin1Char('/') + rel;
}
std::string read_bytes(const QString& file) {
  QFile f(file);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
}
void write_bytes(const QString& file, const std::string& bytes) {
  QFile f(file);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The usual disk: AB with GAME.COM (binary), README.TXT (text), DOCS/LETTER.TXT, DOCS/SUB/DEEP.BIN.
struct Simple {
  DiskBuilder disk;
  File game, readme, letter;
  Simple() {
    disk.setDiskName("  AB  ");
    std::string body;
    for (int i = 0; i < 2500; ++i) body += static_cast<char>(i * 7);
    game = disk.addFile(disk.root(), fileSpec("GAME", "COM", 0x9000, body, Date::of(31, 12, 99)));
    readme = disk.addFile(
        disk.root(),
        fileSpec("README", "TXT", 0x1100, koi8Text("Привет,\tмир!\nВторая строка\n") + "\xFF"));
    const Cat docs = disk.addCatalogue(disk.root(), "DOCS", Date::of(2, 9, 92));
    letter = disk.addFile(docs, fileSpec("LETTER", "TXT", 0, koi7Text("ПИСЬМО\n")));
    disk.addFile(disk.addCatalogue(docs, "SUB"), fileSpec("DEEP", "BIN", 0x100, "deep"));
  }
  odi::Record record(Entry e) const {
    return odi::Record::from(std::string_view(disk.image()).substr(disk.recordOffset(e), 32));
  }
  // What the core's copy of entry `e` holds in the form `opt`.
  std::string expected(Entry e, const odi::Options& opt) const {
    return odi::COPY_BUF(odi::Image(disk.image()), record(e), opt, odi::FIL_DAT(record(e), ""))
        .BUF_FIL;
  }
};

template <class T>
T* child(FormL& w, const char* name) {
  T* c = w.findChild<T*>(QString::fromLatin1(name));
  if (c == nullptr) qFatal("no control %s", name);
  return c;
}
QString text(FormL& w, const char* label) {
  return child<QLabel>(w, label)->text();
}

// The catalogue side as shown: the path label, the rows with the selected one in brackets, and
// the copy button's caption ("-" while it is off).
QString snap(FormL& w) {
  auto* l = child<ClickList>(w, "List1");
  QStringList rows;
  for (int i = 0; i < l->count(); ++i)
    rows << (i == l->currentRow() ? "[" + l->item(i)->text() + "]" : l->item(i)->text());
  auto* copy = child<QPushButton>(w, "ComCOPY");
  return text(w, "LabDISK") + " " + rows.join('|') + " " + (copy->isEnabled() ? copy->text() : "-");
}

// A click on an image of FileL, as the user makes it; the catalogue side afterwards.
QString choose(FormL& w, const QString& name) {
  auto* fl = child<FileList>(w, "FileL");
  fl->setPath(fl->path());
  fl->setCurrentRow(-1);
  fl->setCurrentRow(static_cast<int>(fl->names().indexOf(name)));
  return snap(w);
}
// Selecting a row of List1 from code (the click handling runs), and double-clicking it.
QString select(FormL& w, int row) {
  auto* l = child<ClickList>(w, "List1");
  if (l->currentRow() == row) l->setCurrentRow(-1);
  l->setCurrentRow(row);
  return snap(w);
}
QString dbl(FormL& w, int row) {
  select(w, row);
  w.List1_DblClick();
  return snap(w);
}
// The copy button clicked: its caption and tooltip afterwards.
QString copy(FormL& w) {
  auto* button = child<QPushButton>(w, "ComCOPY");
  button->click();
  return button->text() + " /" + button->toolTip() + "/";
}

// Every file below `dir` by its path there, with its bytes.
QMap<QString, std::string> tree(const QString& dir) {
  QMap<QString, std::string> files;
  for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
       it.hasNext();) {
    const QString f = it.next();
    files.insert(QDir(dir).relativeFilePath(f), read_bytes(f));
  }
  return files;
}

// What a drag of rows of List1 carries, asked for as the list's own drag asks for it.
std::unique_ptr<QMimeData> drag(FormL& w, const QList<int>& rows) {
  QAbstractItemModel* m = child<ClickList>(w, "List1")->model();
  QModelIndexList indexes;
  for (const int r : rows) indexes.append(m->index(r, 0));
  return std::unique_ptr<QMimeData>(m->mimeData(indexes));
}

// Files dragged onto the window and dropped.
void drop(FormL& w, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : files) urls.append(QUrl::fromLocalFile(f));
  data.setUrls(urls);
  // A drop goes where the drag's entry was taken.
  QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&w, &enter);
  QDropEvent e(QPointF(40, 40), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(&w, &e);
}

// Options from the names of the boxes ticked: "rks dos koi7".
odi::Options opts(const std::string& boxes) {
  auto has = [&](const char* b) {
    return (" " + boxes + " ").find(" " + std::string(b) + " ") != std::string::npos;
  };
  odi::Options o;
  o.bin = has("bin"), o.rom = has("rom"), o.rks = has("rks"), o.txt = has("txt");
  o.dos = has("dos"), o.win = has("win"), o.koi8 = has("koi8"), o.koi7 = has("koi7");
  return o;
}

// Sets the boxes' values from code (each box's handler runs), in an order the rules let through:
// a source is ticked before the other one is cleared.
void set_options(FormL& w, const std::string& boxes) {
  const odi::Options o = opts(boxes);
  const char* const names[] = {"CheckKOI8", "CheckKOI7", "CheckKOI8", "CheckDOS", "CheckWIN",
                               "CheckBIN",  "CheckROM",  "CheckRKS",  "CheckTXT"};
  const bool on[] = {o.koi8 || !o.koi7, o.koi7, o.koi8, o.dos, o.win, o.bin, o.rom, o.rks, o.txt};
  for (size_t i = 0; i < 9; ++i) child<QCheckBox>(w, names[i])->setChecked(on[i]);
  QCOMPARE(w.options(), o);
}

// The rules alone: after every step one type, at most one target code page, a source code, and
// each box and frame enabled exactly when the user may use it.
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

const QString kRoot = "\\AB GAME     COM 3K|README   TXT 1K|DOCS         2K|";

}  // namespace

class FormLTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    g_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(g_tmp->isValid());
    Simple().disk.writeTo(path("disk1.odi").toStdString());
  }
  void cleanup() {
    delete FormV::instance();
    delete FormH::instance();
    g_tmp.reset();
  }

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

  void chooseImagesAndWalkCatalogues() {
    write_bytes(path("empty.odi"), "");
    DiskBuilder nosig;
    nosig.clearSignature().setDiskName("NOSIG");
    nosig.writeTo(path("nosig.odi").toStdString());
    FormL w(path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(choose(w, "disk1.odi"),
             "\\AB [GAME     COM 3K]|README   TXT 1K|DOCS         2K| копировать");
    // The 13 bytes from the signature: the two 00h after the number show as blanks.
    QCOMPARE(text(w, "LabODI") + "|" + text(w, "LabVER"),
             QStringLiteral("disk1.odi|Dos_MX V3.6  "));
    auto* frame = child<QGroupBox>(w, "FrmDISK");
    QVERIFY(
        frame->title().endsWith(QStringLiteral("каталоги                        Дата: 31.12.99")));
    QCOMPARE(child<QTimer>(w, "Timer1")->interval(), 400);
    QVERIFY(child<QTimer>(w, "Timer1")->isActive());
    const auto boxes = w.findChildren<QCheckBox*>();
    for (const QWidget* box : boxes) QVERIFY(box->isEnabled());  // a file row, txt for win
    // A catalogue row shows its own date and switches the panel off; the last row shows today's.
    QCOMPARE(select(w, 2), "\\AB GAME     COM 3K|README   TXT 1K|[DOCS         2K]| -");
    for (const QWidget* box : boxes) QVERIFY(!box->isEnabled());
    QCOMPARE(frame->title(), FormL::kFrmDiskHead + QStringLiteral("02.09.92"));
    select(w, 3);
    QCOMPARE(frame->title(), FormL::kFrmDiskHead + QString::fromStdString(odi::today_text()));
    // A real double-click on the DOCS row; down to SUB and back up: the rows left are selected
    // again, and the up-row at the root does nothing.
    auto* list = child<ClickList>(w, "List1");
    const QRect r = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(snap(w),
             QStringLiteral("\\AB\\DOCS [LETTER   TXT 1K]|SUB          1K|<<< копировать"));
    QCOMPARE(dbl(w, 1), QStringLiteral("\\AB\\DOCS\\SUB [DEEP     BIN 1K]|<<< копировать"));
    QCOMPARE(dbl(w, 1), QStringLiteral("\\AB\\DOCS LETTER   TXT 1K|[SUB          1K]|<<< -"));
    QCOMPARE(dbl(w, 2), "\\AB GAME     COM 3K|README   TXT 1K|[DOCS         2K]| -");
    QCOMPARE(dbl(w, 3), kRoot + "[] -");
    // An empty file is taken as chosen, and nothing else changes; no signature, no version.
    QCOMPARE(choose(w, "empty.odi"), kRoot + "[] -");
    QCOMPARE(text(w, "LabODI") + "|" + text(w, "LabVER"),
             QStringLiteral("empty.odi|Dos_MX V3.6  "));
    QCOMPARE(choose(w, "nosig.odi"), QStringLiteral("\\NOSIG [] -"));
    QCOMPARE(text(w, "LabVER"), QStringLiteral("нет версии"));
    // The remembered row lies beyond the list rebuilt from an image changed meanwhile.
    choose(w, "disk1.odi");
    dbl(w, 2);
    DiskBuilder small;
    small.addFile(small.root(), fileSpec("ONLY", "COM", 0, "x"));
    small.writeTo(path("disk1.odi").toStdString());
    QCOMPARE(dbl(w, 2), QStringLiteral("\\AB ONLY     COM 1K|[] копировать"));
    // Ten levels down there is no room for another: its double-click does nothing.
    DiskBuilder deep;
    Cat c = deep.root();
    for (int i = 1; i <= 11; ++i) c = deep.addCatalogue(c, "L" + std::to_string(i));
    deep.writeTo(path("deep.odi").toStdString());
    choose(w, "deep.odi");
    for (int i = 0; i < 10; ++i) dbl(w, 0);
    const QString at10 = "\\DISK\\L1\\L2\\L3\\L4\\L5\\L6\\L7\\L8\\L9\\L10 [L11          0K]|<<< -";
    QCOMPARE(snap(w), at10);
    QCOMPARE(dbl(w, 0), at10);
  }

  void copyEveryFormAndButtonState() {
    Simple s;
    FormL w(path());
    choose(w, "disk1.odi");
    for (const char* form : {"bin win koi8", "rom win koi8", "rks dos koi8 koi7", "txt dos koi7"}) {
      for (const Entry e : {Entry(s.game), Entry(s.readme)}) {
        select(w, e.id == s.game.id ? 0 : 1);
        set_options(w, form);
        QCOMPARE(copy(w), QStringLiteral("!!! //"));
        const auto name = QString::fromStdString(odi::output_name(s.record(e), opts(form)));
        QCOMPARE(read_bytes(path("disk1/") + name), s.expected(e, opts(form)));
      }
    }
    QCOMPARE(QDir(path("disk1")).entryList(QDir::Files).size(), 8);
    QCOMPARE(text(w, "LabCOPY"), FormL::shorten_path(path("disk1"), 8775, 122));
    // "!!!" stays on the last row and goes with a file or catalogue row; a catalogue row switches
    // the panel off and keeps its values.
    QCOMPARE(select(w, 3), kRoot + "[] !!!");
    QCOMPARE(select(w, 2), "\\AB GAME     COM 3K|README   TXT 1K|[DOCS         2K]| -");
    QCOMPARE(w.options(), opts("txt dos koi7"));
    QCOMPARE(select(w, 1), "\\AB GAME     COM 3K|[README   TXT 1K]|DOCS         2K| копировать");
    // The recoding frame names the sources ticked, and follows the type, also when the value is
    // set from code.
    child<QCheckBox>(w, "CheckKOI8")->click();
    QCOMPARE(child<QGroupBox>(w, "FrmKOD")->title(),
             QStringLiteral("Перекодировка  КОИ8 + КОИ7  под"));
    child<QCheckBox>(w, "CheckRKS")->setChecked(true);
    QVERIFY(!child<QCheckBox>(w, "CheckTXT")->isChecked());
    QVERIFY(!child<QGroupBox>(w, "FrmKOD")->isEnabled() &&
            !child<QCheckBox>(w, "CheckDOS")->isEnabled());
    // From DOCS: into the catalogue's folder.
    dbl(w, 2);
    QCOMPARE(text(w, "LabCOPY"), FormL::shorten_path(path("disk1/DOCS"), 8775, 122));
    copy(w);
    QCOMPARE(read_bytes(path("disk1/DOCS/LETTER   TXTd7.rks")), s.expected(s.letter, w.options()));
  }

  void copyFailures() {
    DiskBuilder bad;
    File badkat = bad.addFile(bad.root(), fileSpec("BADKAT", "COM", 0, "abc"));
    bad.setRecordByte(badkat, rec::kSector, 0);
    File badfat = bad.addFile(bad.root(), fileSpec("BADFAT", "COM", 0, std::string(3000, 'x')));
    bad.setFatCell(bad.chain(badfat)[1], 5, 0);
    bad.addFile(bad.root(),
                fileSpec("FAR", "COM", 0, std::string(2000, 'y')).inSectors({700, 701}));
    bad.writeTo(path("bad.odi").toStdString());
    bad.truncate(400 * 1024);
    bad.writeTo(path("short.odi").toStdString());
    bad.writeTo(path("named.odi1").toStdString());
    write_bytes(path("disk1"), "keep");
    FormL w(path());
    // Each error is shown on the button; its text is the file's content.
    choose(w, "bad.odi");
    QCOMPARE(copy(w), QStringLiteral("ОШИБКА  KATа / Ошибка в заголовке файла\\каталога /"));
    QCOMPARE(read_bytes(path("bad/BADKAT   COM.txt")), odi::texts::err_catalogue());
    select(w, 1);
    QCOMPARE(copy(w), QStringLiteral("ОШИБКА  FATа //"));
    QCOMPARE(read_bytes(path("bad/BADFAT   COM.txt")), odi::texts::err_fat());
    choose(w, "short.odi");  // the image ends before the file's sectors
    select(w, 2);
    QCOMPARE(copy(w), QStringLiteral("ОШИБКА  чтения / Образ дискеты короче, чем нужно /"));
    // A name without ".odi": refused, nothing made.
    const QStringList before = QDir(path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    choose(w, "named.odi1");
    QCOMPARE(text(w, "LabCOPY"), QString());
    QCOMPARE(copy(w), QStringLiteral("ОШИБКА  имени / Имя образа должно оканчиваться на .odi /"));
    QCOMPARE(QDir(path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    // The target folder cannot be made: a file holds its name, and stays.
    choose(w, "disk1.odi");
    QVERIFY(copy(w).startsWith(QStringLiteral("ОШИБКА  записи /Not a directory: ")));
    QCOMPARE(read_bytes(path("disk1")), std::string("keep"));
    // The image replaced since it was listed: the copy takes the bytes there now.
    QVERIFY(QFile::remove(path("disk1")));
    Simple other;
    std::string changed = other.disk.image();
    changed.replace(sectorOffset(other.disk.chain(other.game)[0]), 4, "NEW!");
    write_bytes(path("disk1.odi"), changed);
    set_options(w, "bin win koi8");
    copy(w);
    QCOMPARE(read_bytes(path("disk1/GAME     COM.bin")).substr(0, 4), std::string("NEW!"));
    // Vanished: the copy says so and writes nothing, a preview shows the read error text, and a
    // catalogue of it is an empty list with its up-row.
    QVERIFY(QFile::remove(path("disk1.odi")));
    QVERIFY(QDir(path("disk1")).removeRecursively());
    QVERIFY(copy(w).startsWith(QStringLiteral("ОШИБКА  чтения /No such file")));
    QVERIFY(!QFileInfo::exists(path("disk1")));
    w.List1_DblClick();
    QCOMPARE(w.state().BUF_FIL, odi::DAMP_TXT(odi::texts::err_read(), true));
    QCOMPARE(dbl(w, 2), QStringLiteral("\\AB\\DOCS [<<<] -"));
  }

  void pathShortening() {
    QString p51(51, QLatin1Char('a')), p60, p100;
    for (int i = 0; i < 60; ++i) p60 += QChar(u'0' + i % 10);
    for (int i = 0; i < 100; ++i) p100 += QChar(u'a' + i % 26);
    QCOMPARE(FormL::shorten_path(p51, 8775, 122), p51);
    QCOMPARE(FormL::shorten_path(p60, 8775, 122), QStringLiteral("...") + p60);
    QCOMPARE(FormL::shorten_path(p100, 8775, 122), QStringLiteral("...") + p100.right(68));
  }

  void copyListAndFolders() {
    DiskBuilder().writeTo(path("UP.ODI").toStdString());
    DiskBuilder().writeTo(path("odd.odi1").toStdString());
    for (const char* d : {"UP", "odd", "sub"}) QVERIFY(QDir(path()).mkdir(d));
    for (const char* n : {"a.BIN", "c.doc", "d.Rom"}) write_bytes(path(QString::fromLatin1(n)), "");
    FormL w(path());
    auto* fv = child<FileList>(w, "FileV");
    auto* dirs = child<DirList>(w, "Dir1");
    // Each list shows the folder with its own patterns, letter case ignored.
    QCOMPARE(child<FileList>(w, "FileL")->names(),
             (QStringList{"disk1.odi", "odd.odi1", "UP.ODI"}));
    QCOMPARE(fv->names(), (QStringList{"a.BIN", "d.Rom"}));
    // The timer points the copy list at the catalogue's folder once a copy has made it.
    choose(w, "disk1.odi");
    QCOMPARE(w.state().DIR_COP, path());
    select(w, 1);
    copy(w);
    QCOMPARE(w.state().DIR_COP, path("disk1"));
    QCOMPARE(fv->path(), path());
    w.Timer1_Timer();
    QCOMPARE(fv->names(), QStringList{"README   TXT.txt"});
    dbl(w, 2);
    QCOMPARE(w.state().DIR_COP, path());  // disk1/DOCS does not exist yet
    copy(w);
    QTRY_COMPARE_WITH_TIMEOUT(fv->path(), path("disk1/DOCS"), 2000);  // the real timer
    dbl(w, 1);  // level 2 while its folder is missing: the image folder
    QCOMPARE(w.state().DIR_COP, path());
    // Upper-case .ODI has a target; .odi1 never.
    choose(w, "UP.ODI");
    QCOMPARE(w.state().DIR_COP, path("UP"));
    choose(w, "odd.odi1");
    QCOMPARE(w.state().DIR_COP, path());
    // Opening "sub" in the folder list: the lists show it, the catalogue side is cleared, and
    // the next tick still points the copy list at the previous target.
    choose(w, "disk1.odi");
    for (int i = 0; i < dirs->count(); ++i)
      if (dirs->item(i)->data(Qt::UserRole).toString() == path("sub"))
        emit dirs->itemActivated(dirs->item(i));
    QCOMPARE(child<FileList>(w, "FileL")->path() + "|" + fv->path(),
             path("sub") + "|" + path("sub"));
    QCOMPARE(text(w, "LabODI") + text(w, "LabVER") + text(w, "LabCOPY") + snap(w),
             QStringLiteral("  -"));
    w.Timer1_Timer();
    QCOMPARE(fv->path(), path("disk1"));
    // A click in the folder list forgets it; ticks then leave the copy list where it is.
    dirs->setCurrentRow(0);
    QVERIFY(fv->setPath(path("sub")));
    w.Timer1_Timer();
    QCOMPARE(fv->path(), path("sub"));
    // A folder that cannot be read is not taken.
    QVERIFY(!dirs->setPath(path("nowhere")));
    QVERIFY(!dirs->setPath(path("disk1.odi")));
    QCOMPARE(w.state().DIR_ODI, path("sub"));
  }

  void previewAndViewer() {
    Simple s;
    FormL w(path());
    // What the viewer shows: its caption, then the text (a text box keeps no-break spaces as
    // spaces).
    auto viewer = [] {
      return FormV::instance()->windowTitle() + "\n" +
             FormV::instance()->findChild<QPlainTextEdit*>("TextV")->toPlainText();
    };
    auto shown = [](const QString& caption, const std::string& bytes) {
      QPlainTextEdit box;
      box.setPlainText(FormV::viewText(bytes));
      return caption + "\n" + box.toPlainText();
    };
    choose(w, "disk1.odi");
    dbl(w, 1);  // README as text
    const std::string text = s.expected(s.readme, w.options());
    QCOMPARE(w.state().BUF_FIL, text);
    QCOMPARE(viewer(), shown("Предварительный  просмотр  файла\\README   TXT", text));
    // Without txt: a dump of the binary form chosen. A preview writes nothing.
    child<QCheckBox>(w, "CheckRKS")->click();
    dbl(w, 0);
    const std::string dump = odi::DAMP_TXT(s.expected(s.game, w.options()), true);
    QCOMPARE(w.state().BUF_FIL, dump);
    QCOMPARE(viewer(), shown("Предварительный  просмотр  файла\\GAME     COM", dump));
    QVERIFY(!QFileInfo::exists(path("disk1")));
    // A copy in the copy list, double-clicked.
    const std::string bytes = odi::utf8_to_cp1251("Копия\r\nвторая строка\r\n");
    write_bytes(path("copy.txt"), bytes);
    auto* fv = child<FileList>(w, "FileV");
    QVERIFY(fv->setPath(path()));
    fv->setCurrentRow(static_cast<int>(fv->names().indexOf("copy.txt")));
    w.FileV_DblClick();
    QCOMPARE(viewer(), shown("Просмотр  копии  файла\\copy.txt", bytes));
    // "?" opens the one help window, which keeps HelpUser.txt in the working folder.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(path());
    child<QPushButton>(w, "ComHLP")->click();
    QDir::setCurrent(cwd);
    QVERIFY(FormH::instance() != nullptr && QFileInfo::exists(path("HelpUser.txt")));
  }

  // A CP/M disk reads as any other: its name on the version label, user areas entered and left
  // like catalogues, copies in a folder per user area. A blank disk says so and lists nothing.
  void cpmAndBlankDisks() {
    CpmDiskBuilder cpm;
    cpm.addFile(0, "HELLO", "TXT", "Hi\r\n\x1A", {.lastRecordBytes = 5});
    cpm.addFile(2, "GAME", "COM", std::string(3000, '\xC9'), {.readOnly = true});
    cpm.writeTo(path("cpm.odi").toStdString());
    write_bytes(path("blank.odi"), std::string(819200, '\xE5'));
    FormL w(path());
    QCOMPARE(choose(w, "cpm.odi"),
             QStringLiteral("\\CPM [HELLO    TXT 1K]|USER 2       3K| копировать"));
    QCOMPARE(text(w, "LabVER"), QStringLiteral("CP/M 2.2"));
    QVERIFY(child<QGroupBox>(w, "FrmDISK")->title().endsWith(QStringLiteral("--.--.--")));
    QCOMPARE(dbl(w, 1), QStringLiteral("\\CPM\\USER 2 [GAME     COM 3K R]|<<< копировать"));
    set_options(w, "bin koi8");
    QCOMPARE(copy(w), QStringLiteral("!!! //"));
    QCOMPARE(read_bytes(path("cpm/USER 2/GAME     COM.bin")),
             std::string(3000, '\xC9') + std::string(72, '\xE5'));  // the last record whole
    QCOMPARE(dbl(w, 1), QStringLiteral("\\CPM HELLO    TXT 1K|[USER 2       3K]| -"));
    QCOMPARE(choose(w, "blank.odi"), QStringLiteral("\\ [] -"));
    QCOMPARE(text(w, "LabVER"), QStringLiteral("чистый диск"));
  }

  // A file row and a catalogue row dragged out: the files `odi extract` writes for them, in a
  // folder of the window's own, gone when it closes; nothing beside the image. A broken chain
  // is left out with the copy button's message.
  void dragOutIsWhatExtractWrites() {
    FormL w(path());
    choose(w, "disk1.odi");
    set_options(w, "txt dos koi7");
    const QString copies = w.state().DIR_COP;
    const auto data = drag(w, {0, 2, 3});  // GAME, DOCS and the up-row
    QVERIFY(data && data->hasFormat("text/uri-list"));
    // Only a copy: a drag that moved would take the rows out of the list.
    QCOMPARE(child<ClickList>(w, "List1")->model()->supportedDragActions(), Qt::CopyAction);
    const QList<QUrl> urls = data->urls();
    QCOMPARE(urls.size(), 2);
    const QFileInfo file(urls[0].toLocalFile()), folder(urls[1].toLocalFile());
    QCOMPARE(file.fileName() + "|" + folder.fileName(), QStringLiteral("GAME     COMd7.txt|DOCS"));
    QProcess odi;
    odi.start(QStringLiteral(ODI_BIN),
              {"extract", "-q", "--type", "txt", "--codepage", "dos", "--no-koi8", "--koi7", "-o",
               path("out"), path("disk1.odi"), "GAME.COM", "DOCS"});
    QVERIFY(odi.waitForFinished() && odi.exitCode() == 0);
    QCOMPARE(tree(path("out")).size(), 3);  // GAME, DOCS/LETTER, DOCS/SUB/DEEP
    QCOMPARE(tree(file.absolutePath()), tree(path("out")));
    QCOMPARE(folder.absolutePath(), file.absolutePath());
    QVERIFY(!QFileInfo::exists(path("disk1")));
    QCOMPARE(w.state().DIR_COP, copies);

    DiskBuilder bad;
    const File badfat =
        bad.addFile(bad.root(), fileSpec("BADFAT", "COM", 0, std::string(3000, 'x')));
    bad.setFatCell(bad.chain(badfat)[1], 5, 0);
    bad.writeTo(path("bad.odi").toStdString());
    choose(w, "bad.odi");
    QVERIFY(!drag(w, {0}));
    QCOMPARE(child<QPushButton>(w, "ComCOPY")->text(), QStringLiteral("ОШИБКА  FATа"));
    w.close();
    QVERIFY(!QFileInfo::exists(file.absolutePath()));
  }

  // A drop of no image says so and changes nothing; of several files, the first image is chosen
  // as the lists would choose it.
  void dropOpensImage() {
    QVERIFY(QDir(path()).mkpath("sub/notes"));
    Simple().disk.writeTo(path("sub/two.odi").toStdString());
    write_bytes(path("sub/notes/a.txt"), "text");
    FormL w(path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    choose(w, "disk1.odi");
    const QString before = snap(w);
    auto* dirs = child<DirList>(w, "Dir1");
    drop(w, {path("sub/notes/a.txt")});
    QCOMPARE(QToolTip::text(), FormL::kNotImage + "a.txt");
    QCOMPARE(dirs->path() + snap(w) + w.state().PATH_ODI, path() + before + path("disk1.odi"));
    drop(w, {path("sub/notes/a.txt"), path("sub/two.odi"), path("disk1.odi")});
    QCOMPARE(dirs->path() + "|" + child<FileList>(w, "FileL")->fileName(),
             path("sub") + "|two.odi");
    QCOMPARE(w.state().PATH_ODI + snap(w), path("sub/two.odi") + before);
  }
};

QTEST_MAIN(FormLTest)
#include "forml_tests.moc"
