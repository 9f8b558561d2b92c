// odiview: the main window FormL. One optional argument: a folder to start in, or an image file
// to start with it chosen. With --smoke (or ODIVIEW_SMOKE=1) the program quits as soon as its
// window is on the screen, printing the window's caption: a check that it starts in a real
// display.
#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "mainwin/forml.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The id of the desktop entry: a Wayland desktop shows the window under its name and icon (on
  // X11 the entry's StartupWMClass does that).
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.odiview.odiview"));
  QStringList args = QApplication::arguments();
  args.removeFirst();
  bool smoke = qEnvironmentVariableIntValue("ODIVIEW_SMOKE") != 0;
  if (args.removeAll(QStringLiteral("--smoke")) > 0) smoke = true;

  FormL form(args.isEmpty() ? QString() : args.first());
  form.show();

  if (smoke) {
    auto* poll = new QTimer(&app);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, &app, [&form, clock] {
      if (form.windowHandle() != nullptr && form.windowHandle()->isExposed()) {
        std::printf("%s\n", form.windowTitle().toUtf8().constData());
        std::fflush(stdout);
        QApplication::exit(0);
      } else if (clock->elapsed() > 15000) {
        std::fprintf(stderr, "odiview: the window was not shown within 15 s\n");
        QApplication::exit(1);
      }
    });
    poll->start(50);
  }
  return QApplication::exec();
}
