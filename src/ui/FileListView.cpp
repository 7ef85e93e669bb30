#include "ui/FileListView.h"

#include "project/kxWindowTexts.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>

namespace kx::ui {

TFileListModel::TFileListModel(const TkxFileList& List_, QObject* Parent) : QAbstractListModel(Parent), List(List_) {}

int TFileListModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : List.Count; }

QVariant TFileListModel::data(const QModelIndex&, int) const { return {}; }

void TFileListModel::Reset()
{
  beginResetModel();
  endResetModel();
}

TFileListDelegate::TFileListDelegate(const TFileListModel& Model_, const QHeaderView& Header_, QObject* Parent)
    : QStyledItemDelegate(Parent), Model(Model_), Header(Header_)
{
}

QString TFileListDelegate::ColumnText(const TkxFileEntry& Entry, int Column)
{
  switch (Column) {
    case 0: return QString::fromLocal8Bit(Entry.Name);
    case 1: return QString::fromLocal8Bit(KindExtensions[Entry.Kind].data(), static_cast<qsizetype>(KindExtensions[Entry.Kind].size()));
    case 2: return QString::fromStdString(OffsetText(Entry.Offset));
    case 3: return QString::fromStdString(SizeText(Entry.Size));
    default: return {};
  }
}

int TFileListDelegate::ColumnLeft(int Column) const { return Header.sectionViewportPosition(Column) + 2; }

QSize TFileListDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const
{
  return {Option.rect.width(), RowHeight};
}

void TFileListDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const
{
  if (!Index.isValid() || Index.row() >= Model.rowCount()) return;
  const TkxFileEntry& entry = Model.Entry(Index.row());
  const QRect row = Option.rect;
  Painter->save();
  Painter->fillRect(row, (Option.state & QStyle::State_Selected) ? SelectedRowColor : RowColor);

  static const QFont sans = SansFont();
  static const QFont mono = MonoFont();
  struct TColumnStyle {
    const QFont& Font;
    QColor Color;
  };
  const TColumnStyle styles[4] = {{sans, Qt::black}, {sans, Qt::black}, {mono, OffsetColor}, {mono, SizeColor}};
  for (int column = 0; column < 4; ++column) {
    Painter->setFont(styles[column].Font);
    Painter->setPen(styles[column].Color);
    const QFontMetrics metrics(styles[column].Font);
    // The height of "Wg": the face's full height, whatever the text.
    const int h = metrics.height();
    // The row's bottom edge is exclusive, as the list box hands it to a row's drawing.
    const int top = (row.top() + row.top() + row.height() - h) / 2;
    const QRect text(ColumnLeft(column), top, 1 << 20, h);
    // Not clipped to the column: a long name runs on under the next column's text.
    Painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine,
                      ColumnText(entry, column));
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
