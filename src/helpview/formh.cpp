#include "helpview/formh.h"

#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTextDocument>
#include <optional>

#include "helpview/helpdoc.h"
#include "helpview/winkit.h"

using helpview::pxRect;

std::int16_t HLP_CHG = 0;

namespace {

FormH* g_help = nullptr;

// Room for the whole content of the text box: the document plus the notes.
constexpr std::int32_t kRoom = 65535;

const QString kCaptionView = QStringLiteral("О программе и Форматах");
const QString kCaptionEdit = QStringLiteral("Редактирование HelpUser");
// Added to the caption when the notes file lets us down; the window has no other place for it.
const QString kNoteUnread = QStringLiteral("   [HelpUser.txt не прочитан]");
const QString kNoteUnsaved = QStringLiteral("   [ОШИБКА: HelpUser.txt не записан]");

// Makes the notes file empty when it is missing. False when it is missing and cannot be made.
bool ensureNotesFile() {
  QFile f(QString::fromLatin1(kHelpUserFile));
  if (f.exists()) return true;
  if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return f.exists();
  f.close();
  return true;
}

// The first `limit` bytes of the notes file (all of it without a limit); nullopt when it cannot
// be made or read (for instance when a folder stands under its name).
std::optional<std::string> readNotes(std::optional<std::int64_t> limit) {
  if (!ensureNotesFile()) return std::nullopt;
  QFile f(QString::fromLatin1(kHelpUserFile));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  std::int64_t len = f.size();
  if (limit && len > *limit) len = *limit;
  if (len <= 0) return std::string();
  const QByteArray bytes = f.read(len);
  if (bytes.isEmpty() && f.error() != QFileDevice::NoError) return std::nullopt;
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

FormH::FormH() {
  setObjectName(QStringLiteral("FormH"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(helpview::msSansSerif(8.25, false));
  // The controls stand at fixed places, so the window keeps its designed size.
  setFixedSize(helpview::px(10230), helpview::px(5535));

  const QFont buttonFont = helpview::courierNew(9.75, true);
  auto button = [&](const char* name, const QString& caption, QRect r, QWidget* parent,
                    const QFont& font) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(r);
    b->setFont(font);
    return b;
  };
  ComUSER =
      button("ComUSER", QStringLiteral("редактор"), pxRect(120, 60, 1815, 375), this, buttonFont);
  ComSAVE =
      button("ComSAVE", QStringLiteral("сохранить"), pxRect(2040, 60, 1815, 375), this, buttonFont);
  ComHLP =
      button("ComHLP", QStringLiteral("просмотр"), pxRect(3960, 60, 1815, 375), this, buttonFont);

  LabUSER = new QLabel(this);
  LabUSER->setObjectName(QStringLiteral("LabUSER"));
  LabUSER->setGeometry(pxRect(8280, 120, 1815, 255));

  Text1 = new QPlainTextEdit(this);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setGeometry(pxRect(60, 480, 10095, 4995));
  Text1->setFont(helpview::courierNew(12, false));
  Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setPlainText(helpview::boxText(helpDocument()));

  // The save prompt sits over the text box, opaque, so the text does not show through it.
  FrmUSER = new QGroupBox(QStringLiteral("ВНИМАНИЕ!!!"), this);
  FrmUSER->setObjectName(QStringLiteral("FrmUSER"));
  FrmUSER->setGeometry(pxRect(2700, 1080, 4815, 1815));
  FrmUSER->setFont(helpview::courierNew(15.75, true));
  FrmUSER->setAutoFillBackground(true);
  {
    QPalette p = FrmUSER->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    p.setColor(QPalette::Text, Qt::red);
    FrmUSER->setPalette(p);
  }
  LabHU = new QLabel(QStringLiteral("Сохранить изменения HelpUser?"), FrmUSER);
  LabHU->setObjectName(QStringLiteral("LabHU"));
  LabHU->setGeometry(pxRect(240, 480, 4395, 315));
  LabHU->setFont(helpview::courierNew(12, true));
  {
    QPalette p = LabHU->palette();
    p.setColor(QPalette::WindowText, QColor(0, 128, 0));
    LabHU->setPalette(p);
  }
  const QFont promptFont = helpview::msSansSerif(8.25, true);
  ComDA = button("ComDA", QStringLiteral("ДА"), pxRect(300, 1020, 1995, 495), FrmUSER, promptFont);
  ComNET =
      button("ComNET", QStringLiteral("НЕТ"), pxRect(2520, 1020, 1995, 495), FrmUSER, promptFont);
  FrmUSER->raise();
  FrmUSER->hide();

  connect(ComUSER, &QPushButton::clicked, this, &FormH::ComUSER_Click);
  connect(ComSAVE, &QPushButton::clicked, this, &FormH::ComSAVE_Click);
  connect(ComHLP, &QPushButton::clicked, this, &FormH::ComHLP_Click);
  connect(ComDA, &QPushButton::clicked, this, &FormH::ComDA_Click);
  connect(ComNET, &QPushButton::clicked, this, &FormH::ComNET_Click);
  connect(Text1, &QPlainTextEdit::textChanged, this, &FormH::Text1_Change);

  Form_Load();
}

FormH::~FormH() {
  if (g_help == this) g_help = nullptr;
}

FormH* FormH::instance() {
  return g_help;
}

FormH* FormH::showHelp() {
  if (!g_help) {
    g_help = new FormH;
    if (QScreen* screen = QGuiApplication::primaryScreen())
      g_help->move(screen->availableGeometry().center() - g_help->rect().center());
  }
  FormH* h = g_help;
  if (h->isMinimized()) h->setWindowState(h->windowState() & ~Qt::WindowMinimized);
  h->show();
  h->raise();
  h->activateWindow();
  return h;
}

void FormH::Form_Load() {
  RED_MOD = 0;
  HLP_CHG = 0;
  HLP_TXT = helpDocument();
  HLP_LEN = static_cast<std::int32_t>(HLP_TXT.size());
  HELP_EKR();
}

// The text box's content with the document's own line separators, nothing else replaced
// (toPlainText would turn a no-break space into a blank).
QString FormH::text1Raw() const {
  return Text1->document()->toRawText();
}

void FormH::HELP_EKR() {
  RED_MOD = 0;
  HLP_CHG = 0;
  USR_TXT.clear();
  setWindowTitle(kCaptionView);
  ComUSER->setEnabled(true);
  ComSAVE->setEnabled(false);
  ComHLP->setEnabled(false);
  LabUSER->clear();
  Text1->setReadOnly(true);
  FrmUSER->hide();

  // The view never takes more of the notes than fits beside the document. A file that cannot
  // be made or read shows the document alone, and the caption says so.
  const auto notes = readNotes(kRoom - HLP_LEN);
  if (notes) {
    USR_TXT = *notes;
  } else {
    setWindowTitle(kCaptionView + kNoteUnread);
  }
  USR_LEN = static_cast<std::int32_t>(USR_TXT.size());
  Text1->setPlainText(helpview::boxText(USR_TXT + "\r\n" + HLP_TXT));
  USR_FREE = kRoom - HLP_LEN - USR_LEN;
}

void FormH::HELP_RED() {
  setWindowTitle(kCaptionEdit);
  ComUSER->setEnabled(false);
  ComHLP->setEnabled(true);
  Text1->setReadOnly(false);
  // The editor takes the whole file: the free room may go negative.
  const auto notes = readNotes(std::nullopt);
  if (!notes) setWindowTitle(kCaptionEdit + kNoteUnread);
  USR_TXT = notes.value_or(std::string());
  USR_LEN = static_cast<std::int32_t>(USR_TXT.size());
  Text1->setPlainText(helpview::boxText(USR_TXT));
  RED_MOD = 1;  // only now: putting the file's text into the box is not a change
  RAM();
}

void FormH::RAM() {
  USR_TXT = helpview::boxBytes(text1Raw());
  USR_LEN = static_cast<std::int32_t>(USR_TXT.size());
  USR_FREE = kRoom - HLP_LEN - USR_LEN;
  const QString number = USR_FREE >= 0 ? QStringLiteral(" %1").arg(USR_FREE)
                                       : QStringLiteral("-%1").arg(-static_cast<qint64>(USR_FREE));
  LabUSER->setText(QStringLiteral("Свободно ") + number + QStringLiteral("  байт"));
}

void FormH::Text1_Change() {
  if (RED_MOD == 0) return;
  RAM();
  if (HLP_CHG != 1) {
    HLP_CHG = 1;
    ComSAVE->setEnabled(true);
  }
}

// Writes the notes as a whole: either the complete new text lands in the file, or the old file
// stays as it was. On failure the text stays in the box, unsaved, and the caption says so.
bool FormH::HELP_SAVE() {
  USR_TXT = helpview::boxBytes(text1Raw());
  USR_LEN = static_cast<std::int32_t>(USR_TXT.size());
  QSaveFile f(QString::fromLatin1(kHelpUserFile));
  bool ok = f.open(QIODevice::WriteOnly);
  if (ok) {
    ok = f.write(USR_TXT.data(), static_cast<qint64>(USR_TXT.size())) ==
         static_cast<qint64>(USR_TXT.size());
    ok = ok ? f.commit() : (f.cancelWriting(), false);
  }
  if (!ok) {
    setWindowTitle(kCaptionEdit + kNoteUnsaved);
    HLP_CHG = 1;
    ComSAVE->setEnabled(true);
    return false;
  }
  setWindowTitle(kCaptionEdit);
  HLP_CHG = 0;
  ComSAVE->setEnabled(false);
  return true;
}

void FormH::ComUSER_Click() {
  HELP_RED();
}

void FormH::ComSAVE_Click() {
  if (HLP_CHG != 0) HELP_SAVE();
}

void FormH::ComHLP_Click() {
  if (HLP_CHG != 0) {
    FrmUSER->show();
    FrmUSER->raise();
  } else {
    HELP_EKR();
  }
}

void FormH::ComDA_Click() {
  if (HLP_CHG == 0) return;
  // A failed save keeps the editor, the prompt and the unsaved text: "НЕТ" still drops them.
  if (HELP_SAVE()) HELP_EKR();
}

void FormH::ComNET_Click() {
  HELP_EKR();
}

// Only a close the user asks for through the window's own close control comes from the window
// system (a spontaneous event) and may be refused for unsaved notes. Closes the program makes
// itself, such as the end of the session, go through and lose the changes.
void FormH::closeEvent(QCloseEvent* event) {
  if (event->spontaneous() && HLP_CHG != 0) {
    event->ignore();
    FrmUSER->show();
    FrmUSER->raise();
    return;
  }
  QWidget::closeEvent(event);
  if (event->isAccepted() && g_help == this) g_help = nullptr;
}
