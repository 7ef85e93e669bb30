#include "ui/AdjustControl.h"

#include "ui/AdjustRes.h"
#include "ui/NumberEdit.h"

#include <QMouseEvent>

namespace kx::ui {

TAdjustLabel::TAdjustLabel(const QString& Caption, QWidget* Parent) : QLabel(Caption, Parent)
{
  setCursor(AdjustCursor());
}

// The label keeps every mouse event of a drag: while a button is held the pointer is grabbed,
// so moves beyond the label still arrive here. A label ignores mouse events by default, which
// would pass the press on to the dialog.

void TAdjustLabel::mousePressEvent(QMouseEvent* Event)
{
  QLabel::mousePressEvent(Event);
  if (Event->button() == Qt::LeftButton) {
    Dragging = true;
    LastX = Event->position().toPoint().x();
  }
  Event->accept();
}

void TAdjustLabel::mouseMoveEvent(QMouseEvent* Event)
{
  QLabel::mouseMoveEvent(Event);
  if (Dragging && AttachedEdit != nullptr) {
    const int x = Event->position().toPoint().x();
    // A disabled edit keeps its value, but the position is followed all the same, so that the
    // value does not jump when the edit is enabled during the drag.
    if (AttachedEdit->isEnabled()) AttachedEdit->SetValue(AttachedEdit->Value() + (x - LastX) * AttachedEdit->Increment);
    LastX = x;
  }
  Event->accept();
}

void TAdjustLabel::mouseReleaseEvent(QMouseEvent* Event)
{
  QLabel::mouseReleaseEvent(Event);
  Dragging = false;
  Event->accept();
}

}  // namespace kx::ui
