// Dialogs from the templates, their controls, the modal loop and the message box.
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cwctype>

#include "platform/afxwin.h"
#include "platform/host/qt/fonts.h"
#include "platform/host/qt/window_backend.h"
#include "platform/kernel.h"
#include "res/resource.h"

namespace {

constexpr int kCaptionHeight = 20;
constexpr WPARAM MK_LBUTTON = 1;

bool IsClass(LPCWSTR pszClass, const wchar_t* pszWanted) {
  for (; *pszClass && *pszWanted; ++pszClass, ++pszWanted)
    if (std::towlower(*pszClass) != std::towlower(*pszWanted)) return false;
  return *pszClass == *pszWanted;
}

// MulDiv as the device rounds it: the point size of a template font in pixels.
LONG PointsToPixels(int nPoints) { return (nPoints * 96 + 36) / 72; }

// The stop sign of MB_ICONHAND: a red disc with a white cross, drawn here so that every style and
// platform shows the same pixels.
QImage StopIcon(int nSize) {
  QImage image(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(128, 0, 0), 1));
  p.setBrush(QColor(220, 30, 30));
  p.drawEllipse(QRectF(0.5, 0.5, nSize - 1, nSize - 1));
  p.setPen(QPen(Qt::white, nSize / 8.0, Qt::SolidLine, Qt::RoundCap));
  double a = nSize * 0.32, b = nSize * 0.68;
  p.drawLine(QPointF(a, a), QPointF(b, b));
  p.drawLine(QPointF(a, b), QPointF(b, a));
  return image;
}

WPARAM VirtualKeyOf(int nKey) {
  switch (nKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_Tab:
      return VK_TAB;
    default:
      // Digits and letters carry their ASCII codes on both sides.
      if ((nKey >= Qt::Key_0 && nKey <= Qt::Key_9) || (nKey >= Qt::Key_A && nKey <= Qt::Key_Z))
        return static_cast<WPARAM>(nKey);
      return 0;
  }
}

}  // namespace

CQtFrameWidget* CQtWindowBackend::NewFrame(DWORD dwStyle, DWORD dwExStyle) {
  bool bCaption = (dwStyle & WS_CAPTION) == WS_CAPTION;
  int nCaption = bCaption && m_bDrawCaptions ? kCaptionHeight : 0;
  return new CQtFrameWidget(this, nCaption, (dwExStyle & WS_EX_CAPTIONOKBTN) != 0,
                            bCaption && !m_bDrawCaptions);
}

HWND CQtWindowBackend::CreateDialogFromTemplate(UINT nIDTemplate, HWND hParent) {
  return OnUi([&]() -> HWND {
    const CDialogTemplate* t = FindDialogTemplate(nIDTemplate);
    if (!t) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    CQtFrameWidget* pFrame = NewFrame(t->dwStyle, t->dwExStyle);
    CWindow dlg;
    dlg.eKind = EKind::Dialog;
    dlg.pFrame = pFrame;
    dlg.pClient = pFrame->Client();
    dlg.hParent = nullptr;
    dlg.nTemplate = nIDTemplate;
    dlg.strClass = L"#32770";
    dlg.strText = t->pszTitle ? t->pszTitle : L"";
    dlg.dwStyle = t->dwStyle;
    (void)hParent;  // owner: modality covers what the device does with it
    HWND hDlg = Register(std::move(dlg));
    pFrame->SetHandle(hDlg);
    pFrame->setWindowTitle(QString::fromStdWString(Find(hDlg)->strText));
    LOGFONTW lf = MakeLogFont(t->pszFontFace, -PointsToPixels(t->wPointSize), FW_NORMAL);
    HFONT hFont = m_gdi.CreateFontIndirectW(&lf);
    Find(hDlg)->hOwnFont = hFont;
    Find(hDlg)->hFont = hFont;
    pFrame->Client()->setFont(*m_gdi.FontOf(hFont));
    pFrame->SetWindowGeometry(QRect(DialogUnitsToPixelsX(t->x), DialogUnitsToPixelsY(t->y),
                                    DialogUnitsToPixelsX(t->cx),
                                    DialogUnitsToPixelsY(t->cy) + pFrame->CaptionHeight()));
    for (const CDialogItemTemplate& item : t->items) CreateControl(hDlg, pFrame->Client(), item);
    m_zOrder.insert(m_zOrder.begin(), hDlg);  // shown later, raised then
    return hDlg;
  });
}

HWND CQtWindowBackend::CreateControl(HWND hDlg, QWidget* pClient, const CDialogItemTemplate& item) {
  CWindow ctl;
  ctl.hParent = hDlg;
  ctl.nID = item.nID;
  ctl.strClass = item.pszClass;
  ctl.strText = item.pszText ? item.pszText : L"";
  ctl.dwStyle = item.dwStyle;
  QString text = QString::fromStdWString(ctl.strText);
  QWidget* pWidget = nullptr;
  if (IsClass(item.pszClass, L"msctls_progress32")) {
    auto* bar = new QProgressBar(pClient);
    bar->setTextVisible(false);
    ctl.eKind = EKind::Progress;
    pWidget = bar;
  } else if (IsClass(item.pszClass, L"button")) {
    auto* button = new QPushButton(text, pClient);
    button->setAutoDefault(false);
    button->setDefault((item.dwStyle & BS_DEFPUSHBUTTON) != 0);
    ctl.eKind = EKind::Button;
    pWidget = button;
  } else if (IsClass(item.pszClass, L"static")) {
    auto* label = new QLabel(text, pClient);
    label->setTextFormat(Qt::PlainText);  // the device shows markup as it stands
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ctl.eKind = EKind::Static;
    pWidget = label;
  } else {
    pWidget = new QWidget(pClient);
  }
  pWidget->setFocusPolicy((item.dwStyle & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
  pWidget->setGeometry(DialogUnitsToPixelsX(item.x), DialogUnitsToPixelsY(item.y),
                       DialogUnitsToPixelsX(item.cx), DialogUnitsToPixelsY(item.cy));
  if (!(item.dwStyle & WS_VISIBLE)) pWidget->setVisible(false);
  ctl.pFrame = pWidget;
  ctl.pClient = pWidget;
  if (auto* pFrame = dynamic_cast<CQtFrameWidget*>(Find(hDlg)->pFrame.data()))
    pFrame->WatchKeys(pWidget);
  HWND hCtl = Register(std::move(ctl));
  Find(hDlg)->children.push_back(hCtl);
  if (auto* button = qobject_cast<QPushButton*>(pWidget))
    QObject::connect(button, &QPushButton::clicked, button,
                     [this, hCtl] { OnButtonClicked(hCtl); });
  if (CWindow* c = Find(hCtl); c->eKind == EKind::Progress) ApplyProgress(*c);
  return hCtl;
}

void CQtWindowBackend::OnButtonClicked(HWND hButton) {
  const CWindow* w = Find(hButton);
  if (!w || !w->hParent) return;
  AfxCallWndProc(w->hParent, WM_COMMAND,
                 MAKEWPARAM(static_cast<WORD>(w->nID), static_cast<WORD>(BN_CLICKED)),
                 reinterpret_cast<LPARAM>(hButton));
}

INT_PTR CQtWindowBackend::RunModalDialog(UINT nIDTemplate, HWND hParent, CDialog* pDialog) {
  return OnUi([&]() -> INT_PTR {
    HWND hDlg = CreateDialogFromTemplate(nIDTemplate, hParent);
    if (!hDlg) return -1;
    if (!pDialog || !pDialog->Attach(hDlg)) {
      DestroyRecord(hDlg);
      return -1;
    }
    HWND hFocus = nullptr;
    for (HWND hChild : Find(hDlg)->children)
      if (Find(hChild)->dwStyle & WS_TABSTOP) {
        hFocus = hChild;
        break;
      }
    LRESULT bSetFocus = AfxCallWndProc(hDlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(hFocus), 0);
    return RunModal(hDlg, bSetFocus ? hFocus : nullptr);
  });
}

INT_PTR CQtWindowBackend::RunModal(HWND hWnd, HWND hFocus) {
  CWindow* w = Find(hWnd);
  if (!w) return -1;
  if (w->bEnded) return w->nResult;
  CModal modal;
  w->pModal = &modal;
  w->pFrame->setWindowModality(Qt::ApplicationModal);
  ShowTopLevel(hWnd);
  if (CWindow* focus = Find(hFocus); focus && focus->pFrame) focus->pFrame->setFocus();
  QEventLoop loop;
  modal.pLoop = &loop;
  if (!modal.bEnded) loop.exec();
  if (CWindow* after = Find(hWnd)) after->pModal = nullptr;
  return modal.nResult;
}

BOOL CQtWindowBackend::EndDialog(HWND hDlg, INT_PTR nResult) {
  return OnUi([&]() -> BOOL {
    CWindow* w = Find(hDlg);
    if (!w || (w->eKind != EKind::Dialog && w->eKind != EKind::MessageBox)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    w->bEnded = true;
    w->nResult = nResult;
    if (w->pModal) {
      w->pModal->bEnded = true;
      w->pModal->nResult = nResult;
      if (w->pModal->pLoop) w->pModal->pLoop->exit();
    }
    if (w->pFrame) w->pFrame->hide();
    return TRUE;
  });
}

HWND CQtWindowBackend::BuildMessageBox(LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  constexpr int kMargin = 10;
  constexpr int kIcon = 32;
  constexpr int kButtonWidth = 75;
  constexpr int kButtonHeight = 23;
  CQtFrameWidget* pFrame = NewFrame(WS_POPUP | WS_CAPTION | WS_SYSMENU, 0);
  QWidget* pClient = pFrame->Client();
  LOGFONTW lf = MakeLogFont(L"MS Shell Dlg", -PointsToPixels(8), FW_NORMAL);
  HFONT hFont = m_gdi.CreateFontIndirectW(&lf);
  QFont font = *m_gdi.FontOf(hFont);
  pClient->setFont(font);

  CWindow box;
  box.eKind = EKind::MessageBox;
  box.pFrame = pFrame;
  box.pClient = pClient;
  box.strClass = L"#32770";
  box.strText = pszCaption ? pszCaption : L"Error";  // the device's caption when none is given
  box.dwStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  box.bTopMost = (uType & MB_TOPMOST) != 0;
  box.hOwnFont = hFont;
  box.hFont = hFont;
  HWND hBox = Register(std::move(box));
  pFrame->SetHandle(hBox);
  pFrame->setWindowTitle(QString::fromStdWString(Find(hBox)->strText));
  if (uType & MB_TOPMOST) pFrame->setWindowFlag(Qt::WindowStaysOnTopHint);

  bool bIcon = (uType & 0xF0) == MB_ICONHAND;
  int nTextLeft = kMargin + (bIcon ? kIcon + kMargin : 0);
  int nMaxText = std::max(100, m_pDisplay->Width() * 3 / 4 - nTextLeft - kMargin);
  QString text = QString::fromWCharArray(pszText ? pszText : L"");
  QRect textRect = QFontMetrics(font).boundingRect(QRect(0, 0, nMaxText, 10000),
                                                   Qt::TextWordWrap | Qt::AlignLeft, text);
  int nBodyHeight = std::max(textRect.height(), bIcon ? kIcon : 0);
  int nWidth = std::max(nTextLeft + textRect.width() + kMargin, kButtonWidth + 2 * kMargin);
  int nHeight = kMargin + nBodyHeight + kMargin + kButtonHeight + kMargin;

  if (bIcon) {
    auto* icon = new QLabel(pClient);
    icon->setPixmap(QPixmap::fromImage(StopIcon(kIcon)));
    icon->setGeometry(kMargin, kMargin, kIcon, kIcon);
  }
  CWindow label;
  label.eKind = EKind::Static;
  auto* pLabel = new QLabel(text, pClient);
  pLabel->setTextFormat(Qt::PlainText);
  pLabel->setWordWrap(true);
  pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  pLabel->setGeometry(nTextLeft, kMargin, textRect.width() + 1, nBodyHeight);
  label.pFrame = label.pClient = pLabel;
  label.hParent = hBox;
  label.nID = 0xFFFF;  // the device's id for a box's text
  label.strClass = L"static";
  label.strText = text.toStdWString();
  HWND hLabel = Register(std::move(label));
  Find(hBox)->children.push_back(hLabel);

  CWindow ok;
  ok.eKind = EKind::Button;
  auto* pOk = new QPushButton(QStringLiteral("OK"), pClient);
  pOk->setDefault(true);
  pOk->setGeometry((nWidth - kButtonWidth) / 2, nHeight - kMargin - kButtonHeight, kButtonWidth,
                   kButtonHeight);
  ok.pFrame = ok.pClient = pOk;
  ok.hParent = hBox;
  ok.nID = IDOK;
  ok.strClass = L"button";
  ok.strText = L"OK";
  ok.dwStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
  HWND hOk = Register(std::move(ok));
  Find(hBox)->children.push_back(hOk);
  pFrame->WatchKeys(pLabel);
  pFrame->WatchKeys(pOk);
  QObject::connect(pOk, &QPushButton::clicked, pOk, [this, hOk] { OnButtonClicked(hOk); });

  int nFrameHeight = nHeight + pFrame->CaptionHeight();
  pFrame->SetWindowGeometry(QRect(std::max(0, (m_pDisplay->Width() - nWidth) / 2),
                                  std::max(0, (m_pDisplay->Height() - nFrameHeight) / 2), nWidth,
                                  nFrameHeight));
  m_zOrder.insert(m_zOrder.begin(), hBox);
  return hBox;
}

int CQtWindowBackend::MessageBoxW(HWND, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  return OnUi([&]() -> int {
    HWND hBox = BuildMessageBox(pszText, pszCaption, uType);
    HWND hOk = Find(hBox)->children.back();
    RunModal(hBox, hOk);
    DestroyRecord(hBox);
    return IDOK;  // the box's only answer; closing it answers the same
  });
}

void CQtWindowBackend::OnMouseDown(HWND hWnd, QPoint ptClient) {
  AfxCallWndProc(hWnd, WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM(static_cast<WORD>(ptClient.x()), static_cast<WORD>(ptClient.y())));
}

bool CQtWindowBackend::PreTranslateKey(HWND hWnd, QWidget* pTarget, const QKeyEvent& key) {
  const CWindow* w = Find(hWnd);
  if (!w) return false;
  HWND hTarget = hWnd;
  for (HWND hChild : w->children)
    if (Find(hChild)->pFrame == pTarget) hTarget = hChild;
  MSG msg{hTarget, key.type() == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP, VirtualKeyOf(key.key()),
          0};
  // The control first, then its window.
  if (hTarget != hWnd && AfxPreTranslateMessage(hTarget, &msg)) return true;
  return AfxPreTranslateMessage(hWnd, &msg) != FALSE;
}

bool CQtWindowBackend::OnDialogKey(HWND hWnd, int nKey) {
  const CWindow* w = Find(hWnd);
  if (!w || (w->eKind != EKind::Dialog && w->eKind != EKind::MessageBox)) return false;
  if (nKey == Qt::Key_Escape) {
    AfxCallWndProc(hWnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(IDCANCEL), BN_CLICKED), 0);
    return true;
  }
  if (nKey != Qt::Key_Return && nKey != Qt::Key_Enter) return false;
  // Enter presses the focused push button, else the default one, else answers IDOK.
  HWND hTarget = nullptr;
  for (HWND hChild : w->children) {
    const CWindow* c = Find(hChild);
    if (c->eKind == EKind::Button && c->pFrame && c->pFrame->hasFocus()) hTarget = hChild;
  }
  for (HWND hChild : w->children) {
    const CWindow* c = Find(hChild);
    if (!hTarget && c->eKind == EKind::Button && (c->dwStyle & BS_DEFPUSHBUTTON)) hTarget = hChild;
  }
  WORD nID = hTarget ? static_cast<WORD>(Find(hTarget)->nID) : static_cast<WORD>(IDOK);
  AfxCallWndProc(hWnd, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED), reinterpret_cast<LPARAM>(hTarget));
  return true;
}

void CQtWindowBackend::OnCloseRequest(HWND hWnd) { AfxCallWndProc(hWnd, WM_CLOSE, 0, 0); }
