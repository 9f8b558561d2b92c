#include "helpview/formv.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <cmath>

#include "helpview/winkit.h"
#include "state/cp1251.h"

using helpview::kTwipsPerPixel;
using helpview::px;

namespace {

FormV* g_viewer = nullptr;

// Design of the form, in twips.
constexpr int kInnerW = 11070, kInnerH = 5430;
constexpr int kBoxL = 60, kBoxT = 60, kBoxW = 10935, kBoxH = 5295;

}  // namespace

FormV::FormV() {
  setObjectName(QStringLiteral("FormV"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Просмотр файла\\"));
  resize(px(kInnerW), px(kInnerH));

  TextV = new QPlainTextEdit(this);
  TextV->setObjectName(QStringLiteral("TextV"));
  TextV->setGeometry(helpview::pxRect(kBoxL, kBoxT, kBoxW, kBoxH));
  TextV->setFont(helpview::courierNew(12, true));
  TextV->setLineWrapMode(QPlainTextEdit::NoWrap);
  TextV->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TextV->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TextV->setUndoRedoEnabled(false);
  TextV->setPlainText(QStringLiteral("TextV\n"));
  Form_Load();
}

FormV::~FormV() {
  if (g_viewer == this) g_viewer = nullptr;
}

FormV* FormV::instance() {
  return g_viewer;
}

FormV* FormV::showContent(const QString& caption, const std::string& content) {
  if (!g_viewer) g_viewer = new FormV;
  FormV* v = g_viewer;
  v->setWindowTitle(caption);
  v->TextV->setPlainText(viewText(content));
  if (v->isMinimized()) v->setWindowState(v->windowState() & ~Qt::WindowMinimized);
  v->show();
  v->raise();
  v->activateWindow();
  return v;
}

// Content bytes -> text of TextV: the viewer shows files as they lie on disk, bin and rks copies
// included, so every byte stays visible as exactly one character (odi::view_text, which the web
// page shows too). Three of the pictures (•, ¶, §) are also CP1251 characters; the dump preview is
// the place for telling bytes apart exactly.
QString FormV::viewText(const std::string& cp1251) {
  const std::string utf8 = odi::view_text(cp1251);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Margins are measured once, when the window is made, in twips like the design. Qt reports the
// client area before the window is mapped and the frame size only afterwards; the frame is the
// same at load and at every resize, so measuring the client area gives the same differences.
void FormV::Form_Load() {
  const int boxW = TextV->width() * kTwipsPerPixel;
  const int boxH = TextV->height() * kTwipsPerPixel;
  const int winW = width() * kTwipsPerPixel;
  const int winH = height() * kTwipsPerPixel;
  MRG_X = static_cast<int>(std::nearbyint((winW - boxW) / 2.0));  // halves to even
  GAP_Y = winH - (MRG_X + boxH);
  TextV->setReadOnly(true);
  loaded_ = true;
}

void FormV::Form_Resize() {
  if (!loaded_) return;
  // Whole twips in plain ints: no 16-bit ceiling on the window size.
  const int newH = height() * kTwipsPerPixel - (GAP_Y + MRG_X);
  const int newW = width() * kTwipsPerPixel - 2 * MRG_X;
  const int h = newH >= 0 ? px(newH) : TextV->height();  // not applied while minimised
  TextV->resize(std::max(0, px(newW)), h);
}

void FormV::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void FormV::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // The window is discarded; the next hand-over makes a fresh one.
  if (event->isAccepted() && g_viewer == this) g_viewer = nullptr;
}
