#include "mainwin/lists.h"

#include <dirent.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

namespace odi::gui {

bool folder_readable(const QString& path) {
  if (path.isEmpty()) return false;
  DIR* d = ::opendir(QFile::encodeName(path).constData());
  if (d == nullptr) return false;
  ::closedir(d);
  return true;
}

// ---- ClickList ------------------------------------------------------------------------------

ClickList::ClickList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!quiet_ && row >= 0) emit Click();
  });
  // A click on the row that was already selected changes nothing, yet it is a click.
  connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (!quiet_ && row(item) == row_before_press_) emit Click();
  });
}

void ClickList::mousePressEvent(QMouseEvent* e) {
  row_before_press_ = currentRow();
  QListWidget::mousePressEvent(e);
}

void ClickList::setDragCopies(DragCopies copies) {
  drag_copies_ = std::move(copies);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setDragDropMode(QAbstractItemView::DragOnly);
  setDefaultDropAction(Qt::CopyAction);
}

QMimeData* ClickList::mimeData(const QList<QListWidgetItem*>& items) const {
  if (!drag_copies_) return QListWidget::mimeData(items);
  QList<int> rows;
  for (const QListWidgetItem* item : items) rows.append(row(item));
  std::sort(rows.begin(), rows.end());
  const QList<QUrl> urls = drag_copies_(rows);
  if (urls.isEmpty()) return nullptr;
  auto* offer = new QMimeData;
  offer->setUrls(urls);
  return offer;
}

Qt::DropActions ClickList::supportedDropActions() const {
  return drag_copies_ ? Qt::CopyAction : QListWidget::supportedDropActions();
}

void ClickList::mouseDoubleClickEvent(QMouseEvent* e) {
  QListWidget::mouseDoubleClickEvent(e);
  if (e->button() == Qt::LeftButton) emit DblClick();
}

// ---- DriveList ------------------------------------------------------------------------------

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
  fill();
  connect(this, &QComboBox::currentIndexChanged, this, [this](int) {
    if (!quiet_) emit Change();
  });
}

void DriveList::fill() {
  const QString current = drive();
  quiet_ = true;
  clear();
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    if (v.isValid()) addItem(v.rootPath(), v.rootPath());
  }
  if (!current.isEmpty()) {
    if (findData(current) < 0) addItem(current, current);
    setCurrentIndex(findData(current));
  }
  quiet_ = false;
}

void DriveList::showPopup() {
  fill();
  QComboBox::showPopup();
}

QString DriveList::drive() const {
  return currentData().toString();
}

void DriveList::showDriveOf(const QString& path) {
  const QString root = QStorageInfo(path).rootPath();
  int i = findData(root);
  quiet_ = true;
  if (i < 0 && !root.isEmpty()) {
    addItem(root, root);
    i = count() - 1;
  }
  if (i >= 0) setCurrentIndex(i);
  quiet_ = false;
}

// ---- DirList --------------------------------------------------------------------------------

DirList::DirList(QWidget* parent) : ClickList(parent) {
  // Opening a row makes its folder current: a double-click or Enter.
  connect(this, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { setPath(item->data(Qt::UserRole).toString()); });
}

bool DirList::setPath(const QString& path) {
  if (!folder_readable(path)) return false;
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  if (clean == path_) return true;
  path_ = clean;
  fill();
  emit Change();
  return true;
}

void DirList::fill() {
  Quiet quiet(this);
  clear();
  // The way down from the root, one row per folder, indented by depth.
  QStringList chain;
  for (QDir d(path_);;) {
    chain.prepend(d.absolutePath());
    if (d.isRoot() || !d.cdUp()) break;
  }
  int depth = 0;
  for (const QString& p : chain) {
    const QString name = QDir(p).isRoot() ? p : QFileInfo(p).fileName();
    auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
    item->setData(Qt::UserRole, p);
    ++depth;
  }
  const int current = count() - 1;
  const QFileInfoList subs =
      QDir(path_).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& fi : subs) {
    auto* item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + fi.fileName(), this);
    item->setData(Qt::UserRole, fi.absoluteFilePath());
  }
  setCurrentRow(current);
  if (QListWidgetItem* it = item(current)) {
    // The current folder stands out in bold (an underline would also mark its indent).
    QFont f = it->font();
    f.setBold(true);
    it->setFont(f);
  }
}

// ---- FileList -------------------------------------------------------------------------------

FileList::FileList(const QString& patterns, QWidget* parent) : ClickList(parent) {
  for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts))
    patterns_.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(p),
                                        QRegularExpression::CaseInsensitiveOption));
}

bool FileList::matches(const QString& name) const {
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const QRegularExpression& re) { return re.match(name).hasMatch(); });
}

bool FileList::setPath(const QString& path) {
  if (!folder_readable(path)) return false;
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  QStringList found;
  const QStringList all = QDir(clean).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
  for (const QString& name : all)
    if (matches(name)) found.append(name);
  if (clean == path_ && found == names()) return true;  // nothing new: keep selection and scroll
  const QString keep = clean == path_ ? fileName() : QString();
  path_ = clean;
  Quiet quiet(this);
  clear();
  addItems(found);
  if (!keep.isEmpty()) {
    const int i = static_cast<int>(found.indexOf(keep));
    if (i >= 0) setCurrentRow(i);
  }
  return true;
}

QString FileList::fileName() const {
  const QListWidgetItem* it = currentItem();
  return it ? it->text() : QString();
}

QStringList FileList::names() const {
  QStringList out;
  for (int i = 0; i < count(); ++i) out.append(item(i)->text());
  return out;
}

}  // namespace odi::gui
