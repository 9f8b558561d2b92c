// The list controls of the main window, with the events the window's procedures rely on:
//   ClickList  a list box whose Click is raised by the user and by a selection made from code
//              (also a click on the row already selected), and whose DblClick is raised by a
//              double-click anywhere on it, even where there is no row. Given a source of
//              copies, its rows can be dragged out, several at a time, as files.
//   DriveList  the drives: here the mounted volumes.
//   DirList    the folder list: the folders from the root down to the current one, then its
//              subfolders; opening a row (double-click, Enter) makes that folder current.
//   FileList   the files of one folder whose names match a pattern list, letter case ignored.
// A folder that cannot be read is never taken: the list keeps the folder it shows.
#pragma once

#include <QComboBox>
#include <QList>
#include <QListWidget>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace odi::gui {

// Whether a folder can be listed now.
bool folder_readable(const QString& path);

class ClickList : public QListWidget {
  Q_OBJECT

 public:
  explicit ClickList(QWidget* parent = nullptr);

  // The files that rows dragged out become (none for a row left out). Set, it lets the user
  // select several rows and drag them to any program that takes files, which copies them.
  using DragCopies = std::function<QList<QUrl>(const QList<int>& rows)>;
  void setDragCopies(DragCopies copies);

 signals:
  void Click();
  void DblClick();

 protected:
  // What a drag of `items` carries: the list of their files; nothing when no row gives one.
  QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;
  // A drag only copies: a move would take the rows out of the list.
  Qt::DropActions supportedDropActions() const override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  // Rebuilding the rows from code raises no Click.
  struct Quiet {
    explicit Quiet(ClickList* l) : l_(l), was_(l->quiet_) { l_->quiet_ = true; }
    ~Quiet() { l_->quiet_ = was_; }
    ClickList* l_;
    bool was_;
  };

 private:
  bool quiet_ = false;
  int row_before_press_ = -1;
  DragCopies drag_copies_;
};

class DriveList : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveList(QWidget* parent = nullptr);
  // The root of the chosen volume.
  QString drive() const;
  // Chooses the volume that holds `path`, raising no Change.
  void showDriveOf(const QString& path);

 signals:
  void Change();

 protected:
  // Volumes come and go: the list is read again each time it opens.
  void showPopup() override;

 private:
  void fill();
  bool quiet_ = false;
};

class DirList : public ClickList {
  Q_OBJECT

 public:
  explicit DirList(QWidget* parent = nullptr);
  QString path() const { return path_; }
  // Makes `path` the current folder; raises Change when it differs from the one shown. False
  // (and nothing changes) when the folder cannot be read.
  bool setPath(const QString& path);

 signals:
  void Change();

 private:
  void fill();
  QString path_;
};

class FileList : public ClickList {
  Q_OBJECT

 public:
  // `patterns`: "*.bin;*.rom" style, matched without regard to letter case.
  explicit FileList(const QString& patterns, QWidget* parent = nullptr);
  QString path() const { return path_; }
  // Shows the matching files of `path`, read again each time; the selected name stays selected
  // while it is listed. False (and nothing changes) for an empty path or a folder that cannot be
  // read.
  bool setPath(const QString& path);
  QString fileName() const;  // the selected file, empty when none
  QStringList names() const;
  // Would a file of this name be listed?
  bool matches(const QString& name) const;

 private:
  QString path_;
  QList<QRegularExpression> patterns_;
};

}  // namespace odi::gui
