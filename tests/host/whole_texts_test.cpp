// What the person reads is whole: the copying percentage on the turned screen and the failure
// box's text in its text control; and the box leaves the user-interface thread idle while it waits.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTimer>
#include <QWidget>

#include "tools/screen_rig.h"
#include "ui/msg_box.h"

namespace {

const wchar_t kFailed[] = L"Recover failed(112)!Press OK to reboot.";

CHostOptions RigOptions() {
  CHostOptions options;
  options.fnRestart = [] { return FALSE; };
  return options;
}

// Runs the failure box modally; fnShown sees its text control once the box is up.
void WithFailureBox(CQtWindowBackend& windows, const std::function<void(QWidget*)>& fnShown) {
  CMsgBox box(kFailed, L"Recover");
  QTimer::singleShot(0, [&] {
    QCoreApplication::processEvents();
    fnShown(windows.WidgetOf(::GetDlgItem(box.m_hWnd, IDC_MSG_TEXT)));
    box.EndDialog(IDOK);
  });
  box.DoModal();
}

// The smallest rectangle that holds every pixel darker than mid grey.
QRect InkOf(const QImage& image) {
  QRect ink;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ink |= QRect(x, y, 1, 1);
  return ink;
}

class CPaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* pEvent) override {
    m_nPaints += pEvent->type() == QEvent::Paint;
    return false;
  }
  int m_nPaints = 0;
};

TEST(WholeTexts, CopyingPercentAndFailureBoxTextAreDrawnWhole) {
  CScreenRig rig(RigOptions());
  // The widest percentage: two lines centred in (0, 80, 240, 160) of the 240-pixel-wide screen.
  // A text cut by its rectangle has ink on the edge it is cut at.
  rig.SetState({"copying", FALSE, FALSE, 7, 7, 0});
  const QRect ink = InkOf(rig.RenderFrame());
  EXPECT_TRUE(QRect(1, 80, 238, 80).contains(ink)) << ink.left() << " " << ink.right();
  EXPECT_NEAR(ink.left(), 239 - ink.right(), 2);
  EXPECT_NEAR(ink.center().y(), 119, 3);
  EXPECT_GT(ink.height(), 40);  // two lines of 28-pixel cells
  // The box's text in its text control, by the font's measure and by the ink drawn.
  WithFailureBox(rig.Windows(), [&](QWidget* pText) {
    const QRect needed = QFontMetrics(pText->font())
                             .boundingRect(pText->contentsRect(), Qt::TextWordWrap,
                                           QString::fromWCharArray(kFailed));
    EXPECT_TRUE(pText->contentsRect().contains(needed)) << needed.height();
    EXPECT_LT(InkOf(pText->grab().toImage()).bottom(), pText->height() - 1);
  });
}

TEST(WholeTexts, FailureBoxAndTheScreenBehindItRestWhileTheBoxWaits) {
  CScreenRig rig(RigOptions());
  rig.SetState(ScreenStates()[2]);  // a failed copy leaves the copying screen behind the box
  rig.Repaint();
  CPaintCounter counter;
  WithFailureBox(rig.Windows(), [&](QWidget* pText) {
    for (QWidget* pWidget :
         {pText->window(), pText->parentWidget(), rig.Windows().WidgetOf(rig.DialogWindow())})
      pWidget->installEventFilter(&counter);
    // A second of waiting for OK, with no timer of the dialog running.
    QEventLoop wait;
    QTimer::singleShot(1000, &wait, &QEventLoop::quit);
    wait.exec();
  });
  EXPECT_LE(counter.m_nPaints, 4);
}

}  // namespace
