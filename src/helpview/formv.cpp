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

// Content bytes -> text of TextV. The viewer shows files as they lie on disk, bin and rks
// copies included, so every byte must stay visible as exactly one character:
//  - CR LF, a lone CR and a lone LF each end a line (the program's own txt copies use CR LF);
//  - TAB stays a tab;
//  - the other codes 01h..1Fh and 7Fh show as the pictures a DOS screen gives them
//    (☺ ☻ ♥ ... ▼, ⌂), which every Cyrillic monospace font carries; 00h, blank on a DOS
//    screen, shows as "□" so that a NUL neither ends the text nor vanishes;
//  - all other bytes are CP1251 characters (98h, undefined there, shows as U+0098).
// Three of the pictures (•, ¶, §) are also CP1251 characters; the dump preview is the place for
// telling bytes apart exactly.
QString FormV::viewText(const std::string& cp1251) {
  static constexpr char16_t kControlPictures[32] = {
      u'\u25A1', u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
      u'\u25D8', u'\t',     u'\n',     u'\u2642', u'\u2640', u'\n',     u'\u266B', u'\u263C',
      u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
      u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC'};
  const std::string utf8 = odi::cp1251_to_utf8(cp1251);
  const QString in = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  QString out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    const char16_t c = in.at(i).unicode();
    if (c == u'\r') {
      out += QChar(u'\n');
      if (i + 1 < in.size() && in.at(i + 1) == QChar(u'\n')) ++i;
    } else if (c < 0x20) {
      out += QChar(kControlPictures[c]);
    } else if (c == 0x7F) {
      out += QChar(u'\u2302');
    } else {
      out += QChar(c);
    }
  }
  return out;
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
