// The window's response, in process: from constructing the main window to its being on the
// screen, and from a click on an image in FileL to the catalogue list filled. Prints medians.
//   odi-window-bench FOLDER   (FOLDER holds at least one .odi image)
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "mainwin/forml.h"
#include "mainwin/lists.h"

namespace {
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: odi-window-bench FOLDER\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);

  QElapsedTimer t;
  t.start();
  FormL w(folder);
  w.show();
  while (w.windowHandle() == nullptr || !w.windowHandle()->isExposed()) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (t.elapsed() > 10000) return 1;
  }
  const double shown_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;

  auto* fl = w.findChild<odi::gui::FileList*>(QStringLiteral("FileL"));
  auto* list = w.findChild<QListWidget*>(QStringLiteral("List1"));
  if (fl == nullptr || list == nullptr || fl->count() == 0) return 1;
  std::vector<double> click;
  for (int i = 0; i < 300; ++i) {
    fl->setCurrentRow(-1);
    QApplication::processEvents();
    t.restart();
    fl->setCurrentRow(0);  // the click on the image: FileL_Click fills List1
    click.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    if (list->count() < 2) return 1;
  }
  std::printf("window constructed to shown: %.1f ms\n", shown_ms);
  std::printf("image click to list filled: median %.3f ms (%zu rows)\n", median(click),
              static_cast<size_t>(list->count()));
  return 0;
}
