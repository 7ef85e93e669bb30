// SPDX-License-Identifier: GPL-3.0-or-later
// The adjust label dragged with the mouse over and beyond it, and the adjust cursor it shows.
#include "ui/AdjustControl.h"
#include "ui/AdjustRes.h"
#include "ui/NumberEdit.h"

#include <QBitmap>
#include <QLocale>
#include <QTest>

using namespace kx::ui;

namespace {

// A window with a label attached to an edit that holds 100, and a place far to the label's right.
struct TForm {
  QWidget Window;
  TAdjustLabel* Label;
  TNumberEdit* Edit;

  TForm()
  {
    Window.resize(400, 100);
    Label = new TAdjustLabel(QStringLiteral("Min. size:"), &Window);
    Label->setGeometry(8, 8, 60, 21);
    Edit = new TNumberEdit(&Window);
    Edit->setGeometry(72, 8, 120, 21);
    Edit->setText(QStringLiteral("100"));
    Label->AttachedEdit = Edit;
    Window.show();
  }
  bool Ready() { return QTest::qWaitForWindowExposed(&Window); }

  void Press(Qt::MouseButton Button, int X) { QTest::mousePress(Label, Button, {}, QPoint(X, 10)); }
  // Through the window system, with the buttons last pressed still held: the label keeps the
  // pointer for as long as a button is down, also beyond its edges and the window's.
  void Move(int X) { QTest::mouseMove(Label, QPoint(X, 10)); }
  void Release(Qt::MouseButton Button, int X) { QTest::mouseRelease(Label, Button, {}, QPoint(X, 10)); }
};

QImage CursorPicture(const QCursor& Cursor) { return Cursor.bitmap().toImage().convertToFormat(QImage::Format_Mono); }
QImage CursorMask(const QCursor& Cursor) { return Cursor.mask().toImage().convertToFormat(QImage::Format_Mono); }
bool Black(const QImage& Image, int X, int Y) { return qGray(Image.pixel(X, Y)) < 128; }

}  // namespace

class AdjustControlTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void DragRightAddsOneIncrementPerPixelInEveryMove()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Press(Qt::LeftButton, 20);
    QVERIFY(f.Label->Dragging);
    f.Move(22);
    QCOMPARE(f.Edit->text(), QStringLiteral("102"));
    f.Move(27);
    QCOMPARE(f.Edit->text(), QStringLiteral("107"));
    f.Move(30);
    QCOMPARE(f.Edit->text(), QStringLiteral("110"));
    // Beyond the label's right edge and back to the left.
    f.Move(330);
    QCOMPARE(f.Edit->text(), QStringLiteral("410"));
    f.Move(-70);
    QCOMPARE(f.Edit->text(), QStringLiteral("10"));
    f.Release(Qt::LeftButton, -70);
    QVERIFY(!f.Label->Dragging);
    f.Move(200);
    QCOMPARE(f.Edit->text(), QStringLiteral("10"));
  }

  void DragFollowsTheEditsIncrementAndBounds()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Edit->Min = 0;
    f.Edit->Max = 64000000000.0;
    f.Edit->Increment = 0.5;
    f.Press(Qt::LeftButton, 10);
    f.Move(13);
    QCOMPARE(f.Edit->text(), QStringLiteral("101.5"));
    f.Move(-400);
    QCOMPARE(f.Edit->text(), QStringLiteral("0"));
    // Saturated at 0, so moving back right counts from 0, not from where the drag would be.
    f.Move(-390);
    QCOMPARE(f.Edit->text(), QStringLiteral("5"));
    f.Release(Qt::LeftButton, -390);
  }

  void OnlyTheLeftButtonDragsAndAnyReleaseEndsIt()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Press(Qt::RightButton, 20);
    QVERIFY(!f.Label->Dragging);
    f.Move(40);
    QCOMPARE(f.Edit->text(), QStringLiteral("100"));
    f.Release(Qt::RightButton, 40);

    f.Press(Qt::LeftButton, 20);
    f.Move(25);
    QCOMPARE(f.Edit->text(), QStringLiteral("105"));
    QTest::mousePress(f.Label, Qt::RightButton, {}, QPoint(25, 10));
    QTest::mouseRelease(f.Label, Qt::RightButton, {}, QPoint(25, 10));
    QVERIFY(!f.Label->Dragging);
    f.Move(45);  // the left button is still down
    QCOMPARE(f.Edit->text(), QStringLiteral("105"));
    f.Release(Qt::LeftButton, 45);
  }

  void ADisabledEditStaysAndDoesNotJumpWhenEnabled()
  {
    TForm f;
    QVERIFY(f.Ready());
    f.Press(Qt::LeftButton, 20);
    f.Edit->setEnabled(false);
    f.Move(50);
    QCOMPARE(f.Edit->text(), QStringLiteral("100"));
    f.Edit->setEnabled(true);
    f.Move(53);
    QCOMPARE(f.Edit->text(), QStringLiteral("103"));
    f.Release(Qt::LeftButton, 53);
  }

  void WithoutAnEditTheLabelShowsTheCursorAndDragsNothing()
  {
    TForm f;
    QVERIFY(f.Ready());
    TAdjustLabel bare(QStringLiteral("Size:"), &f.Window);
    bare.setGeometry(8, 40, 60, 21);
    bare.show();
    QCOMPARE(bare.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(bare.cursor().hotSpot(), QPoint(AdjustHotX, AdjustHotY));
    QCOMPARE(f.Label->cursor().hotSpot(), QPoint(AdjustHotX, AdjustHotY));
    QTest::mousePress(&bare, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(&bare, QPoint(40, 10));
    QVERIFY(bare.Dragging);
    QTest::mouseRelease(&bare, Qt::LeftButton, {}, QPoint(40, 10));
    QCOMPARE(f.Edit->text(), QStringLiteral("100"));
  }

  void TheCursorIsABlackDoubleArrowOutlinedInWhite()
  {
    const QCursor& cursor = AdjustCursor();
    QCOMPARE(&cursor, &AdjustCursor());  // built once
    QCOMPARE(cursor.hotSpot(), QPoint(9, 6));
    const QImage picture = CursorPicture(cursor);
    const QImage mask = CursorMask(cursor);
    QCOMPARE(picture.size(), QSize(32, 32));
    QCOMPARE(mask.size(), QSize(32, 32));

    // What is drawn spans 20 x 13 pixels from the top-left corner.
    QRect drawn;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        if (Black(mask, x, y)) drawn |= QRect(x, y, 1, 1);
    QCOMPARE(drawn, QRect(0, 0, 20, 13));

    const auto blackAt = [&](int X, int Y) { return Black(mask, X, Y) && Black(picture, X, Y); };
    const auto whiteAt = [&](int X, int Y) { return Black(mask, X, Y) && !Black(picture, X, Y); };
    // The hotspot is black, on the shaft, between the two bars.
    QVERIFY(blackAt(9, 6));
    for (int x = 1; x <= 18; ++x) QVERIFY2(blackAt(x, 6), qPrintable(QString::number(x)));
    for (int y = 1; y <= 11; ++y) {
      QVERIFY(blackAt(8, y));
      QVERIFY(blackAt(11, y));
    }
    QVERIFY(whiteAt(9, 3));  // the bars are edged in white
    QVERIFY(whiteAt(0, 6) && whiteAt(19, 6));  // and so are the arrow tips
    // Every black pixel is outlined: none touches a transparent one, so it shows on any ground.
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        if (!blackAt(x, y)) continue;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            QVERIFY2(Black(mask, x + dx, y + dy), qPrintable(QStringLiteral("%1,%2").arg(x + dx).arg(y + dy)));
      }
    // A double arrow: mirrored about the middle of its width.
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 10; ++x) {
        QCOMPARE(blackAt(x, y), blackAt(19 - x, y));
        QCOMPARE(whiteAt(x, y), whiteAt(19 - x, y));
      }
  }
};

QTEST_MAIN(AdjustControlTest)
#include "AdjustControlTest.moc"
