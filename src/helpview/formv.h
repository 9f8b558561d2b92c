// The viewer window: shows a text handed over by the main window (a copied file as it lies on
// disk, or a preview of a disk entry) under the caption the main window gives it.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

class QPlainTextEdit;

class FormV : public QWidget {
  Q_OBJECT

 public:
  // The one viewer window: creates it when closed, else reuses it; sets the caption, replaces the
  // content of TextV by `content` (CP1251 bytes, shown decoded) and brings it forward.
  static FormV* showContent(const QString& caption, const std::string& content);
  static FormV* instance();  // the open viewer or nullptr

  ~FormV() override;

  // How the viewer turns content bytes into the text of TextV (see the definition).
  static QString viewText(const std::string& cp1251);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  FormV();
  void Form_Load();
  void Form_Resize();

  QPlainTextEdit* TextV = nullptr;
  int MRG_X = 0;  // twips
  int GAP_Y = 0;  // twips
  bool loaded_ = false;
};
