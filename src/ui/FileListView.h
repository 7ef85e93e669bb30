// SPDX-License-Identifier: GPL-3.0-or-later
// The found-file list of the main window: a model that wraps the window's TkxFileList without
// copying it and makes a row's texts, colours and fonts only when they are asked for, a delegate
// that paints a row from them, so that a list of a million entries costs nothing to show.
#pragma once

#include "found/kxFileList.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QListView>
#include <QStyledItemDelegate>

class QHeaderView;

namespace kx::ui {

// Four columns: name, extension with its dot, offset, size. The list view shows a row as one
// item (column 0); the delegate draws the row's other columns beside it.
class TFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int Columns = 4;

  TFileListModel(TkxFileList& List_, QObject* Parent = nullptr);

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  // The column's text (DisplayRole), colour (ForegroundRole) and font (FontRole).
  QVariant data(const QModelIndex& Index, int Role) const override;
  // Sorts the list by the column's key, always ascending, so that a second click on a header
  // section sorts the same way again. Selections are dropped, as after any change of order.
  void sort(int Column, Qt::SortOrder Order = Qt::AscendingOrder) override;
  // The same, with where each row came from (TkxFileList::Sort), so that a selection can follow.
  void SortBy(int Column, std::vector<std::int32_t>* Order);

  // The list's count or order changed.
  void Reset();

 private:
  TkxFileList& List;
};

// The colours of a row.
inline const QColor RowColor(0xFF, 0xFF, 0xFF);
inline const QColor SelectedRowColor(0xA0, 0xFF, 0xA0);
inline const QColor OffsetColor(0x80, 0x80, 0x80);
inline const QColor SizeColor(0x80, 0x00, 0x00);  // maroon
inline constexpr int RowHeight = 20;
// Of a name, the list shows at most this many characters, far more than any screen is wide; and
// draws at most a screen's width of them, counting MinCharacterWidth pixels a character.
inline constexpr int MaxNameCharacters = 16384;
inline constexpr int MinCharacterWidth = 2;

class TFileListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // Columns start at the left edges of Header's sections; Header must outlive the delegate.
  explicit TFileListDelegate(const QHeaderView& Header_, QObject* Parent = nullptr);

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;

  // The left edge of a column's text within the row: its header section's edge plus 2 pixels.
  int ColumnLeft(int Column) const;

 private:
  const QHeaderView& Header;
};

// The list box: rows of one height, several selected with Shift and Ctrl, whole rows only.
class TFileListBox : public QListView {
  Q_OBJECT

 public:
  explicit TFileListBox(QWidget* Parent = nullptr);

  // A search by typed letters would format every row's name; the list offers none.
  void keyboardSearch(const QString&) override {}

  // The selected rows as ascending, merged runs.
  std::vector<TkxRowRange> SelectedRuns() const;
  // Selects exactly Rows' runs and makes Rows.Current the current row, in view.
  void SelectRuns(const TkxRowsAfterSort& Rows);

 signals:
  // Enter or Return on the list: what a double click on a row does.
  void EnterPressed();

 protected:
  void keyPressEvent(QKeyEvent* Event) override;
};

// The dotted rectangle a list draws around the row with the focus, alternate pixels in Color.
void DrawFocusDots(QPainter& Painter, const QRect& Rect, const QColor& Color);

}  // namespace kx::ui
