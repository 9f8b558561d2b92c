// The help window: the program's own help document preceded by the user's notes from
// HelpUser.txt, and the editor of those notes.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// Not 0 while the help window's text box holds notes that are not saved.
extern std::int16_t HLP_CHG;

// The notes file, by its bare name: it lives in the process's working folder.
inline constexpr const char* kHelpUserFile = "HelpUser.txt";

class FormH : public QWidget {
  Q_OBJECT

 public:
  static FormH* showHelp();  // "?" of the main window: create if missing, else bring forward
  static FormH* instance();

  ~FormH() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  FormH();

  void Form_Load();
  void HELP_EKR();
  void HELP_RED();
  void RAM();
  bool HELP_SAVE();
  void Text1_Change();
  void ComUSER_Click();
  void ComSAVE_Click();
  void ComHLP_Click();
  void ComDA_Click();
  void ComNET_Click();

  QString text1Raw() const;

  QPushButton* ComUSER = nullptr;
  QPushButton* ComSAVE = nullptr;
  QPushButton* ComHLP = nullptr;
  QLabel* LabUSER = nullptr;
  QPlainTextEdit* Text1 = nullptr;
  QGroupBox* FrmUSER = nullptr;
  QLabel* LabHU = nullptr;
  QPushButton* ComDA = nullptr;
  QPushButton* ComNET = nullptr;

  std::string HLP_TXT;       // the built-in document, CP1251, CR LF
  std::int32_t HLP_LEN = 0;  // its length in bytes of CP1251
  std::string USR_TXT;       // the notes as last read from the file or the text box
  std::int32_t USR_LEN = 0;
  std::int32_t USR_FREE = 0;
  std::int16_t RED_MOD = 0;  // 1 in editor mode
};
