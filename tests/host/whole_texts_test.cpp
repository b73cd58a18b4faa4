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

TEST(WholeTexts, DrawnInkStaysClearOfTheEdgesThatWouldCutIt) {
  CScreenRig rig(RigOptions());
  struct CCase {
    const char* name;
    QImage image;
    QRect rcRoom;      // where all the ink must lie; a cut text reaches the edge it is cut at
    QSize needed;      // what the text's layout needs, when measured
    bool bCentredTwo;  // on two lines, centred across
  };
  std::vector<CCase> cases;
  // The widest percentage on the 240-pixel-wide turned screen, in its rectangle (0, 80, 240, 160).
  rig.SetState({"copying", FALSE, FALSE, 7, 7, 0});
  cases.push_back({"copying", rig.RenderFrame(), QRect(1, 80, 238, 80), {}, true});
  WithFailureBox(rig.Windows(), [&](QWidget* pText) {
    QRect rcNeeded = QFontMetrics(pText->font())
                         .boundingRect(pText->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft,
                                       QString::fromWCharArray(kFailed));
    cases.push_back({"failure box", pText->grab().toImage(),
                     QRect(0, 0, pText->width() - 1, pText->height() - 1), rcNeeded.size(), false});
  });
  ASSERT_EQ(cases.size(), 2u);
  for (const CCase& c : cases) {
    SCOPED_TRACE(c.name);
    const QRect ink = InkOf(c.image);
    EXPECT_TRUE(c.rcRoom.contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    EXPECT_LE(c.needed.height(), c.image.height());
    EXPECT_LE(c.needed.width(), c.image.width());
    if (c.bCentredTwo) {
      EXPECT_NEAR(ink.left(), c.image.width() - 1 - ink.right(), 2);
      EXPECT_NEAR(ink.center().y(), c.rcRoom.center().y(), 3);
      EXPECT_GT(ink.height(), 40);  // two lines of 28-pixel cells
    }
  }
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
