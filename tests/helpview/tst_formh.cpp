#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "helpview/formh.h"
#include "helpview/helpdoc.h"
#include "helpview/winkit.h"
#include "state/cp1251.h"
#include "testmain.h"

namespace {

const QString kView = QStringLiteral("О программе и Форматах");
const QString kEdit = QStringLiteral("Редактирование HelpUser");

template <typename T>
T* ctl(const char* name) {
  T* w = FormH::instance()->findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}
QPushButton* btn(const char* name) {
  return ctl<QPushButton>(name);
}
QPlainTextEdit* text1() {
  return ctl<QPlainTextEdit>("Text1");
}
QString labUser() {
  return ctl<QLabel>("LabUSER")->text();
}
bool promptShown() {
  return ctl<QGroupBox>("FrmUSER")->isVisible();
}

QByteArray notesFile() {
  QFile f(kHelpUserFile);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
void writeNotes(const QByteArray& bytes) {
  QFile f(kHelpUserFile);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}
QByteArray cp(const char* utf8) {
  return QByteArray::fromStdString(odi::cp1251(utf8));
}

// The document as the view shows it after the notes.
QString docText() {
  return helpview::boxText(helpDocument());
}

const int kDocLen = static_cast<int>(helpDocument().size());

// What the window system delivers when the user presses the close box: a close event on the
// native window, which reaches the widget as a spontaneous one.
void userClose(QWidget* w) {
  QCloseEvent e;
  QCoreApplication::sendEvent(w->windowHandle(), &e);
}

// Typed key by key; keyClicks only knows Latin-1 keys, so each character goes as its own text.
void type(const QString& s) {
  for (QChar c : s) QTest::sendKeyEvent(QTest::Click, text1(), Qt::Key_unknown, QString(c), {});
}

}  // namespace

class TstFormH : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;
  QString oldCwd_;

 private slots:
  void init() {
    oldCwd_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(dir_->path()));
  }
  void cleanup() {
    if (FormH* h = FormH::instance()) h->close();  // a program close: never refused
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!FormH::instance());
    QDir::setCurrent(oldCwd_);
    dir_.reset();
  }

  // The document's shape decides the free room shown to the user.
  void documentShape() {
    const std::string& doc = helpDocument();
    QCOMPARE(doc.size(), size_t{5817});
    const QStringList lines = QString::fromStdString(odi::cp1251_to_utf8(doc)).split("\r\n");
    QCOMPARE(lines.size(), 103);
    QCOMPARE(lines.last(), QString());
    for (const QString& line : lines) {
      QVERIFY2(line.size() <= 66, qPrintable(line));
      QVERIFY(!line.contains('\r') && !line.contains('\n'));
    }
    qsizetype at = 0;
    for (const char* mark :
         {"О ПРОГРАММЕ", "bin, rom", "rks", "txt", "О  ФОРМАТЕ", "Dos_MX V3.6",
          "Структура диска:", "Структура FAT:", "СМЕЩЕНИЕ:", "НАЗНАЧЕНИЕ:", "AAh 00h"}) {
      at = lines.join('\n').indexOf(QString::fromUtf8(mark), at);
      QVERIFY2(at >= 0, mark);
    }
  }

  void firstOpeningCreatesEmptyNotes() {
    QVERIFY(!QFile::exists(kHelpUserFile));
    FormH* h = FormH::showHelp();
    QVERIFY(h->isVisible());
    QCOMPARE(h->objectName(), QStringLiteral("FormH"));
    QCOMPARE(h->windowTitle(), kView);
    QVERIFY(QFile::exists(kHelpUserFile));
    QCOMPARE(notesFile(), QByteArray());
    QCOMPARE(text1()->toPlainText(), "\n" + docText());
    QVERIFY(text1()->isReadOnly());
    QCOMPARE(labUser(), QString());
    QVERIFY(btn("ComUSER")->isEnabled());
    QVERIFY(!btn("ComSAVE")->isEnabled());
    QVERIFY(!btn("ComHLP")->isEnabled());
    QVERIFY(!promptShown());
    QCOMPARE(HLP_CHG, 0);

    // "?" again brings the same window forward.
    QCOMPARE(FormH::showHelp(), h);
    int helpWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "FormH") ++helpWindows;
    QCOMPARE(helpWindows, 1);
  }

  void editorCountsFreeRoom() {
    FormH::showHelp();
    btn("ComUSER")->click();
    QCOMPARE(FormH::instance()->windowTitle(), kEdit);
    QCOMPARE(text1()->toPlainText(), QString());
    QVERIFY(!text1()->isReadOnly());
    QCOMPARE(labUser(), QStringLiteral("Свободно  59718  байт"));
    QVERIFY(!btn("ComSAVE")->isEnabled());
    QVERIFY(!btn("ComUSER")->isEnabled());
    QVERIFY(btn("ComHLP")->isEnabled());

    type(QStringLiteral("я"));
    QCOMPARE(labUser(), QStringLiteral("Свободно  59717  байт"));
    QVERIFY(btn("ComSAVE")->isEnabled());
    QCOMPARE(HLP_CHG, 1);
    QTest::keyClick(text1(), Qt::Key_Return);  // a line end counts as CR LF
    QCOMPARE(labUser(), QStringLiteral("Свободно  59715  байт"));
  }

  void saveThenViewShowsNotesFirst() {
    FormH::showHelp();
    btn("ComUSER")->click();
    type(QStringLiteral("Заметка"));
    QTest::keyClick(text1(), Qt::Key_Return);
    type(QStringLiteral("знак 中"));  // not in CP1251: saved as "?"
    btn("ComSAVE")->click();
    QCOMPARE(notesFile(), cp("Заметка\r\nзнак ?"));
    QVERIFY(!btn("ComSAVE")->isEnabled());
    QCOMPARE(FormH::instance()->windowTitle(), kEdit);
    QVERIFY(!text1()->isReadOnly());
    QCOMPARE(HLP_CHG, 0);

    btn("ComHLP")->click();  // nothing unsaved: straight to the view
    QVERIFY(!promptShown());
    QCOMPARE(FormH::instance()->windowTitle(), kView);
    QCOMPARE(text1()->toPlainText(), QStringLiteral("Заметка\nзнак ?\n") + docText());

    // The next editor session loads the file and counts it as the file holds it.
    btn("ComUSER")->click();
    QCOMPARE(labUser(), QStringLiteral("Свободно  %1  байт").arg(65535 - kDocLen - 15));
    QVERIFY(!btn("ComSAVE")->isEnabled());
  }

  void promptOnViewWithUnsavedNotes() {
    writeNotes(cp("старое"));
    FormH::showHelp();
    btn("ComUSER")->click();
    type(QStringLiteral("+"));
    btn("ComHLP")->click();
    QVERIFY(promptShown());
    QCOMPARE(FormH::instance()->windowTitle(), kEdit);
    QCOMPARE(ctl<QLabel>("LabHU")->text(), QStringLiteral("Сохранить изменения HelpUser?"));

    btn("ComNET")->click();  // dropped
    QVERIFY(!promptShown());
    QCOMPARE(FormH::instance()->windowTitle(), kView);
    QCOMPARE(notesFile(), cp("старое"));
    QCOMPARE(HLP_CHG, 0);

    btn("ComUSER")->click();
    QTest::keyClick(text1(), Qt::Key_End);
    type(QStringLiteral("!"));
    btn("ComHLP")->click();
    QVERIFY(promptShown());
    btn("ComDA")->click();  // saved, then the view
    QVERIFY(!promptShown());
    QCOMPARE(notesFile(), cp("старое!"));
    QCOMPARE(text1()->toPlainText(), QStringLiteral("старое!\n") + docText());

    // With the prompt up, "сохранить" saves and leaves it; "ДА" then does nothing.
    btn("ComUSER")->click();
    type(QStringLiteral("x"));
    btn("ComHLP")->click();
    btn("ComSAVE")->click();
    QVERIFY(promptShown());
    QCOMPARE(notesFile(), cp("xстарое!"));
    btn("ComDA")->click();
    QVERIFY(promptShown());
    QCOMPARE(FormH::instance()->windowTitle(), kEdit);
    btn("ComNET")->click();
    QVERIFY(!promptShown());
    QCOMPARE(FormH::instance()->windowTitle(), kView);
  }

  void closeWithUnsavedNotesAsks() {
    FormH* h = FormH::showHelp();
    QVERIFY(QTest::qWaitForWindowExposed(h));
    btn("ComUSER")->click();
    type(QStringLiteral("abc"));
    userClose(h);
    QCOMPARE(FormH::instance(), h);
    QVERIFY(h->isVisible());
    QVERIFY(promptShown());

    btn("ComDA")->click();  // saved; the window stays, in the view
    QCOMPARE(notesFile(), QByteArray("abc"));
    QVERIFY(h->isVisible());
    QCOMPARE(h->windowTitle(), kView);
    userClose(h);  // nothing unsaved now
    QVERIFY(!FormH::instance());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // "НЕТ" after a close request: back to the view, the file untouched, still open.
    h = FormH::showHelp();
    QVERIFY(QTest::qWaitForWindowExposed(h));
    btn("ComUSER")->click();
    type(QStringLiteral("zzz"));
    userClose(h);
    QVERIFY(promptShown());
    btn("ComNET")->click();
    QVERIFY(h->isVisible());
    QCOMPARE(notesFile(), QByteArray("abc"));

    // A close the program makes itself is not refused, and the changes are lost.
    btn("ComUSER")->click();
    type(QStringLiteral("lost"));
    QVERIFY(h->close());
    QVERIFY(!FormH::instance());
    QCOMPARE(notesFile(), QByteArray("abc"));
  }

  void notesLongerThanRoom() {
    const int room = 65535 - kDocLen;
    QByteArray notes;
    for (int i = 0; notes.size() < 70000; ++i)
      notes += QByteArray::number(i % 10).repeated(62) + "\r\n";
    notes.truncate(70000);
    writeNotes(notes);
    FormH::showHelp();
    const QString expected = helpview::boxText(notes.left(room).toStdString()) + "\n" + docText();
    QCOMPARE(text1()->toPlainText(), expected);

    btn("ComUSER")->click();
    QCOMPARE(text1()->toPlainText(), helpview::boxText(notes.toStdString()));
    QCOMPARE(labUser(), QStringLiteral("Свободно -%1  байт").arg(70000 - room));
    QVERIFY(!btn("ComSAVE")->isEnabled());
  }

  // A notes file that cannot be read or written: a folder under its name stops even root.
  void unreadableNotesShowDocumentAlone() {
    QVERIFY(QDir().mkdir(kHelpUserFile));
    FormH* h = FormH::showHelp();
    QCOMPARE(text1()->toPlainText(), "\n" + docText());
    QVERIFY(h->windowTitle().startsWith(kView));
    QVERIFY(h->windowTitle().contains(QStringLiteral("не прочитан")));
    btn("ComUSER")->click();
    QVERIFY(h->windowTitle().contains(QStringLiteral("не прочитан")));
    QCOMPARE(labUser(), QStringLiteral("Свободно  59718  байт"));
  }

  void failedSaveKeepsTextAndChangedState() {
    writeNotes("old");
    FormH* h = FormH::showHelp();
    btn("ComUSER")->click();
    type(QStringLiteral("new "));
    QVERIFY(QFile::remove(kHelpUserFile));
    QVERIFY(QDir().mkdir(kHelpUserFile));

    btn("ComSAVE")->click();
    QVERIFY(btn("ComSAVE")->isEnabled());
    QCOMPARE(HLP_CHG, 1);
    QCOMPARE(text1()->toPlainText(), QStringLiteral("new old"));
    QVERIFY(h->windowTitle().contains(QStringLiteral("не записан")));
    QVERIFY(QFileInfo(kHelpUserFile).isDir());

    // "ДА" cannot save either: the editor, the prompt and the text all stay.
    btn("ComHLP")->click();
    btn("ComDA")->click();
    QVERIFY(promptShown());
    QCOMPARE(text1()->toPlainText(), QStringLiteral("new old"));

    // Once the way is clear, saving works and the note in the caption goes.
    QVERIFY(QDir().rmdir(kHelpUserFile));
    btn("ComSAVE")->click();
    QCOMPARE(notesFile(), QByteArray("new old"));
    QCOMPARE(h->windowTitle(), kEdit);
    QVERIFY(!btn("ComSAVE")->isEnabled());
  }
};

HELPVIEW_TEST_MAIN(TstFormH)
#include "tst_formh.moc"
