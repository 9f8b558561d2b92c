#include "options/panel_qt.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

namespace odi::opt {

QtPanel::QtPanel(const Widgets& w, QObject* parent) : QObject(parent), w_(w) {
  for (int i = 0; i < kBoxCount; ++i) {
    const Box b = static_cast<Box>(i);
    // toggled, not clicked: a value changed by code must run the handler as well.
    connect(w_.boxes[static_cast<size_t>(i)], &QCheckBox::toggled, this,
            [this, b](bool) { rules.click(b); });
  }
}

bool QtPanel::value(Box b) const {
  return w_.boxes[static_cast<size_t>(b)]->isChecked();
}

void QtPanel::set_value(Box b, bool v) {
  w_.boxes[static_cast<size_t>(b)]->setChecked(v);
}

QWidget* QtPanel::widget(Part p) const {
  switch (p) {
    case Part::FrmTIP:
      return w_.FrmTIP;
    case Part::FrmKOD:
      return w_.FrmKOD;
    case Part::ComCOPY:
      return w_.ComCOPY;
    default:
      return w_.boxes[static_cast<size_t>(static_cast<int>(p) - 2)];
  }
}

void QtPanel::set_enabled(Part p, bool on) {
  widget(p)->setEnabled(on);
}

void QtPanel::set_kod_caption(const std::string& utf8) {
  w_.FrmKOD->setTitle(QString::fromStdString(utf8));
}

void QtPanel::set_copy_caption(const std::string& caption, const std::string& tooltip) {
  w_.ComCOPY->setText(QString::fromStdString(caption));
  w_.ComCOPY->setToolTip(QString::fromStdString(tooltip));
}

}  // namespace odi::opt
