// SPDX-License-Identifier: GPL-3.0-or-later
// The number edit as a person types, pastes, wheels and leaves it, under an English and a German
// locale.
#include "ui/NumberEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLocale>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>


using namespace kx::ui;

namespace {

// Turns the wheel once over Edit; Delta as the platform reports it, positive away from the user.
void Wheel(QWidget& Edit, QPoint Delta)
{
  const QPointF at(5, 5);
  QWheelEvent event(at, Edit.mapToGlobal(at), QPoint(), Delta, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(&Edit, &event);
}

// A window with the edit under test and a second edit that takes the focus from it.
struct TForm {
  QWidget Window;
  TNumberEdit* Edit;
  QLineEdit* Other;

  TForm()
  {
    auto* layout = new QVBoxLayout(&Window);
    Edit = new TNumberEdit(&Window);
    Other = new QLineEdit(&Window);
    layout->addWidget(Edit);
    layout->addWidget(Other);
    Window.show();
  }
  bool Ready()
  {
    Window.activateWindow();
    if (!QTest::qWaitForWindowActive(&Window)) return false;
    Edit->setFocus();
    return Edit->hasFocus();
  }
  // Replaces the text as typed keys, then moves the focus away.
  void TypeAndLeave(const QString& Text)
  {
    Edit->setFocus();
    Edit->selectAll();
    QTest::keyClick(Edit, Qt::Key_Backspace);
    QTest::keyClicks(Edit, Text);
    Other->setFocus();
  }
};

}  // namespace

class NumberEditTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void NewEditIsZeroUnboundedAndWheelStepsOnce()
  {
    TForm form;
    QVERIFY(form.Ready());
    TNumberEdit& e = *form.Edit;
    QCOMPARE(e.text(), QStringLiteral("0"));
    QCOMPARE(e.Min, 0.0);
    QCOMPARE(e.Max, 0.0);
    QCOMPARE(e.Increment, 1.0);
    Wheel(e, QPoint(0, 120));
    QCOMPARE(e.text(), QStringLiteral("1"));
    Wheel(e, QPoint(0, -120));
    Wheel(e, QPoint(0, -120));
    QCOMPARE(e.text(), QStringLiteral("-1"));
    // One notification is one step, whatever its size: four notches at once, a touchpad's nudge.
    Wheel(e, QPoint(0, 480));
    QCOMPARE(e.text(), QStringLiteral("0"));
    Wheel(e, QPoint(0, 8));
    QCOMPARE(e.text(), QStringLiteral("1"));
    // Unbounded means it goes below zero and far up.
    e.SetValue(-1e20);
    QCOMPARE(e.Value(), -1e20);
    QCOMPARE(e.text(), QStringLiteral("-1E20"));
    // A sideways wheel is not a step.
    e.SetValue(3);
    Wheel(e, QPoint(120, 0));
    QCOMPARE(e.text(), QStringLiteral("3"));
    // Nor is the wheel turned over the edit while another field has the focus.
    form.Other->setFocus();
    Wheel(e, QPoint(0, 120));
    QCOMPARE(e.text(), QStringLiteral("3"));
  }

  void WheelAndValueHonourTheBoundsAndTheIncrement()
  {
    TForm form;
    QVERIFY(form.Ready());
    TNumberEdit& e = *form.Edit;
    e.Min = 0;
    e.Max = 10;
    e.Increment = 2.5;
    e.SetValue(9);
    Wheel(e, QPoint(0, 120));
    QCOMPARE(e.text(), QStringLiteral("10"));
    Wheel(e, QPoint(0, -120));
    QCOMPARE(e.text(), QStringLiteral("7.5"));
    e.SetValue(-3);
    QCOMPARE(e.text(), QStringLiteral("0"));
    Wheel(e, QPoint(0, -120));
    QCOMPARE(e.text(), QStringLiteral("0"));
    // Reading bounds as well: a text written past the bound reads as the bound.
    e.setText(QStringLiteral("70"));
    QCOMPARE(e.Value(), 10.0);
  }

  void LeavingTheFieldBoundsAndRewritesTheText()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Edit->Min = 0;
    f.Edit->Max = 64000000000.0;
    f.TypeAndLeave(QStringLiteral("70000000000"));
    QCOMPARE(f.Edit->text(), QStringLiteral("64000000000"));
    f.TypeAndLeave(QStringLiteral("-5"));
    QCOMPARE(f.Edit->text(), QStringLiteral("0"));
    f.TypeAndLeave(QStringLiteral("0012.50"));
    QCOMPARE(f.Edit->text(), QStringLiteral("12.5"));
    f.TypeAndLeave(QStringLiteral("1e3"));
    QCOMPARE(f.Edit->text(), QStringLiteral("1000"));

    // Equal bounds bound nothing.
    f.Edit->Min = 5;
    f.Edit->Max = 5;
    f.TypeAndLeave(QStringLiteral("7"));
    QCOMPARE(f.Edit->text(), QStringLiteral("7"));
  }

  void TextThatIsNoNumberBecomesTheBoundedZeroOnLeaving()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.TypeAndLeave(QString());
    QCOMPARE(f.Edit->text(), QStringLiteral("0"));
    f.TypeAndLeave(QStringLiteral("-"));
    QCOMPARE(f.Edit->text(), QStringLiteral("0"));
    f.Edit->Min = 5;
    f.Edit->Max = 10;
    f.TypeAndLeave(QStringLiteral("+"));
    QCOMPARE(f.Edit->text(), QStringLiteral("5"));
    f.Edit->Min = -10;
    f.Edit->Max = -5;
    f.TypeAndLeave(QStringLiteral("E"));
    QCOMPARE(f.Edit->text(), QStringLiteral("-5"));
    // The wheel starts from the same value.
    f.Edit->setFocus();
    f.Edit->setText(QStringLiteral("--"));
    Wheel(*f.Edit, QPoint(0, -120));
    QCOMPARE(f.Edit->text(), QStringLiteral("-6"));
  }

  void FocusLostToAnotherWindowOrAMenuKeepsTheText()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Edit->Min = 0;
    f.Edit->Max = 100;
    f.Edit->setText(QStringLiteral("500"));
    for (const Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
      QFocusEvent out(QEvent::FocusOut, reason);
      QApplication::sendEvent(f.Edit, &out);
      QCOMPARE(f.Edit->text(), QStringLiteral("500"));
    }
    f.Other->setFocus();
    QCOMPARE(f.Edit->text(), QStringLiteral("100"));
  }

  void TypedCharactersAreFiltered()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Edit->clear();
    QTest::keyClicks(f.Edit, QStringLiteral("1a2 3,4_5x"));
    QCOMPARE(f.Edit->text(), QStringLiteral("12345"));
    QTest::keyClicks(f.Edit, QStringLiteral(".5E+7e-"));
    QCOMPARE(f.Edit->text(), QStringLiteral("12345.5E+7e-"));
    QTest::keyClick(f.Edit, Qt::Key_Backspace);
    QCOMPARE(f.Edit->text(), QStringLiteral("12345.5E+7e"));
    // Keys that type no character still move and delete.
    QTest::keyClick(f.Edit, Qt::Key_Home);
    QTest::keyClick(f.Edit, Qt::Key_Delete);
    QTest::keyClick(f.Edit, Qt::Key_Right);
    QTest::keyClick(f.Edit, Qt::Key_9);
    QCOMPARE(f.Edit->text(), QStringLiteral("29345.5E+7e"));

    // Enter inserts nothing and is left for the window's default button.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(f.Edit, &enter);
    QVERIFY(!enter.isAccepted());
    QCOMPARE(f.Edit->text(), QStringLiteral("29345.5E+7e"));
    // A refused character is swallowed, not passed on.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(f.Edit, &letter);
    QVERIFY(letter.isAccepted());

    // Composed characters are filtered too.
    f.Edit->clear();
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("1\u00e92"));
    QApplication::sendEvent(f.Edit, &composed);
    QCOMPARE(f.Edit->text(), QStringLiteral("12"));
  }

  void PastedTextIsNotFilteredButReadsAsANumber()
  {
    TForm f;
    QVERIFY(f.Ready());
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    if (QApplication::clipboard()->text() != QStringLiteral("abc")) QSKIP("This platform has no clipboard.");
    f.Edit->Min = 1;
    f.Edit->Max = 9;
    f.Edit->selectAll();
    QTest::keyClick(f.Edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.Edit->text(), QStringLiteral("abc"));
    QCOMPARE(f.Edit->Value(), 1.0);
    QTest::keyClick(f.Edit, Qt::Key_Z, Qt::ControlModifier);  // undo, a command like paste
    QCOMPARE(f.Edit->text(), QStringLiteral("0"));
  }

  void TheLocalesDecimalSeparatorAtEachKeyPress()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Edit->clear();
    QTest::keyClicks(f.Edit, QStringLiteral("1.5,"));
    QCOMPARE(f.Edit->text(), QStringLiteral("1.5"));
    QCOMPARE(f.Edit->Value(), 1.5);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // The same text now holds a grouping point, which does not read.
    QCOMPARE(f.Edit->Value(), 0.0);
    f.Edit->clear();
    QTest::keyClicks(f.Edit, QStringLiteral("2.5,25"));
    QCOMPARE(f.Edit->text(), QStringLiteral("25,25"));
    QCOMPARE(f.Edit->Value(), 25.25);
    f.Edit->SetValue(0.5);
    QCOMPARE(f.Edit->text(), QStringLiteral("0,5"));
    Wheel(*f.Edit, QPoint(0, 120));
    QCOMPARE(f.Edit->text(), QStringLiteral("1,5"));
  }
};

QTEST_MAIN(NumberEditTest)
#include "NumberEditTest.moc"
