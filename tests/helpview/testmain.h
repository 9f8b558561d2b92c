// A QtTest main that runs on the offscreen platform unless told otherwise, so the window tests
// work without a display.
#pragma once

#include <QApplication>
#include <QtTest>

#define HELPVIEW_TEST_MAIN(TestClass)                                                            \
  int main(int argc, char** argv) {                                                              \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    QApplication app(argc, argv);                                                                \
    TestClass test;                                                                              \
    return QTest::qExec(&test, argc, argv);                                                      \
  }
