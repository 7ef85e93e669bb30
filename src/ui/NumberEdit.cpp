// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/NumberEdit.h"

#include "ui/logic/kxNumberText.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QWheelEvent>

namespace kx::ui {

char32_t LocaleDecimalSeparator()
{
  const QList<uint> separator = QLocale().decimalPoint().toUcs4();
  return separator.isEmpty() ? U'.' : static_cast<char32_t>(separator.first());
}

TNumberEdit::TNumberEdit(QWidget* Parent) : QLineEdit(QStringLiteral("0"), Parent) {}

double TNumberEdit::Value() const
{
  return NumberTextValue(text().toStdString(), Min, Max, LocaleDecimalSeparator());
}

void TNumberEdit::SetValue(double V)
{
  setText(QString::fromStdString(FormatNumberText(ClampNumber(V, Min, Max), LocaleDecimalSeparator())));
}

void TNumberEdit::keyPressEvent(QKeyEvent* Event)
{
  const QString typed = Event->text();
  const Qt::KeyboardModifiers modifiers = Event->modifiers();
  // A key held with Ctrl is a command (paste, undo, select all...), which types a control
  // character and so passes. Arrows, Home and Delete (whose text is DEL) type no character.
  const bool command = (modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier);
  if (command || typed.isEmpty() || typed == QStringLiteral("\x7f")) {
    QLineEdit::keyPressEvent(Event);
    return;
  }
  const char32_t separator = LocaleDecimalSeparator();
  for (const uint c : typed.toUcs4()) {
    if (IsNumberEditChar(c, separator)) continue;
    // Enter inserts nothing, but is left to the dialog, whose default button it presses.
    if (c == U'\r')
      Event->ignore();
    else
      Event->accept();
    return;
  }
  QLineEdit::keyPressEvent(Event);
}

void TNumberEdit::inputMethodEvent(QInputMethodEvent* Event)
{
  // Composed characters (dead keys, input methods) arrive here rather than as key presses.
  const QString commit = Event->commitString();
  if (!commit.isEmpty()) {
    const char32_t separator = LocaleDecimalSeparator();
    QString kept;
    for (const uint c : commit.toUcs4()) {
      const char32_t ch = c;
      if (IsNumberEditChar(ch, separator)) kept.append(QString::fromUcs4(&ch, 1));
    }
    if (kept != commit) Event->setCommitString(kept, Event->replacementStart(), Event->replacementLength());
  }
  QLineEdit::inputMethodEvent(Event);
}

void TNumberEdit::focusOutEvent(QFocusEvent* Event)
{
  // The focus leaves the field only when it moves to another control: a context menu or another
  // window taking the activation keeps it here, and the person is still typing.
  if (Event->reason() != Qt::PopupFocusReason && Event->reason() != Qt::ActiveWindowFocusReason) SetValue(Value());
  QLineEdit::focusOutEvent(Event);
}

void TNumberEdit::wheelEvent(QWheelEvent* Event)
{
  // Only the vertical wheel steps, and only the edit that has the focus: the wheel turned over
  // another field on the way changes nothing. A notch, or a touchpad's small notification, is
  // one step.
  const int delta = Event->angleDelta().y();
  if (delta == 0 || !hasFocus()) {
    QLineEdit::wheelEvent(Event);
    return;
  }
  SetValue(Value() + (delta > 0 ? Increment : -Increment));
  QLineEdit::wheelEvent(Event);
  Event->accept();
}

}  // namespace kx::ui
