// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileListView.h"

#include "project/kxColumnTexts.h"
#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace kx::ui {

TFileListModel::TFileListModel(TkxFileList& List_, QObject* Parent) : QAbstractTableModel(Parent), List(List_) {}

int TFileListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : List.Count; }

int TFileListModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : Columns; }

QVariant TFileListModel::data(const QModelIndex& Index, int Role) const
{
  if (!Index.isValid() || Index.row() >= List.Count) return {};
  const int column = Index.column();
  switch (Role) {
    case Qt::DisplayRole: {
      const TkxFileEntry& entry = List.Items[static_cast<std::size_t>(Index.row())];
      switch (column) {
        case 0: return QString::fromStdString(VisibleText(entry.Name, MaxNameCharacters));
        case 1: {
          const std::string_view ext = KindExtensions[entry.Kind];
          return QString::fromLocal8Bit(ext.data(), static_cast<qsizetype>(ext.size()));
        }
        case 2: return QString::fromStdString(OffsetText(entry.Offset));
        case 3: return QString::fromStdString(SizeText(entry.Size));
        default: return {};
      }
    }
    case Qt::ForegroundRole: {
      static const QColor colours[Columns] = {Qt::black, Qt::black, OffsetColor, SizeColor};
      if (column < 0 || column >= Columns) return {};
      return colours[column];
    }
    case Qt::FontRole: {
      static const QFont sans = SansFont();
      static const QFont mono = MonoFont();
      return column < 2 ? sans : mono;
    }
    default: return {};
  }
}

void TFileListModel::sort(int Column, Qt::SortOrder) { SortBy(Column, nullptr); }

void TFileListModel::SortBy(int Column, std::vector<std::int32_t>* Order)
{
  if (Column < 0 || Column >= Columns) return;
  beginResetModel();
  List.Sort(static_cast<TkxSortKey>(Column), Order);
  endResetModel();
}

void TFileListModel::Reset()
{
  beginResetModel();
  endResetModel();
}

TFileListDelegate::TFileListDelegate(const QHeaderView& Header_, QObject* Parent)
    : QStyledItemDelegate(Parent), Header(Header_)
{
}

int TFileListDelegate::ColumnLeft(int Column) const { return Header.sectionViewportPosition(Column) + 2; }

QSize TFileListDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const
{
  return {Option.rect.width(), RowHeight};
}

void TFileListDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const
{
  if (!Index.isValid()) return;
  const QRect row = Option.rect;
  Painter->save();
  Painter->fillRect(row, (Option.state & QStyle::State_Selected) ? SelectedRowColor : RowColor);
  // No character of the list's fonts is narrower than MinCharacterWidth pixels.
  const QScreen* screen = Option.widget ? Option.widget->screen() : QGuiApplication::primaryScreen();
  const int screenCharacters = (screen ? screen->geometry().width() : MaxNameCharacters) / MinCharacterWidth + 1;

  for (int column = 0; column < TFileListModel::Columns; ++column) {
    const QModelIndex cell = Index.siblingAtColumn(column);
    const QFont font = cell.data(Qt::FontRole).value<QFont>();
    Painter->setFont(font);
    Painter->setPen(cell.data(Qt::ForegroundRole).value<QColor>());
    const QFontMetrics metrics(font);
    // The height of "Wg": the face's full height, whatever the text.
    const int h = metrics.height();
    // The row's bottom edge is exclusive, as the list box hands it to a row's drawing.
    const int top = (row.top() + row.top() + row.height() - h) / 2;
    const QRect text(ColumnLeft(column), top, 1 << 20, h);
    // Not clipped to the column: a long name runs on under the next column's text. But only a
    // screen's width of it is laid out: a name of 100 KB would take half a second per repaint.
    QString shown = cell.data(Qt::DisplayRole).toString();
    if (shown.size() > screenCharacters) shown.truncate(screenCharacters);
    Painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine, shown);
  }
  Painter->restore();

  // The dotted focus rectangle of a classic list box, whatever the style draws for focus.
  if (Option.state & QStyle::State_HasFocus) DrawFocusDots(*Painter, row, Qt::black);
}

void DrawFocusDots(QPainter& Painter, const QRect& Rect, const QColor& Color)
{
  // Pixels in device space, so that the dots stay one pixel apart at any scale factor.
  Painter.save();
  const qreal ratio = Painter.device() != nullptr ? Painter.device()->devicePixelRatioF() : 1.0;
  Painter.scale(1 / ratio, 1 / ratio);
  const QRect r(QPoint(qRound(Rect.left() * ratio), qRound(Rect.top() * ratio)),
                QPoint(qRound((Rect.right() + 1) * ratio) - 1, qRound((Rect.bottom() + 1) * ratio) - 1));
  for (int x = r.left(); x <= r.right(); x += 2) {
    Painter.fillRect(x, r.top(), 1, 1, Color);
    Painter.fillRect(x, r.bottom(), 1, 1, Color);
  }
  for (int y = r.top(); y <= r.bottom(); y += 2) {
    Painter.fillRect(r.left(), y, 1, 1, Color);
    Painter.fillRect(r.right(), y, 1, 1, Color);
  }
  Painter.restore();
}

std::vector<TkxRowRange> TFileListBox::SelectedRuns() const
{
  std::vector<TkxRowRange> runs;
  for (const QItemSelectionRange& range : selectionModel()->selection()) runs.push_back({range.top(), range.bottom()});
  std::sort(runs.begin(), runs.end(), [](const TkxRowRange& a, const TkxRowRange& b) { return a.First < b.First; });
  std::vector<TkxRowRange> merged;
  for (const TkxRowRange& run : runs) {
    if (!merged.empty() && run.First <= merged.back().Last + 1)
      merged.back().Last = std::max(merged.back().Last, run.Last);
    else
      merged.push_back(run);
  }
  return merged;
}

void TFileListBox::SelectRuns(const TkxRowsAfterSort& Rows)
{
  QItemSelection selection;
  for (const TkxRowRange& run : Rows.Rows) selection.select(model()->index(run.First, 0), model()->index(run.Last, 0));
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (Rows.Current < 0) return;
  const QModelIndex current = model()->index(Rows.Current, 0);
  selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  scrollTo(current);
}

void TFileListBox::keyPressEvent(QKeyEvent* Event)
{
  // The view's own Enter emits activated, which some desktops also emit on a single click.
  const int key = Event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
      (Event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    emit EnterPressed();
    return;
  }
  QListView::keyPressEvent(Event);
}

TFileListBox::TFileListBox(QWidget* Parent) : QListView(Parent)
{
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  setAlternatingRowColors(false);
  // Painting a row whose texts overlap the next column must not leave traces on scrolling.
  setLayoutMode(QListView::SinglePass);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, RowColor);
  setPalette(colours);
}

}  // namespace kx::ui
