// The options panel on real widgets: the rules of rules.h acting on the window's check boxes,
// frames and copy button. Each box's toggled signal runs its handler, so a value set by code
// raises the handler just as a user's click does.
#pragma once

#include <QObject>
#include <array>

#include "options/rules.h"

class QAbstractButton;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QWidget;

namespace odi::opt {

class QtPanel : public QObject, public Controls {
  Q_OBJECT

 public:
  struct Widgets {
    QGroupBox* FrmTIP = nullptr;
    QGroupBox* FrmKOD = nullptr;
    std::array<QCheckBox*, kBoxCount> boxes{};  // in the order of Box
    QPushButton* ComCOPY = nullptr;
  };

  QtPanel(const Widgets& w, QObject* parent = nullptr);

  Rules rules{*this};

  bool value(Box b) const override;
  void set_value(Box b, bool v) override;
  void set_enabled(Part p, bool on) override;
  void set_kod_caption(const std::string& utf8) override;
  void set_copy_caption(const std::string& caption, const std::string& tooltip) override;

 private:
  QWidget* widget(Part p) const;
  Widgets w_;
};

}  // namespace odi::opt
