// Runs the main-window test classes in one QApplication, without a display unless one is asked
// for.
#include <QApplication>
#include <QtTest>

#include "test_classes.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int failed = 0;
  {
    OptionsTest t;
    failed += QTest::qExec(&t, argc, argv);
  }
  {
    FormLTest t;
    failed += QTest::qExec(&t, argc, argv);
  }
  return failed == 0 ? 0 : 1;
}
