#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "helpview/formh.h"
#include "helpview/helpdoc.h"
#include "helpview/winkit.h"
#include "state/cp1251.h"

namespace {

template <typename T>
T* ctl(const char* name) {
  T* w = FormH::instance()->findChild<T*>(QString::fromLatin1(name));
  if (!w) qFatal("no control %s", name);
  return w;
}
QPlainTextEdit* text1() {
  return ctl<QPlainTextEdit>("Text1");
}

// The window as the user sees it: caption, "rw" while the text can be edited, the buttons that
// are on, the free-room label, the save prompt, and "changed" while the notes are unsaved.
QString seen() {
  QString s = FormH::instance()->windowTitle() + (text1()->isReadOnly() ? "" : " rw");
  for (const char* b : {"ComUSER", "ComSAVE", "ComHLP"})
    if (ctl<QPushButton>(b)->isEnabled()) s += QLatin1Char(' ') + QString::fromLatin1(b + 3);
  if (const QString room = ctl<QLabel>("LabUSER")->text(); !room.isEmpty()) s += " | " + room;
  if (ctl<QGroupBox>("FrmUSER")->isVisible()) s += " | " + ctl<QLabel>("LabHU")->text();
  return HLP_CHG ? s + " | changed" : s;
}
const QString kView = QStringLiteral("О программе и Форматах USER");
QString editor(int room, const char* buttons = " HLP", const char* more = "") {
  return QStringLiteral("Редактирование HelpUser rw%1 | Свободно  %2  байт%3")
      .arg(QString::fromLatin1(buttons))
      .arg(room)
      .arg(QString::fromUtf8(more));
}
const char* const kAsked = " | Сохранить изменения HelpUser? | changed";

// Steps of a session: a button ("USER", "SAVE", "HLP", "DA", "NET"), "close" by the user, or
// text typed (anything else; "\n" is the Enter key, "^" Ctrl+End). Each is followed by what
// the window must show, unless that is empty.
void run(std::initializer_list<std::pair<const char*, QString>> steps) {
  for (const auto& [act, want] : steps) {
    const QString a = QString::fromUtf8(act);
    QCloseEvent close;
    if (QStringList{"USER", "SAVE", "HLP", "DA", "NET"}.contains(a))
      ctl<QPushButton>(qPrintable("Com" + a))->click();
    else if (a == "close")  // the user's close box: an event on the native window, spontaneous
      QCoreApplication::sendEvent(FormH::instance()->windowHandle(), &close);
    else
      for (QChar c : a)  // key by key: keyClicks only knows Latin-1 keys
        c == '\n'  ? QTest::keyClick(text1(), Qt::Key_Return)
        : c == '^' ? QTest::keyClick(text1(), Qt::Key_End, Qt::ControlModifier)
                   : QTest::sendKeyEvent(QTest::Click, text1(), Qt::Key_unknown, QString(c), {});
    if (!want.isEmpty()) QCOMPARE(seen(), want);
  }
}

QByteArray notesFile() {
  QFile f(kHelpUserFile);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
QByteArray cp(const char* utf8) {
  return QByteArray::fromStdString(odi::cp1251(utf8));
}

// The document as the view shows it after the notes.
QString docText() {
  return helpview::boxText(helpDocument());
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

  // One session over the notes file the first opening makes: a line end counts as CR LF, a
  // character CP1251 lacks is saved as "?"; unsaved notes make "просмотр" and the user's close
  // ask first.
  void promptOnViewOrCloseWithUnsavedNotes() {
    FormH* h = FormH::showHelp();
    QCOMPARE(FormH::showHelp(), h);  // "?" again brings the same window forward
    QCOMPARE(notesFile(), QByteArray());
    run({{"", kView},
         {"USER", editor(59718)},
         {"Заметка\nзнак 中", editor(59703, " SAVE HLP", " | changed")},
         {"SAVE", editor(59703)},
         {"HLP", kView}});  // nothing unsaved: straight to the view
    QCOMPARE(notesFile(), cp("Заметка\r\nзнак ?"));
    run({{"USER", {}}, {"+", {}}, {"HLP", editor(59702, " SAVE HLP", kAsked)}, {"NET", kView}});
    QCOMPARE(notesFile(), cp("Заметка\r\nзнак ?"));  // dropped
    // The close is refused and the prompt asks; "ДА" saves and the window stays, in the view.
    run({{"USER", {}}, {"^!", {}}, {"close", editor(59702, " SAVE HLP", kAsked)}, {"DA", kView}});
    QCOMPARE(FormH::instance(), h);
    QCOMPARE(notesFile(), cp("Заметка\r\nзнак ?!"));
    QCOMPARE(text1()->toPlainText(), QStringLiteral("Заметка\nзнак ?!\n") + docText());
    // With the prompt up, "сохранить" saves and leaves it; "ДА" then does nothing.
    run({{"USER", {}},
         {"x", {}},
         {"HLP", {}},
         {"SAVE", editor(59701, " HLP", " | Сохранить изменения HelpUser?")},
         {"DA", editor(59701, " HLP", " | Сохранить изменения HelpUser?")},
         {"NET", kView}});
    QCOMPARE(notesFile(), cp("xЗаметка\r\nзнак ?!"));
    run({{"close", {}}});  // nothing unsaved now
    QVERIFY(!FormH::instance());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A close the program makes itself is not refused, and the changes are lost.
    h = FormH::showHelp();
    run({{"USER", {}}, {"lost", {}}});
    QVERIFY(h->close());
    QVERIFY(!FormH::instance());
    QCOMPARE(notesFile(), cp("xЗаметка\r\nзнак ?!"));
  }

  void notesLongerThanRoom() {
    const int room = 65535 - static_cast<int>(helpDocument().size());
    QByteArray notes;
    for (int i = 0; notes.size() < 70000; ++i)
      notes += QByteArray::number(i % 10).repeated(62) + "\r\n";
    notes.truncate(70000);
    QFile f(kHelpUserFile);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(notes) == notes.size() && f.flush());
    FormH::showHelp();
    QCOMPARE(text1()->toPlainText(),
             helpview::boxText(notes.left(room).toStdString()) + "\n" + docText());
    run({{"USER", QStringLiteral("Редактирование HelpUser rw HLP | Свободно -%1  байт")
                      .arg(70000 - room)}});
    QCOMPARE(text1()->toPlainText(), helpview::boxText(notes.toStdString()));
  }

  // A folder under the notes file's name stops even root from reading or writing it: the view
  // shows the document alone (it fits the window's width, 66 characters) and the caption says
  // so; a save fails, and even "ДА" keeps the editor, the prompt and the unsaved text.
  void unreadableNotesAndFailedSave() {
    QVERIFY(QDir().mkdir(kHelpUserFile));
    FormH::showHelp();
    QCOMPARE(text1()->toPlainText(), "\n" + docText());
    for (const QString& line : docText().split('\n')) QVERIFY2(line.size() <= 66, qPrintable(line));
    const QString unsaved = QStringLiteral(
        "Редактирование HelpUser   [ОШИБКА: HelpUser.txt не записан] rw SAVE HLP | Свободно  "
        "59714  байт");
    run({{"", QStringLiteral("О программе и Форматах   [HelpUser.txt не прочитан] USER")},
         {"USER", QStringLiteral("Редактирование HelpUser   [HelpUser.txt не прочитан] rw HLP | "
                                 "Свободно  59718  байт")},
         {"new ", {}},
         {"SAVE", unsaved + " | changed"},
         {"HLP", {}},
         {"DA", unsaved + kAsked}});
    QCOMPARE(text1()->toPlainText(), QStringLiteral("new "));
    // Once the way is clear, saving works and the note in the caption goes.
    QVERIFY(QDir().rmdir(kHelpUserFile));
    run({{"SAVE", editor(59714, " HLP", " | Сохранить изменения HelpUser?")}});
    QCOMPARE(notesFile(), QByteArray("new "));
  }
};

QTEST_MAIN(TstFormH)
#include "tst_formh.moc"
