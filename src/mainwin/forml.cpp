#include "mainwin/forml.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "extract/copy_buf.h"
#include "extract/copy_tree.h"
#include "extract/target.h"
#include "helpview/formh.h"
#include "helpview/formv.h"
#include "helpview/loafil.h"
#include "helpview/winkit.h"
#include "mainwin/lists.h"
#include "options/panel_qt.h"
#include "state/cp1251.h"

namespace fs = std::filesystem;
using odi::opt::Box;

const QString FormL::kCaption = QStringLiteral("v3.3     Kestrel\\Специалист_МХ");
const QString FormL::kFrmDiskStart = QStringLiteral(
    "Образ Дискеты        Версия                         Имя дискеты\\каталоги                     "
    "Дата: ");
const QString FormL::kFrmDiskHead = QStringLiteral(
    "Образ Дискеты        Версия                         Имя дискеты\\каталоги                     "
    "   Дата: ");
const QString FormL::kNotImage = QStringLiteral(" Не образ дискеты ODI: ");

namespace {

// The layout is kept in twips, as the window was drawn: 15 twips a pixel.
using helpview::kTwipsPerPixel;
QRect tw(int left, int top, int width, int height) {
  return helpview::pxRect(left, top, width, height);
}

QString from_cp1251(const std::string& bytes) {
  return QString::fromStdString(odi::cp1251_to_utf8(bytes));
}

fs::path to_path(const QString& s) {
  return fs::path(QFile::encodeName(s).toStdString());
}
QString from_path(const fs::path& p) {
  return QFile::decodeName(QByteArray::fromStdString(p.string()));
}

// The fonts the window was drawn with ("Courier New", "MS Sans Serif"), or their stand-ins.
QFont mono_font(qreal points) {
  return helpview::courierNew(points, true);
}
QFont sans_font(qreal points, bool bold) {
  return helpview::msSansSerif(points, bold);
}

QString join(const QString& dir, const QString& name) {
  return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

bool entry_exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

}  // namespace

FormL::FormL(const QString& start, QWidget* parent) : QWidget(parent) {
  build();
  setAcceptDrops(true);
  List1->setDragCopies([this](const QList<int>& rows) { return List1_DragOut(rows); });
  Form_Load(start);
}

FormL::~FormL() = default;

odi::opt::Rules& FormL::rules() {
  return panel_->rules;
}
odi::Options FormL::options() const {
  return panel_->rules.options();
}

void FormL::build() {
  setObjectName(QStringLiteral("FormL"));
  // A fixed border: no resizing, no maximize or minimize button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(helpview::px(10080), helpview::px(6195));
  setFont(sans_font(8, false));
  const QFont mono = mono_font(9.75);

  auto label = [&](QWidget* parent, const char* name, QRect r, const QString& text,
                   const QString& tip) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(r);
    l->setFont(mono);
    l->setToolTip(tip);
    return l;
  };
  auto check = [&](QWidget* parent, const char* name, QRect r, const QString& text,
                   const QString& tip, bool on) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(r);
    c->setFont(mono);
    c->setToolTip(tip);
    c->setChecked(on);
    c->setEnabled(false);
    return c;
  };

  // Source side.
  Label1 = label(this, "Label1", tw(60, 840, 1155, 255), QStringLiteral("ИСТОЧНИК"), {});
  Drive1 = new odi::gui::DriveList(this);
  Drive1->setObjectName(QStringLiteral("Drive1"));
  Drive1->setGeometry(tw(1260, 780, 2055, 360));
  Drive1->setFont(sans_font(9.75, true));
  Dir1 = new odi::gui::DirList(this);
  Dir1->setObjectName(QStringLiteral("Dir1"));
  Dir1->setGeometry(tw(60, 1260, 3255, 3870));
  Dir1->setFont(mono);
  Dir1->setToolTip(QStringLiteral(" Путь к каталогу ODI файлов "));
  FileL = new odi::gui::FileList(QStringLiteral("*.odi*"), this);
  FileL->setObjectName(QStringLiteral("FileL"));
  FileL->setGeometry(tw(3360, 720, 1935, 4410));
  FileL->setFont(mono);
  FileL->setToolTip(QStringLiteral(" Папка ODI файлов "));

  // Catalogue and target.
  List1 = new odi::gui::ClickList(this);
  List1->setObjectName(QStringLiteral("List1"));
  List1->setGeometry(tw(5340, 720, 2175, 4380));
  List1->setFont(mono);
  List1->setToolTip(QStringLiteral(" Программы и каталоги ODI файлов "));
  FileV = new odi::gui::FileList(QStringLiteral("*.bin;*.rom;*.rks;*.txt"), this);
  FileV->setObjectName(QStringLiteral("FileV"));
  FileV->setGeometry(tw(7560, 720, 2475, 4410));
  FileV->setFont(mono);
  FileV->setToolTip(QStringLiteral(" Папка приемника "));
  Label3 = label(this, "Label3", tw(60, 5880, 1155, 255), QStringLiteral("ПРИЕМНИК"), {});
  LabCOPY = label(this, "LabCOPY", tw(1260, 5820, 8775, 315), {}, {});

  // Top row.
  FrmDISK = new QGroupBox(kFrmDiskStart, this);
  FrmDISK->setObjectName(QStringLiteral("FrmDISK"));
  FrmDISK->setGeometry(tw(60, 0, 7515, 675));
  LabODI = label(FrmDISK, "LabODI", tw(60, 240, 1515, 315), {}, QStringLiteral(" Имя ODI файла "));
  LabVER = label(FrmDISK, "LabVER", tw(1620, 240, 1635, 315), {},
                 QStringLiteral(" Версия Dos_MX на дискете "));
  LabDISK = label(FrmDISK, "LabDISK", tw(3300, 240, 4155, 315), {},
                  QStringLiteral(" Внутреннее имя дискеты + каталоги"));
  ComCOPY = new QPushButton(QString::fromUtf8(odi::opt::text::kCopy), this);
  ComCOPY->setObjectName(QStringLiteral("ComCOPY"));
  ComCOPY->setGeometry(tw(7620, 120, 1995, 495));
  ComCOPY->setFont(mono);
  ComCOPY->setEnabled(false);
  ComHLP = new QPushButton(QStringLiteral("?"), this);
  ComHLP->setObjectName(QStringLiteral("ComHLP"));
  ComHLP->setGeometry(tw(9660, 120, 315, 495));
  ComHLP->setFont(mono_font(12));
  ComHLP->setToolTip(QStringLiteral(" О программе и форматах "));

  // Options.
  FrmTIP = new QGroupBox(QStringLiteral("Тип файла"), this);
  FrmTIP->setObjectName(QStringLiteral("FrmTIP"));
  FrmTIP->setGeometry(tw(60, 5160, 4935, 555));
  FrmTIP->setEnabled(false);
  CheckBIN = check(FrmTIP, "CheckBIN", tw(120, 240, 675, 255), QStringLiteral("bin"),
                   QStringLiteral(" Тело программы "), false);
  CheckROM = check(FrmTIP, "CheckROM", tw(1380, 240, 675, 255), QStringLiteral("rom"),
                   QStringLiteral(" Тело программы "), false);
  CheckRKS = check(
      FrmTIP, "CheckRKS", tw(2640, 240, 675, 255), QStringLiteral("rks"),
      QStringLiteral(
          " Адрес загрузки(старта) + размер программы  + тело программы + контрольная сумма "),
      false);
  CheckTXT = check(FrmTIP, "CheckTXT", tw(3900, 240, 675, 255), QStringLiteral("txt"),
                   QStringLiteral(" Тело файла + кодировки + прочее  "), true);
  FrmKOD = new QGroupBox(QString::fromUtf8(odi::opt::text::kKodKoi8), this);
  FrmKOD->setObjectName(QStringLiteral("FrmKOD"));
  FrmKOD->setGeometry(tw(5100, 5160, 4935, 555));
  FrmKOD->setEnabled(false);
  CheckDOS = check(FrmKOD, "CheckDOS", tw(120, 240, 675, 255), QStringLiteral("dos"),
                   QStringLiteral(" Перекодировка под DOS "), false);
  CheckWIN = check(FrmKOD, "CheckWIN", tw(1380, 240, 675, 255), QStringLiteral("win"),
                   QStringLiteral(" Перекодировка под WINDOWS "), true);
  CheckKOI8 = check(FrmKOD, "CheckKOI8", tw(2640, 240, 795, 255), QStringLiteral("кои8"), {}, true);
  CheckKOI7 =
      check(FrmKOD, "CheckKOI7", tw(3900, 240, 855, 255), QStringLiteral("кои7"), {}, false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));

  // The rules are bound after the start values are set: setting them raises no handler.
  odi::opt::QtPanel::Widgets w;
  w.FrmTIP = FrmTIP;
  w.FrmKOD = FrmKOD;
  w.boxes = {CheckBIN, CheckROM, CheckRKS, CheckTXT, CheckDOS, CheckWIN, CheckKOI8, CheckKOI7};
  w.ComCOPY = ComCOPY;
  panel_ = new odi::opt::QtPanel(w, this);

  connect(Drive1, &odi::gui::DriveList::Change, this, &FormL::Drive1_Change);
  connect(Dir1, &odi::gui::DirList::Change, this, &FormL::Dir1_Change);
  connect(Dir1, &odi::gui::ClickList::Click, this, &FormL::Dir1_Click);
  connect(Timer1, &QTimer::timeout, this, &FormL::Timer1_Timer);
  connect(FileL, &odi::gui::ClickList::Click, this, &FormL::FileL_Click);
  connect(List1, &odi::gui::ClickList::Click, this, &FormL::List1_Click);
  connect(List1, &odi::gui::ClickList::DblClick, this, &FormL::List1_DblClick);
  connect(ComCOPY, &QPushButton::clicked, this, &FormL::ComCOPY_Click);
  connect(FileV, &odi::gui::ClickList::DblClick, this, &FormL::FileV_DblClick);
  connect(ComHLP, &QPushButton::clicked, this, &FormL::ComHLP_Click);
}

void FormL::Form_Load(const QString& start) {
  FrmDISK->setTitle(kFrmDiskStart + QString::fromStdString(odi::today_text()));
  setWindowTitle(kCaption);
  st_.LAB_WID = static_cast<int>(std::lround(LabCOPY->width() * double{kTwipsPerPixel}));
  st_.CHR_WID = 122;

  // The start folder: the one asked for, else the working folder. The lists simply show it; no
  // Change runs at start.
  QString folder = QDir::currentPath();
  QString image;
  if (!start.isEmpty()) {
    const QFileInfo fi(start);
    if (fi.isDir()) {
      folder = fi.absoluteFilePath();
    } else if (fi.exists()) {
      folder = fi.absolutePath();
      image = fi.fileName();
    }
  }
  if (!odi::gui::folder_readable(folder)) folder = QDir::currentPath();
  if (!odi::gui::folder_readable(folder)) folder = QDir::rootPath();
  Dir1->blockSignals(true);
  Dir1->setPath(folder);
  Dir1->blockSignals(false);
  Drive1->showDriveOf(Dir1->path());
  drive_folder_.insert(Drive1->drive(), Dir1->path());
  FileL->setPath(Dir1->path());
  FileV->setPath(Dir1->path());
  st_.DIR_ODI = FileL->path();

  // An image named on the command line is chosen as a click would choose it.
  if (!image.isEmpty()) {
    const int row = static_cast<int>(FileL->names().indexOf(image));
    if (row >= 0) FileL->setCurrentRow(row);
  }
}

// ---- Source navigation ---------------------------------------------------------------------

void FormL::Drive1_Change() {
  // Each volume keeps the folder last shown on it, as a drive keeps its current folder.
  const QString drive = Drive1->drive();
  const QString folder = drive_folder_.value(drive, drive);
  if (!Dir1->setPath(folder) && !(folder != drive && Dir1->setPath(drive))) {
    // Not ready or not readable: everything stays on the folder shown.
    Drive1->showDriveOf(Dir1->path());
    return;
  }
  CLS_LIST();
}

void FormL::Dir1_Change() {
  FileL->setPath(Dir1->path());
  st_.DIR_ODI = FileL->path();
  FileV->setPath(Dir1->path());
  drive_folder_.insert(QStorageInfo(Dir1->path()).rootPath(), Dir1->path());
  CLS_LIST();
}

void FormL::Dir1_Click() {
  st_.DIR_COP.clear();
}

void FormL::Timer1_Timer() {
  // An empty DIR_COP (after a click in the folder list) or a vanished folder: the list stays.
  FileV->setPath(st_.DIR_COP);
}

void FormL::PATH_KAT() {
  st_.DIR_COP = st_.DIR_ODI;
  if (const auto root = odi::target_root(to_path(st_.PATH_ODI)); root && entry_exists(*root)) {
    fs::path dir = *root;
    bool all = true;
    for (int i = 1; i <= st_.KAT.KAT_LEV && all; ++i) {
      dir /= odi::pc_folder_name(st_.KAT.KAT_NAM[static_cast<size_t>(i)]);
      all = entry_exists(dir);
    }
    if (all) st_.DIR_COP = from_path(dir);
  }
  FileV->setPath(st_.DIR_ODI);
  Timer1->start(400);
}

// ---- Image and catalogue -------------------------------------------------------------------

void FormL::FileL_Click() {
  const QString name = FileL->fileName();
  if (name.isEmpty()) return;
  st_.NAM_ODI = name;
  LabODI->setText(name);
  st_.PATH_ODI = join(st_.DIR_ODI, name);

  const odi::LoadedImage loaded = odi::read_image_file(to_path(st_.PATH_ODI));
  // An empty (or unreadable) file is taken as chosen, but nothing else changes.
  if (!loaded.ok() || loaded.bytes.empty()) return;
  const odi::Image img(loaded.bytes);
  const auto disk = odi::open_file_system(img);

  st_.VER_DOS = disk->version_text();
  // The bytes after the version number are whatever the DOS holds there, often 00h: a label
  // shows control bytes as blanks rather than as boxes.
  QString ver = from_cp1251(st_.VER_DOS);
  for (QChar& c : ver)
    if (c.unicode() < 0x20) c = QLatin1Char(' ');
  LabVER->setText(ver);
  st_.KAT.reset_root(disk->root_name(), disk->root());
  KAT_LOAD(*disk);
}

void FormL::KAT_LOAD(const odi::FileSystem& disk) {
  odi::opt::Rules& r = rules();
  r.FLG_KAT = "1";
  const int lev = st_.KAT.KAT_LEV;
  LabDISK->setText(from_cp1251(st_.KAT.path_text()));

  st_.KAT_REC = disk.list(st_.KAT.KAT_POS[static_cast<size_t>(lev)]);
  QStringList rows;
  for (const odi::Entry& e : st_.KAT_REC) rows.append(from_cp1251(odi::list_row(e)));
  st_.KAT_REC.emplace_back().rec = odi::Record::blank();
  rows.append(lev > 0 ? QStringLiteral("<<<") : QString());
  {
    const QSignalBlocker quiet(List1);
    List1->clear();
    List1->addItems(rows);
    List1->setCurrentRow(-1);
  }

  // A remembered row beyond the rebuilt list (the image changed meanwhile) selects the last row.
  const int row = std::clamp(st_.KAT.KAT_IDX[static_cast<size_t>(lev)], 0, List1->count() - 1);
  List1->setCurrentRow(row);  // raises List1_Click
  st_.REC_IDX = List1->currentRow();

  const odi::Entry& e = st_.KAT_REC[static_cast<size_t>(st_.REC_IDX)];
  if (e.is_catalogue())
    r.NET_COPY();
  else if (e.is_file())
    r.DA_COPY();

  PATH_COPY();
  PATH_KAT();
  set_copy_result(QString::fromUtf8(odi::opt::text::kCopy), {});
  r.FLG_KAT = "0";
}

void FormL::CLS_LIST() {
  {
    const QSignalBlocker quiet(List1);
    List1->clear();
  }
  LabODI->clear();
  LabVER->clear();
  LabDISK->clear();
  LabCOPY->clear();
  set_copy_result(QString::fromUtf8(odi::opt::text::kCopy), {});
  st_.DIR_OUT.clear();
  rules().NET_COPY();
}

void FormL::List1_Click() {
  const int row = List1->currentRow();
  if (row < 0 || row >= static_cast<int>(st_.KAT_REC.size())) return;
  st_.REC_IDX = row;
  const odi::Entry& e = st_.KAT_REC[static_cast<size_t>(row)];
  if (e.is_catalogue())
    rules().NET_COPY();
  else if (e.is_file())
    rules().DA_COPY();
  FIL_DAT();
}

void FormL::FIL_DAT() {
  st_.REC_IDX = List1->currentRow();
  if (st_.REC_IDX < 0 || st_.REC_IDX >= static_cast<int>(st_.KAT_REC.size())) return;
  st_.DAT_TXT = odi::entry_date(st_.KAT_REC[static_cast<size_t>(st_.REC_IDX)], odi::today_text());
  FrmDISK->setTitle(kFrmDiskHead + from_cp1251(st_.DAT_TXT));
}

void FormL::List1_DblClick() {
  odi::opt::Rules& r = rules();
  r.FLG_KAT = "1";
  st_.LST_CNT = List1->count();
  st_.REC_IDX = List1->currentRow();
  bool load = false;
  if (st_.REC_IDX >= 0 && st_.REC_IDX < st_.LST_CNT - 1 &&
      st_.REC_IDX < static_cast<int>(st_.KAT_REC.size())) {
    const odi::Entry e = st_.KAT_REC[static_cast<size_t>(st_.REC_IDX)];
    if (e.is_file()) {
      // Preview: the entry as a copy would write it, as text, or as a dump of the binary form.
      const odi::Options opt = options();
      st_.FLG_DMP = opt.txt ? 0 : 1;
      st_.NAM_VIEW = from_cp1251(odi::NAM_WIN(odi::trim_spaces(e.rec.name_field())));
      const odi::LoadedImage loaded = odi::read_image_file(to_path(st_.PATH_ODI));
      const odi::Image img(loaded.bytes);
      st_.BUF_FIL = odi::COPY_BUF(*odi::open_file_system(img), e, opt, st_.DAT_TXT).BUF_FIL;
      if (st_.FLG_DMP == 1) st_.BUF_FIL = odi::DAMP_TXT(st_.BUF_FIL, opt.win);
      FormV::showContent(QStringLiteral("Предварительный  просмотр  файла\\") + st_.NAM_VIEW,
                         st_.BUF_FIL);
    } else if (e.is_catalogue()) {
      // At level 10 there is no room for another level: the double-click does nothing.
      load = odi::enter(st_.KAT, e, st_.REC_IDX);
    }
  } else if (st_.KAT.KAT_LEV > 0) {
    // The last row, "<<<": back to the parent catalogue, on the row remembered for it.
    load = st_.KAT.up();
  }
  if (load) {
    const odi::LoadedImage loaded = odi::read_image_file(to_path(st_.PATH_ODI));
    const odi::Image img(loaded.bytes);
    KAT_LOAD(*odi::open_file_system(img));
  }
  r.FLG_KAT = "0";
}

// ---- Copy command ---------------------------------------------------------------------------

QString FormL::shorten_path(const QString& path, int lab_wid, int chr_wid) {
  if (path.size() <= 51) return path;
  const int n = static_cast<int>(std::floor(double(lab_wid) / double(chr_wid))) - 3;
  return QStringLiteral("...") + path.right(n);
}

void FormL::PATH_COPY() {
  // The same folder names the copy makes; an image not named *.odi has no target folder.
  const auto root = odi::target_root(to_path(st_.PATH_ODI));
  st_.DIR_OUT = root ? from_path(odi::target_dir(*root, st_.KAT)) : QString();
  LabCOPY->setText(shorten_path(st_.DIR_OUT, st_.LAB_WID, st_.CHR_WID));
}

void FormL::set_copy_result(const QString& caption, const QString& tooltip) {
  ComCOPY->setText(caption);
  ComCOPY->setToolTip(tooltip);
}

void FormL::ComCOPY_Click() {
  st_.REC_IDX = List1->currentRow();
  if (st_.REC_IDX < 0 || st_.REC_IDX >= static_cast<int>(st_.KAT_REC.size())) return;
  const odi::Entry e = st_.KAT_REC[static_cast<size_t>(st_.REC_IDX)];
  const fs::path image_path = to_path(st_.PATH_ODI);

  // A name without ".odi" has no folder beside it of its own name: refused, nothing is made.
  if (!odi::target_root(image_path)) {
    set_copy_result(QStringLiteral("ОШИБКА  имени"),
                    QStringLiteral(" Имя образа должно оканчиваться на .odi "));
    return;
  }
  const odi::LoadedImage loaded = odi::read_image_file(image_path);
  if (!loaded.ok()) {
    // The image vanished or cannot be read since it was chosen: nothing is written.
    set_copy_result(QStringLiteral("ОШИБКА  чтения"), QString::fromStdString(loaded.error));
    return;
  }
  const odi::Image img(loaded.bytes);
  const odi::CopyOutcome out =
      odi::copy_entry(image_path, *odi::open_file_system(img), st_.KAT, e, options());
  switch (out.status) {
    case odi::CopyOutcome::Status::Catalogue:
      return;  // the folders exist now; a catalogue itself is not copied
    case odi::CopyOutcome::Status::BadName:
      set_copy_result(QStringLiteral("ОШИБКА  имени"),
                      QStringLiteral(" Имя образа должно оканчиваться на .odi "));
      return;
    case odi::CopyOutcome::Status::WriteFailed:
      set_copy_result(QStringLiteral("ОШИБКА  записи"), QString::fromStdString(out.error));
      break;
    case odi::CopyOutcome::Status::Written:
    case odi::CopyOutcome::Status::Kept:
      show_chain_result(out.ERR_COP);
      break;
  }
  PATH_COPY();
  PATH_KAT();
}

void FormL::show_chain_result(int err_cop) {
  switch (err_cop) {
    case odi::kCopyOk:
      set_copy_result(QStringLiteral("!!!"), {});
      break;
    case odi::kCopyBadFirst:
      set_copy_result(QStringLiteral("ОШИБКА  KATа"),
                      QStringLiteral(" Ошибка в заголовке файла\\каталога "));
      break;
    case odi::kCopyBadFat:
      set_copy_result(QStringLiteral("ОШИБКА  FATа"), {});
      break;
    case odi::kCopyTooLarge:
      set_copy_result(QStringLiteral("ОШИБКА  rks"),
                      QStringLiteral(" Файл с адреса 0100h не умещается в 64K "));
      break;
    default:
      set_copy_result(QStringLiteral("ОШИБКА  чтения"),
                      QStringLiteral(" Образ дискеты короче, чем нужно "));
      break;
  }
}

// ---- Drag and drop --------------------------------------------------------------------------

QList<QUrl> FormL::List1_DragOut(const QList<int>& rows) {
  const odi::LoadedImage loaded = odi::read_image_file(to_path(st_.PATH_ODI));
  if (!loaded.ok()) {
    set_copy_result(QStringLiteral("ОШИБКА  чтения"), QString::fromStdString(loaded.error));
    return {};
  }
  if (!drag_dir_)
    drag_dir_ =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/odiview-XXXXXX"));
  if (!drag_dir_->isValid()) {
    set_copy_result(QStringLiteral("ОШИБКА  записи"), drag_dir_->errorString());
    return {};
  }
  // A folder of its own for each drag: a program may still be taking the files of the last one.
  const fs::path root = to_path(drag_dir_->filePath(QString::number(++drags_)));
  const odi::Image img(loaded.bytes);
  const auto disk = odi::open_file_system(img);
  const odi::Options opt = options();
  QList<QUrl> urls;
  for (const int row : rows) {
    if (row < 0 || row >= static_cast<int>(st_.KAT_REC.size())) continue;
    const odi::RowCopy c =
        odi::copy_row_into(root, *disk, st_.KAT, st_.KAT_REC[static_cast<size_t>(row)], row, opt);
    if (!c.path.empty()) urls.append(QUrl::fromLocalFile(from_path(c.path)));
    if (!c.error.empty())
      set_copy_result(QStringLiteral("ОШИБКА  записи"), QString::fromStdString(c.error));
    else if (c.ERR_COP != odi::kCopyOk)
      show_chain_result(c.ERR_COP);
    else if (c.too_deep)
      set_copy_result(QStringLiteral("ОШИБКА  уровня"),
                      QStringLiteral(" Глубже десяти уровней каталогов "));
  }
  return urls;
}

bool FormL::Form_Drop(const QStringList& files, QPoint where) {
  for (const QString& f : files)
    if (open_image(f)) return true;
  const QString name = files.isEmpty() ? QString() : QFileInfo(files.first()).fileName();
  QToolTip::showText(mapToGlobal(where), kNotImage + name, this);
  return false;
}

bool FormL::open_image(const QString& file) {
  // Only what the image list would show and the folder list could open; else nothing moves.
  const QFileInfo fi(file);
  if (!fi.isFile() || !fi.isReadable() || fi.isHidden() || !FileL->matches(fi.fileName()) ||
      !odi::gui::folder_readable(fi.absolutePath()))
    return false;
  Dir1->setPath(fi.absolutePath());  // raises Change when the folder is another one
  Drive1->showDriveOf(Dir1->path());
  FileL->setPath(Dir1->path());  // lists a file made since the folder was read
  const auto row = static_cast<int>(FileL->names().indexOf(fi.fileName()));
  if (row < 0) return false;
  FileL->setCurrentRow(-1);
  FileL->setCurrentRow(row);  // raises FileL_Click, also for the image chosen already
  return true;
}

void FormL::dragEnterEvent(QDragEnterEvent* e) {
  // The window's own rows dragged over it are copies on their way out, not images coming in.
  const auto* from = qobject_cast<const QWidget*>(e->source());
  if (e->mimeData()->hasUrls() && !(from && from->window() == this)) e->acceptProposedAction();
}

void FormL::dropEvent(QDropEvent* e) {
  QStringList files;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) files.append(u.toLocalFile());
  Form_Drop(files, e->position().toPoint());
  e->acceptProposedAction();
}

void FormL::closeEvent(QCloseEvent* e) {
  drag_dir_.reset();  // the copies handed out by drags go with the window
  QWidget::closeEvent(e);
}

// ---- Viewer and help ------------------------------------------------------------------------

void FormL::FileV_DblClick() {
  const QString name = FileV->fileName();
  if (name.isEmpty()) return;
  st_.NAM_VIEW = name;
  st_.DIR_VIEW = FileV->path();
  st_.PATH_VIEW = join(st_.DIR_VIEW, name);
  // A copy that vanished meanwhile shows empty; it is never created.
  st_.BUF_FIL = LOA_FIL(to_path(st_.PATH_VIEW)).bytes;
  FormV::showContent(QStringLiteral("Просмотр  копии  файла\\") + st_.NAM_VIEW, st_.BUF_FIL);
}

void FormL::ComHLP_Click() {
  FormH::showHelp();
}
