#include "ui/FileListView.h"

#include "project/kxWindowTexts.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>

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

void TFileListModel::sort(int Column, Qt::SortOrder)
{
  if (Column < 0 || Column >= Columns) return;
  beginResetModel();
  List.Sort(static_cast<TkxSortKey>(Column));
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

  if (Option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(Option);
    focus.rect = row;
    focus.backgroundColor = (Option.state & QStyle::State_Selected) ? SelectedRowColor : RowColor;
    const QWidget* widget = Option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, Painter, widget);
  }
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
