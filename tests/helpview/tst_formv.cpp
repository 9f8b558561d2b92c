#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "helpview/formv.h"
#include "helpview/loafil.h"
#include "state/cp1251.h"

namespace {

QPlainTextEdit* textV() {
  return FormV::instance()->findChild<QPlainTextEdit*>("TextV");
}

const QString kCopyCaption = QStringLiteral("Просмотр  копии  файла\\");

}  // namespace

class TstFormV : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

 private slots:
  void cleanup() {
    if (FormV* v = FormV::instance()) v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!FormV::instance());
  }

  // A longer copy is cut at the view limit; what is left is shown whole, read-only.
  void longCopyIsCutAtTheViewLimitAndShownWhole() {
    std::string content;
    for (int i = 0; content.size() < 70000; ++i)
      content += odi::cp1251("Строка ") + std::to_string(i) + odi::cp1251(" текста\r\n");
    const QString path = dir_.filePath("big.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content.data(), static_cast<qint64>(content.size()));
    f.close();
    const LoadedCopy copy = LOA_FIL(path.toStdString());
    QVERIFY(copy.ok);
    QCOMPARE(copy.bytes, content.substr(0, kViewLimit));
    QVERIFY(FormV::showContent(kCopyCaption + "big.txt", copy.bytes)->isVisible());
    QCOMPARE(textV()->toPlainText(), FormV::viewText(copy.bytes));
    QVERIFY(textV()->isReadOnly());
  }

  // An empty copy, one that vanished and a folder in its place all read as nothing; the vanished
  // one is not brought back into existence by looking at it.
  void emptyAndVanishedCopies() {
    QFile(dir_.filePath("empty.rks")).open(QIODevice::WriteOnly);
    LoadedCopy copy = LOA_FIL(dir_.filePath("empty.rks").toStdString());
    QVERIFY(copy.ok && copy.bytes.empty());
    const QString gone = dir_.filePath("gone.txt");
    copy = LOA_FIL(gone.toStdString());
    QVERIFY(!copy.ok && copy.bytes.empty());
    QVERIFY(!QFile::exists(gone));
    QVERIFY(QDir(dir_.path()).mkdir("folder.bin"));
    QVERIFY(!LOA_FIL(dir_.filePath("folder.bin").toStdString()).ok);
  }

  // Each hand-over reuses the open viewer; after it is closed the next one makes a new one.
  void handOverReusesWindow() {
    FormV* first = FormV::showContent(QStringLiteral("Предварительный  просмотр  файла\\A"), "one");
    FormV* second = FormV::showContent(kCopyCaption + "B", "two");
    QCOMPARE(second, first);
    QCOMPARE(second->windowTitle(), kCopyCaption + "B");
    QCOMPARE(textV()->toPlainText(), QStringLiteral("two"));
    second->close();
    QVERIFY(!FormV::instance());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(FormV::showContent(kCopyCaption + "C", ""));
    QCOMPARE(textV()->toPlainText(), QString());
  }

  // Line ends of every kind break lines; other control bytes stay visible, one symbol each.
  void controlBytesStayVisible() {
    const std::string raw("A\0B\x01\tC\rD\r\nE\nF\x7f\xC0", 15);
    QCOMPARE(FormV::viewText(raw), QStringLiteral("A□B☺\tC\nD\nE\nF⌂А"));
  }

  // The text box keeps its distances from the window's edges at any size.
  void resizeKeepsMargins() {
    FormV* v = FormV::showContent(kCopyCaption + "m", "margins");
    QVERIFY(QTest::qWaitForWindowExposed(v));
    auto margins = [&] {
      const QRect r = textV()->geometry();
      return QList<int>{r.left(), r.top(), v->width() - r.right() - 1,
                        v->height() - r.bottom() - 1};
    };
    QCOMPARE(margins(), (QList<int>{4, 4, 5, 5}));
    // Too low for the box (as while minimised): its height is left alone, only the width follows.
    v->resize(300, 6);
    QTRY_COMPARE(v->size(), QSize(300, 6));
    QCOMPARE(textV()->size(), QSize(300 - 4 - 5, 353));
    for (QSize size : {QSize(1100, 800), QSize(300, 150), QSize(738, 362)}) {
      v->resize(size);
      QTRY_COMPARE(v->size(), size);
      const QList<int> now = margins();
      QCOMPARE(now[0], 4);
      QCOMPARE(now[1], 4);
      QVERIFY2(qAbs(now[2] - 5) <= 1 && qAbs(now[3] - 5) <= 1,
               qPrintable(QStringLiteral("right %1 bottom %2").arg(now[2]).arg(now[3])));
    }
  }
};

QTEST_MAIN(TstFormV)
#include "tst_formv.moc"
