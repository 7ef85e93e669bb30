// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AdjustControl.h"

#include "ui/AdjustRes.h"
#include "ui/NumberEdit.h"

#include <QMouseEvent>

namespace kx::ui {

TAdjustLabel::TAdjustLabel(const QString& Caption, QWidget* Parent) : QLabel(Caption, Parent)
{
  setCursor(AdjustCursor());
}

// While a button is held the pointer stays with the label, so moves beyond it still arrive here.
// The events are taken: a label would otherwise pass them on to the dialog.

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
