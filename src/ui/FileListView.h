// The found-file list of the main window: a model that wraps the window's TkxFileList without
// copying it, and a delegate that formats and draws a row only when it is painted, so that a
// list of a million entries costs nothing to show.
#pragma once

#include "project/kxFileList.h"

#include <QAbstractListModel>
#include <QFont>
#include <QListView>
#include <QStyledItemDelegate>

class QHeaderView;

namespace kx::ui {

class TFileListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  TFileListModel(const TkxFileList& List_, QObject* Parent = nullptr);

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  // No texts are kept or made here: the delegate reads the entry itself.
  QVariant data(const QModelIndex& Index, int Role) const override;

  const TkxFileEntry& Entry(int Row) const { return List.Items[static_cast<std::size_t>(Row)]; }

  // The list's count or order changed.
  void Reset();

 private:
  const TkxFileList& List;
};

// The colours of a row.
inline const QColor RowColor(0xFF, 0xFF, 0xFF);
inline const QColor SelectedRowColor(0xA0, 0xFF, 0xA0);
inline const QColor OffsetColor(0x80, 0x80, 0x80);
inline const QColor SizeColor(0x80, 0x00, 0x00);  // maroon
inline constexpr int RowHeight = 20;

class TFileListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // Columns start at the left edges of Header's sections; Header must outlive the delegate.
  TFileListDelegate(const TFileListModel& Model_, const QHeaderView& Header_, QObject* Parent = nullptr);

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;

  // The column texts of a row: name, extension with its dot, offset, size.
  static QString ColumnText(const TkxFileEntry& Entry, int Column);
  // The left edge of a column's text within the row: its header section's edge plus 2 pixels.
  int ColumnLeft(int Column) const;

 private:
  const TFileListModel& Model;
  const QHeaderView& Header;
};

// The list box: rows of one height, several selected with Shift and Ctrl, whole rows only.
class TFileListBox : public QListView {
  Q_OBJECT

 public:
  explicit TFileListBox(QWidget* Parent = nullptr);

  // A search by typed letters would format every row's name; the list offers none.
  void keyboardSearch(const QString&) override {}
};

}  // namespace kx::ui
