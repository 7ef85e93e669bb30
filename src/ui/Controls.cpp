// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Controls.h"

#include "ui/logic/kxDesktop.h"
#include "media/kxImageCopy.h"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QAbstractSpinBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSvgRenderer>
#include <QTimer>
#include <QToolTip>

// The icons are compiled into this library; a static library's resources must be registered
// by name before the first look-up.
static void RegisterIcons()
{
  static const bool registered = [] {
    Q_INIT_RESOURCE(tessarin);
    return true;
  }();
  (void)registered;
}

namespace kx::ui {

QFont FontOrFallback(const QString& Family, const QFont& Fallback)
{
  if (QFontDatabase::hasFamily(Family)) {
    QFont font(Family);
    font.setPointSizeF(Fallback.pointSizeF());
    return font;
  }
  return Fallback;
}

QFont SansFont(qreal PointSize)
{
  QFont fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  fallback.setPointSizeF(PointSize);
  return FontOrFallback(QStringLiteral("Tahoma"), fallback);
}

QFont MonoFont(qreal PointSize)
{
  QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fallback.setPointSizeF(PointSize);
  return FontOrFallback(QStringLiteral("Courier New"), fallback);
}

void SetUpDialog(QWidget& Dialog, const QString& Name, const QString& Caption, QSize ClientSize,
                 const QColor& Background)
{
  Dialog.setObjectName(Name);
  Dialog.setWindowTitle(Caption);
  Dialog.setFont(SansFont());
  Dialog.setFixedSize(ClientSize);
  if (Background.isValid()) FixBackground(Dialog, Background);
}

void FixBackground(QWidget& Widget, const QColor& Background)
{
  QPalette colours = Widget.palette();
  colours.setColor(QPalette::Window, Background);
  colours.setColor(QPalette::WindowText, Qt::black);
  Widget.setPalette(colours);
  Widget.setAutoFillBackground(true);
}

TGroupBox::TGroupBox(const QString& Title, QWidget* Parent) : QGroupBox(Title, Parent) {}

void TGroupBox::paintEvent(QPaintEvent*)
{
  QPainter painter(this);
  const QFontMetrics metrics(font());
  const int top = metrics.height() / 2;
  // The etched line: white one pixel right and below the grey one.
  painter.setPen(Qt::white);
  painter.drawRect(1, top + 1, width() - 2, height() - top - 2);
  painter.setPen(QColor(0xA0, 0xA0, 0xA0));
  painter.drawRect(0, top, width() - 2, height() - top - 2);
  const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
  painter.fillRect(caption, palette().color(QPalette::Window));
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(caption.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
}

QIcon LoadIcon(const QString& Name)
{
  RegisterIcons();
  QSvgRenderer renderer(QStringLiteral(":/icons/") + Name + QStringLiteral(".svg"));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (const int size : {16, 24, 28, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

TWindowInputBlocker::TWindowInputBlocker(QWidget& Window_, QWidget* Allowed_) : Window(Window_), Allowed(Allowed_)
{
  qApp->installEventFilter(this);
}

TWindowInputBlocker::~TWindowInputBlocker() { qApp->removeEventFilter(this); }

bool TWindowInputBlocker::eventFilter(QObject* Watched, QEvent* Event)
{
  switch (Event->type()) {
    case QEvent::Shortcut: {
      // The menu's keys reach the window's actions, wherever the focus is.
      const auto* action = qobject_cast<QAction*>(Watched);
      return action != nullptr && Window.actions().contains(action);
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu: {
      const auto* widget = qobject_cast<QWidget*>(Watched);
      if (widget == nullptr || widget->window() != &Window) return false;
      return !(Allowed != nullptr && (widget == Allowed || Allowed->isAncestorOf(widget)));
    }
    default:
      return false;
  }
}

void PlaceOnScreen(QWidget& Window, QSize Wanted)
{
  const QScreen* screen = Window.screen() != nullptr ? Window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    Window.resize(Wanted);
    return;
  }
  // The window manager's frame is not known before the window is shown; the style's title bar
  // height and a thin border stand for it, in the window's own (scaled) pixels.
  const int title = Window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &Window);
  const QRect area = screen->availableGeometry();
  const TkxRect placed = FirstPlacement({area.x(), area.y(), area.width(), area.height()}, Wanted.width(),
                                        Wanted.height(), Window.minimumWidth(), Window.minimumHeight(),
                                        {4, title + 4, 4, 4});
  Window.resize(placed.Width, placed.Height);
  Window.move(placed.X, placed.Y);
}

bool TAltTypingFilter::eventFilter(QObject* Watched, QEvent* Event)
{
  if (Event->type() != QEvent::KeyPress) return false;
  if (qobject_cast<QLineEdit*>(Watched) == nullptr && qobject_cast<QAbstractSpinBox*>(Watched) == nullptr)
    return false;
  const auto* key = static_cast<const QKeyEvent*>(Event);
  const Qt::KeyboardModifiers modifiers = key->modifiers();
  if (!modifiers.testFlag(Qt::AltModifier) || modifiers.testFlag(Qt::ControlModifier)) return false;
  const QString text = key->text();
  return !text.isEmpty() && text.front().isPrint();
}

TWaitCursor::TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TWaitCursor::~TWaitCursor() { QApplication::restoreOverrideCursor(); }

void FitWrappedText(QLabel* Label, int MaxHeight)
{
  QFont font = Label->font();
  const auto needed = [&](const QFont& f) {
    return QFontMetrics(f)
        .boundingRect(QRect(0, 0, Label->width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, Label->text())
        .height();
  };
  while (needed(font) > MaxHeight && font.pointSizeF() > 6) font.setPointSizeF(font.pointSizeF() - 0.5);
  Label->setFont(font);
  Label->resize(Label->width(), std::max(Label->height(), std::min(MaxHeight, needed(font))));
}

QLabel* MakeLabel(QWidget* Parent, const QString& Text, QPoint At, bool Bold, const QString& Name)
{
  auto* label = new QLabel(Text, Parent);
  if (!Name.isEmpty()) label->setObjectName(Name);
  if (Bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  label->move(At);
  label->adjustSize();
  return label;
}

QPushButton* MakeButton(QWidget* Parent, const QString& Name, const QString& Text, const QRect& Geometry,
                        TButtonRole Role)
{
  auto* button = new QPushButton(Text, Parent);
  button->setObjectName(Name);
  button->setGeometry(Geometry);
  if (Role == TButtonRole::Default) button->setDefault(true);
  if (Role == TButtonRole::NotByEnter) button->setAutoDefault(false);
  return button;
}

TShape* MakeLamp(QWidget* Parent, const QRect& Geometry)
{
  auto* lamp = new TShape(Parent);
  lamp->setObjectName(QStringLiteral("sWorking"));
  lamp->setGeometry(Geometry);
  lamp->SetBrush(clSilver);
  return lamp;
}

QTimer* MakeBlinkTimer(QObject* Parent)
{
  auto* timer = new QTimer(Parent);
  timer->setInterval(250);
  return timer;
}

int ValueColumn(std::initializer_list<const QLabel*> Captions, int X)
{
  for (const QLabel* caption : Captions)
    X = std::max(X, caption->x() + QFontMetrics(caption->font()).horizontalAdvance(caption->text()) + 6);
  return X;
}

QString TFittedLabel::ShownText() const
{
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TFittedLabel::paintEvent(QPaintEvent*)
{
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownText());
}

bool TFittedLabel::event(QEvent* Event)
{
  if (Event->type() == QEvent::ToolTip && ShownText() != text()) {
    QToolTip::showText(static_cast<QHelpEvent*>(Event)->globalPos(), text(), this);
    return true;
  }
  return QLabel::event(Event);
}

TShape::TShape(QWidget* Parent) : QWidget(Parent), FBrush(Qt::white) {}

void TShape::SetBrush(const QColor& Color)
{
  if (Color == FBrush) return;
  FBrush = Color;
  update();
}

void TShape::paintEvent(QPaintEvent*)
{
  QPainter painter(this);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(FBrush);
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

QColor NextLampColor(const QColor& Current, bool Busy)
{
  if (!Busy) return clSilver;
  return Current == clRed ? clOrange : clRed;
}

}  // namespace kx::ui
