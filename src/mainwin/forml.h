// FormL, the main window: the source (drives, folders, images) on the left, the catalogue of the
// chosen image in the middle, the copies already made on the right; above them the facts of the
// image and the copy button, below them the options and the target folder.
//
// Everything runs in the handlers below, on the one user-interface thread. They read the widgets,
// ask the core (src/image, src/extract) and show the outcome; the option rules live in
// src/options. No file stays open between two events: each event that needs the image reads it
// whole, once.
//
// Rows of the catalogue list dragged out become the copies the copy button would write, made in a
// temporary folder of the window's own (gone when the window closes); an image dropped onto the
// window is opened as though it had been chosen in the lists.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "image/catalogue.h"
#include "image/fs.h"
#include "image/image.h"
#include "image/record.h"
#include "state/options.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTemporaryDir;
class QTimer;

namespace odi::opt {
class QtPanel;
class Rules;
}  // namespace odi::opt

namespace odi::gui {
class ClickList;
class DirList;
class DriveList;
class FileList;
}  // namespace odi::gui

class FormL : public QWidget {
  Q_OBJECT

 public:
  // What the procedures hand each other.
  struct MainState {
    QString DIR_ODI;                  // the folder FileL shows
    QString NAM_ODI;                  // the chosen image, without folder
    QString PATH_ODI;                 // DIR_ODI + "/" + NAM_ODI
    odi::CatalogueStack KAT;          // KAT_LEV, KAT_POS, KAT_NAM, KAT_IDX
    std::vector<odi::Entry> KAT_REC;  // entry i for List1 row i; the last row's record is blank
    int REC_IDX = 0;
    int LST_CNT = 0;
    std::string VER_DOS;  // CP1251
    std::string DAT_TXT;  // DD.MM.YY of the selected row
    QString DIR_COP;      // what the timer puts into FileV; empty until a catalogue is shown
    QString DIR_OUT;      // the target folder last shown in LabCOPY
    int LAB_WID = 0;      // twips
    int CHR_WID = 0;      // twips per character of LabCOPY
    int FLG_DMP = 0;
    std::string BUF_FIL;  // the content last copied, previewed or viewed (CP1251 bytes)
    QString NAM_VIEW, DIR_VIEW, PATH_VIEW;
  };

  // `start`: a folder to start in, or an image file to start in its folder with it chosen.
  // Empty: the working folder.
  explicit FormL(const QString& start = QString(), QWidget* parent = nullptr);
  ~FormL() override;

  const MainState& state() const { return st_; }
  odi::opt::Rules& rules();
  odi::Options options() const;

  // The fixed texts of the window (exactly as shown).
  static const QString kCaption;       // "v3.3     Kestrel\Специалист_МХ"
  static const QString kFrmDiskStart;  // FrmDISK's design caption, before today's date
  static const QString kFrmDiskHead;   // FrmDISK's caption before the date of the selected row
  static const QString kNotImage;      // what a drop of no image says, before the file's name

  // LabCOPY's text for a target folder: whole up to 51 characters, else "..." and its end.
  static QString shorten_path(const QString& path, int lab_wid, int chr_wid);

 public slots:
  // Event handlers, run by the widgets' events (and callable as those events).
  void Drive1_Change();
  void Dir1_Change();
  void Dir1_Click();
  void Timer1_Timer();
  void FileL_Click();
  void List1_Click();
  void List1_DblClick();
  void ComCOPY_Click();
  void FileV_DblClick();
  void ComHLP_Click();

 public:
  // Rows of List1 dragged out: the files they become, written into a fresh folder below the
  // window's temporary one. A row that cannot be copied is left out, its reason on ComCOPY.
  QList<QUrl> List1_DragOut(const QList<int>& rows);
  // Files dropped onto the window: the first image among them is chosen as the lists would
  // choose it. None: a tooltip at `where` says so, and nothing changes. True when one was opened.
  bool Form_Drop(const QStringList& files, QPoint where);

  // Procedures.
  void KAT_LOAD(const odi::FileSystem& disk);
  void CLS_LIST();
  void FIL_DAT();
  void PATH_COPY();
  void PATH_KAT();

 private:
  void build();
  void Form_Load(const QString& start);
  void set_copy_result(const QString& caption, const QString& tooltip);
  // ComCOPY's caption and tooltip for the outcome of a chain (ERR_COP).
  void show_chain_result(int err_cop);
  bool open_image(const QString& file);

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  MainState st_;

  odi::gui::DriveList* Drive1 = nullptr;
  odi::gui::DirList* Dir1 = nullptr;
  odi::gui::FileList* FileL = nullptr;
  odi::gui::ClickList* List1 = nullptr;
  odi::gui::FileList* FileV = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* LabCOPY = nullptr;
  QGroupBox* FrmDISK = nullptr;
  QLabel* LabODI = nullptr;
  QLabel* LabVER = nullptr;
  QLabel* LabDISK = nullptr;
  QPushButton* ComCOPY = nullptr;
  QPushButton* ComHLP = nullptr;
  QGroupBox* FrmTIP = nullptr;
  QGroupBox* FrmKOD = nullptr;
  QCheckBox* CheckBIN = nullptr;
  QCheckBox* CheckROM = nullptr;
  QCheckBox* CheckRKS = nullptr;
  QCheckBox* CheckTXT = nullptr;
  QCheckBox* CheckDOS = nullptr;
  QCheckBox* CheckWIN = nullptr;
  QCheckBox* CheckKOI8 = nullptr;
  QCheckBox* CheckKOI7 = nullptr;
  QTimer* Timer1 = nullptr;
  odi::opt::QtPanel* panel_ = nullptr;
  QHash<QString, QString> drive_folder_;     // the folder last shown on each volume
  std::unique_ptr<QTemporaryDir> drag_dir_;  // made at the first drag out
  int drags_ = 0;                            // each drag writes into a folder of its own
};
